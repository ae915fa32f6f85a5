// Compiles the resources/ folder into a C++ source file that the installer links: string tables
// (RT_STRING bundles per LANGID), PNG images, the icon group, the licence-text archives and the
// table of the suite's products.
//
//   resource-gen RESOURCES_DIR OUTPUT.cpp WORK_DIR
//
// RESOURCES_DIR holds resources.json (PNG, icon and EULA sources), products.json and strings/*.txt
// (format: resources/strings/README.md). WORK_DIR receives the licence archives as plain .zip
// files too, for people who want to look at them. Any malformed input fails the run with the
// file and line named, so a broken translation fails the build instead of shipping; a licence
// source that does not exist yet is reported and left out.
#include <zip.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtString = 6;
constexpr std::uint16_t kRtGroupIcon = 14;

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail("cannot read " + path.string());
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

bool IsValidUtf8(const std::string& text) {
    return platform::Utf8FromWide(platform::WideFromUtf8(text)) == text;
}

struct Resource {
    std::uint16_t typeNumber = 0;
    std::string typeName;
    std::uint16_t id = 0;
    std::uint16_t langId = 0;
    std::string data;

    auto Key() const { return std::tie(typeNumber, typeName, id, langId); }
};

// ---- string tables ---------------------------------------------------------------------------

struct StringTable {
    std::uint16_t langId = 0;
    std::map<std::uint16_t, std::wstring> texts;
};

std::wstring Unescape(const std::string& raw, const std::string& where) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (i + 1 == raw.size()) Fail(where + ": a backslash ends the text (write \\\\ for a backslash)");
        switch (raw[++i]) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            default: Fail(where + ": unknown escape \\" + std::string(1, raw[i]) + " (known: \\n \\r \\t \\\\)");
        }
    }
    return platform::WideFromUtf8(out);
}

StringTable ParseStringTable(const fs::path& path) {
    std::string content = ReadFile(path);
    const std::string name = path.filename().string();
    if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);
    if (!IsValidUtf8(content)) Fail(name + ": the file is not valid UTF-8");

    StringTable table;
    bool haveHeader = false;
    std::istringstream lines(content);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string where = name + ":" + std::to_string(number);
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (line[0] == '#') {
            if (!haveHeader) {
                unsigned long lang = 0;
                char tail = 0;
                if (std::sscanf(line.c_str(), "# langid: %lu%c", &lang, &tail) != 1 || lang == 0 || lang > 0xFFFF)
                    Fail(where + ": the first line must be \"# langid: <decimal LANGID>\"");
                table.langId = static_cast<std::uint16_t>(lang);
                haveHeader = true;
            }
            continue;
        }
        if (!haveHeader) Fail(where + ": the first line must be \"# langid: <decimal LANGID>\"");
        const std::size_t tab = line.find('\t');
        const std::string idText = line.substr(0, tab);
        if (tab == std::string::npos || idText.empty() || idText.size() > 5 ||
            idText.find_first_not_of("0123456789") != std::string::npos)
            Fail(where + ": an entry is <id><TAB><text>");
        const unsigned long id = std::stoul(idText);
        if (id > 0xFFFF) Fail(where + ": id " + idText + " is out of range");
        std::wstring text = Unescape(line.substr(tab + 1), where);
        if (platform::Utf16Length(text) > 0xFFFF) Fail(where + ": the text is too long");
        if (!table.texts.emplace(static_cast<std::uint16_t>(id), std::move(text)).second)
            Fail(where + ": id " + idText + " appears twice");
    }
    if (!haveHeader) Fail(name + ": no \"# langid:\" header");
    return table;
}

// RT_STRING resources as Windows stores them: bundle (id / 16) + 1 holds 16 texts, each a
// 16-bit length in UTF-16 units followed by the units, without terminator.
void AddStringBundles(const StringTable& table, std::vector<Resource>& out) {
    std::map<std::uint16_t, std::array<const std::wstring*, 16>> bundles;
    for (const auto& [id, text] : table.texts) {
        auto& slots = bundles.try_emplace(static_cast<std::uint16_t>((id >> 4) + 1)).first->second;
        slots[id & 15] = &text;
    }
    for (const auto& [bundleId, slots] : bundles) {
        Resource r{kRtString, "", bundleId, table.langId, {}};
        for (const std::wstring* text : slots) {
            const std::string units = text ? platform::Utf16LeFromWide(*text) : std::string();
            const std::size_t count = units.size() / 2;
            r.data += static_cast<char>(count & 0xFF);
            r.data += static_cast<char>(count >> 8);
            r.data += units;
        }
        out.push_back(std::move(r));
    }
}

// ---- images ------------------------------------------------------------------------------------

struct PngSize {
    std::uint32_t width = 0, height = 0;
};

