#include "connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace velmo_service {

namespace {

std::mutex g_stopMutex;
std::condition_variable g_stopChanged;
bool g_stop = false;

bool EndpointOf(int fd, bool peer, std::string& address, int& port) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    auto* sa = reinterpret_cast<sockaddr*>(&storage);
    if ((peer ? ::getpeername(fd, sa, &length) : ::getsockname(fd, sa, &length)) != 0) return false;
    char text[INET6_ADDRSTRLEN] = {};
    if (sa->sa_family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(sa);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (sa->sa_family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(sa);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    } else {
        return false;
    }
    address = text;
    return true;
}

}  // namespace

void RequestStop() {
    {
        std::lock_guard lock(g_stopMutex);
        g_stop = true;
    }
    g_stopChanged.notify_all();
}

bool StopRequested() {
    std::lock_guard lock(g_stopMutex);
    return g_stop;
}

bool WaitUnlessStopped(std::chrono::milliseconds time) {
    std::unique_lock lock(g_stopMutex);
    return !g_stopChanged.wait_for(lock, time, [] { return g_stop; });
}

int ConnectionSocket(const httplib::Request& req) {
    if (req.ssl) return SSL_get_fd(req.ssl);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        char* end = nullptr;
        const std::string name = entry.path().filename().string();
        long fd = std::strtol(name.c_str(), &end, 10);
        if (!end || *end != '\0') continue;
        struct stat st {};
        if (::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        std::string localAddress, peerAddress;
        int localPort = 0, peerPort = 0;
        if (!EndpointOf(static_cast<int>(fd), false, localAddress, localPort)) continue;
        if (!EndpointOf(static_cast<int>(fd), true, peerAddress, peerPort)) continue;
        if (localPort == req.local_port && peerPort == req.remote_port && peerAddress == req.remote_addr)
            return static_cast<int>(fd);
    }
    return -1;
}

bool DropConnection(const httplib::Request& req) {
    int fd = ConnectionSocket(req);
    if (fd < 0) return false;
    return ::shutdown(fd, SHUT_RDWR) == 0;
}

bool PeerClosed(int socket) {
    if (socket < 0) return true;
    pollfd p{};
    p.fd = socket;
    p.events = POLLIN | POLLRDHUP;
    if (::poll(&p, 1, 0) < 0) return true;
    return (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace velmo_service
