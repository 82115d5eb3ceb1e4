#include "ui/dialogs/disk_load_dialog.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/message_box.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

// The dialog's design is in dialog units; on screen a unit is 7/4 pixels.
QRect du(int x, int y, int w, int h) { return {x * 7 / 4, y * 7 / 4, w * 7 / 4, h * 7 / 4}; }

QFont list_font() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    return font;
}

QTreeWidget* make_list(QWidget* parent, int id, const QStringList& columns,
                       const std::initializer_list<int>& widths, QRect where) {
    auto* list = new QTreeWidget(parent);
    set_control_id(list, id);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setFont(list_font());
    list->setHeaderLabels(columns);
    int column = 0;
    for (int width : widths)
        list->setColumnWidth(column++, width);
    list->header()->setStretchLastSection(true);
    list->setGeometry(where);
    return list;
}

QLabel* make_label(QWidget* parent, const QString& text, QRect where) {
    auto* label = new QLabel(text, parent);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    label->setFont(font);
    label->setGeometry(where);
    return label;
}

} // namespace

DiskLoadDialog::DiskLoadDialog(DiskState* state, QObject* owner, int time_format, QWidget* parent)
    : DialogFrame(parent), state_(state), owner_(owner), time_format_(time_format) {
    set_title(QStringLiteral("Open Disk"));
    setFixedSize(du(0, 0, 316, 227).size());
    setModal(true);
    sink_ = [this](const QString& text) { show_message(this, text, QStringLiteral("Quillon")); };
    chooser_ = [](QWidget* asking) {
        return QFileDialog::getOpenFileName(
            asking, QStringLiteral("Open image file"), QString(),
            QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.E01 *.e01 *.001 *.000 *.aa);;"
                           "All files (*)"));
    };
    create_controls();
}

void DiskLoadDialog::create_controls() {
    // The lists are wider than the columns' design widths so that times read whole.
    disks_ = make_list(this, kIdDiskList,
                       {QStringLiteral("DiskType"), QStringLiteral("Name"), QStringLiteral("Space"),
                        QStringLiteral("State")},
                       {119, 190, 84}, du(7, 31, 302, 61));
    sessions_ = make_list(this, kIdSessionList,
                          {QStringLiteral("No"), QStringLiteral("First Time"),
                           QStringLiteral("End Time"), QStringLiteral("State")},
                          {60, 170, 170}, du(7, 124, 302, 61));
    make_label(this, QStringLiteral("Disk list"), du(7, 19, 62, 11));
    make_label(this, QStringLiteral("Sessoin list"), du(7, 113, 62, 11));
    // Buttons one unit taller than designed: their captions need the room.
    add_button(kIdRefresh, QStringLiteral("Refresh"), du(8, 93, 50, 14));
    add_button(kIdMount, QStringLiteral("Mount"), du(200, 93, 54, 14));
    add_button(kIdUnmount, QStringLiteral("Unmount"), du(255, 93, 54, 14));
    add_button(kIdOpenSession, QStringLiteral("Open Session"), du(200, 187, 54, 14));
    add_button(kIdCloseSession, QStringLiteral("Close Session"), du(255, 187, 54, 14));
    add_button(kIdOk, QStringLiteral("OK"), du(110, 207, 50, 14));
    add_button(kIdCancel, QStringLiteral("Cancel"), du(162, 207, 50, 14));
    add_button(kIdOpenImage, QStringLiteral("Open image file…"), du(8, 187, 76, 14));
    add_button(kIdMonthLog, QStringLiteral("MonthLog"), du(26, 193, 50, 14))->hide();
    add_button(kIdSearchLog, QStringLiteral("SearchLog"), du(82, 194, 50, 14))->hide();

    connect(button(kIdRefresh), &QAbstractButton::clicked, this, &DiskLoadDialog::refresh);
    connect(button(kIdMount), &QAbstractButton::clicked, this, &DiskLoadDialog::mount);
    connect(button(kIdUnmount), &QAbstractButton::clicked, this, &DiskLoadDialog::unmount);
    connect(button(kIdOpenSession), &QAbstractButton::clicked, this,
            &DiskLoadDialog::open_session);
    connect(button(kIdCloseSession), &QAbstractButton::clicked, this,
            &DiskLoadDialog::close_session);
    connect(button(kIdOk), &QAbstractButton::clicked, this, &DiskLoadDialog::confirm);
    connect(button(kIdOpenImage), &QAbstractButton::clicked, this, &DiskLoadDialog::open_image);
    connect(button(kIdCancel), &QAbstractButton::clicked, this, &QDialog::reject);
    connect(button(kIdMonthLog), &QAbstractButton::clicked, this,
            [this] { post_message(owner_, kMsgMonthMask); });
    connect(button(kIdSearchLog), &QAbstractButton::clicked, this,
            [this] { post_message(owner_, kMsgShowDay); });
}

SkinButton* DiskLoadDialog::add_button(int id, const QString& caption, QRect where) {
    auto* button = new SkinButton(this);
    button->set_caption(caption);
    button->setGeometry(where);
    set_control_id(button, id);
    return button;
}

SkinButton* DiskLoadDialog::button(int id) const {
    return qobject_cast<SkinButton*>(find_control(const_cast<DiskLoadDialog*>(this), id));
}

void DiskLoadDialog::tell(const QString& text) {
    if (sink_)
        sink_(text);
}

// The lists fill once the dialog is on screen, so that a message box stands over it.
void DiskLoadDialog::showEvent(QShowEvent* event) {
    DialogFrame::showEvent(event);
    if (started_)
        return;
    started_ = true;
    QTimer::singleShot(0, this, &DiskLoadDialog::fill_lists);
}

void DiskLoadDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();  // at once, without the month scan
        return;
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        DialogFrame::keyPressEvent(event);
    }
}

} // namespace ui
