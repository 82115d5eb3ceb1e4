// The display's pieces without a window: tile geometry, the view's rules for clicks, double
// clicks and zoom, the frame queue's dropping, the audio jitter buffer and the core's counts.
#include <QtTest>

#include <numeric>
#include <vector>

#include "display/audio_jitter.h"
#include "display/audio_output.h"
#include "display/channel_state.h"
#include "display/display_core.h"
#include "display/frame_queue.h"
#include "decode/decode_errors.h"
#include "display/tile_layout.h"
#include "display/view_state.h"

using namespace display;

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void tiles_cover_the_area_exactly_data();
    void tiles_cover_the_area_exactly();
    void tile_at_and_tile_rect_agree();
    void clicks_select_and_double_clicks_toggle_single_view();
    void layout_calls_keep_the_selection_on_screen();
    void wheel_zooms_single_view_only_and_pan_stays_inside();
    void full_queue_drops_to_the_next_key_frame();
    void popped_frames_keep_their_bytes_when_slots_are_reused();
    void a_new_epoch_forgets_the_drop();
    void clear_passes_queued_frames_over_undecoded();
    void core_counts_drops_per_channel();
    void core_ignores_frames_it_cannot_place();
    void jitter_drops_the_oldest_and_wraps();
    void volume_gain_mutes_at_zero_and_rises();
};

void LayoutTest::tiles_cover_the_area_exactly_data() {
    QTest::addColumn<int>("splits");
    QTest::addColumn<QSize>("area");
    for (int splits : {1, 4, 9, 16}) {
        for (QSize area : {QSize(1280, 960), QSize(1001, 703), QSize(7, 5)}) {
            QTest::addRow("%d-%dx%d", splits, area.width(), area.height()) << splits << area;
        }
    }
}

void LayoutTest::tiles_cover_the_area_exactly() {
    QFETCH(int, splits);
    QFETCH(QSize, area);
    const int n = grid_side(splits);
    QCOMPARE(n * n, splits);
    long long covered = 0;
    for (int i = 0; i < splits; ++i) {
        const QRect r = tile_rect(area, splits, i);
        QVERIFY(QRect(QPoint(0, 0), area).contains(r));
        // Every tile within a pixel of an equal share.
        QVERIFY(std::abs(r.width() - area.width() / n) <= 1);
        QVERIFY(std::abs(r.height() - area.height() / n) <= 1);
        covered += static_cast<long long>(r.width()) * r.height();
        for (int j = 0; j < i; ++j) QVERIFY(!r.intersects(tile_rect(area, splits, j)));
    }
    QCOMPARE(covered, static_cast<long long>(area.width()) * area.height());
    QVERIFY(tile_rect(area, splits, splits).isNull());
    QVERIFY(tile_rect(area, splits, -1).isNull());
}

void LayoutTest::tile_at_and_tile_rect_agree() {
    const QSize area(1001, 703);
    for (int splits : {1, 4, 9, 16}) {
        for (int i = 0; i < splits; ++i) {
            const QRect r = tile_rect(area, splits, i);
            QCOMPARE(tile_at(area, splits, r.topLeft()), i);
            QCOMPARE(tile_at(area, splits, r.bottomRight()), i);
            QCOMPARE(tile_at(area, splits, r.center()), i);
        }
        QCOMPARE(tile_at(area, splits, QPoint(-1, 0)), -1);
        QCOMPARE(tile_at(area, splits, QPoint(0, area.height())), -1);
        QCOMPARE(tile_at(area, splits, QPoint(area.width(), 0)), -1);
    }
}

void LayoutTest::clicks_select_and_double_clicks_toggle_single_view() {
    ViewState v;
    QCOMPARE(v.splits(), 16);
    QCOMPARE(v.selected(), 0);
    v.click(5);
    QCOMPARE(v.selected(), 5);
    v.click(-1);  // outside every tile
    QCOMPARE(v.selected(), 5);

    v.double_click(9);
    QVERIFY(v.single());
    QCOMPARE(v.selected(), 9);
    QCOMPARE(v.channel_of_tile(0), 9);
    QCOMPARE(v.channel_of_tile(1), -1);
    QCOMPARE(v.tile_of_channel(9), 0);
    QCOMPARE(v.tile_of_channel(5), -1);
    v.double_click(0);
    QCOMPARE(v.splits(), 16);
    QCOMPARE(v.selected(), 9);

    // Back to the split it came from, not to a fixed one.
    v.set_layout(kDisplayAllChannels, 4);
    v.double_click(2);
    QVERIFY(v.single());
    QCOMPARE(v.selected(), 2);
    v.double_click(0);
    QCOMPARE(v.splits(), 4);
    QCOMPARE(v.channel_of_tile(3), 3);
    QCOMPARE(v.channel_of_tile(4), -1);
}

