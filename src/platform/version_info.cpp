// Reading and writing VS_VERSIONINFO blocks and the PE resources that hold them.
//
// Every read goes through Bytes, which answers "not there" for anything outside the data, so a
// truncated or hostile file can only make a lookup fail.
#include "platform/version_info.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "platform/text.h"

namespace platform {
namespace {

constexpr DWORD kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kFixedSize = 52;
constexpr std::uint16_t kRtVersion = 16;
constexpr int kMaxResourceEntries = 4096;  // more entries than any real directory holds

class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}
    std::size_t size() const { return data_.size(); }
    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    bool U16(std::size_t offset, std::uint16_t& v) const {
        if (!Has(offset, 2)) return false;
        v = static_cast<std::uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
        return true;
    }
    bool U32(std::size_t offset, std::uint32_t& v) const {
        if (!Has(offset, 4)) return false;
        v = static_cast<std::uint32_t>(Byte(offset)) | (static_cast<std::uint32_t>(Byte(offset + 1)) << 8) |
            (static_cast<std::uint32_t>(Byte(offset + 2)) << 16) | (static_cast<std::uint32_t>(Byte(offset + 3)) << 24);
        return true;
    }
    std::string_view Slice(std::size_t offset, std::size_t length) const { return data_.substr(offset, length); }

private:
    unsigned Byte(std::size_t i) const { return static_cast<unsigned char>(data_[i]); }
    std::string_view data_;
};

std::size_t Align4(std::size_t v) { return (v + 3) & ~static_cast<std::size_t>(3); }

// ---- PE resources -------------------------------------------------------------------------

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawPointer;
};

struct PeImage {
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
};

bool ParsePeHeaders(const Bytes& f, PeImage& pe) {
    std::uint16_t mz;
    std::uint32_t lfanew, signature;
    if (!f.U16(0, mz) || mz != 0x5A4D || !f.U32(0x3C, lfanew)) return false;
    if (!f.U32(lfanew, signature) || signature != 0x00004550) return false;
    std::size_t coff = static_cast<std::size_t>(lfanew) + 4;
    std::uint16_t sectionCount, optionalSize, magic;
    if (!f.U16(coff + 2, sectionCount) || !f.U16(coff + 16, optionalSize)) return false;
    std::size_t optional = coff + 20;
    if (!f.U16(optional, magic)) return false;
    std::size_t countOffset, directories;
    if (magic == 0x10B) {
        countOffset = 92;
        directories = 96;
    } else if (magic == 0x20B) {
        countOffset = 108;
        directories = 112;
    } else {
        return false;
    }
    std::uint32_t directoryCount;
    if (!f.U32(optional + countOffset, directoryCount) || directoryCount < 3) return false;
    if (directories + 3 * 8 > optionalSize) return false;
    if (!f.U32(optional + directories + 16, pe.resourceRva) || !f.U32(optional + directories + 20, pe.resourceSize)) {
        return false;
    }
    if (pe.resourceRva == 0 || pe.resourceSize == 0) return false;
    std::size_t table = optional + optionalSize;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        std::size_t s = table + i * 40;
        Section sec{};
        if (!f.U32(s + 8, sec.virtualSize) || !f.U32(s + 12, sec.virtualAddress) || !f.U32(s + 16, sec.rawSize) ||
            !f.U32(s + 20, sec.rawPointer)) {
            return false;
        }
        pe.sections.push_back(sec);
    }
    return true;
}

// The file bytes behind an RVA range; empty view when any of it lies outside the file's data.
bool MapRva(const Bytes& f, const PeImage& pe, std::uint32_t rva, std::uint32_t length, std::string_view& out) {
    for (const Section& s : pe.sections) {
        std::uint64_t span = std::max(s.virtualSize, s.rawSize);
        if (rva < s.virtualAddress || rva - static_cast<std::uint64_t>(s.virtualAddress) >= span) continue;
        std::uint64_t delta = rva - s.virtualAddress;
        if (delta + length > s.rawSize) return false;
        std::uint64_t offset = static_cast<std::uint64_t>(s.rawPointer) + delta;
        if (!f.Has(static_cast<std::size_t>(offset), length)) return false;
        out = f.Slice(static_cast<std::size_t>(offset), length);
        return true;
    }
    return false;
}

