// The display as the program uses it: the playback engine plays a sample recorder disk, paced,
// into the widget, and what the widget paints is checked tile by tile against the colour bars
// each channel's camera recorded. Screenshots of the 4 and 16 splits are left in /tmp for a
// person to look at.
#include <QtTest>

#include <array>
#include <cstdlib>

#include "display/tile_layout.h"
#include "display/video_display.h"
#include "tests/testkit/engine_player.h"
#include "tests/testkit/temp_image.h"
#include "tools/sample/sample.h"

using namespace display;

namespace {

constexpr int kWait = 60000;  // ms: the sanitizers slow decoding down
// The sample recorder's span starts two hours before the builder's default time, and its four
// channels all record from a minute in.
constexpr uint32_t kSpanStart = sample::kDefaultTime / 3600 * 3600 - 7200;
constexpr uint32_t kPlayFrom = kSpanStart + 70;

// The colour bars of the sample pictures, shifted by the channel number (1..16).
constexpr std::array<std::array<int, 3>, 8> kBars = {{{192, 192, 192}, {192, 192, 0},
                                                      {0, 192, 192},   {0, 192, 0},
                                                      {192, 0, 192},   {192, 0, 0},
                                                      {0, 0, 192},     {16, 16, 16}}};

// How far a tile is from channel `channel`'s bars, as the largest colour difference found at
// the middle of each bar, halfway down the picture (clear of the labels and the caption).
int bar_error(const QImage& shot, const QRect& tile, int channel) {
    int worst = 0;
    for (int bar = 0; bar < 8; ++bar) {
        const int x = tile.x() + (2 * bar + 1) * tile.width() / 16;
        const int y = tile.y() + tile.height() / 2;
        const QColor got = shot.pixelColor(x, y);
        const auto& want = kBars[static_cast<size_t>((bar + channel + 1) & 7)];
        worst = std::max({worst, std::abs(got.red() - want[0]), std::abs(got.green() - want[1]),
                          std::abs(got.blue() - want[2])});
    }
    return worst;
}

bool tile_is_black(const QImage& shot, const QRect& tile) {
    const QColor c = shot.pixelColor(tile.center());
    return c.red() < 8 && c.green() < 8 && c.blue() < 8;
}

std::string screenshot_path(const char* name) {
    const char* dir = std::getenv("QUILLON_SCREENSHOT_DIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

}  // namespace

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void grabbed_tiles_show_each_channels_pictures();
};

void EngineTest::grabbed_tiles_show_each_channels_pictures() {
    testkit::TempDir dir;
    bool known = false;
    const std::string image = testkit::make_image(dir, "recorder.img", sample::preset("recorder", &known));
    QVERIFY(known);

    VideoDisplay w(nullptr, 2);
    w.resize(704, 480);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.set_layout(kDisplayAllChannels, 4);
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, tile_rect(w.size(), 4, 1).center());
    QCOMPARE(w.selected_channel(), 1);

    testkit::EnginePlayer player;
    std::string error;
    QVERIFY2(player.open(image, &w, &error) == 0, error.c_str());
    QCOMPARE(player.display_channels(), 4);
    QCOMPARE(player.play(0xF, kPlayFrom, true), 0);

    // Every tile shows its own channel's bars: the pictures landed in the right tiles.
    QImage shot;
    auto all_tiles_right = [&] {
        for (int c = 0; c < 4; ++c) {
            if (!w.has_picture(c)) return false;
        }
        shot = w.grab().toImage();
        for (int c = 0; c < 4; ++c) {
            if (bar_error(shot, tile_rect(w.size(), 4, c), c) > 40) return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(all_tiles_right(), kWait);
    for (int c = 0; c < 4; ++c) {
        const decode::FrameTime t = w.picture_time(c);
        // The engine starts at the index record before the time: up to 15 seconds earlier.
        QVERIFY(t.seconds + 15 >= kPlayFrom && t.seconds < kPlayFrom + 120);
        QCOMPARE(w.channel_stats(c).failed, uint64_t{0});
    }
    QVERIFY(shot.save(QString::fromStdString(screenshot_path("display-4.png"))));

    // 16 splits: the same four pictures in the first row, twelve black tiles with labels.
    w.set_layout(kDisplayAllChannels, 16);
    auto sixteen_right = [&] {
        shot = w.grab().toImage();
        for (int c = 0; c < 4; ++c) {
            if (w.picture_size(c) != tile_rect(w.size(), 16, c).size()) return false;
            if (bar_error(shot, tile_rect(w.size(), 16, c), c) > 40) return false;
        }
        for (int c = 4; c < 16; ++c) {
            if (!tile_is_black(shot, tile_rect(w.size(), 16, c))) return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sixteen_right(), kWait);
    QVERIFY(shot.save(QString::fromStdString(screenshot_path("display-16-sample.png"))));

    // A reposition: the window clears before it; the pictures come back from new key frames.
    player.stop();
    w.clear();
    for (int c = 0; c < 4; ++c) QVERIFY(!w.has_picture(c));
    QCOMPARE(player.play(0xF, kPlayFrom + 200, true), 0);
    QTRY_VERIFY_WITH_TIMEOUT(w.has_picture(0) && w.has_picture(3) &&
                                 w.picture_time(0).seconds + 15 >= kPlayFrom + 200,
                             kWait);
    player.stop();
}

QTEST_MAIN(EngineTest)
#include "engine_test.moc"
