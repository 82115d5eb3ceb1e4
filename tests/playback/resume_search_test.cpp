// The search for where a slot's data continues after a failure, over made-up disks: which
// index intervals it reads, what it settles on, and that it stays within a few reads.
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "playback/resume_search.h"

namespace {

// A slot whose intervals are unreadable in [bad_from, bad_to), end at end_at, readable between.
struct FakeSlot {
    int64_t bad_from = 1, bad_to = 1, end_at = INT64_MAX;
    std::vector<int64_t> probed;
    ResumeProbe operator()(int64_t k) {
        probed.push_back(k);
        if (k >= end_at) return ResumeProbe::End;
        return k >= bad_from && k < bad_to ? ResumeProbe::Unreadable : ResumeProbe::Readable;
    }
    int64_t find(int64_t max_step) {
        return find_resume_step([this](int64_t k) { return (*this)(k); }, max_step);
    }
};

TEST(ResumeSearch, TheNextIntervalWhenItReads) {
    FakeSlot s;
    EXPECT_EQ(s.find(100), 1);
    EXPECT_EQ(s.probed, std::vector<int64_t>{1});
}

TEST(ResumeSearch, NearbyIntervalsAreTriedInTurn) {
    FakeSlot s{1, 3};
    EXPECT_EQ(s.find(100), 3);
    EXPECT_EQ(s.probed, (std::vector<int64_t>{1, 2, 3}));
}

TEST(ResumeSearch, ALongHoleIsCrossedInFewReadsAndItsFarEdgeFound) {
    for (int64_t hole_end : {5, 6, 9, 100, 1000, 12345}) {
        FakeSlot s{1, hole_end};
        EXPECT_EQ(s.find(1'000'000), hole_end) << hole_end;
        EXPECT_LE(s.probed.size(), 45u) << hole_end;
        // The slot is left standing where the search settled.
        EXPECT_EQ(s.probed.back(), hole_end) << hole_end;
    }
}

TEST(ResumeSearch, NothingWhenTheDataEndsInsideTheHole) {
    FakeSlot s{1, 1000, 700};
    EXPECT_EQ(s.find(1'000'000), 0);
    EXPECT_LE(s.probed.size(), 45u);
}

TEST(ResumeSearch, NothingWhenEverythingUpToTheLastIntervalFails) {
    FakeSlot s{1, INT64_MAX};
    EXPECT_EQ(s.find(50), 0);
    // Every interval tried lies within the range given, and none twice.
    const std::set<int64_t> distinct(s.probed.begin(), s.probed.end());
    EXPECT_EQ(distinct.size(), s.probed.size());
    EXPECT_GE(*distinct.begin(), 1);
    EXPECT_LE(*distinct.rbegin(), 50);
    // Between the steps, the last intervals before the limit are looked at as well.
    EXPECT_TRUE(distinct.count(50));
}

TEST(ResumeSearch, AReadableIntervalJustBeforeTheLimitIsFound) {
    FakeSlot s{1, 50};
    EXPECT_EQ(s.find(50), 50);
}

TEST(ResumeSearch, NoIntervalToTry) {
    FakeSlot s;
    EXPECT_EQ(s.find(0), 0);
    EXPECT_TRUE(s.probed.empty());
}

}  // namespace
