// The transport as the window shows it: the buttons' images and tooltips, the clock, the speed
// text, the thumb and the marked span, all from the player controller's state; and the keys,
// which are actions of the whole window so that they work wherever the user clicked last.
#include <QAction>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/core_bridge.h"
#include "ui/main_window.h"
#include "ui/recorder_clock.h"
#include "ui/scale_text.h"

namespace ui {
namespace {

// The position of `time` on the timeline of `day`; clamped to the day's two ends.
int position_of(const SearchSlider& timeline, uint32_t day, uint32_t time) {
    if (time <= day)
        return 0;
    const uint32_t second = time - day;
    if (second >= DaySpans::kDaySeconds)
        return timeline.range();
    return timeline.position_of_seconds(static_cast<int>(second));
}

} // namespace

uint32_t MainWindow::position_time(int position) const {
    return player_->day() + static_cast<uint32_t>(timeline_->seconds_of_position(position));
}

void MainWindow::create_key_actions() {
    PlayerController* player = player_;
    const struct {
        QKeySequence key;
        std::function<void()> run;
    } keys[] = {
        {QKeySequence(Qt::Key_Space), [player] { player->play(); }},
        {QKeySequence(Qt::Key_Right), [player] { player->frame_step(true); }},
        {QKeySequence(Qt::Key_Left), [player] { player->frame_step(false); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Right), [player] { player->minute_jump(true); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Left), [player] { player->minute_jump(false); }},
        {QKeySequence(Qt::Key_F), [player] { player->fast_forward(); }},
        {QKeySequence(Qt::Key_R), [player] { player->rewind(); }},
        {QKeySequence(Qt::Key_I), [player] { player->mark_in(); }},
        {QKeySequence(Qt::Key_O), [player] { player->mark_out(); }},
        {QKeySequence(Qt::Key_1), [this] { on_split(1); }},
        {QKeySequence(Qt::Key_4), [this] { on_split(4); }},
        {QKeySequence(Qt::Key_9), [this] { on_split(9); }},
        {QKeySequence(Qt::Key_6), [this] { on_split(16); }},
        {QKeySequence(Qt::Key_F11), [this] { on_full_monitor(); }},
        {QKeySequence(Qt::Key_Escape), [this] { if (full_monitor_) leave_full_monitor(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_O), [this] { on_disk_load(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_S), [this] { on_capture(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_G), [this] { on_go_to_time(); }},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { on_exit(); }},
    };
    for (const auto& k : keys) {
        auto* action = new QAction(this);
        action->setShortcut(k.key);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setAutoRepeat(true);
        connect(action, &QAction::triggered, this, k.run);
        addAction(action);
    }
}

void MainWindow::reset_transport_buttons() {
    const std::pair<int, const char*> idle[] = {
        {kIdPlay, "Play"},          {kIdFastForward, "FF"},       {kIdFrameForward, "1 Frame"},
        {kIdFrameBack, "1 Frame"},  {kIdMinuteForward, "1 Minute"}, {kIdMinuteBack, "1 Minute"},
        {kIdRewind, "Rew"},
    };
    for (const auto& [id, tip] : idle) {
        buttons_[id]->set_check(false);
        buttons_[id]->setToolTip(QString::fromLatin1(tip));
    }
    buttons_[kIdPlay]->set_skin("play");
}

void MainWindow::show_transport_buttons() {
    reset_transport_buttons();
    const int32_t mode = player_->mode();
    const bool running = player_->playing();
    buttons_[kIdPlay]->set_skin(running ? "pause" : "play");
    buttons_[kIdPlay]->setToolTip(running ? "Pause" : "Play");
    if (is_forward_speed(mode)) {
        buttons_[kIdFastForward]->set_check(true);
        buttons_[kIdFastForward]->setToolTip(speed_tooltip(mode));
    } else if (is_rewind_speed(mode)) {
        buttons_[kIdRewind]->set_check(true);
        buttons_[kIdRewind]->setToolTip(speed_tooltip(mode));
    }
}

// The selection shows the marks that fall on the shown day; a mark on another day puts its end
// of the band at the day's edge.
void MainWindow::show_marks() {
    const auto in = player_->marked_in();
    const auto out = player_->marked_out();
    buttons_[kIdMarkIn]->set_check(in.has_value());
    buttons_[kIdMarkOut]->set_check(out.has_value());
    timeline_->clear_selection();
    const uint32_t day = player_->day();
    if (!in || day == 0)
        return;
    const uint32_t first = out ? std::min(*in, *out) : *in;
    const uint32_t last = out ? std::max(*in, *out) : *in;
    if (last < day || first >= day + DaySpans::kDaySeconds)
        return;
    const int start = position_of(*timeline_, day, first);
    timeline_->set_selection(start, out ? position_of(*timeline_, day, last) : -1);
}

void MainWindow::show_player_state() {
    show_transport_buttons();
    transport_->setText(player_->transport_text());
    const uint32_t time = player_->time();
    if (time != 0) {
        show_time(time);
        if (player_->spans().on_day(time) && !timeline_->dragging()) {
            const DateTime t = broken_down(time);
            timeline_->set_time(t.hour, t.minute, t.second);
        }
    } else {
        osd_->clear();
    }
    show_marks();
    timeline_->update();
    scale_text_->update();
}

void MainWindow::show_status(const QString& text) { message_->setText(text); }

// The end of a drag, or of a click on the timeline: one seek for the whole gesture.
void MainWindow::on_timeline_released() {
    if (!disk_.ready())
        return;
    player_->seek(position_time(timeline_->position()));
}

// Ctrl+G: a date and time of the recorder's clock, played from at once.
void MainWindow::on_go_to_time() {
    if (!disk_.ready())
        return;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Go to time"));
    auto* edit = new QDateTimeEdit(&dialog);
    edit->setTimeSpec(Qt::UTC);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    edit->setDateTime(QDateTime::fromSecsSinceEpoch(player_->time(), Qt::UTC));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Play from (recorder time):"), &dialog));
    layout->addWidget(edit);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const qint64 chosen = edit->dateTime().toSecsSinceEpoch();
    if (chosen > 0 && chosen <= qint64{UINT32_MAX})
        go_to(static_cast<uint32_t>(chosen));
}

void MainWindow::go_to(uint32_t time) {
    if (!disk_.ready() || time == 0)
        return;
    const uint32_t midnight = time - time % DaySpans::kDaySeconds;
    if (midnight != player_->day())
        load_day(midnight, false);
    player_->play_at(time);
}

} // namespace ui