PngSize CheckPng(const std::string& data, const std::string& name) {
    static const std::string kSignature("\x89PNG\r\n\x1a\n", 8);
    if (data.size() < 33 || data.compare(0, 8, kSignature) != 0 || data.compare(12, 4, "IHDR") != 0)
        Fail(name + ": not a PNG image");
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(data[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

void AddIconGroup(std::uint16_t groupId, const std::vector<fs::path>& files, std::uint16_t& nextIconId,
                  std::vector<Resource>& out) {
    // GRPICONDIR followed by one GRPICONDIRENTRY per image; the images are PNG-compressed icons.
    Resource group{kRtGroupIcon, "", groupId, 0, {}};
    auto put16 = [&](std::uint32_t v) {
        group.data += static_cast<char>(v & 0xFF);
        group.data += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put16(0);
    put16(1);
    put16(static_cast<std::uint32_t>(files.size()));
    for (const fs::path& file : files) {
        const std::string data = ReadFile(file);
        const PngSize size = CheckPng(data, file.filename().string());
        if (size.width != size.height || size.width == 0 || size.width > 256)
            Fail(file.filename().string() + ": an icon image is square and at most 256 pixels wide");
        const std::uint16_t iconId = nextIconId++;
        group.data += static_cast<char>(size.width == 256 ? 0 : size.width);
        group.data += static_cast<char>(size.height == 256 ? 0 : size.height);
        group.data += '\0';  // colour count
        group.data += '\0';  // reserved
        put16(1);            // planes
        put16(32);           // bits per pixel
        put32(static_cast<std::uint32_t>(data.size()));
        put16(iconId);
        out.push_back({kRtIcon, "", iconId, 0, data});
    }
    out.push_back(std::move(group));
}

// ---- licence texts -----------------------------------------------------------------------------

// The archived document is 7-bit RTF: every non-ASCII character of the UTF-8 source becomes
// \uN? (N the signed 16-bit UTF-16 unit, "?" the fall-back for readers without Unicode).
std::string RtfFromUtf8Source(const std::string& source, const std::string& name) {
    if (!IsValidUtf8(source)) Fail(name + ": the file is not valid UTF-8");
    if (source.rfind("{\\rtf1", 0) != 0) Fail(name + ": an RTF document starts with {\\rtf1");
    if (source.find("\\deflang") == std::string::npos) Fail(name + ": the document declares no \\deflang");
    int depth = 0;
    bool escaped = false;
    for (char c : source) {
        if (escaped) {
            escaped = false;
            continue;
        }
        if (c == '\\') escaped = true;
        else if (c == '{') ++depth;
        else if (c == '}' && --depth < 0) Fail(name + ": a closing brace has no opening one");
    }
    if (depth != 0) Fail(name + ": the braces are not balanced");

    std::string out;
    for (wchar_t c : platform::WideFromUtf8(source)) {
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const std::string units = platform::Utf16LeFromWide(std::wstring(1, c));
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
            const auto unit = static_cast<std::uint16_t>(static_cast<unsigned char>(units[i]) |
                                                         (static_cast<unsigned char>(units[i + 1]) << 8));
            out += "\\u" + std::to_string(static_cast<std::int16_t>(unit)) + "?";
        }
    }
    return out;
}

std::string ZipOneFile(const fs::path& zipPath, const std::string& entryName, const std::string& content) {
    zipFile zf = zipOpen64(zipPath.string().c_str(), APPEND_STATUS_CREATE);
    if (!zf) Fail("cannot create " + zipPath.string());
    zip_fileinfo info{};
    info.tmz_date.tm_year = 1980;  // a fixed time, so that every build makes the same bytes
    info.tmz_date.tm_mday = 1;
    bool ok = zipOpenNewFileInZip64(zf, entryName.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9,
                                    0) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zf, content.data(), static_cast<unsigned>(content.size())) == ZIP_OK;
    ok = zipCloseFileInZip(zf) == ZIP_OK && ok;
    ok = zipClose(zf, nullptr) == ZIP_OK && ok;
    if (!ok) Fail("cannot write " + zipPath.string());
    return ReadFile(zipPath);
}

// ---- output ------------------------------------------------------------------------------------

std::string WideLiteral(const std::wstring& text) {
    std::ostringstream out;
    out << "L\"";
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') out << static_cast<char>(c);
        else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\U%08X", static_cast<unsigned>(c));
            out << buf;
        }
    }
    out << "\"";
    return out.str();
}