void LayoutTest::layout_calls_keep_the_selection_on_screen() {
    ViewState v;
    v.click(12);
    v.set_layout(kDisplayAllChannels, 9);
    QCOMPARE(v.selected(), 0);  // channel 13 has no tile in 9 splits
    v.click(7);
    v.set_layout(kDisplayAllChannels, 16);
    QCOMPARE(v.selected(), 7);

    v.set_layout(11, 1);
    QVERIFY(v.single());
    QCOMPARE(v.selected(), 11);
    v.set_layout(kDisplayAllChannels, 1);  // single view of the selection
    QCOMPARE(v.selected(), 11);
    v.set_layout(16, 1);  // no such channel: the selection stays
    QCOMPARE(v.selected(), 11);
    v.set_layout(3, 7);  // no such layout: ignored
    QVERIFY(v.single());
    v.double_click(0);
    QCOMPARE(v.splits(), 16);  // where the window's single view was asked from
}

void LayoutTest::wheel_zooms_single_view_only_and_pan_stays_inside() {
    ViewState v;
    QVERIFY(!v.wheel(1));
    QCOMPARE(v.zoom(), 1.0);
    v.double_click(3);
    QVERIFY(v.wheel(1));
    QCOMPARE(v.zoom(), kZoomStep);
    QVERIFY(v.wheel(100));
    QCOMPARE(v.zoom(), kMaxZoom);
    QVERIFY(!v.wheel(1));

    const QSizeF view(800, 600);
    for (QPointF drag : {QPointF(50000, 50000), QPointF(-50000, 0), QPointF(0, -50000)}) {
        v.pan(drag, view);
        const QRectF s = v.source();
        QVERIFY(s.left() >= 0 && s.top() >= 0);
        QVERIFY(s.right() <= 1.0 + 1e-9 && s.bottom() <= 1.0 + 1e-9);
        QCOMPARE(s.width(), 1.0 / kMaxZoom);
    }
    // The last drags went left and up: the view shows the picture's bottom right corner.
    QVERIFY(v.source().left() > 0.8);
    QVERIFY(v.source().top() > 0.8);

    // A double click first undoes the zoom, then goes back to the split.
    v.double_click(0);
    QVERIFY(v.single());
    QCOMPARE(v.zoom(), 1.0);
    QCOMPARE(v.source(), QRectF(0, 0, 1, 1));
    QVERIFY(v.wheel(2));
    QVERIFY(v.wheel(-5));
    QCOMPARE(v.zoom(), 1.0);
    v.double_click(0);
    QCOMPARE(v.splits(), 16);
}

namespace {

std::vector<uint8_t> bytes_of(uint8_t value, size_t length) {
    return std::vector<uint8_t>(length, value);
}

bool push(FrameQueue& q, uint8_t value, bool key, uint32_t second) {
    const auto b = bytes_of(value, 100 + value);
    return q.push(b.data(), b.size(), key ? 0x01600F0u : 0u, {second, 0}, 0);
}

}  // namespace

void LayoutTest::full_queue_drops_to_the_next_key_frame() {
    FrameQueue q(4, 16);
    QVERIFY(push(q, 1, true, 1));
    for (uint8_t i = 2; i <= 4; ++i) QVERIFY(push(q, i, false, i));
    QCOMPARE(q.size(), size_t{4});
    QVERIFY(!push(q, 5, false, 5));  // full
    QCOMPARE(q.dropped(), uint64_t{1});

    QueuedFrame out;
    QVERIFY(q.pop(&out));
    QCOMPARE(out.time.seconds, 1u);
    // Room again, but the frames after a dropped one would not decode: dropped up to a key.
    QVERIFY(!push(q, 6, false, 6));
    QVERIFY(!push(q, 7, false, 7));
    QCOMPARE(q.dropped(), uint64_t{3});
    QVERIFY(push(q, 8, true, 8));
    QCOMPARE(q.size(), size_t{4});
    QVERIFY(!push(q, 9, false, 9));
    QVERIFY(!push(q, 10, true, 10));  // full: even a key frame cannot come in
    QCOMPARE(q.dropped(), uint64_t{5});

    std::vector<uint32_t> order;
    while (q.pop(&out)) order.push_back(out.time.seconds);
    QCOMPARE(order, (std::vector<uint32_t>{2, 3, 4, 8}));
    QVERIFY(!q.pop(&out));
    QVERIFY(!push(q, 11, false, 11));  // still waiting for a key frame
    QVERIFY(push(q, 12, true, 12));
}