// One entry of a resource directory: `wantId` < 0 takes the first entry; `subdirectory` says
// which kind of entry is wanted. Offsets are relative to the resource section.
bool FindResourceEntry(const Bytes& rsrc, std::uint32_t directory, int wantId, bool subdirectory,
                       std::uint32_t& target) {
    std::uint16_t named, ids;
    if (!rsrc.U16(directory + 12, named) || !rsrc.U16(directory + 14, ids)) return false;
    int count = std::min<int>(named + ids, kMaxResourceEntries);
    for (int i = 0; i < count; ++i) {
        std::size_t entry = static_cast<std::size_t>(directory) + 16 + static_cast<std::size_t>(i) * 8;
        std::uint32_t name, data;
        if (!rsrc.U32(entry, name) || !rsrc.U32(entry + 4, data)) return false;
        bool isDirectory = (data & 0x80000000u) != 0;
        if (isDirectory != subdirectory) continue;
        if (wantId >= 0 && ((name & 0x80000000u) != 0 || name != static_cast<std::uint32_t>(wantId))) continue;
        target = data & 0x7FFFFFFFu;
        return true;
    }
    return false;
}

bool PeVersionBlock(std::string_view file, std::string_view& block) {
    Bytes f(file);
    PeImage pe;
    if (!ParsePeHeaders(f, pe)) return false;
    std::string_view section;
    // The directory's size may be understated; take what the section holds from its start.
    for (const Section& s : pe.sections) {
        if (pe.resourceRva >= s.virtualAddress && pe.resourceRva - s.virtualAddress < s.rawSize) {
            std::uint32_t available = s.rawSize - (pe.resourceRva - s.virtualAddress);
            if (!MapRva(f, pe, pe.resourceRva, available, section)) {
                std::uint64_t offset = static_cast<std::uint64_t>(s.rawPointer) + (pe.resourceRva - s.virtualAddress);
                if (offset >= file.size()) return false;
                section = file.substr(static_cast<std::size_t>(offset));  // a truncated file
            }
            break;
        }
    }
    if (section.empty()) return false;
    Bytes rsrc(section);
    std::uint32_t names, languages, dataEntry;
    if (!FindResourceEntry(rsrc, 0, kRtVersion, true, names)) return false;
    if (!FindResourceEntry(rsrc, names, -1, true, languages)) return false;
    if (!FindResourceEntry(rsrc, languages, -1, false, dataEntry)) return false;
    std::uint32_t dataRva, dataSize;
    if (!rsrc.U32(dataEntry, dataRva) || !rsrc.U32(dataEntry + 4, dataSize)) return false;
    return MapRva(f, pe, dataRva, dataSize, block);
}

// ---- The block ----------------------------------------------------------------------------

// One node of the block: wLength, wValueLength, wType, szKey, padding, Value, padding, Children.
// Offsets are relative to the block's start, where the 32-bit alignment is counted from.
struct Node {
    std::size_t start = 0, end = 0;
    std::uint16_t valueLength = 0, type = 0;
    std::wstring key;
    std::size_t valueStart = 0, valueEnd = 0;
    std::size_t childrenStart = 0;
};

bool ReadNode(const Bytes& b, std::size_t offset, std::size_t limit, Node& n) {
    std::uint16_t length;
    if (!b.U16(offset, length) || length < 6 || offset + length > limit) return false;
    n = Node{};
    n.start = offset;
    n.end = offset + length;
    if (!b.U16(offset + 2, n.valueLength) || !b.U16(offset + 4, n.type)) return false;
    std::size_t p = offset + 6;
    std::string key;
    for (;;) {
        std::uint16_t unit;
        if (p + 2 > n.end || !b.U16(p, unit)) return false;  // a key must end inside its node
        p += 2;
        if (unit == 0) break;
        key.push_back(static_cast<char>(unit & 0xFF));
        key.push_back(static_cast<char>(unit >> 8));
    }
    n.key = WideFromUtf16Le(key);
    n.valueStart = std::min(Align4(p), n.end);
    std::size_t valueBytes = n.type == 1 ? static_cast<std::size_t>(n.valueLength) * 2 : n.valueLength;
    // Writers disagree on whether text lengths count bytes or characters: never past the node.
    n.valueEnd = std::min(n.valueStart + valueBytes, n.end);
    n.childrenStart = std::min(Align4(n.valueEnd), n.end);
    return true;
}

// Calls `visit` for each child of `parent`, stopping at the first malformed one.
void ForEachChild(const Bytes& b, const Node& parent, const std::function<void(const Node&)>& visit) {
    std::size_t p = parent.childrenStart;
    while (p + 6 <= parent.end) {
        Node child;
        if (!ReadNode(b, p, parent.end, child)) return;
        visit(child);
        p = Align4(child.end);
    }
}

