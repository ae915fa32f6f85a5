#include "archive/archive_library_callbacks.h"

#include <algorithm>
#include <new>

#include "archive/entry_names.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace archive {

using namespace sevenzip;

namespace {

const wchar_t* OperationResultText(std::int32_t result) {
    switch (result) {
        case 1: return L"Unsupported Method";
        case 2: return L"Data Error";
        case 3: return L"CRC Failed";
        case 4: return L"Unavailable data";
        case 5: return L"Unexpected end of data";
        case 6: return L"There are some data after the end of the payload data";
        case 7: return L"Is not archive";
        case 8: return L"Headers Error";
        default: return nullptr;
    }
}

platform::FileTime FromFiletime(const FILETIME& time) {
    return static_cast<platform::FileTime>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

// ---- CArchiveOpenCallback --------------------------------------------------------------------

HRESULT CArchiveOpenCallback::QueryInterface(const GUID& iid, void** object) noexcept {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IArchiveOpenCallback)
        *object = static_cast<IArchiveOpenCallback*>(this);
    else if (iid == IID_ICryptoGetTextPassword)
        *object = static_cast<ICryptoGetTextPassword*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CArchiveOpenCallback::AddRef() noexcept { return ++refs_; }

ULONG CArchiveOpenCallback::Release() noexcept {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT CArchiveOpenCallback::SetTotal(const std::uint64_t*, const std::uint64_t*) noexcept { return S_OK; }
HRESULT CArchiveOpenCallback::SetCompleted(const std::uint64_t*, const std::uint64_t*) noexcept { return S_OK; }

HRESULT CArchiveOpenCallback::CryptoGetTextPassword(BSTR* password) noexcept {
    if (password) *password = nullptr;
    return E_ABORT;
}

// ---- CArchiveExtractCallback -----------------------------------------------------------------

CArchiveExtractCallback::CArchiveExtractCallback(IInArchive* archive, const ArchiveLibrary& library,
                                                 std::wstring destination, bool listOnly)
    : archive_(archive), library_(library), destination_(std::move(destination)), listOnly_(listOnly) {}

CArchiveExtractCallback::~CArchiveExtractCallback() { Finish(); }

void CArchiveExtractCallback::Finish() { CloseCurrent(false); }

bool CArchiveExtractCallback::CloseCurrent(bool completed) {
    if (!current_) return true;
    COutFileStream* stream = current_;
    current_ = nullptr;
    bool closed = stream->Close();
    if (!completed || !closed) {
        if (!platform::DeleteFile(stream->Path()))
            util::LogError(L"7zip can not remove incomplete output file: %s", stream->Path());
    }
    stream->Release();
    return closed;
}

HRESULT CArchiveExtractCallback::QueryInterface(const GUID& iid, void** object) noexcept {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IProgress || iid == IID_IArchiveExtractCallback)
        *object = static_cast<IArchiveExtractCallback*>(this);
    else if (iid == IID_ICryptoGetTextPassword)
        *object = static_cast<ICryptoGetTextPassword*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CArchiveExtractCallback::AddRef() noexcept { return ++refs_; }

ULONG CArchiveExtractCallback::Release() noexcept {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT CArchiveExtractCallback::SetTotal(std::uint64_t) noexcept { return S_OK; }
HRESULT CArchiveExtractCallback::SetCompleted(const std::uint64_t*) noexcept { return S_OK; }

HRESULT CArchiveExtractCallback::CryptoGetTextPassword(BSTR* password) noexcept {
    if (password) *password = nullptr;
    return E_ABORT;
}

HRESULT CArchiveExtractCallback::GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                                           std::int32_t askExtractMode) noexcept {
    if (!outStream) return E_INVALIDARG;
    *outStream = nullptr;
    try {
        return PrepareItem(index, outStream, askExtractMode);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CArchiveExtractCallback::PrepareItem(std::uint32_t index, ISequentialOutStream** outStream,
                                             std::int32_t askExtractMode) {
    // An item the library left without a result is not complete.
    CloseCurrent(false);
    attributes_.reset();
    modified_.reset();
    isDirectory_ = false;

    PROPVARIANT value{};
    HRESULT hr = archive_->GetProperty(index, kpidPath, &value);
    if (hr != S_OK) {
        library_.Clear(value);
        return hr;
    }
    if (value.vt == VT_EMPTY) {
        itemPath_ = L"[Content]";
    } else if (value.vt == VT_BSTR) {
        itemPath_ = value.bstrVal ? value.bstrVal : L"";
        std::replace(itemPath_.begin(), itemPath_.end(), L'/', L'\\');
    } else {
        library_.Clear(value);
        return E_FAIL;
    }
    library_.Clear(value);

    if (askExtractMode != kAskExtract) return S_OK;

    if (archive_->GetProperty(index, kpidAttrib, &value) == S_OK && value.vt == VT_UI4) attributes_ = value.ulVal;
    library_.Clear(value);
    if (archive_->GetProperty(index, kpidIsDir, &value) == S_OK && value.vt == VT_BOOL) isDirectory_ = value.boolVal != 0;
    library_.Clear(value);
    if (archive_->GetProperty(index, kpidMTime, &value) == S_OK && value.vt == VT_FILETIME)
        modified_ = FromFiletime(value.filetime);
    library_.Clear(value);

    if (!listOnly_ && !StaysInsideDestination(itemPath_)) {
        util::LogError(L"7zip refused an item outside the destination: %s", itemPath_);
        return E_ABORT;
    }

    std::size_t sep = itemPath_.rfind(L'\\');
    if (sep != std::wstring::npos) {
        std::wstring folder = itemPath_.substr(0, sep);
        if (!listOnly_) util::CreateDirectoryTree(util::JoinPath(destination_, folder));
        if (folder.find(L'\\') == std::wstring::npos &&
            std::find(topFolders_.begin(), topFolders_.end(), folder) == topFolders_.end()) {
            topFolders_.push_back(folder);
            if (listOnly_) return E_ABORT;  // the first top folder is all a listing needs
        }
    }
    // A listing never writes.
    if (listOnly_) return S_OK;

    std::wstring target = util::JoinPath(destination_, itemPath_);
    if (isDirectory_) {
        util::CreateDirectoryTree(target);
        return S_OK;
    }
    if (platform::GetFileAttributes(target) != platform::INVALID_FILE_ATTRIBUTES && !platform::DeleteFile(target)) {
        util::LogError(L"7zip can not delete output file: %s", target);
        return E_ABORT;
    }
    auto* stream = new COutFileStream;
    if (!stream->Create(target)) {
        stream->Release();
        util::LogError(L"7zip can not open output file: %s", target);
        return E_ABORT;
    }
    current_ = stream;
    stream->AddRef();
    *outStream = stream;
    return S_OK;
}

HRESULT CArchiveExtractCallback::PrepareOperation(std::int32_t askExtractMode) noexcept {
    extracting_ = askExtractMode == kAskExtract;
    return S_OK;
}

HRESULT CArchiveExtractCallback::SetOperationResult(std::int32_t opRes) noexcept {
    try {
        if (opRes != kOpOK) {
            ++errors_;
            if (firstError_ == 0) firstError_ = opRes;
            if (const wchar_t* text = OperationResultText(opRes))
                util::LogError(L"7zip Error : %s", text);
            else
                util::LogError(L"7zip Error #: %d", opRes);
        }
        HRESULT result = S_OK;
        bool written = opRes == kOpOK;
        if (current_) {
            if (written && modified_) current_->SetLastWriteTime(*modified_);
            if (!CloseCurrent(written)) result = E_FAIL;
        }
        if (extracting_ && written && attributes_ && !listOnly_) {
            std::uint32_t a = *attributes_;
            platform::SetFileAttributes(util::JoinPath(destination_, itemPath_), a < 0x10000000u ? a : a & 0x3FFFu);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace archive
