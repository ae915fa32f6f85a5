// The file streams handed to the 7-Zip library: CInFileStream (the archive) and COutFileStream
// (one extracted file). Both are reference-counted; they start with one reference held by the
// creator.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "archive/seven_zip_interfaces.h"
#include "platform/file.h"

namespace archive {

class CInFileStream final : public sevenzip::IInStream,
                            public sevenzip::IStreamGetSize,
                            public sevenzip::IStreamGetProps {
public:
    CInFileStream() = default;
    // Opens an existing file for reading, shared for reading. False with the last error set.
    bool Open(std::wstring_view path);

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** object) noexcept override;
    sevenzip::ULONG AddRef() noexcept override;
    sevenzip::ULONG Release() noexcept override;

    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) noexcept override;
    sevenzip::HRESULT GetProps(std::uint64_t* size, sevenzip::FILETIME* cTime, sevenzip::FILETIME* aTime,
                               sevenzip::FILETIME* mTime, std::uint32_t* attrib) noexcept override;

private:
    ~CInFileStream() = default;
    std::atomic<sevenzip::ULONG> refs_{1};
    std::wstring path_;
    platform::File file_;
};

class COutFileStream final : public sevenzip::IOutStream {
public:
    COutFileStream() = default;
    // Creates the file anew for writing, shared for reading. False with the last error set.
    bool Create(std::wstring_view path);
    const std::wstring& Path() const { return path_; }
    bool SetLastWriteTime(platform::FileTime time);
    // Ends writing; later writes fail. The file can then be deleted even while the library still
    // holds its reference.
    bool Close();

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** object) noexcept override;
    sevenzip::ULONG AddRef() noexcept override;
    sevenzip::ULONG Release() noexcept override;

    sevenzip::HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept override;
    sevenzip::HRESULT SetSize(std::uint64_t newSize) noexcept override;

private:
    ~COutFileStream() = default;
    std::atomic<sevenzip::ULONG> refs_{1};
    std::wstring path_;
    platform::File file_;
};

}  // namespace archive
