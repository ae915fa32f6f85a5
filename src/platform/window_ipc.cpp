// Window sockets: handle allocation, the per-process socket server, and the sending side of
// cross-process messages. Protocol and threads: docs/platform/windows.md.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "platform/machine.h"
#include "platform/window_internal.h"

namespace platform::window_detail {
namespace {

namespace fs = std::filesystem;

// One request per connection: a fixed header, then cbData bytes for WM_COPYDATA; the answer is a
// fixed reply. Both ends are processes of one host, so fields are in host byte order.
constexpr std::uint32_t kRequestMagic = 0x314D5756;  // "VWM1"
constexpr std::uint32_t kReplyMagic = 0x524D5756;    // "VWMR"
constexpr std::uint32_t kKindSend = 1;
constexpr std::uint32_t kKindPost = 2;
constexpr std::uint32_t kMaxPayload = 64u << 20;
constexpr int kBacklog = 64;

struct RequestHeader {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint32_t hwnd;
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint64_t dwData;  // WM_COPYDATA only
    std::uint32_t cbData;  // WM_COPYDATA only: bytes following the header
    std::uint32_t reserved;
};
static_assert(sizeof(RequestHeader) == 48);

struct ReplyWire {
    std::uint32_t magic;
    std::uint32_t error;
    std::int64_t result;
};
static_assert(sizeof(ReplyWire) == 16);

fs::path WindowsFolder() { return MachineFile("run/windows"); }
fs::path SocketPathOf(HWND hwnd) { return WindowsFolder() / std::to_string(hwnd); }

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A socket address for a path of any length: a path too long for sun_path is reached through
// /proc/self/fd/<folder>/<name> (the folder stays open while the address is in use).
class SocketAddress {
public:
    explicit SocketAddress(const fs::path& path) {
        addr_.sun_family = AF_UNIX;
        std::string text = path.string();
        if (text.size() >= sizeof(addr_.sun_path)) {
            folder_.Reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            text = "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + path.filename().string();
        }
        ok_ = text.size() < sizeof(addr_.sun_path);
        if (ok_) std::memcpy(addr_.sun_path, text.c_str(), text.size() + 1);
    }
    bool ok() const { return ok_; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t size() const { return sizeof(addr_); }

private:
    sockaddr_un addr_{};
    Fd folder_;
    bool ok_ = false;
};

int ConnectTo(const fs::path& path) {
    SocketAddress address(path);
    if (!address.ok()) {
        errno = ENAMETOOLONG;
        return -1;
    }
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return -1;
    while (::connect(fd.get(), address.get(), address.size()) != 0) {
        if (errno != EINTR) return -1;
    }
    return fd.release();
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd pfd{fd, POLLOUT, 0};
                ::poll(&pfd, 1, -1);
                continue;
            }
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes from a blocking socket; false on end of stream or error.
bool ReadAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool Answers(const fs::path& path) {
    int fd = ConnectTo(path);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Opens a connection to a foreign window and writes the request. -1 with the last error set.
int StartRequest(HWND hwnd, std::uint32_t kind, UINT message, WPARAM wParam, LPARAM lParam) {
    RequestHeader header{kRequestMagic, kind, hwnd, message, wParam, static_cast<std::int64_t>(lParam), 0, 0, 0};
    const void* payload = nullptr;
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || (data->cbData > 0 && !data->lpData) || data->cbData > kMaxPayload) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        header.lParam = 0;
        header.dwData = data->dwData;
        header.cbData = data->cbData;
        payload = data->lpData;
    }
    Fd fd(ConnectTo(SocketPathOf(hwnd)));
    if (fd.get() < 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    if (!WriteAll(fd.get(), &header, sizeof header) || (header.cbData > 0 && !WriteAll(fd.get(), payload, header.cbData))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return fd.release();
}

// The socket server ------------------------------------------------------------------------

struct Listener {
    HWND hwnd;
    int fd;
    fs::path path;
    bool removed = false;
};

struct Connection {
    int fd;
    HWND hwnd;
    std::string buffer;
};

struct Server {
    Server() : controlFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    void Wake() const {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(controlFd, &one, sizeof one);
    }

    const int controlFd;
    std::mutex lifecycle;  // start and stop of the thread; held while joining it
    std::thread thread;
    std::mutex mutex;      // guards listeners and stop; never held while taking another lock
    std::vector<Listener> listeners;
    bool stop = false;
};

Server*& ServerPtr() {
    static Server* server = new Server;  // never destroyed; see ForgetServerAfterFork
    return server;
}

// A complete request has arrived: hand it to the window's thread (send) or queue it (post).
void HandleRequest(Connection& connection) {
    RequestHeader header;
    std::memcpy(&header, connection.buffer.data(), sizeof header);
    const MSG msg{connection.hwnd, header.message, static_cast<WPARAM>(header.wParam),
                  static_cast<LPARAM>(header.lParam)};
    if (header.kind == kKindPost) {
        DWORD error = ERROR_SUCCESS;
        if (msg.message == WM_COPYDATA) {
            error = ERROR_MESSAGE_SYNC_ONLY;
        } else if (!PostLocal(msg.hwnd, msg.message, msg.wParam, msg.lParam)) {
            error = GetLastError();
        }
        WriteReplyAndClose(connection.fd, 0, error);
        return;
    }
    auto request = std::make_shared<SentRequest>();
    request->msg = msg;
    if (msg.message == WM_COPYDATA) {
        request->payload = connection.buffer.substr(sizeof header, header.cbData);
        request->copyData = {static_cast<ULONG_PTR>(header.dwData), header.cbData, request->payload.data()};
        request->msg.lParam = reinterpret_cast<LPARAM>(&request->copyData);
    }
    request->replyFd = std::exchange(connection.fd, -1);
    auto queue = QueueOfWindow(msg.hwnd);
    // When the owner is gone the request dies here and its destructor answers "no such window".
    if (queue) QueueSentRequest(*queue, std::move(request));
}

// Reads what is there; true when the connection is finished with (answered, handed on or dropped).
bool ReadConnection(Connection& connection) {
    char chunk[65536];
    for (;;) {
        ssize_t n = ::recv(connection.fd, chunk, sizeof chunk, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno != EAGAIN && errno != EWOULDBLOCK;
        }
        if (n == 0) return true;  // a probe (IsWindow) or a sender that gave up
        connection.buffer.append(chunk, static_cast<std::size_t>(n));
        if (connection.buffer.size() < sizeof(RequestHeader)) continue;
        RequestHeader header;
        std::memcpy(&header, connection.buffer.data(), sizeof header);
        if (header.magic != kRequestMagic || (header.kind != kKindSend && header.kind != kKindPost) ||
            header.cbData > kMaxPayload || (header.message != WM_COPYDATA && header.cbData != 0)) {
            return true;
        }
        if (connection.buffer.size() < sizeof header + header.cbData) continue;
        HandleRequest(connection);
        return true;
    }
}

void ServeLoop(Server* server) {
    std::vector<Connection> connections;
    std::vector<Listener> listening;
    for (;;) {
        {
            std::lock_guard lock(server->mutex);
            for (auto it = server->listeners.begin(); it != server->listeners.end();) {
                if (it->removed || server->stop) {
                    ::close(it->fd);
                    it = server->listeners.erase(it);
                } else {
                    ++it;
                }
            }
            if (server->stop) break;
            listening = server->listeners;
        }
        std::vector<pollfd> fds;
        fds.push_back({server->controlFd, POLLIN, 0});
        for (const Listener& l : listening) fds.push_back({l.fd, POLLIN, 0});
        for (const Connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(server->controlFd, &count, sizeof count);
        }
        // Connections first: their indexes in `fds` are only valid before new ones are added.
        std::size_t index = 1 + listening.size();
        std::vector<Connection> still;
        for (Connection& c : connections) {
            const bool ready = fds[index++].revents != 0;
            if (ready && ReadConnection(c)) {
                if (c.fd >= 0) ::close(c.fd);
            } else {
                still.push_back(std::move(c));
            }
        }
        connections = std::move(still);
        for (std::size_t i = 0; i < listening.size(); ++i) {
            if (!fds[1 + i].revents) continue;
            for (;;) {
                int fd = ::accept4(listening[i].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                connections.push_back({fd, listening[i].hwnd, {}});
            }
        }
    }
    for (Connection& c : connections) ::close(c.fd);
}

}  // namespace

void WriteReplyAndClose(int& fd, LRESULT result, DWORD error) {
    if (fd < 0) return;
    ReplyWire reply{kReplyMagic, error, static_cast<std::int64_t>(result)};
    WriteAll(fd, &reply, sizeof reply);
    ::close(fd);
    fd = -1;
}

bool ClaimHandle(HWND& hwnd, int& listenFd, fs::path& socketPath) {
    const fs::path folder = WindowsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Claims are serialised across the machine so that two processes never both reclaim the
    // same stale socket; flock ends with its holder, so a crash cannot leave the lock taken.
    Fd lock(::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    while (::flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    for (int attempt = 0; attempt < 256; ++attempt) {
        std::uint32_t random = 0;
        if (::getrandom(&random, sizeof random, 0) != sizeof random) continue;
        const HWND candidate = random & 0x7FFFFFFFu;
        if (candidate == 0 || IsLocalHandle(candidate)) continue;
        const fs::path path = folder / std::to_string(candidate);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0) {
            if (Answers(path)) continue;  // a live window of another process
            ::unlink(path.c_str());       // left behind by a process that died
        }
        SocketAddress address(path);
        if (!address.ok()) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        if (::bind(fd.get(), address.get(), address.size()) != 0) {
            if (errno == EADDRINUSE) continue;
            SetLastErrorFromErrno(errno);
            return false;
        }
        if (::listen(fd.get(), kBacklog) != 0) {
            SetLastErrorFromErrno(errno);
            ::unlink(path.c_str());
            return false;
        }
        hwnd = candidate;
        listenFd = fd.release();
        socketPath = path;
        return true;
    }
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
}

void StartListening(HWND hwnd, int listenFd, const fs::path& socketPath) {
    Server& server = *ServerPtr();
    std::lock_guard lifecycle(server.lifecycle);
    {
        std::lock_guard lock(server.mutex);
        server.listeners.push_back({hwnd, listenFd, socketPath});
        server.stop = false;
    }
    if (!server.thread.joinable()) server.thread = std::thread(ServeLoop, &server);
    server.Wake();
}

void StopListening(HWND hwnd) {
    Server& server = *ServerPtr();
    std::lock_guard lifecycle(server.lifecycle);
    bool last = false;
    {
        std::lock_guard lock(server.mutex);
        for (Listener& l : server.listeners) {
            if (l.hwnd == hwnd && !l.removed) {
                ::unlink(l.path.c_str());
                l.removed = true;
            }
        }
        last = std::none_of(server.listeners.begin(), server.listeners.end(), [](const Listener& l) { return !l.removed; });
        if (last) server.stop = true;
    }
    server.Wake();
    // No window left: the thread ends, so a process without windows has no thread of ours (fork-safe).
    if (last && server.thread.joinable()) server.thread.join();
}

void ServerForkPrepare() { ServerPtr()->mutex.lock(); }
void ServerForkParent() { ServerPtr()->mutex.unlock(); }

void ForgetServerAfterFork() {
    Server* old = ServerPtr();
    // The parent's listening sockets must not stay open here: a window whose process ended
    // would still accept connections while this child lives.
    for (const Listener& l : old->listeners) ::close(l.fd);
    ServerPtr() = new Server;  // the old one (its std::thread without a thread) is never touched again
}

bool ForeignWindowAnswers(HWND hwnd) { return Answers(SocketPathOf(hwnd)); }

bool SendForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    Fd fd(StartRequest(hwnd, kKindSend, message, wParam, lParam));
    if (fd.get() < 0) return false;
    auto self = CurrentQueue();
    ReplyWire reply{};
    std::size_t got = 0;
    bool ok = false;
    for (;;) {
        self->DrainWake();
        // The receiver may call back into this thread while we wait (A -> B -> A).
        HandleSentMessages(*self);
        pollfd fds[2] = {{fd.get(), POLLIN, 0}, {self->wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (!fds[0].revents) continue;
        ssize_t n = ::recv(fd.get(), reinterpret_cast<char*>(&reply) + got, sizeof reply - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        if (got == sizeof reply) {
            ok = reply.magic == kReplyMagic;
            break;
        }
    }
    self->Wake();  // the wait may have swallowed a wake-up another event loop watches for
    if (!ok) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (reply.error != ERROR_SUCCESS) {
        SetLastError(reply.error);
        result = 0;
        return false;
    }
    result = static_cast<LRESULT>(reply.result);
    return true;
}

bool PostForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Fd fd(StartRequest(hwnd, kKindPost, message, wParam, lParam));
    if (fd.get() < 0) return false;
    ReplyWire reply{};
    if (!ReadAll(fd.get(), &reply, sizeof reply) || reply.magic != kReplyMagic) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (reply.error != ERROR_SUCCESS) {
        SetLastError(reply.error);
        return false;
    }
    return true;
}

}  // namespace platform::window_detail
