#include "ui/main_window.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>

#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/core_bridge.h"
#include "ui/message_box.h"
#include "ui/scale_text.h"
#include "version/version.h"

namespace ui {
namespace {

constexpr QSize kWindowSize(1000, 712);
constexpr QRect kDisplayRect(20, 26, 704, 576);
constexpr QColor kBackground(34, 38, 46);
constexpr int kPanelLeft = 744;
constexpr int kSmall = 36;   // a square button
constexpr int kGap = 6;

QRect cell(int column, int row, int top) {
    return QRect(kPanelLeft + column * (kSmall + kGap), top + row * (kSmall + kGap), kSmall,
                 kSmall);
}

} // namespace

MainWindow::MainWindow(DisplayControl* display, QWidget* display_widget, QSettings* settings,
                       QWidget* parent)
    : DialogFrame(parent), display_(display), display_widget_(display_widget), store_(settings),
      player_(new PlayerController(&engine_, display, this)) {
    set_title(QStringLiteral("Quillon"));
    set_background(kBackground);
    setFixedSize(kWindowSize);
    settings_ = load_settings(*store_);
    saved_volume_ = settings_.volume;
    display_widget_->setParent(this);
    set_control_id(display_widget_, kIdDisplay);
    create_controls();
    place_controls();
    create_key_actions();
    // A key means the same wherever the user clicked last: no control keeps the focus.
    for (QWidget* child : findChildren<QWidget*>())
        child->setFocusPolicy(Qt::NoFocus);
    start_core();
    connect(player_, &PlayerController::changed, this, &MainWindow::show_player_state);
    connect(player_, &PlayerController::status, this, &MainWindow::show_status);
    connect(player_, &PlayerController::day_reached, this, &MainWindow::on_day_reached);
    connect(player_, &PlayerController::unreadable, this, &MainWindow::on_unreadable);
    player_->set_key_frame_only(settings_.iframe != 0);
    show_player_state();
}

MainWindow::~MainWindow() {
    // However the program ends, a running export finishes its files and writes its report.
    end_backup_job();
    if (core_started_) {
        api_set_play_mode(PM_STOP);
        api_set_channel_mask(0);
        close_disk(&disk_);
        api_exit();
    }
}

void MainWindow::start_core() {
    display_->set_owner(reinterpret_cast<uintptr_t>(this));
    display_->set_title("Quillon");
    display_->set_version(version::text());
    bridge_ = std::make_unique<CoreBridge>(player_, display_);
    player_->set_bridge(bridge_.get());
    timeline_->clear_span_map();
    if (api_init(0, &CoreBridge::frame_callback, &CoreBridge::status_callback) != 0) {
        show_message(this, QStringLiteral("Load Failure"), QStringLiteral("Quillon"));
    } else {
        core_started_ = true;
    }
    display_->set_up(3, 0);
    display_->set_layout(kDisplayAllChannels, 16);
    volume_bar_->set_range(0, kDisplayVolumeMax);
    volume_bar_->set_position(settings_.volume);
    display_->set_volume(settings_.volume);
    display_->set_time_format(settings_.time_format);
    display_->set_overlay_place(overlay_place());
}

SkinButton* MainWindow::add_button(int id, const QString& skin, const QString& tooltip,
                                   QRect where) {
    auto* button = new SkinButton(this);
    button->set_skin(skin);
    button->setToolTip(tooltip);
    button->setGeometry(where);
    // A key means the same wherever the user clicked last: no button keeps the focus.
    button->setFocusPolicy(Qt::NoFocus);
    set_control_id(button, id);
    buttons_[id] = button;
    return button;
}

void MainWindow::create_controls() {
    const int strip = kDisplayRect.top() - 24;
    add_button(kIdMinimize, "minimize", "Minimize", QRect(kWindowSize.width() - 78, strip, 22, 20));
    add_button(kIdMaximize, "maximize", "Full monitor", QRect(kWindowSize.width() - 54, strip, 22, 20));
    // The frame's own close button is the exit button.
    set_control_id(close_button(), kIdExit);
    close_button()->setFocusPolicy(Qt::NoFocus);
    buttons_[kIdExit] = close_button();
    close_button()->setToolTip("Exit");

    osd_ = new QLabel(this);
    set_control_id(osd_, kIdOsd);
    osd_->setAlignment(Qt::AlignCenter);
    osd_->setStyleSheet("background: rgb(129, 167, 231); color: black; font: bold 15px;");
    transport_ = new QLabel(this);
    transport_->setObjectName(QStringLiteral("transport"));
    transport_->setAlignment(Qt::AlignCenter);
    transport_->setStyleSheet("background: rgb(129, 167, 231); color: black; font: bold 12px;");

    const int top = 74;
    add_button(kIdSplit1, "split1", "1 split", cell(0, 0, top));
    add_button(kIdSplit4, "split4", "4 splits", cell(1, 0, top));
    add_button(kIdSplit9, "split9", "9 splits", cell(2, 0, top));
    add_button(kIdSplit16, "split16", "16 splits", cell(3, 0, top));
    add_button(kIdDiskLoad, "disk_load", "Open disk", cell(0, 1, top + 8));
    add_button(kIdEventLog, "event_log", "Event log", cell(1, 1, top + 8));
    add_button(kIdCaptureLog, "capture_log", "Capture log", cell(2, 1, top + 8));
    add_button(kIdSystemLog, "system_log", "System log", cell(3, 1, top + 8));
    add_button(kIdRecoveredVideo, "recovered", "Recovered video", cell(4, 1, top + 8));
    add_button(kIdCapture, "capture", "Capture", cell(0, 2, top + 16));
    add_button(kIdMarkIn, "mark_in", "Mark in", cell(1, 2, top + 16));
    add_button(kIdMarkOut, "mark_out", "Mark out", cell(2, 2, top + 16));
    add_button(kIdRecord, "record", "AVI backup", cell(3, 2, top + 16));
    add_button(kIdTimeSearch, "time_search", "24 hours / 60 minutes", cell(4, 2, top + 16));
    add_button(kIdAudio, "volume_on", "Audio off", cell(0, 3, top + 24));
    volume_bar_ = new VolumeBar(this);
    set_control_id(volume_bar_, kIdVolumeBar);
    // Controls without an action here; kept so that every id of the window exists.
    add_button(kIdBackup, "record", "Backup", cell(0, 4, top))->hide();
    add_button(kIdFullScreen, "maximize", "Full screen", cell(0, 4, top))->hide();

    message_ = new QLabel(this);
    set_control_id(message_, kIdMessage);
    message_->setStyleSheet("background: white; color: black; padding: 2px;");
    message_->setWordWrap(true);

    timeline_ = new SearchSlider(this);
    set_control_id(timeline_, kIdTimeline);
    scale_text_ = new ScaleText(timeline_, this);
    set_control_id(scale_text_, kIdScaleText);

    const int row = kDisplayRect.bottom() + 76;
    const int mid = kDisplayRect.center().x();
    const struct {
        int id;
        const char* skin;
        const char* tip;
        int slot;
    } transport[] = {
        {kIdFrameBack, "frame_back", "1 Frame", -3}, {kIdMinuteBack, "minute_back", "1 Minute", -2},
        {kIdRewind, "rew", "Rew", -1},               {kIdPlay, "play", "Play", 0},
        {kIdFastForward, "ff", "FF", 1},             {kIdMinuteForward, "minute_forward", "1 Minute", 2},
        {kIdFrameForward, "frame_forward", "1 Frame", 3},
    };
    for (const auto& t : transport)
        add_button(t.id, t.skin, t.tip,
                   QRect(mid - kSmall / 2 + t.slot * (kSmall + kGap), row, kSmall, kSmall));

    connect(timeline_, &SearchSlider::released, this, [this](int) { on_timeline_released(); });
    PlayerController* player = player_;
    const std::pair<int, std::function<void()>> actions[] = {
        {kIdPlay, [player] { player->play(); }},
        {kIdFastForward, [player] { player->fast_forward(); }},
        {kIdRewind, [player] { player->rewind(); }},
        {kIdFrameForward, [player] { player->frame_step(true); }},
        {kIdFrameBack, [player] { player->frame_step(false); }},
        {kIdMinuteForward, [player] { player->minute_jump(true); }},
        {kIdMinuteBack, [player] { player->minute_jump(false); }},
        {kIdMarkIn, [player] { player->mark_in(); }},
        {kIdMarkOut, [player] { player->mark_out(); }},
        {kIdAudio, [this] { on_audio_toggle(); }},
        {kIdMaximize, [this] { on_full_monitor(); }},
        {kIdRecord, [this] { on_record(); }},
        {kIdCapture, [this] { on_capture(); }},
        {kIdTimeSearch, [this] { on_time_search(); }},
        {kIdExit, [this] { on_exit(); }},
    };
    for (const auto& [id, action] : actions)
        connect(buttons_[id], &QAbstractButton::clicked, this, action);
    connect(buttons_[kIdMinimize], &QAbstractButton::clicked, this, &QWidget::showMinimized);
    const std::pair<int, int> splits[] = {
        {kIdSplit1, 1}, {kIdSplit4, 4}, {kIdSplit9, 9}, {kIdSplit16, 16}};
    for (const auto& [id, count] : splits)
        connect(buttons_[id], &QAbstractButton::clicked, this, [this, n = count] { on_split(n); });
    connect_export_controls();
    connect_recovery_controls();
    create_disk_controls();
    apply_disk_buttons();
}

void MainWindow::place_controls() {
    display_widget_->setGeometry(kDisplayRect);
    const int panel_width = 4 * kSmall + 3 * kGap + kSmall + kGap;
    // The clock across the panel, the speed and mode right under it on the same colour.
    osd_->setGeometry(kPanelLeft, kDisplayRect.top(), panel_width, 26);
    transport_->setGeometry(kPanelLeft, kDisplayRect.top() + 26, panel_width, 18);
    volume_bar_->setGeometry(kPanelLeft + kSmall + kGap, 74 + 3 * (kSmall + kGap) + 24 + 6,
                             3 * kSmall + 2 * kGap + kSmall + kGap, kSmall - 12);
    message_->setGeometry(kPanelLeft, kDisplayRect.bottom() - 60, 4 * kSmall + 3 * kGap + kSmall + kGap, 60);
    timeline_->setGeometry(kDisplayRect.left(), kDisplayRect.bottom() + 6, kDisplayRect.width(), 44);
    scale_text_->setGeometry(kDisplayRect.left(), kDisplayRect.bottom() + 52, kDisplayRect.width(), 18);
    place_calendar();
}

// The log buttons exist for recorder disks only; marks and transport need a session.
void MainWindow::apply_disk_buttons() {
    const bool ready = disk_.ready();
    set_log_buttons();
    for (int id : {kIdPlay, kIdFastForward, kIdRewind, kIdFrameForward, kIdFrameBack,
                   kIdMinuteForward, kIdMinuteBack, kIdMarkIn, kIdMarkOut, kIdRecord,
                   kIdCapture, kIdRecoveredVideo})
        buttons_[id]->setEnabled(ready);
    apply_export_buttons();
    set_split_offers();
}

// Split9 needs 8 channels and Split16 needs 16; 4 splits need 4.
void MainWindow::set_split_offers() {
    const int channels = disk_.ready() ? disk_.display_channels : 16;
    buttons_[kIdSplit4]->setEnabled(channels >= 4);
    buttons_[kIdSplit9]->setEnabled(channels >= 8);
    buttons_[kIdSplit16]->setEnabled(channels >= 16);
}

// The keys are the window's actions; what reaches this handler is a key no action took. Escape
// must not close the player: only Exit ends the program.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    DialogFrame::keyPressEvent(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // Dragging the window by its body is for the normal window only.
    if (full_monitor_ && event->button() == Qt::LeftButton)
        return;
    DialogFrame::mousePressEvent(event);
}

uint32_t MainWindow::armed_channels() const { return bridge_ ? bridge_->armed() : 0; }

QString MainWindow::osd_text() const { return osd_->text(); }
QString MainWindow::transport_text() const { return transport_->text(); }
QString MainWindow::message_text() const { return message_->text(); }
int32_t MainWindow::ui_mode() const { return player_->mode(); }
uint32_t MainWindow::current_time() const { return player_->time(); }
uint32_t MainWindow::selected_day() const { return player_->day(); }
bool MainWindow::no_picture() const { return !player_->has_picture(); }
void MainWindow::set_clock(std::function<int64_t()> clock) { player_->set_clock(std::move(clock)); }

} // namespace ui
