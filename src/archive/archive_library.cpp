// The fallback zip reader over the 7-Zip archive library.
#include "archive/archive_library.h"

#include <mutex>
#include <new>

#include "archive/archive_library_callbacks.h"
#include "archive/archive_library_loader.h"
#include "archive/archive_library_streams.h"
#include "archive/seven_zip_interfaces.h"
#include "util/log.h"

namespace archive {

using namespace sevenzip;

namespace {

// The zip handler looks this far into the file for the start of an archive.
constexpr std::uint64_t kMaxStartSearch = 8388608;

std::mutex g_pathMutex;
std::wstring g_libraryPath = L"/usr/lib/p7zip/7z.so";

int Extract(const ArchiveLibrary* library, std::wstring_view archivePath, std::wstring_view destination,
            std::vector<std::wstring>& topFolders, bool listOnly) {
    if (!library || !library->createObject) {
        util::LogError(L"7zip can not get CreateObject");
        return kNoCreateObject;
    }
    ComPtr<IInArchive> archive;
    if (library->createObject(&CLSID_CFormatZip, &IID_IInArchive, archive.out()) != S_OK || !archive) {
        util::LogError(L"7zip can not get class object");
        return kNoClassObject;
    }
    ComPtr<CInFileStream> file(new CInFileStream);
    if (!file->Open(archivePath)) {
        util::LogError(L"7zip can not open archive file : %s", archivePath);
        return kCannotOpenFile;
    }
    ComPtr<CArchiveOpenCallback> openCallback(new CArchiveOpenCallback);
    if (archive->Open(file.get(), &kMaxStartSearch, openCallback.get()) != S_OK) {
        util::LogError(L"7zip can not open file as archive : %s", archivePath);
        return kNotAnArchive;
    }
    ComPtr<CArchiveExtractCallback> callback(
        new CArchiveExtractCallback(archive.get(), *library, std::wstring(destination), listOnly));
    HRESULT hr = archive->Extract(nullptr, static_cast<std::uint32_t>(-1), 0, callback.get());
    callback->Finish();
    archive->Close();
    topFolders = callback->TopFolders();
    // The library reports a damaged item through its operation result and still answers S_OK:
    // the run has failed all the same.
    if (hr == S_OK && callback->ErrorCount() > 0) hr = callback->FirstOperationError();
    if (listOnly || hr == S_OK) {
        if (!topFolders.empty()) util::LogDebug(L"7zip unzip successfully, top folder: %s", topFolders.front());
        return kArchiveLibraryOk;
    }
    util::LogDebug(L"7zip Extract Error, ret:%ld", hr);
    return static_cast<int>(static_cast<std::int64_t>(kNotAnArchive) + hr);
}

}  // namespace

void SetArchiveLibraryPath(std::wstring_view path) {
    std::lock_guard lock(g_pathMutex);
    g_libraryPath.assign(path);
}

std::wstring ArchiveLibraryPath() {
    std::lock_guard lock(g_pathMutex);
    return g_libraryPath;
}

int ExtractWithArchiveLibrary(std::wstring_view archivePath, std::wstring_view destination,
                              std::vector<std::wstring>& topFolders, bool listOnly) {
    try {
        const ArchiveLibrary* library = LoadArchiveLibrary(ArchiveLibraryPath());
        util::LogDebug(L"start unzip file with 7zip: %s", archivePath);
        return Extract(library, archivePath, destination, topFolders, listOnly);
    } catch (const std::bad_alloc&) {
        util::LogError(L"7zip ran out of memory: %s", archivePath);
        return kNotAnArchive + E_OUTOFMEMORY;
    }
}

}  // namespace archive