std::string Generate(std::vector<Resource> resources, const nlohmann::json& products) {
    std::sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) { return a.Key() < b.Key(); });
    for (std::size_t i = 1; i < resources.size(); ++i)
        if (resources[i - 1].Key() == resources[i].Key())
            Fail("two resources of type " + resources[i].typeName + std::to_string(resources[i].typeNumber) +
                 " with id " + std::to_string(resources[i].id) + " and language " + std::to_string(resources[i].langId));

    // Resources with the same bytes (one banner under two ids) share them.
    std::string blob;
    std::map<std::string, std::size_t> stored;
    std::ostringstream table;
    for (const Resource& r : resources) {
        auto [it, added] = stored.try_emplace(r.data, 0);
        if (added) {
            while (blob.size() % 4) blob += '\0';
            it->second = blob.size();
            blob += r.data;
        }
        table << "    {" << r.typeNumber << ", \"" << r.typeName << "\", " << r.id << ", " << r.langId << ", "
              << it->second << ", " << r.data.size() << "},\n";
    }

    std::ostringstream src;
    src << "// Generated by resource-gen from resources/; do not edit.\n"
        << "#include \"util/resource_table.h\"\n\n"
        << "namespace util::resource_table {\n\n"
        << "alignas(4) const unsigned char kBlob[" << blob.size() + 1 << "] =\n";
    // Octal escapes have at most three digits, so a following digit never joins them.
    std::size_t column = 0;
    src << "    \"";
    for (unsigned char c : blob) {
        if (column >= 96) {
            src << "\"\n    \"";
            column = 0;
        }
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
            src << static_cast<char>(c);
            ++column;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            src << buf;
            column += 4;
        }
    }
    src << "\";\n\n"
        << "const Entry kEntries[] = {\n" << table.str() << "};\n"
        << "const std::size_t kEntryCount = " << resources.size() << ";\n\n"
        << "const Product kProducts[] = {\n";
    for (const auto& p : products) {
        src << "    {" << WideLiteral(platform::WideFromUtf8(p.at("name").get<std::string>())) << ", "
            << p.at("descriptionId").get<int>() << ", " << (p.at("match").get<std::string>() == "prefix" ? "true" : "false")
            << ", " << WideLiteral(platform::WideFromUtf8(p.value("executable", std::string()))) << "},\n";
    }
    src << "};\n"
        << "const std::size_t kProductCount = " << products.size() << ";\n\n"
        << "}  // namespace util::resource_table\n";
    return src.str();
}

std::uint16_t ParseId(const std::string& text, const std::string& where) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(text) == 0 || std::stoul(text) > 0xFFFF)
        Fail(where + ": \"" + text + "\" is not a resource id");
    return static_cast<std::uint16_t>(std::stoul(text));
}

nlohmann::json ReadJson(const fs::path& path) {
    nlohmann::json json = nlohmann::json::parse(ReadFile(path), nullptr, false);
    if (json.is_discarded() || !json.is_object()) Fail(path.filename().string() + ": not a JSON object");
    return json;
}

int Run(const fs::path& root, const fs::path& output, const fs::path& work) {
    std::vector<Resource> resources;
    fs::create_directories(work);

    std::vector<fs::path> tableFiles;
    for (const auto& item : fs::directory_iterator(root / "strings"))
        if (item.is_regular_file() && item.path().extension() == ".txt") tableFiles.push_back(item.path());
    std::sort(tableFiles.begin(), tableFiles.end());
    std::map<std::uint16_t, std::string> languages;
    for (const fs::path& file : tableFiles) {
        const StringTable table = ParseStringTable(file);
        if (!languages.emplace(table.langId, file.filename().string()).second)
            Fail(file.filename().string() + ": LANGID " + std::to_string(table.langId) + " is already used by " +
                 languages[table.langId]);
        AddStringBundles(table, resources);
    }

    const nlohmann::json manifest = ReadJson(root / "resources.json");
    for (const auto& [idText, file] : manifest.at("png").items()) {
        const std::string data = ReadFile(root / file.get<std::string>());
        CheckPng(data, file.get<std::string>());
        resources.push_back({0, "PNG", ParseId(idText, "resources.json png"), 0, data});
    }
    std::uint16_t nextIconId = 1;
    for (const auto& [idText, files] : manifest.at("iconGroups").items()) {
        std::vector<fs::path> paths;
        for (const auto& f : files) paths.push_back(root / f.get<std::string>());
        AddIconGroup(ParseId(idText, "resources.json iconGroups"), paths, nextIconId, resources);
    }
    for (const auto& [idText, file] : manifest.at("eula").items()) {
        const fs::path source = root / file.get<std::string>();
        const std::uint16_t id = ParseId(idText, "resources.json eula");
        if (!fs::exists(source)) {
            std::cerr << "resource-gen: warning: " << file.get<std::string>() << " does not exist yet; EULA " << id
                      << " is left out\n";
            continue;
        }
        const std::string rtf = RtfFromUtf8Source(ReadFile(source), source.filename().string());
        const std::string zip = ZipOneFile(work / ("eula-" + std::to_string(id) + ".zip"), source.filename().string(), rtf);
        resources.push_back({0, "EULA", id, 0, zip});
    }

    const nlohmann::json products = ReadJson(root / "products.json").at("products");
    std::set<int> descriptionIds;
    for (const auto& p : products)
        if (!descriptionIds.insert(p.at("descriptionId").get<int>()).second)
            Fail("products.json: description id " + std::to_string(p.at("descriptionId").get<int>()) + " is used twice");

    const std::string source = Generate(std::move(resources), products);
    // Written under a temporary name first, so that an interrupted run never leaves half a source.
    const fs::path temp = output.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << source;
        if (!out.flush()) Fail("cannot write " + temp.string());
    }
    fs::rename(temp, output);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: resource-gen RESOURCES_DIR OUTPUT.cpp WORK_DIR\n";
        return 2;
    }
    try {
        return Run(argv[1], argv[2], argv[3]);
    } catch (const Failure& failure) {
        std::cerr << "resource-gen: " << failure.message << "\n";
    } catch (const std::exception& error) {
        std::cerr << "resource-gen: " << error.what() << "\n";
    }
    return 1;
}
