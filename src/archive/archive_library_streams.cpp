#include "archive/archive_library_streams.h"

#include <new>

#include "platform/file_times.h"

namespace archive {

using namespace sevenzip;

namespace {

int Origin(std::uint32_t seekOrigin) {
    switch (seekOrigin) {
        case 0: return platform::FILE_BEGIN;
        case 1: return platform::FILE_CURRENT;
        case 2: return platform::FILE_END;
        default: return -1;
    }
}

HRESULT LastErrorResult() {
    platform::DWORD code = platform::GetLastError();
    return code ? HResultFromWin32(code) : E_FAIL;
}

FILETIME ToFiletime(platform::FileTime time) {
    auto bits = static_cast<std::uint64_t>(time);
    return FILETIME{static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32)};
}

HRESULT SeekFile(platform::File& file, std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) {
    int origin = Origin(seekOrigin);
    if (origin < 0) return E_INVALIDARG;
    std::int64_t position = 0;
    if (!file.Seek(offset, origin, &position)) return LastErrorResult();
    if (newPosition) *newPosition = static_cast<std::uint64_t>(position);
    return S_OK;
}

}  // namespace

// ---- CInFileStream ---------------------------------------------------------------------------

bool CInFileStream::Open(std::wstring_view path) {
    try {
        path_.assign(path);
    } catch (const std::bad_alloc&) {
        platform::SetLastError(platform::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    file_ = platform::File::Open(path, platform::GENERIC_READ, platform::FILE_SHARE_READ, platform::OPEN_EXISTING);
    return file_.IsValid();
}

HRESULT CInFileStream::QueryInterface(const GUID& iid, void** object) noexcept {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialInStream || iid == IID_IInStream)
        *object = static_cast<IInStream*>(this);
    else if (iid == IID_IStreamGetSize)
        *object = static_cast<IStreamGetSize*>(this);
    else if (iid == IID_IStreamGetProps)
        *object = static_cast<IStreamGetProps*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CInFileStream::AddRef() noexcept { return ++refs_; }

ULONG CInFileStream::Release() noexcept {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT CInFileStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept {
    if (processedSize) *processedSize = 0;
    std::size_t read = 0;
    if (!file_.Read(data, size, read)) return LastErrorResult();
    if (processedSize) *processedSize = static_cast<std::uint32_t>(read);
    return S_OK;
}

HRESULT CInFileStream::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept {
    return SeekFile(file_, offset, seekOrigin, newPosition);
}

HRESULT CInFileStream::GetSize(std::uint64_t* size) noexcept {
    if (!size) return E_INVALIDARG;
    if (!file_.GetSize(*size)) return LastErrorResult();
    return S_OK;
}

HRESULT CInFileStream::GetProps(std::uint64_t* size, FILETIME* cTime, FILETIME* aTime, FILETIME* mTime,
                                std::uint32_t* attrib) noexcept {
    if (size && !file_.GetSize(*size)) return LastErrorResult();
    platform::FileTime created = 0, written = 0;
    if ((cTime || aTime || mTime) && !file_.GetTimes(created, written)) return LastErrorResult();
    if (cTime) *cTime = ToFiletime(created);
    if (aTime) *aTime = ToFiletime(written);
    if (mTime) *mTime = ToFiletime(written);
    if (attrib) {
        platform::DWORD a = platform::GetFileAttributes(path_);
        *attrib = a == platform::INVALID_FILE_ATTRIBUTES ? platform::FILE_ATTRIBUTE_NORMAL : a;
    }
    return S_OK;
}

// ---- COutFileStream --------------------------------------------------------------------------

bool COutFileStream::Create(std::wstring_view path) {
    try {
        path_.assign(path);
    } catch (const std::bad_alloc&) {
        platform::SetLastError(platform::ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    file_ = platform::File::Open(path, platform::GENERIC_WRITE, platform::FILE_SHARE_READ, platform::CREATE_ALWAYS);
    return file_.IsValid();
}

bool COutFileStream::SetLastWriteTime(platform::FileTime time) {
    return platform::SetFileTime(file_, nullptr, nullptr, &time);
}

bool COutFileStream::Close() {
    if (!file_.IsValid()) return true;
    file_.Close();
    return true;
}

HRESULT COutFileStream::QueryInterface(const GUID& iid, void** object) noexcept {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialOutStream || iid == IID_IOutStream)
        *object = static_cast<IOutStream*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG COutFileStream::AddRef() noexcept { return ++refs_; }

ULONG COutFileStream::Release() noexcept {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT COutFileStream::Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept {
    if (processedSize) *processedSize = 0;
    if (!file_.Write(data, size)) return LastErrorResult();
    if (processedSize) *processedSize = size;
    return S_OK;
}

HRESULT COutFileStream::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept {
    return SeekFile(file_, offset, seekOrigin, newPosition);
}

HRESULT COutFileStream::SetSize(std::uint64_t newSize) noexcept {
    std::int64_t current = 0;
    if (!file_.Seek(0, platform::FILE_CURRENT, &current)) return LastErrorResult();
    if (!file_.Seek(static_cast<std::int64_t>(newSize), platform::FILE_BEGIN) || !file_.SetEndOfFile())
        return LastErrorResult();
    if (!file_.Seek(current, platform::FILE_BEGIN)) return LastErrorResult();
    return S_OK;
}

}  // namespace archive
