// The receive buffer of a request: the read thread appends, the owner drains, both under the
// buffer's lock.
//
// It is bounded: an append that would take it past its capacity waits until the owner drains
// (or the buffer is closed), so an owner that drains slower than the network delivers slows the
// read thread instead of growing the memory. Passing the high-water mark is reported to the
// appender once per drain, so it can ask the owner to drain early; the owner's periodic drain
// stays the normal path.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace network::inner {

// A critical section and its holder.
class FCAutoCSec {
public:
    FCAutoCSec() = default;
    FCAutoCSec(const FCAutoCSec&) = delete;
    FCAutoCSec& operator=(const FCAutoCSec&) = delete;

    // Holds the section of `owner` for its own lifetime.
    class Lock {
    public:
        explicit Lock(const FCAutoCSec& owner) : lock_(owner.section_) {}
        std::unique_lock<std::mutex>& native() { return lock_; }

    private:
        std::unique_lock<std::mutex> lock_;
    };

protected:
    ~FCAutoCSec() = default;

private:
    mutable std::mutex section_;
};

class CReceiveBuffer : public FCAutoCSec {
public:
    static constexpr std::size_t kDefaultCapacity = 8 * 1024 * 1024;
    static constexpr std::size_t kDefaultHighWater = 1024 * 1024;

    explicit CReceiveBuffer(std::size_t capacity = kDefaultCapacity, std::size_t highWater = kDefaultHighWater);

    enum class AppendResult {
        Stored,        // the bytes are in
        StoredHigh,    // the bytes are in and the buffer passed its high-water mark: ask for a drain
        Closed,        // the buffer was closed; nothing stored
    };
    // Waits while the bytes do not fit (a block larger than the capacity fits an empty buffer).
    AppendResult Append(std::string_view bytes);

    // Moves every buffered byte to `out` (replacing its content) and empties the buffer. `out`'s
    // old storage becomes the buffer's, so an owner that keeps one string drains without allocating.
    void Drain(std::string& out);

    // Ends every wait of Append, now and later.
    void Close();

    std::size_t Size() const;
    std::size_t capacity() const { return capacity_; }
    std::size_t highWater() const { return highWater_; }

private:
    const std::size_t capacity_;
    const std::size_t highWater_;
    std::condition_variable drained_;
    std::string data_;
    bool closed_ = false;
    bool highReported_ = false;
};

}  // namespace network::inner
