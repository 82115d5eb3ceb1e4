// The queue of read failures that the engine fills and the user interface empties.
#include <thread>
#include <vector>

#include "tests/storage/storage_fixture.h"

namespace {

using ReadFailureQueueTest = testkit::StorageTest;

PlaybackReadFailure failure(int32_t n) {
    return PlaybackReadFailure{n % 8, -17, 1000u + static_cast<uint32_t>(n), 2000u + static_cast<uint32_t>(n)};
}

std::vector<PlaybackReadFailure> take(int32_t max) {
    std::vector<PlaybackReadFailure> list(static_cast<size_t>(max > 0 ? max : 1));
    list.resize(static_cast<size_t>(api_take_read_failures(list.data(), max)));
    return list;
}

TEST_F(ReadFailureQueueTest, TakenOldestFirstAndOnlyOnce) {
    for (int32_t n = 0; n < 5; ++n) api_push_read_failure(failure(n));
    auto first = take(3);
    ASSERT_EQ(first.size(), 3u);
    for (int32_t n = 0; n < 3; ++n) {
        EXPECT_EQ(first[n].slot, failure(n).slot);
        EXPECT_EQ(first[n].failed_at, failure(n).failed_at);
        EXPECT_EQ(first[n].resumed_at, failure(n).resumed_at);
        EXPECT_EQ(first[n].error, -17);
    }
    auto rest = take(10);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].failed_at, failure(3).failed_at);
    EXPECT_EQ(rest[1].failed_at, failure(4).failed_at);
    EXPECT_TRUE(take(10).empty());
    EXPECT_EQ(api_read_failures_dropped(), 0u);
}

TEST_F(ReadFailureQueueTest, NothingIsWrittenForABadListOrCount) {
    api_push_read_failure(failure(1));
    EXPECT_EQ(api_take_read_failures(nullptr, 4), 0);
    PlaybackReadFailure one{};
    EXPECT_EQ(api_take_read_failures(&one, 0), 0);
    EXPECT_EQ(api_take_read_failures(&one, -3), 0);
    // Still there for a proper call.
    EXPECT_EQ(take(4).size(), 1u);
}

TEST_F(ReadFailureQueueTest, AFullQueueDropsTheOldestAndCountsThem) {
    const int32_t pushed = kReadFailureQueue + 10;
    for (int32_t n = 0; n < pushed; ++n) api_push_read_failure(failure(n));
    EXPECT_EQ(api_read_failures_dropped(), 10u);
    auto list = take(1000);
    ASSERT_EQ(list.size(), static_cast<size_t>(kReadFailureQueue));
    EXPECT_EQ(list.front().failed_at, failure(10).failed_at);
    EXPECT_EQ(list.back().failed_at, failure(pushed - 1).failed_at);
}

TEST_F(ReadFailureQueueTest, SelectingNoChannelsClearsIt) {
    sample::VolumeContent content;
    content.channels.push_back(testkit::steady_channel(3, testkit::kT0, testkit::kT0 + 60, 64));
    ASSERT_EQ(mount(testkit::small_recorder(content, 15)), 0);
    ASSERT_EQ(api_set_channel_mask(0x1), 0x1);
    for (int32_t n = 0; n < kReadFailureQueue + 3; ++n) api_push_read_failure(failure(n));
    // Opening other channels keeps what is queued.
    ASSERT_EQ(api_set_channel_mask(0x3), 0x3);
    api_push_read_failure(failure(99));
    ASSERT_EQ(api_set_channel_mask(0), 0);
    EXPECT_TRUE(take(10).empty());
    EXPECT_EQ(api_read_failures_dropped(), 0u);
}

TEST_F(ReadFailureQueueTest, FilledAndTakenFromTwoThreadsLosesNothing) {
    constexpr int32_t kCount = 5000;
    std::thread engine([] {
        for (int32_t n = 0; n < kCount; ++n) api_push_read_failure(failure(n));
    });
    std::vector<PlaybackReadFailure> got;
    while (got.size() + api_read_failures_dropped() < static_cast<size_t>(kCount)) {
        for (const auto& f : take(7)) got.push_back(f);
    }
    engine.join();
    for (const auto& f : take(kReadFailureQueue)) got.push_back(f);
    EXPECT_EQ(got.size() + api_read_failures_dropped(), static_cast<size_t>(kCount));
    for (size_t i = 1; i < got.size(); ++i) ASSERT_LT(got[i - 1].failed_at, got[i].failed_at) << i;
}

}  // namespace