void LayoutTest::popped_frames_keep_their_bytes_when_slots_are_reused() {
    FrameQueue q(2, 8);
    QueuedFrame a, b;
    QVERIFY(push(q, 1, true, 1));
    QVERIFY(q.pop(&a));
    // The slot now holds a's old buffer; writing into it must not touch what a holds.
    QVERIFY(push(q, 2, false, 2));
    QVERIFY(push(q, 3, false, 3));
    QCOMPARE(a.bytes, bytes_of(1, 101));
    QVERIFY(q.pop(&b));
    QCOMPARE(b.bytes, bytes_of(2, 102));
    QCOMPARE(b.picture_size, 0u);
    QVERIFY(q.pop(&a));
    QCOMPARE(a.bytes, bytes_of(3, 103));
    QCOMPARE(b.bytes, bytes_of(2, 102));
}

void LayoutTest::a_new_epoch_forgets_the_drop() {
    FrameQueue q(2, 8);
    const auto b = bytes_of(1, 16);
    QVERIFY(q.push(b.data(), b.size(), 0x01600F0u, {1, 0}, 0));
    QVERIFY(q.push(b.data(), b.size(), 0, {2, 0}, 0));
    QVERIFY(!q.push(b.data(), b.size(), 0, {3, 0}, 0));
    QueuedFrame out;
    QVERIFY(q.pop(&out));
    QVERIFY(!q.push(b.data(), b.size(), 0, {4, 0}, 0));  // still waiting for a key frame
    // After a clear the decoder waits for a key frame itself; the queue takes what comes.
    QVERIFY(q.push(b.data(), b.size(), 0, {5, 0}, 1));
    QCOMPARE(q.size(), size_t{2});
    QCOMPARE(q.dropped(), uint64_t{2});
}

void LayoutTest::clear_passes_queued_frames_over_undecoded() {
    std::atomic<bool> changed{false};
    ChannelState channel(&changed);
    const auto b = bytes_of(9, 40);
    const uint32_t key = 0x01600F0u;
    // Driven by hand: no worker, so every step is this thread's.
    QVERIFY(channel.push(b.data(), b.size(), key, {1, 0}));
    QVERIFY(!channel.push(b.data(), b.size(), 0, {1, 40}));  // handed in already
    channel.clear();
    QVERIFY(!channel.push(b.data(), b.size(), 0, {2, 0}));
    QVERIFY(!channel.decode_some(10));  // all taken: the channel is handed back
    ChannelStats s = channel.stats();
    QCOMPARE(s.queued, uint64_t{3});
    QCOMPARE(s.stale, uint64_t{2});    // from before the clear: never decoded
    QCOMPARE(s.decoded, uint64_t{1});  // the one after it, which waits for a key frame
    QCOMPARE(s.before_key, uint64_t{1});
    QVERIFY(channel.push(b.data(), b.size(), key, {3, 0}));  // so the next frame hands it in
    QVERIFY(channel.push(b.data(), b.size(), 0, {3, 40}) == false);
    QVERIFY(channel.decode_some(1));   // one of two: still the worker's
    QVERIFY(!channel.decode_some(1));  // the second, then none: handed back
    QVERIFY(!changed.load());
}

void LayoutTest::core_counts_drops_per_channel() {
    DisplayCore core(1);
    core.stop();  // nothing decodes: the queue fills
    const auto b = bytes_of(7, 64);
    const uint32_t key = 0x01600F0u;
    core.frame(b.data(), 1, 0, DisplayFrameKind::Video, 64, key, 3);
    for (size_t i = 1; i < kFrameQueueDepth + 5; ++i) {
        core.frame(b.data(), 1, 0, DisplayFrameKind::Video, 64, 0, 3);
    }
    core.frame(b.data(), 2, 0, DisplayFrameKind::Video, 64, key, 3);
    ChannelStats s = core.channel(3).stats();
    QCOMPARE(s.queued, uint64_t{kFrameQueueDepth});
    QCOMPARE(s.dropped, uint64_t{6});
    QCOMPARE(core.channel(2).stats().dropped, uint64_t{0});

}

