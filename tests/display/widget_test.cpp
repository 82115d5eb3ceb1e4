// The display widget with real frames: mouse handling on the widget, decoding through the
// workers (garbage passed over, clear, codec and size changes), capture against ffmpeg's own
// picture, and the audio output's reported state.
#include <QtTest>

#include <QAudioDevice>
#include <QMediaDevices>

#include <cstdio>
#include <filesystem>

#include "display/capture.h"
#include "display/tile_layout.h"
#include "display/video_display.h"
#include "export/still_capture.h"
#include "tests/decode/clips.h"
#include "tests/testkit/temp_image.h"

using namespace display;
using decodetest::ClipFrame;
using sample::Codec;

namespace {

constexpr int kWait = 20000;  // ms; decoding under the sanitizers is slow

void feed(VideoDisplay& w, int channel, const std::vector<ClipFrame>& frames) {
    for (const ClipFrame& f : frames) {
        w.frame(f.bytes.data(), f.time.seconds, f.time.ms, DisplayFrameKind::Video,
                static_cast<uint32_t>(f.bytes.size()), f.picture_size, channel);
    }
}

// Frames a step back delivers before the one it shows: decoded, never shown.
void feed_preroll(VideoDisplay& w, int channel, const std::vector<ClipFrame>& frames) {
    for (const ClipFrame& f : frames) {
        w.frame(f.bytes.data(), f.time.seconds, f.time.ms, DisplayFrameKind::Preroll,
                static_cast<uint32_t>(f.bytes.size()), f.picture_size, channel);
    }
}

// Frames handed in that the decoder has dealt with, one way or the other.
uint64_t settled(const ChannelStats& s) { return s.decoded; }

QPoint tile_center(const VideoDisplay& w, int tile) {
    return tile_rect(w.size(), w.view().splits(), tile).center();
}

void send_wheel(QWidget& w, QPoint at, int degrees8) {
    QWheelEvent event(QPointF(at), w.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, degrees8),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

std::vector<uint8_t> read_bmp_rgb(const std::string& path, int* width, int* height) {
    StillDib dib;
    std::string error;
    if (still_read_bmp_file(path, &dib, &error) != 0) return {};
    std::vector<uint8_t> rgb;
    if (still_dib_to_rgb(dib, &rgb, &error) != 0) return {};
    *width = dib.width;
    *height = dib.height;
    return rgb;
}

}  // namespace

class WidgetTest : public QObject {
    Q_OBJECT
private slots:
    void mouse_selects_toggles_single_view_and_zooms();
    void pictures_follow_the_stream_and_garbage_is_passed_over();
    void clear_drops_pictures_until_the_next_key_frame();
    void preroll_frames_feed_the_decoder_and_show_nothing();
    void codec_and_size_changes_reopen_the_decoder();
    void tiles_convert_to_their_size_and_single_view_to_the_decoded_size();
    void capture_writes_the_full_size_picture_as_ffmpeg_decodes_it_data();
    void capture_writes_the_full_size_picture_as_ffmpeg_decodes_it();
    void capture_without_a_picture_fails_and_writes_nothing();
    void audio_state_is_consistent_with_the_device();
    void destroyed_while_frames_are_decoding();
};

void WidgetTest::mouse_selects_toggles_single_view_and_zooms() {
    VideoDisplay w(nullptr, 1);
    w.resize(800, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.set_layout(kDisplayAllChannels, 16);

    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, 6));
    QCOMPARE(w.selected_channel(), 6);
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, 9));
    QVERIFY(w.view().single());
    QCOMPARE(w.selected_channel(), 9);

    send_wheel(w, QPoint(400, 300), 120);
    QCOMPARE(w.view().zoom(), kZoomStep);
    // A drag pans the zoomed picture.
    const QRectF before = w.view().source();
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(400, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 250), w.mapToGlobal(QPointF(300, 250)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, QPoint(300, 250));
    QVERIFY(w.view().source().left() > before.left());
    QVERIFY(w.view().source().top() > before.top());

    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(400, 300));
    QVERIFY(w.view().single());  // first the zoom goes
    QCOMPARE(w.view().zoom(), 1.0);
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(400, 300));
    QCOMPARE(w.view().splits(), 16);
    QCOMPARE(w.selected_channel(), 9);

    send_wheel(w, QPoint(400, 300), 120);  // no zoom in splits
    QCOMPARE(w.view().zoom(), 1.0);

    w.set_layout(kDisplayAllChannels, 4);
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, 3));
    QVERIFY(w.view().single());
    QCOMPARE(w.selected_channel(), 3);
    QTest::mouseDClick(&w, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(w.view().splits(), 4);
}

