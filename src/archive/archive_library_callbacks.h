// The callbacks handed to the 7-Zip library while it opens and extracts an archive.
// Reference-counted; they start with one reference held by the creator.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_library_loader.h"
#include "archive/archive_library_streams.h"
#include "archive/seven_zip_interfaces.h"

namespace archive {

// Progress is ignored; a password is never given, so encrypted archives fail.
class CArchiveOpenCallback final : public sevenzip::IArchiveOpenCallback, public sevenzip::ICryptoGetTextPassword {
public:
    CArchiveOpenCallback() = default;

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** object) noexcept override;
    sevenzip::ULONG AddRef() noexcept override;
    sevenzip::ULONG Release() noexcept override;

    sevenzip::HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) noexcept override;
    sevenzip::HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) noexcept override;
    sevenzip::HRESULT CryptoGetTextPassword(sevenzip::BSTR* password) noexcept override;

private:
    ~CArchiveOpenCallback() = default;
    std::atomic<sevenzip::ULONG> refs_{1};
};

// Creates the folders and files of the items under the destination and collects the top folders.
class CArchiveExtractCallback final : public sevenzip::IArchiveExtractCallback,
                                      public sevenzip::ICryptoGetTextPassword {
public:
    // The archive and the library must outlive the extraction.
    CArchiveExtractCallback(sevenzip::IInArchive* archive, const ArchiveLibrary& library, std::wstring destination,
                            bool listOnly);

    // After Extract: removes the file of an item that never reported success.
    void Finish();
    const std::vector<std::wstring>& TopFolders() const { return topFolders_; }
    std::uint32_t ErrorCount() const { return errors_; }
    // The first non-zero operation result an item reported, 0 when none.
    std::int32_t FirstOperationError() const { return firstError_; }

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** object) noexcept override;
    sevenzip::ULONG AddRef() noexcept override;
    sevenzip::ULONG Release() noexcept override;

    sevenzip::HRESULT SetTotal(std::uint64_t total) noexcept override;
    sevenzip::HRESULT SetCompleted(const std::uint64_t* completeValue) noexcept override;
    sevenzip::HRESULT GetStream(std::uint32_t index, sevenzip::ISequentialOutStream** outStream,
                                std::int32_t askExtractMode) noexcept override;
    sevenzip::HRESULT PrepareOperation(std::int32_t askExtractMode) noexcept override;
    sevenzip::HRESULT SetOperationResult(std::int32_t opRes) noexcept override;
    sevenzip::HRESULT CryptoGetTextPassword(sevenzip::BSTR* password) noexcept override;

private:
    ~CArchiveExtractCallback();
    sevenzip::HRESULT PrepareItem(std::uint32_t index, sevenzip::ISequentialOutStream** outStream,
                                  std::int32_t askExtractMode);
    // Closes the current file; unless it completed, the file is removed.
    bool CloseCurrent(bool completed);

    std::atomic<sevenzip::ULONG> refs_{1};
    sevenzip::IInArchive* archive_;
    const ArchiveLibrary& library_;
    std::wstring destination_;
    bool listOnly_;

    std::wstring itemPath_;
    std::optional<std::uint32_t> attributes_;
    bool isDirectory_ = false;
    std::optional<platform::FileTime> modified_;
    bool extracting_ = false;
    COutFileStream* current_ = nullptr;  // one reference held while the item is open

    std::uint32_t errors_ = 0;
    std::int32_t firstError_ = 0;
    std::vector<std::wstring> topFolders_;
};

}  // namespace archive
