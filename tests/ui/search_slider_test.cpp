// The timeline: range fixed at the first paint, positions and times, presses, painting of the
// spans through the channel filter, and the searches on both scales.
#include "ui/controls/search_slider.h"
#include "ui/posted_event.h"

#include <QSignalSpy>
#include <QtTest>

using ui::SearchSlider;

namespace {

// Collects the posted messages that reach the timeline's parent.
class MessageSink : public QWidget {
public:
    QList<int> messages;
    QList<intptr_t> wparams;
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    bool event(QEvent* event) override {
        const int message = ui::posted_message(event);
        if (message >= 0) {
            messages << message;
            wparams << static_cast<const ui::PostedEvent*>(event)->wparam();
            return true;
        }
        return QWidget::event(event);
    }
};

int slot_of(int hour, int minute, int second) { return hour * 240 + minute * 4 + second / 15; }

QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

} // namespace

class SearchSliderTest : public QObject {
    Q_OBJECT

    // A shown timeline of the given width inside a parent that records posted messages.
    struct Fixture {
        MessageSink parent;
        SearchSlider* slider;
        explicit Fixture(int width) : slider(new SearchSlider(&parent)) {
            slider->setGeometry(0, 0, width, 40);
            parent.resize(width, 40);
        }
        QImage paint() { return slider->grab().toImage(); }
    };

private slots:
    void range_is_fixed_at_first_paint() {
        Fixture f(400);
        QCOMPARE(f.slider->range(), 564); // before any paint
        f.paint();
        QCOMPARE(f.slider->range(), f.slider->channel_rect().width() - 8);
        QCOMPARE(f.slider->offset(), f.slider->channel_rect().left() + 4);
        const int fixed = f.slider->range();
        f.slider->resize(700, 40);
        f.paint();
        QCOMPARE(f.slider->range(), fixed); // later sizes keep the first one
    }

    void channel_572_gives_range_564_and_middle_is_noon() {
        Fixture f(572);
        f.paint();
        QCOMPARE(f.slider->channel_rect().width(), 572);
        QCOMPARE(f.slider->range(), 564);
        QCOMPARE(f.slider->seconds_of_position(282), 12 * 3600);
        QCOMPARE(f.slider->seconds_of_position(f.slider->range()), 86400);
        QCOMPARE(f.slider->seconds_of_position(0), 0);
    }