std::wstring TextValue(const Bytes& b, const Node& n) {
    std::string units;
    for (std::size_t p = n.valueStart; p + 2 <= n.valueEnd; p += 2) {
        std::uint16_t unit;
        if (!b.U16(p, unit) || unit == 0) break;
        units.push_back(static_cast<char>(unit & 0xFF));
        units.push_back(static_cast<char>(unit >> 8));
    }
    return WideFromUtf16Le(units);
}

std::string Utf16Key() {
    // Built at run time so that no binary of ours carries the key as data outside a real block.
    return Utf16LeFromWide(L"VS_VERSION_INFO") + std::string(2, '\0');
}

bool EmbeddedVersionBlock(std::string_view file, std::string_view& block) {
    const std::string key = Utf16Key();
    const std::boyer_moore_horspool_searcher searcher(key.begin(), key.end());
    auto from = file.begin();
    while (from != file.end()) {
        auto hit = std::search(from, file.end(), searcher);
        if (hit == file.end()) return false;
        std::size_t keyAt = static_cast<std::size_t>(hit - file.begin());
        from = hit + 1;
        if (keyAt < 6) continue;
        std::size_t start = keyAt - 6;
        Bytes b(file.substr(start));
        std::uint16_t length, valueLength;
        std::uint32_t signature;
        if (!b.U16(0, length) || !b.U16(2, valueLength) || !b.U32(Align4(6 + key.size()), signature)) continue;
        if (signature != kFixedSignature || valueLength < kFixedSize || length > b.size()) continue;
        block = file.substr(start, length);
        return true;
    }
    return false;
}

// ---- Writing ------------------------------------------------------------------------------

void Put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

void Put64(std::string& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v & 0xFFFFFFFF));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}

void Pad4(std::string& out) {
    while (out.size() % 4 != 0) out.push_back('\0');
}

void Patch16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}

// Starts a node at the next 32-bit boundary; its value follows aligned. Returns its start.
std::size_t BeginNode(std::string& out, std::uint16_t valueLength, std::uint16_t type, std::wstring_view key) {
    Pad4(out);
    std::size_t start = out.size();
    Put16(out, 0);
    Put16(out, valueLength);
    Put16(out, type);
    out += Utf16LeFromWide(key);
    Put16(out, 0);
    Pad4(out);
    return start;
}

void EndNode(std::string& out, std::size_t start) {
    Patch16(out, start, static_cast<std::uint16_t>(std::min<std::size_t>(out.size() - start, 0xFFFF)));
}

DWORD High(const VersionQuad& v) { return (static_cast<DWORD>(v[0]) << 16) | v[1]; }
DWORD Low(const VersionQuad& v) { return (static_cast<DWORD>(v[2]) << 16) | v[3]; }

}  // namespace

VersionQuad VersionInfo::FileVersion() const {
    return {static_cast<std::uint16_t>(fixed.fileVersionMS >> 16), static_cast<std::uint16_t>(fixed.fileVersionMS),
            static_cast<std::uint16_t>(fixed.fileVersionLS >> 16), static_cast<std::uint16_t>(fixed.fileVersionLS)};
}

VersionQuad VersionInfo::ProductVersion() const {
    return {static_cast<std::uint16_t>(fixed.productVersionMS >> 16),
            static_cast<std::uint16_t>(fixed.productVersionMS),
            static_cast<std::uint16_t>(fixed.productVersionLS >> 16),
            static_cast<std::uint16_t>(fixed.productVersionLS)};
}

std::wstring VersionInfo::FileVersionText() const {
    VersionQuad v = FileVersion();
    return std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." + std::to_wstring(v[2]) + L"." +
           std::to_wstring(v[3]);
}

bool VersionInfo::QueryString(std::wstring_view table, std::wstring_view name, std::wstring& value) const {
    for (const auto& t : stringTables) {
        if (!EqualsNoCase(t.key, table)) continue;
        for (const auto& [key, text] : t.values) {
            if (EqualsNoCase(key, name)) {
                value = text;
                return true;
            }
        }
    }
    return false;
}

bool VersionInfo::QueryValue(std::wstring_view subBlock, std::wstring& value) const {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : subBlock) {
        if (c == L'\\') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    if (parts.size() != 3 || !EqualsNoCase(parts[0], L"StringFileInfo")) return false;
    return QueryString(parts[1], parts[2], value);
}