void LayoutTest::core_ignores_frames_it_cannot_place() {
    DisplayCore core(1);
    core.stop();
    const auto b = bytes_of(1, 16);
    for (int32_t channel : {-1, 16, 1000}) {
        core.frame(b.data(), 1, 0, DisplayFrameKind::Video, 16, 0x01600F0u, channel);
    }
    core.frame(nullptr, 1, 0, DisplayFrameKind::Video, 16, 0x01600F0u, 0);
    core.frame(b.data(), 1, 0, DisplayFrameKind::Video, 0, 0x01600F0u, 0);
    core.frame(b.data(), 1, 0, static_cast<DisplayFrameKind>(7), 16, 0x01600F0u, 0);
    // A length no decoder takes is refused before anything is copied.
    const std::vector<uint8_t> huge(decode::kMaxFrameBytes + 1, 0);
    core.frame(huge.data(), 1, 0, DisplayFrameKind::Video, static_cast<uint32_t>(huge.size()),
               0x01600F0u, 5);
    QCOMPARE(core.channel(5).stats().refused, uint64_t{1});
    for (int c = 0; c < kChannels; ++c) QCOMPARE(core.channel(c).stats().queued, uint64_t{0});

    // Audio only of the heard channel, and none when no channel is heard.
    core.frame(b.data(), 1, 0, DisplayFrameKind::Audio, 16, 0, 0);
    QCOMPARE(core.audio().size(), size_t{0});
    core.set_heard_audio(2);
    core.frame(b.data(), 1, 0, DisplayFrameKind::Audio, 16, 0, 0);
    core.frame(b.data(), 1, 0, DisplayFrameKind::Audio, 16, 0, 4);
    QCOMPARE(core.audio().size(), size_t{0});
    core.frame(b.data(), 1, 0, DisplayFrameKind::Audio, 16, 0, 2);
    QCOMPARE(core.audio().size(), size_t{16});
    core.set_heard_audio(1);  // another channel's sound is not carried over
    QCOMPARE(core.audio().size(), size_t{0});
    core.set_heard_audio(9);
    QCOMPARE(core.heard_audio(), -1);
}

void LayoutTest::jitter_drops_the_oldest_and_wraps() {
    AudioJitter j(10);
    std::vector<uint8_t> in(25);
    std::iota(in.begin(), in.end(), uint8_t{0});
    j.push(in.data(), 6);
    j.push(in.data() + 6, 6);
    QCOMPARE(j.size(), size_t{10});
    QCOMPARE(j.dropped(), uint64_t{2});
    std::vector<uint8_t> out(20);
    QCOMPARE(j.pop(out.data(), 4), size_t{4});
    QCOMPARE(std::vector<uint8_t>(out.begin(), out.begin() + 4), (std::vector<uint8_t>{2, 3, 4, 5}));
    j.push(in.data() + 12, 3);  // wraps round the end of the ring
    QCOMPARE(j.pop(out.data(), 20), size_t{9});
    QCOMPARE(std::vector<uint8_t>(out.begin(), out.begin() + 9),
             (std::vector<uint8_t>{6, 7, 8, 9, 10, 11, 12, 13, 14}));
    j.push(in.data(), in.size());  // bigger than the ring: its newest part
    QCOMPARE(j.pop(out.data(), 20), size_t{10});
    QCOMPARE(out[0], uint8_t{15});
    QCOMPARE(out[9], uint8_t{24});
    j.push(in.data(), 5);
    j.clear();
    QCOMPARE(j.pop(out.data(), 20), size_t{0});
}

void LayoutTest::volume_gain_mutes_at_zero_and_rises() {
    QCOMPARE(volume_gain(0), 0.0);
    QCOMPARE(volume_gain(-3), 0.0);
    QCOMPARE(volume_gain(kDisplayVolumeMax), 1.0);
    QCOMPARE(volume_gain(99), 1.0);
    for (int v = 1; v <= kDisplayVolumeMax; ++v) {
        QVERIFY(volume_gain(v) > volume_gain(v - 1));
        QVERIFY(volume_gain(v) > 0.0);
    }
}

QTEST_GUILESS_MAIN(LayoutTest)
#include "layout_test.moc"