    void tiny_channel_keeps_a_usable_range() {
        Fixture f(5);
        f.paint();
        QVERIFY(f.slider->range() >= 1);
        QCOMPARE(f.slider->seconds_of_position(f.slider->range()), 86400);
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(3, 30)); // no division by zero
        QCOMPARE(f.slider->position(), 0);
    }

    void set_time_places_thumb_on_both_scales() {
        Fixture f(572);
        f.paint();
        f.slider->set_time(12, 0, 0);
        QCOMPARE(f.slider->position(), 282);
        // The thumb stands where the hour's spans are painted, late in the day too, so that
        // Play from the thumb does not find the recording some pixels to its right.
        for (int hour : {7, 23}) {
            f.slider->set_time(hour, 0, 0);
            QCOMPARE(f.slider->position(), f.slider->slot_position(hour * 240));
        }
        f.slider->set_time(23, 59, 59);
        QVERIFY(f.slider->position() <= f.slider->range());
        f.slider->set_scale(1);
        f.slider->set_time(7, 30, 0);
        QCOMPARE(f.slider->shown_hour(), 7);
        QCOMPARE(f.slider->position(), 282);
        QCOMPARE(f.slider->seconds_of_position(282), 7 * 3600 + 1800);
        f.slider->set_time(25, 99, 99); // damaged times stay on the scale
        QCOMPARE(f.slider->shown_hour(), 23);
        QVERIFY(f.slider->position() <= f.slider->range());
    }

    void click_below_moves_thumb_and_posts_seek() {
        Fixture f(572);
        f.paint();
        QSignalSpy released(f.slider, &SearchSlider::released);
        const int middle = 572 / 2;
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(middle, 30));
        // The thumb's centre comes to the pressed point: the middle of the day.
        QCOMPARE(f.slider->position(), 282);
        QVERIFY(qAbs(f.slider->thumb_rect().center().x() - middle) <= 1);
        QTRY_COMPARE(f.parent.messages.size(), 1);
        QCOMPARE(f.parent.messages.first(), int(ui::kMsgTimelineClick));
        QCOMPARE(released.size(), 1);
        QCOMPARE(released.first().first().toInt(), 282);
        QVERIFY(!f.slider->dragging());
    }

    void click_near_top_moves_without_seek() {
        Fixture f(572);
        f.paint();
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(100, 20));
        QVERIFY(f.slider->position() > 0);
        // A later click below does post; the only message carries its position.
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(200, 30));
        const int second = f.slider->position();
        QTRY_VERIFY(!f.parent.messages.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(f.parent.messages.size(), 1);
        QCOMPARE(f.parent.wparams.first(), intptr_t{second});
    }

    void click_on_thumb_neither_moves_nor_posts() {
        Fixture f(572);
        f.paint();
        f.slider->set_position(100);
        QSignalSpy moved(f.slider, &SearchSlider::moved);
        QSignalSpy released(f.slider, &SearchSlider::released);
        const QPoint on_thumb = f.slider->thumb_rect().center();
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, on_thumb);
        QCOMPARE(f.slider->position(), 100);
        QCOMPARE(moved.size(), 0);
        QCOMPARE(released.size(), 1); // the end of tracking still reports
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(300, 30));
        const int second = f.slider->position();
        QTRY_VERIFY(!f.parent.messages.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(f.parent.messages.size(), 1); // only the second click posted
        QCOMPARE(f.parent.wparams.first(), intptr_t{second});
    }

    void thumb_drag_follows_pointer_and_ignores_set_time() {
        Fixture f(572);
        f.paint();
        f.slider->set_position(100);
        QSignalSpy released(f.slider, &SearchSlider::released);
        const QPoint start = f.slider->thumb_rect().center();
        QTest::mousePress(f.slider, Qt::LeftButton, {}, start);
        QVERIFY(f.slider->dragging());
        QMouseEvent move(QEvent::MouseMove, QPointF(start.x() + 150, start.y()),
                         f.slider->mapToGlobal(QPointF(start.x() + 150, start.y())),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.slider, &move);
        const int dragged = f.slider->position();
        QVERIFY(dragged > 240 && dragged < 260);
        f.slider->set_time(3, 0, 0); // the playing clock must not fight the user
        QCOMPARE(f.slider->position(), dragged);
        QTest::mouseRelease(f.slider, Qt::LeftButton, {}, QPoint(start.x() + 150, start.y()));
        QCOMPARE(released.size(), 1);
        QCOMPARE(released.first().first().toInt(), dragged);
        QVERIFY(!f.slider->dragging());
    }

    void disabled_flag_ignores_presses() {
        Fixture f(572);
        f.paint();
        f.slider->set_disabled_flag(true);
        QTest::mouseClick(f.slider, Qt::LeftButton, {}, QPoint(400, 30));
        QCOMPARE(f.slider->position(), 0);
        QVERIFY(!f.slider->dragging());
        QCOMPARE(f.parent.presses, 0); // the press does not fall through to the window
        QCoreApplication::processEvents();
        QVERIFY(f.parent.messages.isEmpty());
    }

    void filter_hides_other_channels_in_painting_and_searches() {
        Fixture f(572);
        f.paint();
        auto& map = f.slider->span_map();
        const int only_ch3 = slot_of(6, 0, 0);
        const int ch0 = slot_of(18, 30, 0);
        map[static_cast<size_t>(only_ch3)] = 1u << 3;
        map[static_cast<size_t>(ch0)] = 1u << 0;
        f.slider->set_channel_filter(1u << 0);
        const QImage image = f.paint();
        const int y = f.slider->height() - 2;
        const int x3 = f.slider->offset() + f.slider->slot_position(only_ch3);
        const int x0 = f.slider->offset() + f.slider->slot_position(ch0);
        QCOMPARE(pixel(image, x3, y), QColor(241, 243, 245));
        QCOMPARE(pixel(image, x0, y), QColor(41, 150, 252));
        QCOMPARE(pixel(image, x0, f.slider->height() * 2 / 3 - 1), QColor(241, 243, 245));
        QCOMPARE(f.slider->next_recorded_position(), f.slider->slot_position(ch0));
        f.slider->set_position(f.slider->range());
        QCOMPARE(f.slider->previous_recorded_position(), f.slider->slot_position(ch0));
        f.slider->set_position(f.slider->slot_position(ch0) - 1);
        QCOMPARE(f.slider->previous_recorded_position(), -1);
        f.slider->set_channel_filter(SearchSlider::kAllChannels);
        QCOMPARE(f.slider->previous_recorded_position(), f.slider->slot_position(only_ch3));
        QCOMPARE(pixel(f.paint(), x3, y), QColor(41, 150, 252));
    }

    void searches_never_land_behind_the_thumb() {
        Fixture f(572);
        f.paint();
        // Ten slots share one pixel on the 24-hour scale; the thumb's own pixel counts.
        const int slot = slot_of(4, 15, 0);
        f.slider->span_map()[static_cast<size_t>(slot)] = 1;
        f.slider->set_position(f.slider->slot_position(slot));
        QCOMPARE(f.slider->next_recorded_position(), f.slider->position());
        QVERIFY(f.slider->channel_recorded_at_thumb(0));
        QVERIFY(!f.slider->channel_recorded_at_thumb(1));
        QVERIFY(!f.slider->channel_recorded_at_thumb(32));
        f.slider->set_position(f.slider->position() + 1);
        QCOMPARE(f.slider->next_recorded_position(), -1);
        QVERIFY(!f.slider->channel_recorded_at_thumb(0));
        f.slider->clear_span_map();
        f.slider->set_position(0);
        QCOMPARE(f.slider->next_recorded_position(), -1);
    }

    void sixty_minute_scale_searches_only_the_shown_hour() {
        Fixture f(572);
        f.paint();
        auto& map = f.slider->span_map();
        map[static_cast<size_t>(slot_of(9, 10, 0))] = 1;
        map[static_cast<size_t>(slot_of(9, 40, 30))] = 1;
        map[static_cast<size_t>(slot_of(10, 5, 0))] = 1; // next hour: out of reach
        map[static_cast<size_t>(slot_of(8, 50, 0))] = 1; // hour before: out of reach
        f.slider->set_scale(1);
        f.slider->set_time(9, 20, 0);
        const int r = f.slider->range();
        QCOMPARE(f.slider->next_recorded_position(), r * (40 * 4 + 2) / 240);
        QCOMPARE(f.slider->previous_recorded_position(), r * (10 * 4) / 240);
        // One position is about 6.4 seconds here: the found position's time lies within the
        // pixel that starts the slot.
        const int slot_start = 9 * 3600 + 40 * 60 + 30;
        const int found = f.slider->seconds_of_position(f.slider->next_recorded_position());
        QVERIFY(found <= slot_start && slot_start - found < 3600 / r + 1);
        f.slider->set_time(9, 41, 0);
        QCOMPARE(f.slider->next_recorded_position(), -1);
        f.slider->set_time(9, 5, 0);
        QCOMPARE(f.slider->previous_recorded_position(), -1);
        // Within 3 positions after the thumb counts as recorded at the thumb.
        f.slider->set_position(r * (40 * 4 + 2) / 240 - 3);
        QVERIFY(f.slider->channel_recorded_at_thumb(0));
        f.slider->set_position(r * (40 * 4 + 2) / 240 - 4);
        QVERIFY(!f.slider->channel_recorded_at_thumb(0));
    }

    void selection_paints_green_and_keeps_values() {
        Fixture f(572);
        f.paint();
        f.slider->set_selection(100, 200);
        f.slider->set_selection(-1, 250);
        QCOMPARE(f.slider->selection_start(), 100);
        QCOMPARE(f.slider->selection_end(), 250);
        const QImage image = f.paint();
        const int y = f.slider->height() - 3;
        QCOMPARE(pixel(image, f.slider->offset() + 150, y), QColor(0, 115, 0));
        QCOMPARE(pixel(image, f.slider->offset() + 300, y), QColor(241, 243, 245));
        f.slider->clear_selection();
        QCOMPARE(pixel(f.paint(), f.slider->offset() + 150, y), QColor(241, 243, 245));
    }

    void grid_marks_every_hour_and_every_five_minutes() {
        Fixture f(572);
        f.paint();
        const int strip_y = f.slider->height() * 2 / 3 - 2;
        auto marks = [&](const QImage& image) {
            int count = 0;
            for (int x = 0; x < image.width(); ++x)
                count += pixel(image, x, strip_y) == QColor(Qt::black) ? 1 : 0;
            return count;
        };
        QCOMPARE(marks(f.paint()), 25);
        f.slider->set_scale(1);
        QCOMPARE(marks(f.paint()), 13);
    }
};

QTEST_MAIN(SearchSliderTest)
#include "search_slider_test.moc"
