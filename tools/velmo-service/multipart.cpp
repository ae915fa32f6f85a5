#include "multipart.h"

namespace velmo_service {

namespace {

// Reads `key="value"` at the front of text; the value runs to the next quotation mark.
bool TakeQuoted(std::string_view& text, std::string_view key, std::string& value) {
    if (text.substr(0, key.size()) != key) return false;
    text.remove_prefix(key.size());
    if (text.empty() || text.front() != '"') return false;
    auto close = text.find('"', 1);
    if (close == std::string_view::npos) return false;
    value.assign(text.substr(1, close - 1));
    text.remove_prefix(close + 1);
    return true;
}

bool ParseDisposition(std::string_view line, FormPart& part) {
    constexpr std::string_view head = "Content-Disposition: form-data; ";
    if (line.substr(0, head.size()) != head) return false;
    line.remove_prefix(head.size());
    if (!TakeQuoted(line, "name=", part.name)) return false;
    if (line.empty()) return true;
    std::string filename;
    if (line.substr(0, 2) != "; ") return false;
    line.remove_prefix(2);
    if (!TakeQuoted(line, "filename=", filename)) return false;
    part.filename = filename;
    return line.empty();
}

}  // namespace

std::string BoundaryOf(std::string_view contentType) {
    constexpr std::string_view type = "multipart/form-data;";
    if (contentType.substr(0, type.size()) != type) return {};
    auto at = contentType.find("boundary=", type.size());
    if (at == std::string_view::npos) return {};
    std::string_view boundary = contentType.substr(at + 9);
    auto end = boundary.find(';');
    if (end != std::string_view::npos) boundary = boundary.substr(0, end);
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
        boundary = boundary.substr(1, boundary.size() - 2);
    return std::string(boundary);
}

bool ParseMultipart(std::string_view body, std::string_view boundary, std::vector<FormPart>& parts,
                    std::string& error) {
    parts.clear();
    if (boundary.empty()) {
        error = "no boundary";
        return false;
    }
    const std::string dash = "--" + std::string(boundary);
    const std::string delimiter = "\r\n" + dash;
    if (body.substr(0, dash.size()) != dash) {
        error = "the body does not begin with \"--\" and the boundary";
        return false;
    }
    std::size_t pos = dash.size();
    for (;;) {
        std::string_view rest = body.substr(pos);
        if (rest == "--\r\n") return true;
        if (rest.substr(0, 2) != "\r\n") {
            error = "a boundary line is not followed by CR LF or by \"--\" CR LF at the end";
            return false;
        }
        pos += 2;
        FormPart part;
        bool disposition = false;
        for (;;) {
            auto lineEnd = body.find("\r\n", pos);
            if (lineEnd == std::string_view::npos) {
                error = "a part's headers do not end";
                return false;
            }
            std::string_view line = body.substr(pos, lineEnd - pos);
            pos = lineEnd + 2;
            if (line.empty()) break;
            if (line.substr(0, 20) == "Content-Disposition:") {
                if (disposition || !ParseDisposition(line, part)) {
                    error = "bad Content-Disposition line: " + std::string(line);
                    return false;
                }
                disposition = true;
            } else if (line.find(':') == std::string_view::npos) {
                error = "bad part header line: " + std::string(line);
                return false;
            }
        }
        if (!disposition) {
            error = "a part without Content-Disposition";
            return false;
        }
        auto end = body.find(delimiter, pos);
        if (end == std::string_view::npos) {
            error = "the value of \"" + part.name + "\" is not followed by CR LF and the boundary";
            return false;
        }
        part.value.assign(body.substr(pos, end - pos));
        parts.push_back(std::move(part));
        pos = end + delimiter.size();
    }
}

}  // namespace velmo_service
