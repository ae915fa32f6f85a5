#include "service.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include <nlohmann/json.hpp>

#include "connection.h"
#include "crypto.h"
#include "files.h"
#include "log.h"
#include "multipart.h"

namespace velmo_service {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The request's own notes (fault, range, query) for its one log line; the log line is written
// on the thread that served the request.
thread_local std::string t_note;

void Note(const std::string& text) {
    if (!t_note.empty()) t_note += "; ";
    t_note += text;
}

// The original content type of a ticket form; the pre-routing step moves it here so that the
// server library hands the body over unparsed.
constexpr const char* kFormTypeHeader = "X-Velmo-Form-Content-Type";

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

Reply JsonReply(int status, const json& body) {
    Reply r;
    r.status = status;
    r.contentType = "application/json";
    r.body = Dump(body);
    return r;
}

Reply TextReply(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

std::string Trim(std::string text) {
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

// A relative path inside the catalogue: no empty, "." or ".." component, no absolute path.
bool SafeRelative(const std::string& text) {
    if (text.empty() || text.front() == '/') return false;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string::npos) return false;
        start = end + 1;
    }
    return true;
}

struct RangeChoice {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    std::uint64_t begin = 0, length = 0;
};

// One range of "bytes=a-b", "bytes=a-" or "bytes=-n"; several ranges are answered whole.
RangeChoice ChooseRange(const std::string& header, std::uint64_t total) {
    RangeChoice c;
    c.length = total;
    constexpr std::string_view unit = "bytes=";
    if (header.compare(0, unit.size(), unit) != 0) return c;
    std::string spec = header.substr(unit.size());
    if (spec.find(',') != std::string::npos) return c;
    auto dash = spec.find('-');
    if (dash == std::string::npos) return c;
    std::string first = Trim(spec.substr(0, dash)), last = Trim(spec.substr(dash + 1));
    auto number = [](const std::string& s, std::uint64_t& out) {
        if (s.empty() || !std::all_of(s.begin(), s.end(), [](unsigned char ch) { return std::isdigit(ch); }))
            return false;
        out = std::stoull(s);
        return true;
    };
    std::uint64_t a = 0, b = 0;
    if (first.empty()) {
        if (!number(last, b) || b == 0) return c;
        if (total == 0) {
            c.kind = RangeChoice::Unsatisfiable;
            return c;
        }
        c.kind = RangeChoice::Part;
        c.length = std::min(b, total);
        c.begin = total - c.length;
        return c;
    }
    if (!number(first, a)) return c;
    if (a >= total) {
        c.kind = RangeChoice::Unsatisfiable;
        return c;
    }
    std::uint64_t end = total - 1;
    if (!last.empty()) {
        if (!number(last, b) || b < a) return c;
        end = std::min(b, total - 1);
    }
    c.kind = RangeChoice::Part;
    c.begin = a;
    c.length = end - a + 1;
    return c;
}

// The bytes a reply sends: a string or an open file of the catalogue.
struct BodySource {
    std::string text;
    int fd = -1;
    ~BodySource() {
        if (fd >= 0) ::close(fd);
    }
    ssize_t Read(char* buffer, std::size_t size, std::uint64_t at) const {
        if (fd < 0) {
            if (at >= text.size()) return 0;
            std::size_t n = std::min<std::size_t>(size, text.size() - at);
            std::copy_n(text.data() + at, n, buffer);
            return static_cast<ssize_t>(n);
        }
        return ::pread(fd, buffer, size, static_cast<off_t>(at));
    }
};

std::string HostOf(const httplib::Request& req) {
    std::string host = req.get_header_value("Host");
    if (host.empty()) host = req.local_addr + ":" + std::to_string(req.local_port);
    return host;
}

// "a=1&b=2" split without decoding: the analytics sender appends values as they are.
json RawParams(const std::string& payload) {
    json params = json::object();
    std::size_t start = 0;
    while (start < payload.size()) {
        auto end = payload.find('&', start);
        if (end == std::string::npos) end = payload.size();
        std::string pair = payload.substr(start, end - start);
        if (!pair.empty()) {
            auto eq = pair.find('=');
            std::string key = pair.substr(0, eq);
            std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
            if (!params.contains(key)) params[key] = value;
        }
        start = end + 1;
    }
    return params;
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") name = "attachment";
    return name;
}

}  // namespace

