#include "connection.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <mutex>

namespace velmo_service {

namespace {

std::mutex g_stopMutex;
std::condition_variable g_stopChanged;
bool g_stop = false;

// The inode of the TCP socket whose own port is `localPort` and whose peer's port is
// `remotePort`, from the kernel's socket tables; 0 when there is none.
unsigned long SocketInode(int localPort, int remotePort) {
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // column titles
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
                continue;
            auto portOf = [](const std::string& endpoint) {
                auto colon = endpoint.rfind(':');
                return colon == std::string::npos ? -1 : static_cast<int>(std::strtol(endpoint.c_str() + colon + 1, nullptr, 16));
            };
            if (portOf(local) == localPort && portOf(remote) == remotePort && inode != 0) return inode;
        }
    }
    return 0;
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
    // The server library does not hand the socket to handlers. The kernel's tables name the
    // connection's inode; the process's descriptor links name the descriptor. Only links are
    // read, so descriptors that other threads open and close are never touched.
    const unsigned long inode = SocketInode(req.local_port, req.remote_port);
    if (inode == 0) return -1;
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(entry.path(), linkError);
        if (linkError || target.string() != wanted) continue;
        char* end = nullptr;
        const std::string name = entry.path().filename().string();
        const long fd = std::strtol(name.c_str(), &end, 10);
        if (end && *end == '\0') return static_cast<int>(fd);
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