void WidgetTest::pictures_follow_the_stream_and_garbage_is_passed_over() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 2);
    QVERIFY(c.frames.size() >= 24);  // three GOPs of 8
    VideoDisplay w(nullptr, 2);
    w.resize(704, 480);
    w.set_layout(kDisplayAllChannels, 4);

    const auto first = decodetest::frames(c, 0, 4);
    feed(w, 2, first);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(2).pictures, uint64_t{4}, kWait);
    QCOMPARE(w.picture_time(2), first.back().time);

    // A frame cut short where a P-frame belongs and noise: counted, passed over.
    const std::vector<uint8_t> cut(c.frames[4].bytes.begin(), c.frames[4].bytes.begin() + 6);
    std::vector<uint8_t> noise(700);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
    w.frame(cut.data(), 9, 0, DisplayFrameKind::Video, static_cast<uint32_t>(cut.size()), 0, 2);
    w.frame(noise.data(), 9, 0, DisplayFrameKind::Video, static_cast<uint32_t>(noise.size()), 0, 2);
    const uint64_t rest = c.frames.size() - 8;
    feed(w, 2, decodetest::frames(c, 8, c.frames.size()));  // the next GOPs decode in full
    QTRY_COMPARE_WITH_TIMEOUT(settled(w.channel_stats(2)), 4 + 2 + rest, kWait);
    const ChannelStats s = w.channel_stats(2);
    QVERIFY(s.failed >= 1);
    QCOMPARE(s.pictures, 4 + rest);
    QCOMPARE(s.dropped, uint64_t{0});
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_time(2), c.frames.back().time, kWait);
    // Other channels never saw a frame.
    QVERIFY(!w.has_picture(0));
    QCOMPARE(w.channel_stats(1).queued, uint64_t{0});
}

void WidgetTest::clear_drops_pictures_until_the_next_key_frame() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 2);
    VideoDisplay w(nullptr, 2);
    w.resize(704, 480);
    w.set_layout(kDisplayAllChannels, 4);
    feed(w, 1, decodetest::frames(c, 0, 8));
    QTRY_VERIFY_WITH_TIMEOUT(w.has_picture(1), kWait);

    w.clear();
    QVERIFY(!w.has_picture(1));
    QCOMPARE(w.capture(std::string("/nonexistent-dir/x.bmp")), kCaptureNoPicture);
    // The rest of a GOP after a clear has no reference: nothing may come of it.
    feed(w, 1, decodetest::frames(c, 9, 16));
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(1).before_key, uint64_t{7}, kWait);
    QVERIFY(!w.has_picture(1));
    feed(w, 1, decodetest::frames(c, 16, 17));
    QTRY_VERIFY_WITH_TIMEOUT(w.has_picture(1), kWait);
    QCOMPARE(w.picture_time(1), c.frames[16].time);
}

