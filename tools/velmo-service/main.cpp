// velmo-service: the reference web API service on loopback.
//
//   velmo-service --catalogue DIR --listen 127.0.0.1:0 [--listen ...] [--tls-cert F --tls-key F]
//                 [--tls-listen 127.0.0.1:0] [--port-file F] [--deployment F]
//
// With --tls-cert and --tls-key and no --tls-listen every --listen is https; --tls-listen adds
// https listeners beside plain ones. The chosen ports are printed on stdout and written to the
// port file (written whole, after every listener is bound), one line per listener: the --listen
// ones first, then the --tls-listen ones. SIGTERM or SIGINT stop the service; it exits 0 then.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "files.h"
#include "log.h"
#include "secrets.h"
#include "service.h"

namespace {

using velmo_service::LogLine;

struct Listener {
    std::string host;
    int port = 0;
    bool tls = false;
    std::unique_ptr<httplib::Server> server;
};

bool ParseAddress(const std::string& text, Listener& listener) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    listener.host = text.substr(0, colon);
    if (listener.host.size() > 2 && listener.host.front() == '[' && listener.host.back() == ']')
        listener.host = listener.host.substr(1, listener.host.size() - 2);
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) return false;
    listener.port = std::stoi(port);
    return listener.port <= 65535;
}

int Usage(const std::string& problem) {
    LogLine(problem);
    LogLine("usage: velmo-service --catalogue DIR --listen HOST:PORT [--tls-cert F --tls-key F] "
            "[--tls-listen HOST:PORT] [--port-file F] [--deployment F]");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string catalogue, certFile, keyFile, portFile, deployment;
    std::vector<Listener> listeners;
    std::vector<std::string> tlsAddresses;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--catalogue" && value(catalogue)) continue;
        if (arg == "--tls-cert" && value(certFile)) continue;
        if (arg == "--tls-key" && value(keyFile)) continue;
        if (arg == "--port-file" && value(portFile)) continue;
        if (arg == "--deployment" && value(deployment)) continue;
        if (arg == "--listen" && value(v)) {
            Listener l;
            if (!ParseAddress(v, l)) return Usage("bad --listen address: " + v);
            listeners.push_back(std::move(l));
            continue;
        }
        if (arg == "--tls-listen" && value(v)) {
            tlsAddresses.push_back(v);
            continue;
        }
        return Usage("unknown or incomplete argument: " + arg);
    }
    if (catalogue.empty()) return Usage("--catalogue is required");
    if (listeners.empty() && tlsAddresses.empty()) return Usage("--listen is required");
    if (certFile.empty() != keyFile.empty()) return Usage("--tls-cert and --tls-key go together");
    if (!tlsAddresses.empty() && certFile.empty()) return Usage("--tls-listen needs --tls-cert and --tls-key");
    const bool allTls = !certFile.empty() && tlsAddresses.empty();
    for (auto& l : listeners) l.tls = allTls;
    for (const auto& address : tlsAddresses) {
        Listener l;
        if (!ParseAddress(address, l)) return Usage("bad --tls-listen address: " + address);
        l.tls = true;
        listeners.push_back(std::move(l));
    }

    velmo_service::Secrets secrets;
    std::string error;
    if (!velmo_service::LoadSecrets(deployment, secrets, error)) {
        LogLine(error);
        return 2;
    }
    velmo_service::Service service(catalogue, secrets);
    if (!service.Prepare(error)) {
        LogLine(error);
        return 2;
    }

    // Signals are taken by the main thread alone, with sigwait; writes to a closed connection
    // fail with an error instead of ending the process.
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string ports;
    for (auto& l : listeners) {
        if (l.tls)
            l.server = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
        else
            l.server = std::make_unique<httplib::Server>();
        if (!l.server->is_valid()) {
            LogLine("cannot load the TLS certificate " + certFile + " or key " + keyFile);
            return 2;
        }
        // Faults hold connections open for long; a short keep-alive bounds the time a stop waits.
        l.server->new_task_queue = [] { return new httplib::ThreadPool(32); };
        l.server->set_keep_alive_timeout(2);
        service.Install(*l.server, l.tls);
        if (l.port == 0) {
            l.port = l.server->bind_to_any_port(l.host);
            if (l.port <= 0) {
                LogLine("cannot listen on " + l.host);
                return 2;
            }
        } else if (!l.server->bind_to_port(l.host, l.port)) {
            LogLine("cannot listen on " + l.host + ":" + std::to_string(l.port));
            return 2;
        }
        ports += std::to_string(l.port) + "\n";
        LogLine(std::string("listening on ") + (l.tls ? "https://" : "http://") + l.host + ":" + std::to_string(l.port) +
                " for " + catalogue);
    }
    if (!portFile.empty() && !velmo_service::WriteFileAtomically(portFile, ports)) {
        LogLine("cannot write the port file " + portFile);
        return 2;
    }
    std::fwrite(ports.data(), 1, ports.size(), stdout);
    std::fflush(stdout);

    std::vector<std::thread> threads;
    for (auto& l : listeners) threads.emplace_back([&l] { l.server->listen_after_bind(); });

    int signal = 0;
    sigwait(&stopSignals, &signal);
    LogLine("stopping on signal " + std::to_string(signal));
    velmo_service::RequestStop();
    // A connection stuck in a client's hands must not keep the service alive for ever.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(10));
        LogLine("connections did not end within 10 s; exiting anyway");
        std::_Exit(0);
    }).detach();
    for (auto& l : listeners) l.server->stop();
    for (auto& t : threads) t.join();
    LogLine("stopped");
    return 0;
}
