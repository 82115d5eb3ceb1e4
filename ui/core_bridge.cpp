#include "ui/core_bridge.h"

#include "export/backup_job.h"
#include "storage/api.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

// The callbacks are plain function pointers, so the bridge they reach is held here; it is set
// and cleared on the UI thread while the engine is not yet or no longer calling.
std::atomic<CoreBridge*>& current() {
    static std::atomic<CoreBridge*> bridge{nullptr};
    return bridge;
}

} // namespace

CoreBridge::CoreBridge(QObject* receiver, DisplayControl* display)
    : receiver_(receiver), display_(display) {
    current().store(this);
}

CoreBridge::~CoreBridge() {
    CoreBridge* self = this;
    current().compare_exchange_strong(self, nullptr);
}

void CoreBridge::frame_callback(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                                int32_t length, int32_t kind, uint32_t picture_size) {
    if (CoreBridge* bridge = current().load())
        bridge->on_frame(slot, time, msec, data, length, kind, picture_size);
}

void CoreBridge::status_callback(int32_t code, int32_t slot) {
    if (CoreBridge* bridge = current().load())
        bridge->on_status(code, slot);
}

void CoreBridge::on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                          int32_t length, int32_t kind, uint32_t picture_size) {
    if (export_running_.load()) {
        BackupJob::frame_callback(slot, time, msec, data, length, kind, picture_size);
        return;
    }
    if (slot < 0 || slot >= kPlaybackSlots || length < 0 || display_ == nullptr)
        return;
    const int32_t channels = display_channels_.load();
    const auto ms = static_cast<uint32_t>(msec < 0 ? 0 : msec);
    if (slot >= channels) {
        display_->frame(data, time, ms, DisplayFrameKind::Audio, static_cast<uint32_t>(length), 0,
                        slot - channels);
    } else {
        // The display was cleared before the restart that cleared the mask, so a channel's
        // first key frame since is clean and is shown, not only used to arm the channel.
        if ((armed_.load() & (1u << slot)) == 0 && picture_size != 0)
            armed_.fetch_or(1u << slot);
        if ((armed_.load() & (1u << slot)) == 0)
            return post_frame_time(time);
        const DisplayFrameKind shown =
            kind == FRAME_KIND_PREROLL ? DisplayFrameKind::Preroll : DisplayFrameKind::Video;
        display_->frame(data, time, ms, shown, static_cast<uint32_t>(length), picture_size, slot);
        // A frame decoded only for the one after it is never on screen: the clock waits for it.
        if (kind == FRAME_KIND_PREROLL)
            return;
    }
    post_frame_time(time);
}

void CoreBridge::post_frame_time(uint32_t time) {
    post_message(receiver_, kMsgFrameTime, generation_.load(), static_cast<intptr_t>(time));
}

void CoreBridge::on_status(int32_t code, int32_t slot) {
    // An export lists the spans it could not read in its report.
    if (code == PLAYBACK_STATUS_READ_ERROR) {
        if (export_running_.load())
            BackupJob::status_callback(code, slot);
        else
            post_message(receiver_, kMsgReadError, generation_.load(), slot);
        return;
    }
    if (code != PLAYBACK_STATUS_NO_DATA && code != PLAYBACK_STATUS_END &&
        code != PLAYBACK_STATUS_BEGINNING)
        return;
    if (export_running_.load()) {
        BackupJob::status_callback(code, slot);
        return;
    }
    if (slot == -1)
        post_message(receiver_, kMsgStop, generation_.load());
}

} // namespace ui
