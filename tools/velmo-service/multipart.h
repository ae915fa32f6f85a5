// A strict reader of the ticket's multipart form: the body the helpdesk expects and nothing
// looser. Each part is "--" and the boundary, CR LF, a Content-Disposition line (form-data, a
// quoted name, optionally a quoted filename), optionally more header lines, an empty line, the
// value and CR LF; the body ends with "--", the boundary, "--" and CR LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo_service {

struct FormPart {
    std::string name;
    std::optional<std::string> filename;
    std::string value;
};

// The boundary of a "multipart/form-data; boundary=..." content type; empty when it has none.
std::string BoundaryOf(std::string_view contentType);

// False with a reason when the body breaks the form's rules.
bool ParseMultipart(std::string_view body, std::string_view boundary, std::vector<FormPart>& parts,
                    std::string& error);

}  // namespace velmo_service