Service::Service(fs::path catalogue, Secrets secrets)
    : catalogue_(std::move(catalogue)),
      received_(catalogue_ / "received"),
      secrets_(std::move(secrets)),
      faults_(catalogue_ / "faults.json") {}

bool Service::Prepare(std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(catalogue_, ec)) {
        error = "the catalogue folder " + catalogue_.string() + " does not exist";
        return false;
    }
    fs::create_directories(received_ / "tickets", ec);
    if (ec) {
        error = "cannot create " + (received_ / "tickets").string() + ": " + ec.message();
        return false;
    }
    return true;
}

void Service::RecordRequest(const httplib::Request& req) {
    json headers = json::object();
    for (const auto& [name, value] : req.headers) {
        // The server library files the connection's addresses among the headers.
        if (name == kFormTypeHeader || name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT")
            continue;
        if (headers.contains(name))
            headers[name] = headers[name].get<std::string>() + ", " + value;
        else
            headers[name] = value;
    }
    json line = {{"method", req.method}, {"target", req.target}, {"path", req.path}, {"headers", headers}};
    AppendLine(received_ / "requests.jsonl", Dump(line));
}

void Service::Install(httplib::Server& server, bool tls) {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        t_note.clear();
        RecordRequest(req);
        // The ticket form is read by our own strict parser, so the library must not parse it.
        if (req.path == "/api/v2/tickets") {
            auto& mutableReq = const_cast<httplib::Request&>(req);
            auto it = mutableReq.headers.find("Content-Type");
            if (it != mutableReq.headers.end() && it->second.rfind("multipart/form-data", 0) == 0) {
                std::string type = it->second;
                mutableReq.headers.erase(it);
                mutableReq.headers.emplace("Content-Type", "application/octet-stream");
                mutableReq.headers.emplace(kFormTypeHeader, type);
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_logger([tls](const httplib::Request& req, const httplib::Response& res) {
        std::string line = (tls ? "https " : "http ") + req.remote_addr + ":" + std::to_string(req.remote_port) +
                           " " + req.method + " " + req.target + " -> " + std::to_string(res.status);
        if (!t_note.empty()) line += " (" + t_note + ")";
        t_note.clear();
        LogLine(line);
    });

    auto get = [&](const std::string& pattern, Handler h) {
        server.Get(pattern, [this, tls, h](const httplib::Request& req, httplib::Response& res) {
            Serve(req, res, tls, h);
        });
    };
    auto post = [&](const std::string& pattern, Handler h) {
        server.Post(pattern, [this, tls, h](const httplib::Request& req, httplib::Response& res) {
            Serve(req, res, tls, h);
        });
    };

    get("/health", [](const httplib::Request&) { return TextReply(200, "ok\n"); });
    get(R"(/api/install/([^/]+))", [this](const httplib::Request& req) { return InstallConfiguration(req); });
    get("/api/update/check", [this](const httplib::Request&) { return JsonFile("update.json"); });
    get("/api/setting/general", [this](const httplib::Request&) { return JsonFile("settings.json"); });
    get(R"(/packages/(.+))", [this](const httplib::Request& req) { return Package(req); });
    post("/api/stat", [this](const httplib::Request& req) { return Statistics(req); });
    post("/api/v2/tickets", [this](const httplib::Request& req) { return Ticket(req); });
    get("/collect", [this](const httplib::Request& req) { return Analytics(req); });
    post("/collect", [this](const httplib::Request& req) { return Analytics(req); });
    get("/link.php", [this](const httplib::Request& req) { return Redirect(req, "to", "/landing/link?to="); });
    get("/redir.php", [this](const httplib::Request& req) { return Redirect(req, "id", "/landing/redir?id="); });
    get(R"(/landing/(link|redir))", [](const httplib::Request& req) {
        Reply r = TextReply(200, "<html><body>Velmo " + req.matches[1].str() + " page " + req.target + "</body></html>\n");
        r.contentType = "text/html; charset=utf-8";
        return r;
    });
    // Everything else: 404, still through the fault rules so that any path can be made to fail.
    auto missing = [](const httplib::Request& req) { return TextReply(404, "no such resource: " + req.path + "\n"); };
    get(".*", missing);
    post(".*", missing);
    server.Put(".*", [this, tls, missing](const httplib::Request& req, httplib::Response& res) {
        Serve(req, res, tls, missing);
    });
    server.Delete(".*", [this, tls, missing](const httplib::Request& req, httplib::Response& res) {
        Serve(req, res, tls, missing);
    });
}

void Service::Serve(const httplib::Request& req, httplib::Response& res, bool tls, const Handler& handler) {
    // Ranges are chosen by Emit alone; the library would otherwise cut the body a second time.
    const_cast<httplib::Request&>(req).ranges.clear();

    std::optional<FaultEffect> fault = faults_.Take(req.path);
    if (fault) Note("fault " + fault->Describe());
    if (fault && fault->delayMs > 0 && !WaitUnlessStopped(std::chrono::milliseconds(fault->delayMs))) {
        DropConnection(req);
        Note("stopped while delaying");
        res.status = 503;
        return;
    }
    if (fault && fault->drop) {
        if (!DropConnection(req)) Note("the connection's socket was not found");
        res.status = 500;
        res.set_header("Connection", "close");
        return;
    }
    if (fault && fault->redirectLoop) {
        res.set_redirect((tls ? "https://" : "http://") + HostOf(req) + req.target, 302);
        return;
    }
    if (fault && fault->status != 0) {
        Reply r = TextReply(fault->status, fault->body.empty() ? "velmo-service fault: status " + std::to_string(fault->status) + "\n" : fault->body);
        Emit(req, res, std::move(r), &*fault);
        return;
    }
    Emit(req, res, handler(req), fault ? &*fault : nullptr);
}

void Service::Emit(const httplib::Request& req, httplib::Response& res, Reply reply, const FaultEffect* fault) {
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);

    auto source = std::make_shared<BodySource>();
    std::uint64_t total = reply.body.size();
    if (!reply.file.empty()) {
        source->fd = ::open(reply.file.c_str(), O_RDONLY | O_CLOEXEC);
        std::error_code ec;
        total = fs::file_size(reply.file, ec);
        if (source->fd < 0 || ec) {
            res.status = 500;
            res.set_content("cannot read " + reply.file.filename().string() + "\n", "text/plain");
            return;
        }
    } else {
        source->text = std::move(reply.body);
    }

    std::uint64_t begin = 0, length = total;
    if (reply.ranges) {
        res.set_header("Accept-Ranges", "bytes");
        if (reply.status == 200 && req.has_header("Range")) {
            RangeChoice c = ChooseRange(req.get_header_value("Range"), total);
            if (c.kind == RangeChoice::Unsatisfiable) {
                Note("range " + req.get_header_value("Range") + " unsatisfiable");
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(total));
                res.set_content("", "text/plain");
                return;
            }
            if (c.kind == RangeChoice::Part) {
                reply.status = 206;
                begin = c.begin;
                length = c.length;
                res.set_header("Content-Range", "bytes " + std::to_string(begin) + "-" +
                                                    std::to_string(begin + length - 1) + "/" + std::to_string(total));
            }
        }
    }
    res.status = reply.status;

    const bool shaped = fault && (fault->cutAfterBytes >= 0 || fault->stallAfterBytes >= 0 || fault->rateBytesPerSec > 0);
    if (length == 0 || (source->fd < 0 && !shaped)) {
        res.set_content(source->text.substr(begin, length), reply.contentType);
        return;
    }

    FaultEffect shape = fault ? *fault : FaultEffect{};
    const int socket = shape.stallAfterBytes >= 0 ? ConnectionSocket(req) : -1;
    auto started = std::make_shared<std::chrono::steady_clock::time_point>();
    res.set_content_provider(
        length, reply.contentType,
        [source, begin, shape, socket, started](std::size_t offset, std::size_t available, httplib::DataSink& sink) {
            std::size_t chunk = std::min<std::size_t>(available, 64 * 1024);
            const auto sent = static_cast<std::int64_t>(offset);
            if (shape.cutAfterBytes >= 0) {
                if (sent >= shape.cutAfterBytes) return false;
                chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(shape.cutAfterBytes - sent));
            }
            if (shape.stallAfterBytes >= 0) {
                if (sent >= shape.stallAfterBytes) {
                    // Nothing more, until the client gives up or the service stops (at most 10 minutes).
                    for (int i = 0; i < 6000 && !PeerClosed(socket); ++i)
                        if (!WaitUnlessStopped(std::chrono::milliseconds(100))) break;
                    return false;
                }
                chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(shape.stallAfterBytes - sent));
            }
            if (shape.rateBytesPerSec > 0) {
                if (offset == 0) *started = std::chrono::steady_clock::now();
                chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(std::max<std::int64_t>(1, shape.rateBytesPerSec / 20)));
                auto due = *started + std::chrono::milliseconds(sent * 1000 / shape.rateBytesPerSec);
                auto now = std::chrono::steady_clock::now();
                if (due > now &&
                    !WaitUnlessStopped(std::chrono::duration_cast<std::chrono::milliseconds>(due - now)))
                    return false;
            }
            std::string buffer(chunk, '\0');
            ssize_t n = source->Read(buffer.data(), chunk, begin + offset);
            if (n <= 0) return false;
            return sink.write(buffer.data(), static_cast<std::size_t>(n));
        });
}

