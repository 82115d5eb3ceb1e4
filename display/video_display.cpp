#include "display/video_display.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>

#include "decode/decode_errors.h"
#include "display/capture.h"
#include "display/tile_layout.h"
#include "display/tile_painter.h"

namespace display {

VideoDisplay::VideoDisplay(QWidget* parent, int decode_threads)
    : QWidget(parent), core_(decode_threads), audio_(std::make_unique<AudioOutput>(&core_.audio())) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, 48);
    refresh_timer_.setTimerType(Qt::PreciseTimer);
    connect(&refresh_timer_, &QTimer::timeout, this, &VideoDisplay::refresh);
    refresh_timer_.start(1000 / kRefreshHz);
    apply_view();
}

VideoDisplay::~VideoDisplay() {
    refresh_timer_.stop();
    core_.stop();
}

void VideoDisplay::set_owner(uintptr_t window) { owner_ = window; }

int32_t VideoDisplay::set_title(std::string_view title) {
    title_ = title;
    return 0;
}

int32_t VideoDisplay::set_version(std::string_view version) {
    version_ = version;
    return 0;
}

// The start-up set-up and the export dialog's two calls carry nothing the display needs.
void VideoDisplay::set_up(int32_t, int32_t) {}
void VideoDisplay::export_closed(int32_t, int32_t) {}
int32_t VideoDisplay::export_closed_reset(int32_t, int32_t, int32_t, std::string_view, int32_t,
                                          int32_t, int32_t) {
    return 0;
}

void VideoDisplay::set_layout(int32_t channel, int32_t splits) {
    view_.set_layout(channel, splits);
    view_changed();
}

int32_t VideoDisplay::selected_channel() const { return view_.selected(); }

void VideoDisplay::frame(const uint8_t* bytes, uint32_t seconds, uint32_t milliseconds,
                         DisplayFrameKind kind, uint32_t length, uint32_t picture_size,
                         int32_t channel) {
    // Playback thread: the core only copies; nothing of the widget is touched here.
    core_.frame(bytes, seconds, milliseconds, kind, length, picture_size, channel);
}

void VideoDisplay::clear() {
    core_.clear();
    dirty_ = true;
}

void VideoDisplay::set_volume(int32_t volume) { audio_->set_volume(volume); }

int32_t VideoDisplay::capture(const std::string& path) {
    return capture_channel(core_.channel(view_.selected()), path);
}

ChannelStats VideoDisplay::channel_stats(int channel) const {
    if (channel < 0 || channel >= kChannels) return {};
    return core_.channel(channel).stats();
}

bool VideoDisplay::has_picture(int channel) const {
    if (channel < 0 || channel >= kChannels) return false;
    return core_.channel(channel).with_picture([](const decode::RgbImage&) {});
}

QSize VideoDisplay::picture_size(int channel) const {
    QSize size;
    if (channel < 0 || channel >= kChannels) return size;
    core_.channel(channel).with_picture(
        [&](const decode::RgbImage& image) { size = QSize(image.width(), image.height()); });
    return size;
}

decode::FrameTime VideoDisplay::picture_time(int channel) const {
    decode::FrameTime time;
    if (channel < 0 || channel >= kChannels) return time;
    core_.channel(channel).with_picture([&](const decode::RgbImage& image) { time = image.time; });
    return time;
}

void VideoDisplay::view_changed() {
    apply_view();
    dirty_ = true;
}

// Tells every channel the size it is shown at. Channels off screen only decode; small tiles
// skip the loop filter, except the selected channel, whose picture a capture may save.
void VideoDisplay::apply_view() {
    const int selected = view_.selected();
    core_.set_heard_audio(selected < kAudioChannels ? selected : -1);
    const qreal dpr = devicePixelRatioF();  // a tile's device pixels, on high-density screens
    for (int c = 0; c < kChannels; ++c) {
        const int tile = view_.tile_of_channel(c);
        uint32_t target = kTargetHidden;
        if (tile >= 0 && view_.single()) {
            target = kTargetDecodedSize;
        } else if (tile >= 0) {
            const QRect r = tile_rect(size(), view_.splits(), tile);
            const int width = std::min(static_cast<int>(r.width() * dpr), decode::kMaxPictureSide);
            const int height = std::min(static_cast<int>(r.height() * dpr), decode::kMaxPictureSide);
            if (width > 0 && height > 0) target = pack_size(width, height);
        }
        const bool skip = !view_.single() && c != selected;
        core_.channel(c).set_view(target, skip);
    }
}

void VideoDisplay::refresh() {
    audio_->pump();
    if (core_.take_changed()) dirty_ = true;
    if (!dirty_) return;
    dirty_ = false;
    update();
}

void VideoDisplay::paintEvent(QPaintEvent*) {
    const auto started = std::chrono::steady_clock::now();
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, view_.single());
    const int tiles = view_.splits();
    for (int i = 0; i < tiles; ++i) {
        TilePaint tile;
        tile.rect = tile_rect(size(), tiles, i);
        tile.channel = view_.channel_of_tile(i);
        tile.selected = tile.channel == view_.selected();
        tile.time_format = time_format_;
        tile.overlay = overlay_;
        if (view_.single()) tile.source = view_.source();
        if (tile.channel < 0) {
            painter.fillRect(tile.rect, Qt::black);
            continue;
        }
        paint_tile(painter, tile, core_.channel(tile.channel));
    }
    if (!view_.single()) {
        painter.setPen(QColor(64, 64, 64));
        for (int i = 0; i < tiles; ++i) {
            const QRect r = tile_rect(size(), tiles, i);
            if (view_.channel_of_tile(i) != view_.selected()) painter.drawRect(r.adjusted(0, 0, -1, -1));
        }
    }
    ++paints_;
    paint_seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void VideoDisplay::resizeEvent(QResizeEvent*) { view_changed(); }

void VideoDisplay::set_time_format(int32_t format) {
    time_format_ = format >= 0 && format <= 5 ? format : 0;
    dirty_ = true;
    update();
}

void VideoDisplay::set_overlay_place(OverlayPlace place) {
    overlay_ = place;
    dirty_ = true;
    update();
}

void VideoDisplay::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    drag_from_ = event->position();
    const int before = view_.selected();
    view_.click(tile_at(size(), view_.splits(), event->position().toPoint()));
    if (view_.selected() != before) view_changed();
}

void VideoDisplay::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !view_.single() || view_.zoom() <= 1.0) return;
    view_.pan(event->position() - drag_from_, QSizeF(size()));
    drag_from_ = event->position();
    dirty_ = true;
}

void VideoDisplay::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    view_.double_click(tile_at(size(), view_.splits(), event->position().toPoint()));
    view_changed();
}

void VideoDisplay::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (view_.wheel(steps)) dirty_ = true;
    event->accept();
}

}  // namespace display
