#include "ui/dialogs/log_list_dialog.h"

#include <algorithm>

#include <QHeaderView>
#include <QScreen>
#include <QTreeWidget>

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

constexpr int kTimeRole = Qt::UserRole;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;

QFont list_font() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    font.setBold(true);
    return font;
}

SkinButton* make_button(QWidget* parent, int id, const QString& caption) {
    auto* button = new SkinButton(parent);
    button->set_caption(caption);
    button->resize(kButtonWidth, kButtonHeight);
    set_control_id(button, id);
    return button;
}

} // namespace

LogListDialog::LogListDialog(QObject* owner, int closed_message, const QString& title,
                             const QStringList& columns, const QList<int>& widths,
                             QWidget* parent)
    : DialogFrame(parent), owner_(owner), closed_message_(closed_message) {
    set_title(title);
    setModal(false);
    setFixedSize(520, 470);
    list_ = new QTreeWidget(this);
    set_control_id(list_, kIdList);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setFont(list_font());
    // The rows' text colour of the recorder's log windows: a light red.
    QPalette colours = list_->palette();
    colours.setColor(QPalette::Text, QColor(200, 100, 100));
    list_->setPalette(colours);
    list_->setHeaderLabels(columns);
    for (int column = 0; column < widths.size(); ++column)
        list_->setColumnWidth(column, widths[column]);
    list_->header()->setStretchLastSection(true);
    const int buttons_top = height() - kButtonHeight - 10;
    list_->setGeometry(12, kTitleHeight + 10, width() - 24, buttons_top - kTitleHeight - 20);

    auto* play_button = make_button(this, kIdPlay, QStringLiteral("Play"));
    auto* ok = make_button(this, kIdOk, QStringLiteral("OK"));
    auto* cancel = make_button(this, kIdCancel, QStringLiteral("Cancel"));
    play_button->move(12, buttons_top);
    cancel->move(width() - 12 - kButtonWidth, buttons_top);
    ok->move(cancel->x() - 8 - kButtonWidth, buttons_top);
    connect(play_button, &QAbstractButton::clicked, this, &LogListDialog::play);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &LogListDialog::play);
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

void LogListDialog::add_row(const QStringList& cells, uint32_t time) {
    auto* item = new QTreeWidgetItem(list_, cells);
    item->setData(0, kTimeRole, static_cast<qulonglong>(time));
}

bool LogListDialog::selected_time(uint32_t* time) const {
    const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
    if (chosen.isEmpty())
        return false;
    *time = static_cast<uint32_t>(chosen.first()->data(0, kTimeRole).toULongLong());
    return true;
}

void LogListDialog::play() {
    uint32_t time = 0;
    if (selected_time(&time) && playable(time))
        post_message(owner_, kMsgPlayFrom, 0, static_cast<intptr_t>(time));
}

void LogListDialog::showEvent(QShowEvent* event) {
    DialogFrame::showEvent(event);
    // Only the first time: a dialog the user moved stays where it was put.
    if (placed_)
        return;
    placed_ = true;
    place_beside_owner();
}

// The two log dialogs are the same size: the pair is laid out over the owner's middle and kept
// on the screen as a whole, then each dialog takes its side of it.
void LogListDialog::place_beside_owner() {
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    if (owner == nullptr)
        return;
    constexpr int kGap = 8;
    const QPoint middle = owner->frameGeometry().center();
    int left = middle.x() - kGap / 2 - width();
    int x = side() < 0 ? left : left + width() + kGap;
    int y = middle.y() - height() / 2;
    if (const QScreen* screen = owner->screen()) {
        const QRect room = screen->availableGeometry();
        left = std::max(room.left(), std::min(left, room.right() + 1 - (2 * width() + kGap)));
        x = side() < 0 ? left : left + width() + kGap;
        x = std::max(room.left(), std::min(x, room.right() + 1 - width()));
        y = std::max(room.top(), std::min(y, room.bottom() + 1 - height()));
    }
    move(x, y);
}

// Every way of closing (OK, Cancel, the close box) tells the owner, which lets the dialog go.
void LogListDialog::done(int result) {
    post_message(owner_, closed_message_);
    DialogFrame::done(result);
}

} // namespace ui
