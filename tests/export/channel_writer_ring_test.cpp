// The record ring: records in order and intact across compaction, never a byte past the ring,
// a producer that waits for a running writer, and never hangs on a stopped or stuck one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "export/record_ring.h"

namespace {

// A large frame, several of which fill the ring.
constexpr size_t kBig = 262144;
// Whole records of that size that fit the empty ring.
constexpr size_t kBigThatFit = RecordRing::kSize / (RecordRing::kHeaderSize + kBig);

QueuedHeader header_for(uint32_t id, size_t length) {
    QueuedHeader h{};
    h.kind = kRecordVideo;
    h.channel = 2;
    h.time_stamp = id;
    h.key = static_cast<int32_t>(id & 1);
    h.length = static_cast<int32_t>(length);
    h.time.second = static_cast<uint16_t>(id % 60);
    return h;
}

std::vector<uint8_t> data_for(uint32_t id, size_t length) {
    std::vector<uint8_t> d(length);
    for (size_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(id * 31 + i);
    return d;
}

bool push(RecordRing& ring, uint32_t id, size_t length) {
    const auto d = data_for(id, length);
    return ring.push(header_for(id, length), d.data());
}

// Takes the oldest record and checks that it is record `id` of `length` bytes, unchanged.
void expect_take(RecordRing& ring, uint32_t id, size_t length) {
    QueuedHeader h{};
    ASSERT_TRUE(ring.front(&h)) << id;
    EXPECT_EQ(h.time_stamp, id);
    EXPECT_EQ(h.key, static_cast<int32_t>(id & 1));
    EXPECT_EQ(h.time.second, id % 60);
    ASSERT_EQ(h.length, static_cast<int32_t>(length)) << id;
    std::vector<uint8_t> got(length);
    ring.take(got.data());
    EXPECT_EQ(got, data_for(id, length)) << id;
}

size_t fill_with_big(RecordRing& ring, uint32_t first_id) {
    size_t n = 0;
    while (n < kBigThatFit && push(ring, first_id + static_cast<uint32_t>(n), kBig)) ++n;
    return n;
}

TEST(RecordRingTest, RecordsComeOutInOrderAndIntactAcrossCompaction) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    std::deque<std::pair<uint32_t, size_t>> expected;
    uint32_t next = 0;
    size_t total = 0;
    // Fill until a record is refused, take half, again: many times the ring's size goes
    // through, so the unread bytes are moved to the start over and over.
    for (int round = 0; round < 40; ++round) {
        for (;;) {
            const size_t length = (next * 7919u) % 90000u;
            if (!push(ring, next, length)) break;
            expected.emplace_back(next++, length);
            total += length;
        }
        size_t unread = 0;
        for (const auto& e : expected) unread += RecordRing::kHeaderSize + e.second;
        ASSERT_EQ(ring.unread(), unread);
        ASSERT_LE(unread, RecordRing::kSize);
        for (size_t k = expected.size() / 2; k > 0; --k) {
            expect_take(ring, expected.front().first, expected.front().second);
            expected.pop_front();
        }
    }
    EXPECT_GT(total, 10 * RecordRing::kSize);
    while (!expected.empty()) {
        expect_take(ring, expected.front().first, expected.front().second);
        expected.pop_front();
    }
    EXPECT_EQ(ring.unread(), 0u);
    QueuedHeader h{};
    EXPECT_FALSE(ring.front(&h));
}

TEST(RecordRingTest, AProducerWaitsForRoomWhileTheWriterRuns) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    ASSERT_EQ(fill_with_big(ring, 0), kBigThatFit);
    std::atomic<int> result{-1};
    std::thread producer([&] { result = push(ring, 1000, kBig) ? 1 : 0; });
    while (ring.waiting_producers() == 0) std::this_thread::yield();
    EXPECT_EQ(result.load(), -1);  // still waiting: nothing was written past the ring
    expect_take(ring, 0, kBig);
    producer.join();
    EXPECT_EQ(result.load(), 1);
    for (uint32_t id = 1; id < kBigThatFit; ++id) expect_take(ring, id, kBig);
    expect_take(ring, 1000, kBig);
    const RecordRingStats s = ring.stats();
    EXPECT_EQ(s.waits, 1u);
    EXPECT_EQ(s.dropped, 0u);
}