bool ParseVersionBlock(std::string_view block, VersionInfo& out) {
    Bytes b(block);
    Node root;
    if (!ReadNode(b, 0, block.size(), root) || root.key != L"VS_VERSION_INFO") return false;
    if (root.valueEnd - root.valueStart < kFixedSize) return false;
    DWORD fields[13];
    for (std::size_t i = 0; i < 13; ++i) {
        if (!b.U32(root.valueStart + i * 4, fields[i])) return false;
    }
    if (fields[0] != kFixedSignature) return false;
    VersionInfo info;
    info.block = std::string(block.substr(0, root.end));
    FixedFileInfo& f = info.fixed;
    f.signature = fields[0];
    f.structVersion = fields[1];
    f.fileVersionMS = fields[2];
    f.fileVersionLS = fields[3];
    f.productVersionMS = fields[4];
    f.productVersionLS = fields[5];
    f.fileFlagsMask = fields[6];
    f.fileFlags = fields[7];
    f.fileOS = fields[8];
    f.fileType = fields[9];
    f.fileSubtype = fields[10];
    f.fileDateMS = fields[11];
    f.fileDateLS = fields[12];

    ForEachChild(b, root, [&](const Node& section) {
        if (EqualsNoCase(section.key, L"StringFileInfo")) {
            ForEachChild(b, section, [&](const Node& table) {
                VersionStringTable t;
                t.key = table.key;
                ForEachChild(b, table, [&](const Node& str) { t.values.emplace_back(str.key, TextValue(b, str)); });
                info.stringTables.push_back(std::move(t));
            });
        } else if (EqualsNoCase(section.key, L"VarFileInfo")) {
            ForEachChild(b, section, [&](const Node& var) {
                if (!EqualsNoCase(var.key, L"Translation")) return;
                for (std::size_t p = var.valueStart; p + 4 <= var.valueEnd; p += 4) {
                    std::uint16_t language, codePage;
                    if (b.U16(p, language) && b.U16(p + 2, codePage)) info.translations.emplace_back(language, codePage);
                }
            });
        }
    });
    out = std::move(info);
    return true;
}

bool FindVersionBlock(std::string_view fileBytes, std::string_view& block) {
    std::string_view candidate;
    VersionInfo probe;
    if (PeVersionBlock(fileBytes, candidate) && ParseVersionBlock(candidate, probe)) {
        block = candidate;
        return true;
    }
    return EmbeddedVersionBlock(fileBytes, block);
}

bool ReadVersionInfoFromHostFile(const std::filesystem::path& hostPath, VersionInfo& out) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return false;
    }
    std::size_t size = static_cast<std::size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::string_view bytes(static_cast<const char*>(map), size);
    std::string_view block;
    bool ok = FindVersionBlock(bytes, block) && ParseVersionBlock(block, out);
    ::munmap(map, size);
    if (!ok) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return ok;
}

std::string BuildVersionInfoBlock(const VersionBlockSpec& spec) {
    std::string out;
    std::size_t root = BeginNode(out, static_cast<std::uint16_t>(kFixedSize), 0, L"VS_VERSION_INFO");
    FixedFileInfo f;
    f.fileVersionMS = High(spec.fileVersion);
    f.fileVersionLS = Low(spec.fileVersion);
    f.productVersionMS = High(spec.productVersion);
    f.productVersionLS = Low(spec.productVersion);
    f.fileFlags = spec.fileFlags;
    f.fileType = spec.fileType;
    for (DWORD v : {f.signature, f.structVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS,
                    f.productVersionLS, f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType, f.fileSubtype,
                    f.fileDateMS, f.fileDateLS}) {
        Put32(out, v);
    }

    std::size_t stringInfo = BeginNode(out, 0, 1, L"StringFileInfo");
    std::size_t table = BeginNode(out, 0, 1, spec.stringTable);
    for (const auto& [name, value] : spec.strings) {
        std::string text = Utf16LeFromWide(value);
        std::size_t str = BeginNode(out, static_cast<std::uint16_t>(text.size() / 2 + 1), 1, name);
        out += text;
        Put16(out, 0);
        EndNode(out, str);
    }
    EndNode(out, table);
    EndNode(out, stringInfo);

    std::size_t varInfo = BeginNode(out, 0, 1, L"VarFileInfo");
    std::size_t translation =
        BeginNode(out, static_cast<std::uint16_t>(spec.translations.size() * 4), 0, L"Translation");
    for (const auto& [language, codePage] : spec.translations) {
        Put16(out, language);
        Put16(out, codePage);
    }
    EndNode(out, translation);
    EndNode(out, varInfo);
    EndNode(out, root);
    return out;
}

