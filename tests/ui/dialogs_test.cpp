// The dialog frame (close button, dragging by the body) and the message and About boxes.
#include "ui/about_box.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/message_box.h"

#include <QLabel>
#include <QtTest>

using ui::DialogFrame;
using ui::MessageBoxDialog;

namespace {

void send_mouse(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(local), target->mapToGlobal(QPointF(local)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void message_box_default_shows_only_ok() {
        MessageBoxDialog box;
        box.set_texts(QStringLiteral("Load Failure"), QStringLiteral("Quillon"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(box.style(), 1);
        QVERIFY(box.ok_button()->isVisible());
        QVERIFY(!box.cancel_button()->isVisible());
        auto* message = qobject_cast<QLabel*>(ui::find_control(&box, 1022));
        QVERIFY(message != nullptr);
        QCOMPARE(message->text(), QString("Load Failure"));
        QCOMPARE(box.title(), QString("Quillon"));
        // OK sits centred under the message.
        QVERIFY(qAbs(box.ok_button()->geometry().center().x() - box.width() / 2) <= 1);
    }

    void message_box_other_style_shows_ok_and_cancel() {
        MessageBoxDialog box;
        box.set_style(0);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(box.ok_button()->isVisible());
        QVERIFY(box.cancel_button()->isVisible());
        QVERIFY(box.ok_button()->x() < box.cancel_button()->x());
        QCOMPARE(box.ok_button()->y(), box.cancel_button()->y());
        QTest::mouseClick(box.cancel_button(), Qt::LeftButton);
        QCOMPARE(box.result(), int(QDialog::Rejected));
    }

    void escape_leaves_open_and_enter_closes_with_ok() {
        MessageBoxDialog box;
        int result = -1;
        QObject::connect(&box, &QDialog::finished, [&](int r) { result = r; });
        box.open();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(box.isVisible());
        QCOMPARE(result, -1);
        QTest::keyClick(&box, Qt::Key_Return);
        QTRY_VERIFY(!box.isVisible());
        QCOMPARE(result, int(QDialog::Accepted));
    }

    void show_message_returns_ok() {
        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<MessageBoxDialog*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            QTest::keyClick(box, Qt::Key_Enter);
        });
        QCOMPARE(ui::show_message(nullptr, "Start time is less than stop time.", "Record"),
                 int(QDialog::Accepted));
    }

    void close_button_cancels() {
        DialogFrame frame;
        frame.resize(300, 120);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(ui::find_control(&frame, 1005), frame.close_button());
        // The close button sits in the title strip at the right edge.
        QVERIFY(frame.close_button()->geometry().bottom() < DialogFrame::kTitleHeight);
        QVERIFY(frame.close_button()->geometry().right() < frame.width());
        QTest::mouseClick(frame.close_button(), Qt::LeftButton);
        QCOMPARE(frame.result(), int(QDialog::Rejected));
        QVERIFY(!frame.isVisible());
    }

    void frame_paints_strip_and_white_title() {
        DialogFrame frame;
        frame.resize(400, 100);
        frame.set_background(QColor(10, 80, 10));
        frame.set_title(QStringLiteral("MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM"));
        const QImage image = frame.grab().toImage();
        auto white_in = [&](int x0, int x1, int y0, int y1) {
            int count = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    count += image.pixelColor(x, y) == QColor(Qt::white) ? 1 : 0;
            return count;
        };
        QVERIFY(white_in(6, 300, 2, 18) > 0);
        // A long title stops at the right edge of its rectangle.
        QCOMPARE(white_in(301, frame.close_button()->x() - 1, 0, DialogFrame::kTitleHeight), 0);
        // The strip spans the width; the body below has the frame's colour.
        QVERIFY(image.pixelColor(395, 1) != QColor(10, 80, 10));
        QCOMPARE(image.pixelColor(200, 60), QColor(10, 80, 10));
        QCOMPARE(frame.palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    void dragging_body_moves_dialog() {
        DialogFrame frame;
        frame.resize(300, 160);
        auto* label = new QLabel(QStringLiteral("text"), &frame);
        label->setGeometry(20, 40, 100, 20);
        frame.move(100, 100);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QPoint start = frame.pos();
        // A label takes no press, so its area drags the window as the body does.
        const QPoint grip(50, 50);
        send_mouse(&frame, QEvent::MouseButtonPress, grip, Qt::LeftButton);
        send_mouse(&frame, QEvent::MouseMove, grip + QPoint(40, 25), Qt::LeftButton);
        send_mouse(&frame, QEvent::MouseButtonRelease, grip + QPoint(40, 25), Qt::NoButton);
        QTRY_COMPARE(frame.pos(), start + QPoint(40, 25));
        // Without a pressed button the pointer's moves do nothing.
        send_mouse(&frame, QEvent::MouseMove, grip + QPoint(90, 90), Qt::NoButton);
        QCOMPARE(frame.pos(), start + QPoint(40, 25));
    }

    void press_on_a_button_does_not_drag() {
        MessageBoxDialog box;
        box.move(50, 50);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QPoint start = box.pos();
        QWidget* ok = box.ok_button();
        send_mouse(ok, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
        send_mouse(ok, QEvent::MouseMove, QPoint(60, 60), Qt::LeftButton);
        send_mouse(ok, QEvent::MouseButtonRelease, QPoint(60, 60), Qt::NoButton);
        QCoreApplication::processEvents();
        QCOMPARE(box.pos(), start);
    }

    void about_box_lists_versions_and_shortcuts() {
        ui::AboutBox about;
        QCOMPARE(about.title(), QString("Quillon Info(&A)..."));
        QVERIFY(ui::AboutBox::program_text().startsWith("Quillon "));
        QVERIFY(ui::AboutBox::program_text().contains(QRegularExpression("\\d+\\.\\d+")));
        const QString libraries = ui::AboutBox::libraries_text();
        QVERIFY(libraries.contains(QString("Qt ") + qVersion()));
        QVERIFY(libraries.contains(QRegularExpression("libavcodec \\d+\\.\\d+\\.\\d+")));
        QVERIFY(libraries.contains("libjpeg"));
        const QString keys = ui::AboutBox::shortcuts_text();
        for (const char* key : {"Space", "F11", "Ctrl+O", "Ctrl+Q", "Ctrl+Right"})
            QVERIFY2(keys.contains(QString::fromLatin1(key)), key);
        // The box is large enough for what it lists.
        QVERIFY(about.width() >= about.minimumSizeHint().width());
    }

    void enter_closes_the_about_box() {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            ui::AboutBox about;
            about.show();
            QVERIFY(QTest::qWaitForWindowExposed(&about));
            QTest::keyClick(&about, key);
            QTRY_VERIFY(!about.isVisible());
            QCOMPARE(about.result(), int{QDialog::Accepted});
        }
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