Reply Service::InstallConfiguration(const httplib::Request& req) {
    const std::string id = req.matches[1];
    std::string query;
    for (const char* key : {"arch", "instver", "test"})
        if (req.has_param(key)) query += std::string(query.empty() ? "" : " ") + key + "=" + req.get_param_value(key);
    Note("install id " + id + (query.empty() ? "" : ", " + query));
    if (!SafeRelative(id)) return TextReply(404, "no installer configuration for this id\n");
    fs::path file = catalogue_ / "install" / (id + ".ini");
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return TextReply(404, "no installer configuration for " + id + "\n");
    Reply r;
    r.file = file;
    r.ranges = true;
    if (auto statisticId = ReadFile(catalogue_ / "install" / (id + ".statistic-id")))
        r.headers.emplace("x-statistic-id", Trim(*statisticId));
    return r;
}

Reply Service::JsonFile(const std::string& name) {
    fs::path file = catalogue_ / name;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return JsonReply(404, {{"code", 404}, {"message", name + " is not in the catalogue"}});
    Reply r;
    r.file = file;
    r.contentType = "application/json";
    return r;
}

Reply Service::Package(const httplib::Request& req) {
    const std::string relative = req.matches[1];
    if (!SafeRelative(relative)) return TextReply(404, "no such package\n");
    fs::path file = catalogue_ / "packages" / relative;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return TextReply(404, "no such package: " + relative + "\n");
    Reply r;
    r.file = file;
    r.contentType = "application/octet-stream";
    r.ranges = true;
    return r;
}