TEST(RecordRingTest, StoppingTheWriterReleasesAWaitingProducer) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    ASSERT_EQ(fill_with_big(ring, 0), kBigThatFit);
    std::atomic<int> result{-1};
    std::thread producer([&] { result = push(ring, 1000, kBig) ? 1 : 0; });
    while (ring.waiting_producers() == 0) std::this_thread::yield();
    ring.stop();
    producer.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(ring.stats().dropped, 1u);
    // Once stopped, nobody waits any more.
    EXPECT_FALSE(push(ring, 1001, kBig));
    EXPECT_EQ(ring.waiting_producers(), 0);
}

TEST(RecordRingTest, WithoutAWriterOrWithOneThatNeverTakesAFullRingDrops) {
    RecordRing ring(std::chrono::milliseconds(1));
    ASSERT_TRUE(ring.allocate());
    ASSERT_EQ(fill_with_big(ring, 0), kBigThatFit);
    EXPECT_FALSE(push(ring, 99, kBig));  // no writer: at once, without waiting
    EXPECT_EQ(ring.stats().waits, 0u);
    ring.start_writer();
    EXPECT_FALSE(push(ring, 100, kBig));  // a writer that never takes: after the bound
    const RecordRingStats s = ring.stats();
    EXPECT_EQ(s.queued, kBigThatFit);
    EXPECT_EQ(s.waits, 1u);
    EXPECT_EQ(s.dropped, 2u);
    EXPECT_EQ(ring.unread(), kBigThatFit * (RecordRing::kHeaderSize + kBig));
    EXPECT_TRUE(push(ring, 101, 16));  // a small record still fits behind the big ones
}

TEST(RecordRingTest, ReleasingTheRingUnderAWaitingProducerDropsItsRecord) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    ASSERT_EQ(fill_with_big(ring, 0), kBigThatFit);
    std::atomic<int> result{-1};
    std::thread producer([&] { result = push(ring, 1000, kBig) ? 1 : 0; });
    while (ring.waiting_producers() == 0) std::this_thread::yield();
    ring.release();  // as a close racing the playback thread does
    producer.join();
    EXPECT_EQ(result.load(), 0);
    QueuedHeader h{};
    EXPECT_FALSE(ring.front(&h));
    EXPECT_FALSE(push(ring, 1001, 8));
}

TEST(RecordRingTest, RefusesRecordsItCannotHold) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    const size_t too_long = static_cast<size_t>(kRecordDataMax) + 1;
    const std::vector<uint8_t> d(too_long, 1);
    EXPECT_FALSE(ring.push(header_for(1, too_long), d.data()));
    QueuedHeader negative = header_for(2, 0);
    negative.length = -5;
    EXPECT_FALSE(ring.push(negative, d.data()));
    EXPECT_FALSE(ring.push(header_for(3, 10), nullptr));
    EXPECT_EQ(ring.unread(), 0u);
    EXPECT_EQ(ring.stats().dropped, 3u);
    // An empty record is fine, with or without a data pointer.
    EXPECT_TRUE(ring.push(header_for(4, 0), nullptr));
    expect_take(ring, 4, 0);
}

// The largest frame the engine can deliver is longer than the ring: it is queued whole,
// behind what is still unread, and everything comes out intact and in order.
TEST(RecordRingTest, AFrameLongerThanTheRingIsQueuedWhole) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    const size_t largest = static_cast<size_t>(kRecordDataMax);
    ASSERT_GT(largest, RecordRing::kSize);
    ASSERT_TRUE(push(ring, 1, kBig));
    ASSERT_TRUE(push(ring, 2, largest));
    expect_take(ring, 1, kBig);
    ASSERT_TRUE(push(ring, 3, 1000));
    ASSERT_TRUE(push(ring, 4, largest));
    expect_take(ring, 2, largest);
    expect_take(ring, 3, 1000);
    expect_take(ring, 4, largest);
    EXPECT_EQ(ring.stats().dropped, 0u);
    // Released and allocated again, the ring is back to its own size.
    ring.release();
    ASSERT_TRUE(ring.allocate());
    EXPECT_EQ(fill_with_big(ring, 10), kBigThatFit);
    EXPECT_FALSE(push(ring, 99, kBig));
}

