// The interfaces of the 7-Zip archive library that the fallback uses, declared from their
// published identifiers and method order.
//
// Binary layout, as the installed library (/usr/lib/p7zip/7z.so) has it and tests prove:
// - IUnknown has exactly three slots (QueryInterface, AddRef, Release) and no virtual
//   destructor, so every table starts with those three and nothing else; a destructor in the
//   base would shift every slot.
// - HRESULT and ULONG are 32 bits; methods use the platform's ordinary calling convention.
// - BSTR is a wchar_t string (32-bit units here) preceded by a 32-bit byte count, allocated by
//   the library; it is freed only through the library (its exported SysFreeString).
// - PROPVARIANT is 16 bytes: a 16-bit type, three 16-bit reserved words, an 8-byte union.
// - The library's interface types are global C++ types named IUnknown, IInArchive, ... (its
//   run-time type information says so); ours carry the same names.
#pragma once

#include <cstdint>

namespace archive::sevenzip {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
using BSTR = wchar_t*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

struct FILETIME {
    std::uint32_t dwLowDateTime;
    std::uint32_t dwHighDateTime;
};

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_FILETIME = 64;

struct PROPVARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::uint64_t uhVal;
        std::int16_t boolVal;  // VARIANT_TRUE is -1
        FILETIME filetime;
        BSTR bstrVal;
    };
};
static_assert(sizeof(PROPVARIANT) == 16, "PROPVARIANT must match the library's layout");

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline HRESULT HResultFromWin32(std::uint32_t code) {
    return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

// Item properties.
inline constexpr PROPID kpidPath = 3;
inline constexpr PROPID kpidIsDir = 6;
inline constexpr PROPID kpidSize = 7;
inline constexpr PROPID kpidAttrib = 9;
inline constexpr PROPID kpidMTime = 12;

// Ask modes of GetStream and PrepareOperation.
inline constexpr std::int32_t kAskExtract = 0;
inline constexpr std::int32_t kAskTest = 1;
inline constexpr std::int32_t kAskSkip = 2;

// Operation results of SetOperationResult.
inline constexpr std::int32_t kOpOK = 0;

// {23170F69-40C1-278A-0000-00gg00nn0000}: group gg, interface nn.
constexpr GUID SevenZipIid(std::uint8_t group, std::uint8_t number) {
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, number, 0x00, 0x00}};
}

inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IProgress = SevenZipIid(0x00, 0x05);
inline constexpr GUID IID_ISequentialInStream = SevenZipIid(0x03, 0x01);
inline constexpr GUID IID_ISequentialOutStream = SevenZipIid(0x03, 0x02);
inline constexpr GUID IID_IInStream = SevenZipIid(0x03, 0x03);
inline constexpr GUID IID_IOutStream = SevenZipIid(0x03, 0x04);
inline constexpr GUID IID_IStreamGetSize = SevenZipIid(0x03, 0x06);
inline constexpr GUID IID_IStreamGetProps = SevenZipIid(0x03, 0x08);
inline constexpr GUID IID_ICryptoGetTextPassword = SevenZipIid(0x05, 0x10);
inline constexpr GUID IID_IArchiveOpenCallback = SevenZipIid(0x06, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = SevenZipIid(0x06, 0x20);
inline constexpr GUID IID_IInArchive = SevenZipIid(0x06, 0x60);
// The zip handler's class {23170F69-40C1-278A-1000-000110010000}.
inline constexpr GUID CLSID_CFormatZip = {0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x01, 0x00, 0x00}};

}  // namespace archive::sevenzip

// The interfaces live in the global namespace under the library's own names: the run-time type
// checks of the sanitizers (and anything else that compares type names across the library
// boundary) then see the library's objects as implementing exactly these interfaces.
struct IUnknown {
    virtual archive::sevenzip::HRESULT QueryInterface(const archive::sevenzip::GUID& iid, void** object) noexcept = 0;
    virtual archive::sevenzip::ULONG AddRef() noexcept = 0;
    virtual archive::sevenzip::ULONG Release() noexcept = 0;
};

struct ISequentialInStream : IUnknown {
    virtual archive::sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept = 0;
};

