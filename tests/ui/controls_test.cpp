// The volume bar's range and mouse, the skinned buttons' check and radio behaviour, control ids.
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/posted_event.h"

#include <QSvgRenderer>
#include <QtTest>

using ui::SkinButton;
using ui::VolumeBar;

namespace {

class MessageSink : public QWidget {
public:
    QList<int> messages;
    QList<intptr_t> wparams;

protected:
    bool event(QEvent* event) override {
        const int message = ui::posted_message(event);
        if (message < 0)
            return QWidget::event(event);
        messages << message;
        wparams << static_cast<const ui::PostedEvent*>(event)->wparam();
        return true;
    }
};

} // namespace

class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void volume_bar_refuses_position_above_span() {
        VolumeBar bar;
        bar.set_range(0, 15);
        QVERIFY(bar.set_position(15));
        QCOMPARE(bar.position(), 15);
        QVERIFY(!bar.set_position(16));
        QVERIFY(!bar.set_position(-1));
        QCOMPARE(bar.position(), 15);
    }

    void volume_bar_position_counts_from_minimum() {
        VolumeBar bar;
        bar.set_range(10, 20);
        QVERIFY(bar.set_position(4));
        QCOMPARE(bar.position(), 14);
        QVERIFY(!bar.set_position(11));
        bar.set_range(5, 2); // a reversed range is an empty span
        QCOMPARE(bar.position(), 5);
        QVERIFY(bar.set_position(0));
        QVERIFY(!bar.set_position(1));
    }

    void volume_bar_mouse_maps_ends_and_middle() {
        VolumeBar bar;
        bar.resize(120, 20);
        bar.set_range(0, 15);
        // A twelfth of the width is kept free at each end.
        QCOMPARE(bar.value_at(0), 0);
        QCOMPARE(bar.value_at(10), 0);
        QCOMPARE(bar.value_at(110), 15);
        QCOMPARE(bar.value_at(500), 15);
        QCOMPARE(bar.value_at(60), 7); // 50 / 100 of 15, whole steps
    }

    void volume_bar_mouse_change_posts_volume() {
        MessageSink parent;
        parent.resize(200, 40);
        auto* bar = new VolumeBar(&parent);
        bar->setGeometry(0, 0, 120, 20);
        bar->set_range(0, 15);
        QVERIFY(bar->set_position(0));
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(110, 10));
        QCOMPARE(bar->position(), 15);
        QTRY_COMPARE(parent.messages.size(), 1);
        QCOMPARE(parent.messages.first(), int(ui::kMsgVolume));
        QCOMPARE(parent.wparams.first(), intptr_t{15});
        // A click that leaves the value alone posts nothing more.
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(115, 10));
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(0, 10));
        QTRY_COMPARE(parent.messages.size(), 2);
        QCOMPARE(parent.wparams.last(), intptr_t{0});
        // Setting the position from code posts nothing.
        bar->set_position(9);
        QCoreApplication::processEvents();
        QCOMPARE(parent.messages.size(), 2);
    }

    void vertical_volume_bar_grows_upwards() {
        VolumeBar bar;
        bar.set_vertical(true);
        bar.resize(20, 120);
        bar.set_range(0, 15);
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(10, 2)); // near the top
        QCOMPARE(bar.position(), 15);
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(10, 117)); // near the bottom
        QCOMPARE(bar.position(), 0);
    }

    void volume_knob_lights_up_under_pointer() {
        VolumeBar bar;
        bar.resize(120, 20);
        bar.set_range(0, 15);
        bar.set_position(15);
        const QImage before = bar.grab().toImage();
        QMouseEvent over(QEvent::MouseMove, QPointF(110, 10), bar.mapToGlobal(QPointF(110, 10)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &over);
        QVERIFY(bar.knob_hovered());
        QVERIFY(bar.grab().toImage() != before);
        QMouseEvent away(QEvent::MouseMove, QPointF(20, 10), bar.mapToGlobal(QPointF(20, 10)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &away);
        QVERIFY(!bar.knob_hovered());
        QCOMPARE(bar.grab().toImage(), before);
    }

    void radio_buttons_uncheck_each_other() {
        QWidget group;
        SkinButton* buttons[3];
        for (auto*& button : buttons) {
            button = new SkinButton(&group);
            button->set_type(SkinButton::Type::Radio);
            button->set_skin(QStringLiteral("split4"));
        }
        auto* other_group = new SkinButton(&group);
        other_group->set_type(SkinButton::Type::Radio);
        other_group->set_group(1);
        other_group->set_check(true);
        buttons[0]->set_check(true);
        QTest::mouseClick(buttons[2], Qt::LeftButton);
        QVERIFY(buttons[2]->check());
        QTRY_VERIFY(!buttons[0]->check());
        QVERIFY(!buttons[1]->check());
        QVERIFY(other_group->check());
        // Clicking the checked radio button keeps it checked.
        QTest::mouseClick(buttons[2], Qt::LeftButton);
        QVERIFY(buttons[2]->check());
    }

    void check_and_push_types() {
        SkinButton check;
        check.set_type(SkinButton::Type::Check);
        QTest::mouseClick(&check, Qt::LeftButton);
        QVERIFY(check.check());
        QTest::mouseClick(&check, Qt::LeftButton);
        QVERIFY(!check.check());
        SkinButton push;
        push.set_check(true);
        QVERIFY(!push.check());
    }

    void every_icon_loads() {
        // The pictures of every main-window button, the timeline's thumb and the title strip.
        for (const char* name :
             {"play", "pause", "stop", "ff", "rew", "frame_forward", "frame_back",
              "minute_forward", "minute_back", "split1", "split4", "split9", "split16",
              "time_search", "volume_on", "volume_off", "disk_load", "event_log", "capture_log",
              "system_log", "capture", "mark_in", "mark_out", "record", "maximize", "restore",
              "minimize", "close", "thumb", "thumb_pressed", "title_strip"}) {
            SkinButton button;
            QVERIFY2(button.set_skin(QString::fromLatin1(name)), name);
        }
        const QStringList names = QDir(QStringLiteral(":/icons")).entryList({"*.svg"});
        for (const QString& name : names) {
            QSvgRenderer svg(QStringLiteral(":/icons/") + name);
            QVERIFY2(svg.isValid() && !svg.defaultSize().isEmpty(), qPrintable(name));
        }
        SkinButton button;
        QVERIFY(!button.set_skin(QStringLiteral("no-such-icon")));
    }

    void control_ids_find_nested_controls() {
        QWidget root;
        auto* panel = new QWidget(&root);
        auto* button = new SkinButton(panel);
        ui::set_control_id(button, 1014);
        QCOMPARE(button->objectName(), QString("id1014"));
        QCOMPARE(ui::control_id(button), 1014);
        QCOMPARE(ui::find_control(&root, 1014), button);
        QCOMPARE(ui::find_control(&root, 1015), nullptr);
        QCOMPARE(ui::control_id(panel), -1);
        ui::set_control_id(&root, 102);
        QCOMPARE(ui::find_control(&root, 102), &root);
    }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
