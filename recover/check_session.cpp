// The check of a whole session: its video channels, then its audio channels, with the totals.
#include <mutex>

#include "disk/disk.h"
#include "recover/check.h"
#include "storage/api.h"
#include "storage/api_state.h"

namespace recover {
namespace {

// The video and audio channel files of the selected volume, as the storage layer places them.
std::vector<ChannelCheck> channels_of_session() {
    std::vector<ChannelCheck> list;
    const int32_t count = backup_channel_count();
    const int32_t shown = api_display_channels();
    // Counts 27 and 29 hold 16 video channels, count 15 holds 4; a channel the count does not
    // reach is not there to check.
    const int video = count == 15 ? 4 : kVideoChannels;
    for (int i = 0; i < video && 3 + i < count - 3; ++i) {
        ChannelCheck c;
        c.channel = 3 + i;
        c.number = i + 1;
        list.push_back(c);
    }
    for (int i = 0; i < kAudioChannels; ++i) {
        const int32_t channel = audio_channel_of(i, count, shown < 0 ? video : shown);
        if (channel < 3 || channel >= count - 3) continue;
        ChannelCheck c;
        c.channel = channel;
        c.audio = true;
        c.number = i + 1;
        list.push_back(c);
    }
    return list;
}

}  // namespace

int32_t check_session(CheckProgress* progress, CheckReport* report) {
    *report = CheckReport{};
    uint64_t total = 0;
    {
        std::lock_guard<std::mutex> guard(api_state().lock);
        if (backup_selected_volume() == nullptr) return DVR_ENOTMOUNTED;
        report->channels = channels_of_session();
        for (const ChannelCheck& c : report->channels) total += backup_channel_size(c.channel);
    }
    uint64_t done = 0;
    int32_t rc = 0;
    for (ChannelCheck& c : report->channels) {
        rc = check_channel(progress, done, total, &c);
        report->records += c.records;
        report->bytes += c.bytes;
        report->failures += c.spans.size();
        if (rc != 0) break;
        std::lock_guard<std::mutex> guard(api_state().lock);
        done += backup_channel_size(c.channel);
    }
    if (rc == 0 && progress != nullptr) progress->progress(total, total);
    return rc;
}

}  // namespace recover