struct IInStream : ISequentialInStream {
    virtual archive::sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept = 0;
};

struct IStreamGetSize : IUnknown {
    virtual archive::sevenzip::HRESULT GetSize(std::uint64_t* size) noexcept = 0;
};

struct IStreamGetProps : IUnknown {
    virtual archive::sevenzip::HRESULT GetProps(std::uint64_t* size, archive::sevenzip::FILETIME* cTime, archive::sevenzip::FILETIME* aTime, archive::sevenzip::FILETIME* mTime,
                             std::uint32_t* attrib) noexcept = 0;
};

struct ISequentialOutStream : IUnknown {
    virtual archive::sevenzip::HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept = 0;
};

struct IOutStream : ISequentialOutStream {
    virtual archive::sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept = 0;
    virtual archive::sevenzip::HRESULT SetSize(std::uint64_t newSize) noexcept = 0;
};

struct IProgress : IUnknown {
    virtual archive::sevenzip::HRESULT SetTotal(std::uint64_t total) noexcept = 0;
    virtual archive::sevenzip::HRESULT SetCompleted(const std::uint64_t* completeValue) noexcept = 0;
};

struct IArchiveOpenCallback : IUnknown {
    virtual archive::sevenzip::HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) noexcept = 0;
    virtual archive::sevenzip::HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) noexcept = 0;
};

struct ICryptoGetTextPassword : IUnknown {
    virtual archive::sevenzip::HRESULT CryptoGetTextPassword(archive::sevenzip::BSTR* password) noexcept = 0;
};

struct IArchiveExtractCallback : IProgress {
    virtual archive::sevenzip::HRESULT GetStream(std::uint32_t index, ISequentialOutStream** outStream, std::int32_t askExtractMode) noexcept = 0;
    virtual archive::sevenzip::HRESULT PrepareOperation(std::int32_t askExtractMode) noexcept = 0;
    virtual archive::sevenzip::HRESULT SetOperationResult(std::int32_t opRes) noexcept = 0;
};

struct IInArchive : IUnknown {
    virtual archive::sevenzip::HRESULT Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* openCallback) noexcept = 0;
    virtual archive::sevenzip::HRESULT Close() noexcept = 0;
    virtual archive::sevenzip::HRESULT GetNumberOfItems(std::uint32_t* numItems) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetProperty(std::uint32_t index, archive::sevenzip::PROPID propID, archive::sevenzip::PROPVARIANT* value) noexcept = 0;
    virtual archive::sevenzip::HRESULT Extract(const std::uint32_t* indices, std::uint32_t numItems, std::int32_t testMode,
                            IArchiveExtractCallback* extractCallback) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetArchiveProperty(archive::sevenzip::PROPID propID, archive::sevenzip::PROPVARIANT* value) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetNumberOfProperties(std::uint32_t* numProps) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetPropertyInfo(std::uint32_t index, archive::sevenzip::BSTR* name, archive::sevenzip::PROPID* propID, archive::sevenzip::VARTYPE* varType) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetNumberOfArchiveProperties(std::uint32_t* numProps) noexcept = 0;
    virtual archive::sevenzip::HRESULT GetArchivePropertyInfo(std::uint32_t index, archive::sevenzip::BSTR* name, archive::sevenzip::PROPID* propID, archive::sevenzip::VARTYPE* varType) noexcept = 0;
};

namespace archive::sevenzip {

using ::IArchiveExtractCallback;
using ::IArchiveOpenCallback;
using ::ICryptoGetTextPassword;
using ::IInArchive;
using ::IInStream;
using ::IOutStream;
using ::IProgress;
using ::ISequentialInStream;
using ::ISequentialOutStream;
using ::IStreamGetProps;
using ::IStreamGetSize;
using ::IUnknown;

using CreateObjectFunc = HRESULT (*)(const GUID* clsid, const GUID* iid, void** object);
using SysFreeStringFunc = void (*)(BSTR text);

// Holds one reference to an interface; releases it on destruction.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* adopted) : p_(adopted) {}
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void** out() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

}  // namespace archive::sevenzip
