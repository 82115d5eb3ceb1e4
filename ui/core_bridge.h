// The one place where the playback thread meets the window. The engine calls the two callbacks
// on its own thread with the API lock held, so they only post messages, hand frames to the
// display or to a running export, and touch the armed-channel mask; they never call the API,
// which would deadlock on that lock.
#pragma once

#include <atomic>
#include <cstdint>

#include <QObject>

#include "playback/display_control.h"

namespace ui {

class CoreBridge {
public:
    // Messages go to `receiver` (the player controller), frames to `display`. The bridge becomes
    // the one the callbacks reach; the previous one, if any, is replaced.
    CoreBridge(QObject* receiver, DisplayControl* display);
    ~CoreBridge();
    CoreBridge(const CoreBridge&) = delete;
    CoreBridge& operator=(const CoreBridge&) = delete;

    // The callbacks to give api_init.
    static void frame_callback(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                               int32_t length, int32_t kind, uint32_t picture_size);
    static void status_callback(int32_t code, int32_t slot);

    // Slots at or above the display channel count carry audio.
    void set_display_channels(int32_t count) { display_channels_.store(count); }
    // A channel passes its frames to the display from its first key frame after the mask was
    // cleared on: frames before it would decode from references of another time.
    void clear_armed() { armed_.store(0); }
    uint32_t armed() const { return armed_.load(); }
    // Every message carries the generation it was posted in; a restart starts a new one, so
    // that the receiver can drop what the engine said about the time before.
    void set_generation(uint32_t generation) { generation_.store(generation); }
    uint32_t generation() const { return generation_.load(); }
    // While an export runs, frames and status go to it and nowhere else.
    void set_export_running(bool running) { export_running_.store(running); }
    bool export_running() const { return export_running_.load(); }

private:
    void on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
                  int32_t kind, uint32_t picture_size);
    void on_status(int32_t code, int32_t slot);
    void post_frame_time(uint32_t time);

    QObject* receiver_;
    DisplayControl* display_;
    std::atomic<int32_t> display_channels_{16};
    std::atomic<uint32_t> armed_{0};
    std::atomic<uint32_t> generation_{0};
    std::atomic<bool> export_running_{false};
};

} // namespace ui