void WidgetTest::preroll_frames_feed_the_decoder_and_show_nothing() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 2);
    QVERIFY(c.frames.size() >= 24);  // three GOPs of 8
    VideoDisplay w(nullptr, 2);
    w.resize(704, 480);
    w.set_layout(kDisplayAllChannels, 4);
    feed(w, 0, decodetest::frames(c, 0, 6));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_time(0), c.frames[5].time, kWait);

    // A step back to the fifth frame of the second GOP: its key frame and the three frames
    // after it only lead the decoder up to the one shown.
    feed_preroll(w, 0, decodetest::frames(c, 8, 12));
    feed(w, 0, decodetest::frames(c, 12, 13));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_time(0), c.frames[12].time, kWait);
    QCOMPARE(w.channel_stats(0).preroll, uint64_t{4});

    // Preroll alone leaves the shown picture as it was.
    feed_preroll(w, 0, decodetest::frames(c, 16, 20));
    QTRY_COMPARE_WITH_TIMEOUT(settled(w.channel_stats(0)), uint64_t{6 + 5 + 4}, kWait);
    QCOMPARE(w.picture_time(0), c.frames[12].time);
    const ChannelStats s = w.channel_stats(0);
    QCOMPARE(s.preroll, uint64_t{8});
    QCOMPARE(s.failed, uint64_t{0});
    QCOMPARE(s.before_key, uint64_t{0});
}

void WidgetTest::codec_and_size_changes_reopen_the_decoder() {
    const auto& h264 = decodetest::clip(Codec::H264, 352, 240, 1);
    const auto& mpeg4 = decodetest::clip(Codec::Mpeg4, 176, 144, 1);
    VideoDisplay w(nullptr, 2);
    w.resize(640, 480);
    w.set_layout(0, 1);
    feed(w, 0, decodetest::frames(h264, 0, 8));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_size(0), QSize(352, 240), kWait);
    feed(w, 0, decodetest::frames(mpeg4, 0, 8));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_size(0), QSize(176, 144), kWait);
    feed(w, 0, decodetest::frames(h264, 0, 7));
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(0).pictures, uint64_t{23}, kWait);
    QCOMPARE(w.picture_size(0), QSize(352, 240));
    QCOMPARE(w.channel_stats(0).opens, uint64_t{3});
    QCOMPARE(w.channel_stats(0).failed, uint64_t{0});
}

void WidgetTest::tiles_convert_to_their_size_and_single_view_to_the_decoded_size() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 2);
    VideoDisplay w(nullptr, 2);
    w.resize(900, 600);
    w.set_layout(kDisplayAllChannels, 9);
    feed(w, 4, decodetest::frames(c, 0, 8));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_size(4), QSize(300, 200), kWait);
    feed(w, 9, decodetest::frames(c, 0, 8));  // no tile in 9 splits: decoded, not converted
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(9).pictures, uint64_t{8}, kWait);
    QVERIFY(!w.has_picture(9));
    w.set_layout(4, 1);
    feed(w, 4, decodetest::frames(c, 8, 16));
    QTRY_COMPARE_WITH_TIMEOUT(w.picture_size(4), QSize(352, 240), kWait);
}

void WidgetTest::capture_writes_the_full_size_picture_as_ffmpeg_decodes_it_data() {
    QTest::addColumn<int>("codec");
    QTest::addColumn<int>("splits");
    QTest::newRow("h264-single") << static_cast<int>(Codec::H264) << 1;
    QTest::newRow("h264-4-split") << static_cast<int>(Codec::H264) << 4;
    QTest::newRow("mpeg4-16-split") << static_cast<int>(Codec::Mpeg4) << 16;
}

void WidgetTest::capture_writes_the_full_size_picture_as_ffmpeg_decodes_it() {
    QFETCH(int, codec);
    QFETCH(int, splits);
    const auto& c = decodetest::clip(static_cast<Codec>(codec), 352, 240, 1);
    testkit::TempDir dir;
    const auto expected = decodetest::ffmpeg_pictures(dir, c);
    QCOMPARE(expected.pictures.size(), c.frames.size());

    VideoDisplay w(nullptr, 2);
    w.resize(640, 480);
    w.set_layout(kDisplayAllChannels, splits);
    if (splits == 1) w.set_layout(2, 1);
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, splits == 1 ? 0 : 2));
    QCOMPARE(w.selected_channel(), 2);
    feed(w, 2, c.frames);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(2).pictures, uint64_t{c.frames.size()}, kWait);

    const std::string path = dir.file("capture.bmp");
    QCOMPARE(w.capture(path), 0);
    int width = 0, height = 0;
    const auto rgb = read_bmp_rgb(path, &width, &height);
    QCOMPARE(width, 352);
    QCOMPARE(height, 240);
    const double db = decodetest::psnr(rgb, expected.pictures.back());
    QVERIFY2(db >= 40.0, qPrintable(QString("PSNR %1 dB").arg(db)));
}

