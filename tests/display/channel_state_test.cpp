// A channel handed between the playback thread and a decoding worker while clears make queued
// frames stale: every frame of the current clear epoch must be taken, and the channel never let
// go with frames still queued.
#include <QtTest>

#include <atomic>
#include <random>
#include <thread>

#include "display/channel_state.h"
#include "display/display_core.h"

using namespace display;

namespace {

// Every frame the queue took was decoded or passed over as stale.
bool settled(const ChannelStats& s) { return s.queued == s.stale + s.decoded; }

void spin(uint32_t rounds) {
    std::atomic<uint32_t> i{0};
    while (i.fetch_add(1, std::memory_order_relaxed) < rounds) {
    }
}

}  // namespace

class ChannelStateTest : public QObject {
    Q_OBJECT
private slots:
    void every_frame_is_taken_while_clears_race_the_worker();
};

void ChannelStateTest::every_frame_is_taken_while_clears_race_the_worker() {
    std::atomic<bool> changed{false};
    ChannelState channel(&changed);
    // The pool's part: a channel handed in is decoded until the worker lets go of it.
    std::atomic<bool> handed{false};
    std::atomic<bool> stop{false};
    std::atomic<int> twice{0};
    std::thread worker([&] {
        while (!stop.load()) {
            if (!handed.exchange(false)) {
                std::this_thread::yield();
                continue;
            }
            while (channel.decode_some(kDecodeBatch)) {
            }
        }
    });
    // Not a key frame: the decoder passes it over at once, and counts it.
    const std::vector<uint8_t> frame(32, 0x5A);
    uint32_t second = 0;
    auto push = [&] {
        if (channel.push(frame.data(), frame.size(), 0, {++second, 0}) && handed.exchange(true)) {
            ++twice;  // handed in while the worker still held it
        }
    };
    std::mt19937 random(20240611);
    constexpr int kRounds = 3000;
    int round = 0;
    for (; round < kRounds; ++round) {
        // A frame that hands the channel in; then, while the worker lets go of it again, a
        // frame, a clear that makes it stale and one more frame.
        push();
        spin(static_cast<uint32_t>(random() % 20000));
        push();
        channel.clear();
        spin(static_cast<uint32_t>(random() % 20000));
        push();
        for (int i = 0; i < 200000 && !settled(channel.stats()); ++i) std::this_thread::yield();
        if (!settled(channel.stats())) break;
    }
    // A frame left behind stays queued until the next push, which never comes now.
    QTRY_VERIFY_WITH_TIMEOUT(settled(channel.stats()), 5000);
    stop.store(true);
    worker.join();
    QCOMPARE(round, kRounds);
    QCOMPARE(twice.load(), 0);
    const ChannelStats s = channel.stats();
    QCOMPARE(s.queued, uint64_t{3 * kRounds} - s.dropped);
    QVERIFY(s.decoded > 0);
}

QTEST_GUILESS_MAIN(ChannelStateTest)
#include "channel_state_test.moc"