std::string BuildPeWithVersion(std::string_view block, const PeSpec& spec) {
    constexpr std::uint32_t kFileAlignment = 0x200, kSectionAlignment = 0x1000, kRsrcRva = 0x1000;
    constexpr std::uint32_t kHeaders = 0x200;

    // The resource section: type 16 -> name 1 -> language -> data entry -> the block.
    std::string rsrc;
    auto directory = [&](std::uint32_t id, std::uint32_t target) {
        Put32(rsrc, 0);  // characteristics
        Put32(rsrc, 0);  // time stamp
        Put32(rsrc, 0);  // major and minor version
        Put16(rsrc, 0);  // named entries
        Put16(rsrc, 1);  // id entries
        Put32(rsrc, id);
        Put32(rsrc, target);
    };
    directory(kRtVersion, 0x80000000u | 0x18);
    directory(1, 0x80000000u | 0x30);
    directory(spec.language, 0x48);
    Put32(rsrc, kRsrcRva + 0x58);
    Put32(rsrc, static_cast<std::uint32_t>(block.size()));
    Put32(rsrc, 0);
    Put32(rsrc, 0);
    rsrc.append(block);
    const auto rsrcSize = static_cast<std::uint32_t>(rsrc.size());
    const std::uint32_t rawSize = (rsrcSize + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
    const std::uint32_t imageSize = kRsrcRva + (rsrcSize + kSectionAlignment - 1) / kSectionAlignment * kSectionAlignment;

    std::string pe;
    Put16(pe, 0x5A4D);  // "MZ"
    pe.resize(0x3C, '\0');
    Put32(pe, 0x40);  // e_lfanew
    Put32(pe, 0x00004550);  // "PE\0\0"
    // COFF header.
    Put16(pe, spec.pe32Plus ? 0x8664 : 0x014C);
    Put16(pe, 1);  // sections
    Put32(pe, 0);
    Put32(pe, 0);
    Put32(pe, 0);
    Put16(pe, spec.pe32Plus ? 240 : 224);
    Put16(pe, spec.pe32Plus ? 0x0022 : 0x0102);
    // Optional header.
    Put16(pe, spec.pe32Plus ? 0x20B : 0x10B);
    pe.push_back('\x0E');  // linker version 14.0
    pe.push_back('\0');
    Put32(pe, 0);        // size of code
    Put32(pe, rawSize);  // size of initialized data
    Put32(pe, 0);        // size of uninitialized data
    Put32(pe, 0);        // entry point: none, the image is a resource carrier
    Put32(pe, kRsrcRva);  // base of code
    if (spec.pe32Plus) {
        Put64(pe, 0x140000000ull);
    } else {
        Put32(pe, kRsrcRva);  // base of data
        Put32(pe, 0x400000);
    }
    Put32(pe, kSectionAlignment);
    Put32(pe, kFileAlignment);
    Put16(pe, 6);  // OS version
    Put16(pe, 0);
    Put16(pe, 0);  // image version
    Put16(pe, 0);
    Put16(pe, 6);  // subsystem version
    Put16(pe, 0);
    Put32(pe, 0);  // Win32 version value
    Put32(pe, imageSize);
    Put32(pe, kHeaders);
    Put32(pe, 0);  // checksum
    Put16(pe, 2);  // IMAGE_SUBSYSTEM_WINDOWS_GUI
    Put16(pe, 0);  // DLL characteristics
    for (std::uint64_t v : {0x100000ull, 0x1000ull, 0x100000ull, 0x1000ull}) {
        if (spec.pe32Plus) Put64(pe, v);
        else Put32(pe, static_cast<std::uint32_t>(v));
    }
    Put32(pe, 0);   // loader flags
    Put32(pe, 16);  // data directories
    for (int i = 0; i < 16; ++i) {
        Put32(pe, i == 2 ? kRsrcRva : 0);
        Put32(pe, i == 2 ? rsrcSize : 0);
    }
    // Section table.
    pe.append(".rsrc\0\0\0", 8);
    Put32(pe, rsrcSize);
    Put32(pe, kRsrcRva);
    Put32(pe, rawSize);
    Put32(pe, kHeaders);
    Put32(pe, 0);
    Put32(pe, 0);
    Put16(pe, 0);
    Put16(pe, 0);
    Put32(pe, 0x40000040);  // initialized data, readable
    pe.resize(kHeaders, '\0');
    pe += rsrc;
    pe.resize(kHeaders + rawSize, '\0');
    return pe;
}

}  // namespace platform
