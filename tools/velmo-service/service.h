// The endpoints of the reference web API service over one catalogue folder.
//
// Catalogue layout (people and black-box tests write it by hand):
//   install/<request id>.ini           body of GET /api/install/<request id>
//   install/<request id>.statistic-id  optional; its text (trimmed) is sent as "x-statistic-id"
//   update.json                        body of GET /api/update/check
//   settings.json                      body of GET /api/setting/general
//   packages/...                       files served under /packages/ (Range: 206, 416)
//   faults.json                        fault rules (faults.h), re-read on change
//   received/                          written by the service: requests.jsonl, stats.jsonl,
//                                      analytics.jsonl, tickets/<n>/
#pragma once

#include <httplib.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "faults.h"
#include "secrets.h"

namespace velmo_service {

// What a handler answers, before range selection and fault shaping.
struct Reply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    httplib::Headers headers;
    std::string body;
    std::filesystem::path file;  // when set, the body is this file's content
    bool ranges = false;         // honours a Range header (files of the catalogue)
};

class Service {
public:
    Service(std::filesystem::path catalogue, Secrets secrets);

    // Creates received/ and received/tickets/. False with a reason when the catalogue is unusable.
    bool Prepare(std::string& error);
    // Registers every endpoint, the request log and the per-request log line on the server.
    void Install(httplib::Server& server, bool tls);

private:
    using Handler = std::function<Reply(const httplib::Request&)>;
    void Serve(const httplib::Request& req, httplib::Response& res, bool tls, const Handler& handler);
    void Emit(const httplib::Request& req, httplib::Response& res, Reply reply, const FaultEffect* fault);
    void RecordRequest(const httplib::Request& req);

    Reply InstallConfiguration(const httplib::Request& req);
    Reply JsonFile(const std::string& name);
    Reply Package(const httplib::Request& req);
    Reply Statistics(const httplib::Request& req);
    Reply Ticket(const httplib::Request& req);
    Reply Analytics(const httplib::Request& req);
    Reply Redirect(const httplib::Request& req, const std::string& key, const std::string& landing);

    std::filesystem::path catalogue_;
    std::filesystem::path received_;
    Secrets secrets_;
    FaultTable faults_;
    std::mutex ticketMutex_;
};

}  // namespace velmo_service
