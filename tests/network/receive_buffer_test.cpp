#include "network/receive_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using network::inner::CReceiveBuffer;

TEST(ReceiveBufferTest, AppendWaitsForADrainWhenFullAndReportsTheHighWaterMarkOncePerDrain) {
    CReceiveBuffer buffer(/*capacity=*/10, /*highWater=*/6);
    EXPECT_EQ(buffer.Append("abcd"), CReceiveBuffer::AppendResult::Stored);
    EXPECT_EQ(buffer.Append("efg"), CReceiveBuffer::AppendResult::StoredHigh);
    EXPECT_EQ(buffer.Append("hij"), CReceiveBuffer::AppendResult::Stored) << "reported once until drained";

    std::atomic<bool> appended{false};
    std::thread reader([&] {
        EXPECT_EQ(buffer.Append("klm"), CReceiveBuffer::AppendResult::Stored);
        appended = true;
    });
    // The reader cannot finish while the buffer is full; only the drain lets it in.
    std::string out;
    while (buffer.Size() != 10) std::this_thread::yield();
    EXPECT_FALSE(appended.load());
    buffer.Drain(out);
    EXPECT_EQ(out, "abcdefghij");
    reader.join();
    buffer.Drain(out);
    EXPECT_EQ(out, "klm");
    EXPECT_EQ(buffer.Append("123456"), CReceiveBuffer::AppendResult::StoredHigh) << "reported again after the drain";
}

TEST(ReceiveBufferTest, ABlockLargerThanTheCapacityFitsAnEmptyBufferAndCloseEndsWaits) {
    CReceiveBuffer buffer(4, 2);
    EXPECT_EQ(buffer.Append("123456789"), CReceiveBuffer::AppendResult::StoredHigh);
    std::thread reader([&] { EXPECT_EQ(buffer.Append("x"), CReceiveBuffer::AppendResult::Closed); });
    buffer.Close();
    reader.join();
    EXPECT_EQ(buffer.Append("y"), CReceiveBuffer::AppendResult::Closed);
    std::string out;
    buffer.Drain(out);
    EXPECT_EQ(out, "123456789") << "closing keeps what was stored";
}

}  // namespace