TEST(RecordRingTest, TheStopSignalWinsOverData) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    ASSERT_TRUE(push(ring, 1, 10));
    EXPECT_FALSE(ring.wait_for_work());  // data
    ASSERT_TRUE(push(ring, 2, 10));
    ring.stop();
    EXPECT_TRUE(ring.wait_for_work());
    EXPECT_TRUE(ring.stopping());
    ring.reset();
    EXPECT_FALSE(ring.stopping());
    EXPECT_EQ(ring.unread(), 0u);
}

TEST(RecordRingTest, AProducerFasterThanTheWriterWaitsAndLosesNothing) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    std::atomic<bool> producer_done{false};
    std::atomic<uint32_t> taken{0};
    std::atomic<bool> intact{true};
    // The writer takes records as the channel writer does, but only while the producer is
    // held at the bound: the producer is always the faster of the two.
    std::thread writer([&] {
        while (!ring.wait_for_work()) {
            QueuedHeader h{};
            for (;;) {
                while (!ring.stopping() && ring.waiting_producers() == 0 && !producer_done)
                    std::this_thread::yield();
                if (!ring.front(&h)) break;
                std::vector<uint8_t> got(static_cast<size_t>(h.length));
                ring.take(got.data());
                if (h.time_stamp != taken || got != data_for(taken, got.size())) intact = false;
                ++taken;
            }
        }
    });
    constexpr uint32_t kRecords = 600;
    uint64_t bytes = 0;
    for (uint32_t id = 0; id < kRecords; ++id) {
        const size_t length = 20000 + (id * 104729u) % 60000u;
        bytes += length;
        EXPECT_TRUE(push(ring, id, length)) << id;
    }
    producer_done = true;
    ring.wait_drained();
    ring.stop();
    writer.join();
    EXPECT_GT(bytes, 8 * RecordRing::kSize);
    EXPECT_EQ(taken.load(), kRecords);
    EXPECT_TRUE(intact.load());
    const RecordRingStats s = ring.stats();
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_GE(s.waits, bytes / RecordRing::kSize - 1);
}

// The writer is woken once a second rather than for every record: a record of a new second, a
// ring filling up, or a drain wakes it; more records of the same second and audio do not.
TEST(RecordRingTest, AnIdleWriterWakesForANewSecondAFillingRingAndADrain) {
    RecordRing ring;
    ASSERT_TRUE(ring.allocate());
    ring.start_writer();
    std::atomic<int> wakes{0};
    std::thread writer([&] {
        while (!ring.wait_for_work()) {
            ++wakes;
            QueuedHeader h{};
            while (ring.front(&h)) ring.discard();
        }
    });
    // Until the writer has taken everything and waits again.
    auto settle = [&] {
        while (!ring.writer_waiting() || ring.unread() != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto record = [&](uint32_t stamp, size_t length = 10) {
        QueuedHeader h = header_for(1, length);
        h.time_stamp = stamp;
        const auto d = data_for(1, length);
        ASSERT_TRUE(ring.push(h, d.data()));
    };
    settle();
    record(5);
    settle();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(ring.unread(), 0u);

    record(5);
    record(0);  // audio
    record(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(ring.unread(), 3 * (RecordRing::kHeaderSize + 10));

    record(6);
    settle();
    EXPECT_EQ(wakes.load(), 2);
    EXPECT_EQ(ring.unread(), 0u);

    record(6);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(wakes.load(), 2);
    ring.wait_drained();
    EXPECT_EQ(ring.unread(), 0u);
    EXPECT_EQ(wakes.load(), 3);

    // Same-second records wake the writer once the ring fills past a quarter.
    size_t queued = 0;
    while (queued <= RecordRing::kWakeAbove) {
        record(6, 60000);
        queued += RecordRing::kHeaderSize + 60000;
    }
    settle();
    EXPECT_EQ(wakes.load(), 4);
    ring.stop();
    writer.join();
}

}  // namespace
