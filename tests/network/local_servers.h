// Two small loopback helpers of the end-to-end tests: a server that answers the headers and part
// of a body and then sends nothing more (a stalled transfer), and a real tinyproxy on a loopback
// port with its own configuration file.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace velmo_test {

// Listens on 127.0.0.1 (port chosen by the system); every connection gets `answer` and then
// silence until the server stops.
class StallingServer {
public:
    explicit StallingServer(std::string answer) : answer_(std::move(answer)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 8);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~StallingServer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    void Serve() {
        std::vector<int> clients;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1) {
                int client = ::accept(fd_, nullptr, nullptr);
                if (client < 0) continue;
                char request[4096];
                ::recv(client, request, sizeof request, 0);
                ::send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
                clients.push_back(client);
            }
        }
        for (int c : clients) ::close(c);
    }
    std::string answer_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A free loopback port at the time of the call.
inline int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// tinyproxy in the foreground with a configuration of its own; its log is its output file.
class Tinyproxy {
public:
    explicit Tinyproxy(const std::filesystem::path& folder) : folder_(folder) {
        port_ = FreeLoopbackPort();
        std::ofstream(folder_ / "tinyproxy.conf") << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                                                  << "MaxClients 16\nLogLevel Info\nAllow 127.0.0.1\n";
        std::string conf = (folder_ / "tinyproxy.conf").string(), log = (folder_ / "tinyproxy.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            FILE* out = std::freopen(log.c_str(), "w", stderr);
            (void)out;
            ::dup2(2, 1);
            ::execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready when it accepts a connection.
        for (int i = 0; i < 100 && !Accepts(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Tinyproxy() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    bool running() const { return pid_ > 0 && Accepts(); }
    std::string Log() const {
        std::ifstream in(folder_ / "tinyproxy.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    bool Accepts() const {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port_));
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }
    std::filesystem::path folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace velmo_test