void WidgetTest::capture_without_a_picture_fails_and_writes_nothing() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 1);
    testkit::TempDir dir;
    VideoDisplay w(nullptr, 1);
    w.resize(640, 480);
    w.set_layout(kDisplayAllChannels, 4);
    feed(w, 0, c.frames);
    QTRY_VERIFY_WITH_TIMEOUT(w.has_picture(0), kWait);
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, 3));
    QCOMPARE(w.selected_channel(), 3);
    const std::string path = dir.file("none.bmp");
    QVERIFY(w.capture(path) < 0);
    QVERIFY(!std::filesystem::exists(path));
    // Frames before any key frame give no picture either.
    feed(w, 3, decodetest::frames(c, 1, 8));
    QTRY_COMPARE_WITH_TIMEOUT(w.channel_stats(3).before_key, uint64_t{7}, kWait);
    QVERIFY(w.capture(path) < 0);
    QVERIFY(!std::filesystem::exists(path));
    // A file that cannot be written is a failure too.
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, tile_center(w, 0));
    QVERIFY(w.capture(dir.file("no/such/folder.bmp")) < 0);
}

void WidgetTest::audio_state_is_consistent_with_the_device() {
    VideoDisplay w(nullptr, 1);
    w.set_layout(kDisplayAllChannels, 4);
    w.set_volume(10);
    const bool device = !QMediaDevices::defaultAudioOutput().isNull();
    const AudioState state = w.audio().state();
    if (!device) QCOMPARE(state, AudioState::NoDevice);
    if (device) QVERIFY(state == AudioState::Playing || state == AudioState::Failed);
    qInfo("audio output: %s", state == AudioState::Playing ? "playing"
                              : state == AudioState::NoDevice ? "no device" : "failed to start");

    std::vector<uint8_t> tone(1600);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<uint8_t>(i % 2 ? 0x10 : 0x90);
    w.frame(tone.data(), 1, 0, DisplayFrameKind::Audio, 1600, 0, 0);  // the selected channel's
    if (state == AudioState::Playing) {
        // Every sample reaches the sink, as 16-bit samples, no faster than it drains.
        QTRY_COMPARE_WITH_TIMEOUT(w.audio().written(), uint64_t{2 * 1600}, kWait);
        QCOMPARE(w.audio_backlog(), size_t{0});
    } else {
        // Silent, but never holding sound back: the backlog drains without a sink.
        QTRY_COMPARE_WITH_TIMEOUT(w.audio_backlog(), size_t{0}, kWait);
        QCOMPARE(w.audio().written(), uint64_t{0});
    }
    // Only the selected channel's sound is heard.
    const size_t backlog = w.audio_backlog();
    w.frame(tone.data(), 1, 0, DisplayFrameKind::Audio, 1600, 0, 1);
    QCOMPARE(w.audio_backlog(), backlog);
}

void WidgetTest::destroyed_while_frames_are_decoding() {
    const auto& c = decodetest::clip(Codec::H264, 352, 240, 2);
    for (int round = 0; round < 3; ++round) {
        auto w = std::make_unique<VideoDisplay>(nullptr, 2);
        w->resize(640, 480);
        for (int ch = 0; ch < 16; ++ch) feed(*w, ch, decodetest::frames(c, 0, 16));
        for (int ch = 0; ch < 16; ++ch) {
            const ChannelStats s = w->channel_stats(ch);
            QCOMPARE(s.queued + s.dropped, uint64_t{16});  // every frame taken or counted
        }
        QTRY_VERIFY_WITH_TIMEOUT(w->has_picture(0) || w->has_picture(15), kWait);
        w.reset();  // joins the workers mid-stream; the sanitizers see what is left behind
    }
}

QTEST_MAIN(WidgetTest)
#include "widget_test.moc"
