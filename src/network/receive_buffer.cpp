#include "network/receive_buffer.h"

namespace network::inner {

CReceiveBuffer::CReceiveBuffer(std::size_t capacity, std::size_t highWater)
    : capacity_(capacity == 0 ? 1 : capacity), highWater_(highWater > capacity_ ? capacity_ : highWater) {}

CReceiveBuffer::AppendResult CReceiveBuffer::Append(std::string_view bytes) {
    Lock lock(*this);
    drained_.wait(lock.native(), [&] { return closed_ || data_.empty() || data_.size() + bytes.size() <= capacity_; });
    if (closed_) return AppendResult::Closed;
    data_.append(bytes);
    if (!highReported_ && data_.size() >= highWater_) {
        highReported_ = true;
        return AppendResult::StoredHigh;
    }
    return AppendResult::Stored;
}

void CReceiveBuffer::Drain(std::string& out) {
    {
        Lock lock(*this);
        out.clear();
        out.swap(data_);
        highReported_ = false;
    }
    drained_.notify_all();
}

void CReceiveBuffer::Close() {
    {
        Lock lock(*this);
        closed_ = true;
    }
    drained_.notify_all();
}

std::size_t CReceiveBuffer::Size() const {
    Lock lock(*this);
    return data_.size();
}

}  // namespace network::inner
