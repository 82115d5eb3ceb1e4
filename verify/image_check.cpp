#include "verify/image_check.h"

#include <deque>

extern "C" {
#include <libavformat/avformat.h>
}

#include "export/export_report.h"
#include "playback/record_format.h"
#include "storage/api.h"
#include "verify/gop_record.h"
#include "verify/media_input.h"

namespace verify {
namespace {

// Stored frames a file may leave out between two it holds: those beyond the frame rate of a
// second. A frame not found this far ahead is not in the image.
constexpr size_t kLookAhead = 256;

// The frames of the listed GOPs in order, read from the image as they are needed.
class ImageFrames {
public:
    ImageFrames(platform::Drive& image, const std::vector<SourceLine>& sources)
        : image_(image), sources_(sources) {}

    // Frame `ahead` places after the cursor; nullptr past the last GOP or on a bad GOP (then
    // failure() says why).
    const std::vector<uint8_t>* at(size_t ahead) {
        while (frames_.size() <= ahead && failure_.empty() && next_ < sources_.size()) load(sources_[next_++]);
        return ahead < frames_.size() ? &frames_[ahead] : nullptr;
    }
    void advance(size_t n) { frames_.erase(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(n)); }
    const std::string& failure() const { return failure_; }

private:
    void load(const SourceLine& s) {
        const std::string where = "sources line " + std::to_string(s.line) + ": ";
        uint64_t total = 0;
        for (const ImageRange& r : s.ranges) total += r.length;
        if (total != s.gop_length || s.gop_length > static_cast<uint32_t>(kMaxGopLength) ||
            s.ranges.size() > static_cast<size_t>(kGopSourceRanges)) {
            failure_ = where + "the ranges do not hold a GOP of " + std::to_string(s.gop_length) + " bytes";
            return;
        }
        std::vector<uint8_t> record(s.gop_length);
        size_t at = 0;
        for (const ImageRange& r : s.ranges) {
            if (image_.read_at(r.offset, record.data() + at, r.length) != static_cast<int64_t>(r.length)) {
                failure_ = where + "the image cannot be read at byte " + std::to_string(r.offset);
                return;
            }
            at += r.length;
        }
        GopFrames gop;
        std::string error;
        if (parse_gop_record(record, &gop, &error) != 0) {
            failure_ = where + "the image holds no such GOP there (" + error + ")";
            return;
        }
        if (export_time_text(gop.time) != s.time_text || gop.milliseconds != s.milliseconds ||
            gop.frames.size() != s.frame_count) {
            failure_ = where + "the GOP in the image is another one (" + export_time_text(gop.time) + ")";
            return;
        }
        for (auto& f : gop.frames) frames_.push_back(std::move(f));
    }

    platform::Drive& image_;
    const std::vector<SourceLine>& sources_;
    size_t next_ = 0;
    std::deque<std::vector<uint8_t>> frames_;
    std::string failure_;
};

bool same(const AVPacket& p, const std::vector<uint8_t>& frame) {
    return frame.size() == static_cast<size_t>(p.size) &&
           std::equal(frame.begin(), frame.end(), p.data);
}

}  // namespace

int check_against_image(platform::Drive& image, const std::string& media,
                        const std::vector<SourceLine>& sources, ImageCheck* out, std::string* error) {
    MediaInput in;
    if (in.open(media, error) != 0) return -1;
    const int video = av_find_best_stream(in.context(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        *error = "no video stream in " + media;
        return -1;
    }
    AVPacket* pkt = av_packet_alloc();
    if (pkt == nullptr) {
        *error = "out of memory";
        return -1;
    }
    ImageFrames frames(image, sources);
    *out = ImageCheck{};
    uint64_t packet = 0;
    while (out->detail.empty() && av_read_frame(in.context(), pkt) >= 0) {
        // Empty frames keep the frame rate: they hold nothing of the recording.
        if (pkt->stream_index == video && pkt->size > 0) {
            size_t k = 0;
            const std::vector<uint8_t>* f = nullptr;
            while (k < kLookAhead && (f = frames.at(k)) != nullptr && !same(*pkt, *f)) ++k;
            if (f != nullptr && k < kLookAhead) {
                frames.advance(k + 1);
                ++out->frames;
            } else if (!frames.failure().empty()) {
                out->detail = frames.failure();
            } else {
                out->detail = "stored frame " + std::to_string(packet + 1) + " (" +
                              std::to_string(pkt->size) + " bytes) is not in the image's GOPs";
            }
            ++packet;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    out->match = out->detail.empty();
    return 0;
}

}  // namespace verify
