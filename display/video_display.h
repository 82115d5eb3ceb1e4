// The video display: a widget that shows up to sixteen channels in 1, 4, 9 or 16 splits, plays
// the selected channel's sound and captures its picture. The window reaches it only through
// DisplayControl. Frames arrive on the playback thread and are only queued there; workers
// decode and convert them; the widget paints the cached images once per refresh.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "display/audio_output.h"
#include "display/display_core.h"
#include "display/view_state.h"
#include "playback/display_control.h"

namespace display {

// Repaints per second at most: the frame rate of PAL cameras; NTSC's 30 lose one picture in
// six on screen, never in decoding.
inline constexpr int kRefreshHz = 25;

class VideoDisplay : public QWidget, public DisplayControl {
    Q_OBJECT
public:
    explicit VideoDisplay(QWidget* parent = nullptr, int decode_threads = decode_thread_count());
    ~VideoDisplay() override;

    // DisplayControl.
    void set_owner(uintptr_t window) override;
    int32_t set_title(std::string_view title) override;
    int32_t set_version(std::string_view version) override;
    void set_up(int32_t first, int32_t second) override;
    void set_layout(int32_t channel, int32_t splits) override;
    int32_t selected_channel() const override;
    void frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds, DisplayFrameKind kind,
               uint32_t length, uint32_t picture_size, int32_t channel) override;
    void clear() override;
    void set_volume(int32_t volume) override;
    int32_t capture(const std::string& path) override;
    void set_time_format(int32_t format) override;
    void set_overlay_place(OverlayPlace place) override;
    void export_closed(int32_t first, int32_t second) override;
    int32_t export_closed_reset(int32_t a, int32_t b, int32_t c, std::string_view text, int32_t d,
                                int32_t e, int32_t f) override;

    // For tests and the bench.
    const ViewState& view() const { return view_; }
    ChannelStats channel_stats(int channel) const;
    bool has_picture(int channel) const;
    // Size and recorder time of the picture a channel shows; an empty size when none.
    QSize picture_size(int channel) const;
    decode::FrameTime picture_time(int channel) const;
    size_t audio_backlog() const { return core_.audio().size(); }
    const AudioOutput& audio() const { return *audio_; }
    uint64_t paints() const { return paints_; }
    // Time spent in paint events so far.
    double paint_seconds() const { return paint_seconds_; }
    const std::string& title() const { return title_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void refresh();
    void view_changed();
    void apply_view();

    DisplayCore core_;
    ViewState view_;
    std::unique_ptr<AudioOutput> audio_;
    QTimer refresh_timer_;
    QPointF drag_from_;
    bool dirty_ = true;
    uint64_t paints_ = 0;
    double paint_seconds_ = 0;
    uintptr_t owner_ = 0;
    int time_format_ = 0;
    OverlayPlace overlay_ = OverlayPlace::Top;
    std::string title_;
    std::string version_;
};

}  // namespace display