Reply Service::Statistics(const httplib::Request& req) {
    auto refuse = [](const std::string& why) {
        Note(why);
        return JsonReply(400, {{"code", 400}, {"message", why}});
    };
    json doc = json::parse(req.body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("stat") || !doc["stat"].is_string())
        return refuse("the body is not an object with the string \"stat\"");
    auto cipherText = Base64Decode(doc["stat"].get<std::string>());
    if (!cipherText) return refuse("\"stat\" is not standard Base64");
    auto plain = Aes256CbcDecrypt(*cipherText, DeriveStatisticsKey(secrets_.statisticsSecret));
    if (!plain) return refuse("the event does not decrypt with the statistics secret");
    // The sender pads the event with zero bytes to whole blocks before the cipher's own padding.
    if (plain->size() % 16 != 0) return refuse("the decrypted event is not zero-padded to whole blocks");
    while (!plain->empty() && plain->back() == '\0') plain->pop_back();
    json event = json::parse(*plain, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return refuse("the decrypted event is not a JSON object");
    if (!AppendLine(received_ / "stats.jsonl", Dump(event))) return JsonReply(500, {{"code", 500}, {"message", "cannot store"}});
    Note("event stored");
    return JsonReply(200, {{"code", 0}, {"message", "success"}});
}

Reply Service::Ticket(const httplib::Request& req) {
    if (req.get_header_value("Authorization") != "Basic " + secrets_.helpdeskCredential) {
        Note("credential refused");
        return JsonReply(401, {{"code", "invalid_credentials"}, {"message", "You have to be logged in to perform this action."}});
    }
    std::string type = req.has_header(kFormTypeHeader) ? req.get_header_value(kFormTypeHeader) : req.get_header_value("Content-Type");
    std::string boundary = BoundaryOf(type);
    std::vector<FormPart> parts;
    std::string error;
    if (boundary.empty()) error = "the content type is not multipart/form-data with a boundary";
    if (error.empty()) ParseMultipart(req.body, boundary, parts, error);
    if (!error.empty()) {
        Note(error);
        return JsonReply(400, {{"code", "invalid_form"}, {"message", error}});
    }

    std::lock_guard lock(ticketMutex_);
    int number = 1;
    fs::path folder;
    std::error_code ec;
    for (;; ++number) {
        folder = received_ / "tickets" / std::to_string(number);
        if (fs::create_directory(folder, ec)) break;
        if (ec) return JsonReply(500, {{"code", "storage"}, {"message", ec.message()}});
    }
    json fields = json::array(), attachments = json::array(), headers = json::object();
    for (const auto& [name, value] : req.headers)
        if (name != kFormTypeHeader && name.find('_') == std::string::npos)
            headers[name] = name == "Content-Type" ? type : value;
    for (const auto& part : parts) {
        if (!part.filename) {
            fields.push_back({{"name", part.name}, {"value", part.value}});
            continue;
        }
        std::string stored = BaseName(*part.filename);
        if (fs::exists(folder / stored)) stored = std::to_string(attachments.size() + 1) + "-" + stored;
        WriteFileAtomically(folder / stored, part.value);
        attachments.push_back({{"name", part.name}, {"filename", *part.filename}, {"file", stored}, {"size", part.value.size()}});
    }
    WriteFileAtomically(folder / "fields.json", fields.dump(2, ' ', false, json::error_handler_t::replace));
    WriteFileAtomically(folder / "attachments.json", attachments.dump(2, ' ', false, json::error_handler_t::replace));
    WriteFileAtomically(folder / "headers.json", headers.dump(2, ' ', false, json::error_handler_t::replace));
    Note("ticket " + std::to_string(number) + " stored");
    return JsonReply(201, {{"id", number}});
}

Reply Service::Analytics(const httplib::Request& req) {
    std::string payload;
    if (req.method == "POST") {
        payload = req.body;
    } else if (auto q = req.target.find('?'); q != std::string::npos) {
        payload = req.target.substr(q + 1);
    }
    json hit = {{"method", req.method}, {"payload", payload}, {"params", RawParams(payload)},
                {"userAgent", req.get_header_value("User-Agent")}};
    AppendLine(received_ / "analytics.jsonl", Dump(hit));
    return TextReply(200, "");
}

Reply Service::Redirect(const httplib::Request& req, const std::string& key, const std::string& landing) {
    if (!req.has_param(key.c_str())) return TextReply(400, "missing query key \"" + key + "\"\n");
    Reply r = TextReply(302, "");
    r.headers.emplace("Location", landing + httplib::detail::encode_query_param(req.get_param_value(key.c_str())));
    return r;
}

}  // namespace velmo_service
