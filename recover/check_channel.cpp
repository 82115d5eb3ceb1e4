// The check of one channel: its records from the head of the stored data to the tail, each
// header, body and trailer read and checked; damage is followed to the next readable record.
#include <mutex>
#include <optional>
#include <vector>

#include "disk/disk.h"
#include "playback/record_format.h"
#include "recover/check.h"
#include "recover/check_reader.h"
#include "recover/check_record.h"
#include "storage/api_state.h"

namespace recover {
namespace {

// Progress is reported at most once per this many bytes.
constexpr uint64_t kProgressStep = 1 << 20;

class ChannelWalk {
public:
    ChannelWalk(int32_t fd, uint64_t size, uint32_t session_start, CheckProgress* progress,
                uint64_t done_before, uint64_t total, ChannelCheck* out)
        : reader_(fd, size, [this](uint64_t at) { return keep_going(at); }),
          session_start_(session_start),
          progress_(progress),
          done_before_(done_before),
          total_(total),
          out_(out),
          buffer_(static_cast<size_t>(kMaxGopLength) + kTrailerSize) {}

    int32_t run() {
        uint64_t at = 0;
        for (;;) {
            if (!keep_going(at)) return stop(at);
            const std::optional<uint64_t> next = step(at);
            if (stopped_) return stop(at);
            if (!next) break;
            at = *next;
        }
        close_span(end_, 0, true);
        return 0;
    }

private:
    // Checks the record at `at`; the offset to go on from, or none at the end.
    std::optional<uint64_t> step(uint64_t at) {
        const bool audio = out_->audio;
        const int32_t header_size = record_header_size(audio);
        CheckReader::Result r = reader_.read(at, buffer_.data(), header_size);
        if (r.error < 0) return damaged(at, CheckFault::ReadFailure, r.error, 0, at + 1);
        if (r.got < header_size) {
            if (r.got > 0) open_span(at, CheckFault::BadLength, 0, 0);
            return finish(at + static_cast<uint64_t>(r.got));
        }
        const RecordHead head = read_record_head(audio, buffer_.data());
        if (head.end_mark) return finish(at);
        if (!head.good) return damaged(at, head.fault, 0, 0, at + 1);

        const auto rest = static_cast<int32_t>(head.length) - header_size + kTrailerSize;
        const uint64_t body = at + static_cast<uint64_t>(header_size);
        r = reader_.read(body, buffer_.data(), rest);
        if (r.error < 0) {
            return damaged(at, CheckFault::ReadFailure, r.error, head.time,
                           body + static_cast<uint64_t>(r.got));
        }
        if (r.got < rest) {
            open_span(at, CheckFault::BadLength, 0, head.time);
            return finish(body + static_cast<uint64_t>(r.got));
        }
        if (!record_trailer_matches(buffer_.data() + rest - kTrailerSize, head.length)) {
            return damaged(at, CheckFault::BadTrailer, 0, head.time, at + 1);
        }
        readable(at, head);
        return at + head.length + kTrailerSize;
    }

    void readable(uint64_t at, const RecordHead& head) {
        close_span(at, head.time, false);
        ++out_->records;
        out_->bytes += head.length + kTrailerSize;
        if (head.time != 0) {
            if (out_->first_time == 0) out_->first_time = head.time;
            out_->last_time = head.time;
            last_time_ = head.time;
        }
    }

    // Opens a span at `at` unless one is open, and goes on at the next start bits from
    // `search_from`.
    std::optional<uint64_t> damaged(uint64_t at, CheckFault fault, int32_t error, uint32_t time,
                                    uint64_t search_from) {
        open_span(at, fault, error, time);
        const CheckReader::Found f = reader_.find_start_bits(search_from);
        if (f.stopped) {
            stopped_ = true;
            return std::nullopt;
        }
        if (!f.found) return finish(f.offset);
        return f.offset;
    }

    void open_span(uint64_t at, CheckFault fault, int32_t error, uint32_t time) {
        if (span_) return;
        UnreadableSpan s;
        s.fault = fault;
        s.error = error;
        // A damaged record whose header still names a time begins the span there.
        s.from_time = time != 0 && time >= last_time_ ? time
                      : last_time_ != 0               ? last_time_
                                                      : session_start_;
        s.channel_offset = at;
        s.image_offset = reader_.image_offset(at);
        span_ = s;
    }

    std::optional<uint64_t> finish(uint64_t end) {
        end_ = end;
        return std::nullopt;
    }

    void close_span(uint64_t end, uint32_t next_time, bool at_end) {
        if (!span_) return;
        UnreadableSpan s = *span_;
        span_.reset();
        s.bytes = end > s.channel_offset ? end - s.channel_offset : 0;
        s.to_time = next_time;
        s.image_end = at_end ? 0 : reader_.image_offset(end);
        out_->spans.push_back(s);
    }

    bool keep_going(uint64_t at) {
        if (progress_ == nullptr) return true;
        if (at >= reported_ + kProgressStep || at < reported_) {
            reported_ = at;
            progress_->progress(done_before_ + at, total_);
        }
        if (progress_->cancelled()) stopped_ = true;
        return !stopped_;
    }

    int32_t stop(uint64_t at) {
        close_span(at, 0, true);
        return CHECK_ECANCELED;
    }

    CheckReader reader_;
    uint32_t session_start_;
    CheckProgress* progress_;
    uint64_t done_before_;
    uint64_t total_;
    ChannelCheck* out_;
    std::vector<uint8_t> buffer_;
    std::optional<UnreadableSpan> span_;
    uint32_t last_time_ = 0;
    uint64_t end_ = 0;
    uint64_t reported_ = 0;
    bool stopped_ = false;
};

// A channel that cannot be opened is unreadable from the session's start to its end.
void unopenable(int32_t error, uint32_t session_start, ChannelCheck* out) {
    out->open_error = error;
    UnreadableSpan s;
    s.fault = CheckFault::ReadFailure;
    s.error = error;
    s.from_time = session_start;
    out->spans.push_back(s);
}

}  // namespace

int32_t check_channel(CheckProgress* progress, uint64_t done_before, uint64_t total,
                      ChannelCheck* out) {
    int32_t fd;
    uint64_t size;
    uint32_t session_start = 0;
    {
        std::lock_guard<std::mutex> guard(api_state().lock);
        const VolumeRecord* v = backup_selected_volume();
        if (v == nullptr) return DVR_ENOTMOUNTED;
        session_start = v->oldest;
        size = backup_channel_size(out->channel);
        if (size == 0) {
            out->empty = true;
            return 0;
        }
        fd = backup_open(out->channel);
    }
    if (fd < 0) {
        unopenable(fd, session_start, out);
        return 0;
    }
    ChannelWalk walk(fd, size, session_start, progress, done_before, total, out);
    const int32_t rc = walk.run();
    std::lock_guard<std::mutex> guard(api_state().lock);
    backup_close(fd);
    return rc;
}

}  // namespace recover
