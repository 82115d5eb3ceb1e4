// still: for each channel, the first picture at or after a time, decoded as the display decodes
// it, saved as BMP or JPEG.
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "decode/channel_decoder.h"
#include "decode/rgb_converter.h"
#include "export/still_capture.h"
#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

// Recorded seconds a channel may take to show a picture at or after the time asked for.
constexpr uint32_t kSearchSeconds = 60;

struct Picture {
    bool done = false;    // saved below, or given up
    bool found = false;
    int width = 0, height = 0;
    decode::FrameTime time;
    std::vector<uint8_t> rgb;  // top-down rows of width * 3 bytes
};

// The callbacks run on the playback thread with the API lock held: each channel's frames are
// decoded there, in order, until its picture is found.
struct Search {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t mask = 0;
    uint32_t from = 0;
    bool ended = false;  // the engine has nothing more to play
    std::array<std::unique_ptr<decode::ChannelDecoder>, kVideoChannels> decoders;
    std::array<Picture, kVideoChannels> pictures;
    decode::RgbConverter converter;
};

Search& search() {
    static Search s;
    return s;
}

bool all_done(const Search& s) {
    for (int c = 0; c < kVideoChannels; ++c) {
        if ((s.mask & (1u << c)) && !s.pictures[c].done) return false;
    }
    return true;
}

void keep_picture(Search& s, Picture& p, const decode::DecodedPicture& decoded) {
    p.rgb.assign(static_cast<size_t>(decoded.width) * decoded.height * 3, 0);
    decode::RgbTarget target{p.rgb.data(), decoded.width, decoded.height, decoded.width * 3,
                             decode::RgbFormat::Rgb24};
    if (s.converter.convert(decoded, target, decode::Scaling::Exact) != 0) return;
    p.found = true;
    p.width = decoded.width;
    p.height = decoded.height;
    p.time = decoded.time;
}

void on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
              int32_t kind, uint32_t picture_size) {
    Search& s = search();
    if (kind != 0 || slot < 0 || slot >= kVideoChannels || length <= 0) return;
    std::lock_guard<std::mutex> guard(s.mutex);
    Picture& p = s.pictures[slot];
    if (!(s.mask & (1u << slot)) || p.done) return;
    if (time > s.from + kSearchSeconds) {
        p.done = true;  // nothing at or after the time within the search
    } else if (s.decoders[slot]->decode(data, static_cast<size_t>(length), picture_size,
                                        {time, static_cast<uint32_t>(msec % 1000)}) == 1) {
        const decode::DecodedPicture* decoded = s.decoders[slot]->picture();
        if (decoded != nullptr && decoded->time.seconds >= s.from) {
            keep_picture(s, p, *decoded);
            p.done = true;
        }
    }
    s.changed.notify_all();
}

void on_status(int32_t code, int32_t) {
    if (code != PLAYBACK_STATUS_NO_DATA) return;
    Search& s = search();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.ended = true;
    s.changed.notify_all();
}

// "shot.jpg" for one channel; "shot_CH03.jpg" and so on for several.
std::string path_for(const std::string& out, int channel, bool several) {
    if (!several) return out;
    const size_t slash = out.find_last_of('/');
    size_t dot = out.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = out.size();
    char tag[8];
    std::snprintf(tag, sizeof tag, "_CH%02d", channel % 100);
    return out.substr(0, dot) + tag + out.substr(dot);
}

bool wants_jpeg(const StillOptions& o) {
    if (!o.format.empty()) return o.format == "jpeg" || o.format == "jpg";
    std::string lower = o.out;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return lower.ends_with(".jpg") || lower.ends_with(".jpeg");
}

}  // namespace

int run_still(const GlobalOptions& options, const SessionOptions& session, const StillOptions& o) {
    const auto mask = parse_channel_list(o.channels);
    if (!mask) return usage_error("--channels " + o.channels + ": expected video channels 1..16");
    const auto at = parse_time(o.time);
    if (!at) return usage_error("--time " + o.time + ": expected YYYY-MM-DD HH:MM:SS");
    if (!o.format.empty() && o.format != "bmp" && o.format != "jpeg" && o.format != "jpg")
        return usage_error("--format " + o.format + ": expected bmp or jpeg");

    Search& s = search();
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        s.mask = *mask;
        s.from = *at;
        s.ended = false;
        for (int c = 0; c < kVideoChannels; ++c) {
            s.decoders[c] = std::make_unique<decode::ChannelDecoder>();
            s.pictures[c] = Picture{};
        }
    }
    SessionScope scope;
    if (int rc = scope.open(session, on_frame, on_status); rc != kExitOk) return rc;
    api_set_no_pacing(1);
    if (api_set_channel_mask(*mask) < 0 || api_play_from(*at) < 0 ||
        api_set_play_mode(PM_PLAY) < 0) {
        return fail("the engine refused the channels or the time");
    }
    {
        std::unique_lock<std::mutex> guard(s.mutex);
        s.changed.wait(guard, [&] { return s.ended || all_done(s); });
    }
    api_set_play_mode(PM_STOP);
    api_set_channel_mask(0);

    const bool jpeg = wants_jpeg(o);
    const bool several = (*mask & (*mask - 1)) != 0;
    Json files = Json::array();
    std::lock_guard<std::mutex> guard(s.mutex);
    for (int c = 0; c < kVideoChannels; ++c) {
        if (!(*mask & (1u << c))) continue;
        const Picture& p = s.pictures[c];
        if (!p.found) {
            return fail("channel " + std::to_string(c + 1) + " shows no picture within " +
                        std::to_string(kSearchSeconds) + " s of recording from " + o.time);
        }
        const std::string path = path_for(o.out, c + 1, several);
        if (const std::string evidence = drive_under(path); !evidence.empty())
            return fail("still: " + path + " is the evidence " + evidence + "; choose another file");
        // A file already there is never replaced: the still goes to "name (2).jpg", ...
        std::string error, written;
        const int32_t rc = jpeg ? still_save_jpeg(path, p.rgb.data(), p.width, p.height,
                                                  kStillJpegQuality, &written, &error)
                                : still_save_bmp(path, p.rgb.data(), p.width, p.height, &written,
                                                 &error);
        if (rc != 0) return fail("still: " + error);
        Json f{{"channel", c + 1}, {"path", written}, {"width", p.width}, {"height", p.height}};
        put_time(f, "time", p.time.seconds);
        f["ms"] = p.time.ms;
        files.push_back(std::move(f));
    }
    emit(options.json, Json{{"files", std::move(files)}}, [](const Json& doc, std::ostream& out) {
        for (const Json& f : doc["files"]) {
            out << "channel " << f["channel"].get<int>() << ": " << f["path"].get<std::string>()
                << " (" << f["width"].get<int>() << "x" << f["height"].get<int>() << ", "
                << f["time_text"].get<std::string>() << "." << f["ms"].get<int>() << ")\n";
        }
    });
    return scope.finish(kExitOk);
}

}  // namespace cli
