// recover_export: each recovered run through a channel writer of its own, one run after the
// other, and the report of what was written.
#include "recover/recovered_export.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "export/avi_writer.h"
#include "export/channel_writer.h"
#include "export/export_report.h"
#include "playback/record_format.h"
#include "recover/recovered_frames.h"
#include "storage/api.h"

namespace recover {
namespace {

constexpr uint32_t kMuLawTag = 7;
constexpr int32_t kMuLawKbitRate = 64;

class ExportProgress {
public:
    ExportProgress(RecoveryProgress* progress, uint64_t total) : progress_(progress), total_(total) {}
    void add(uint64_t bytes) {
        done_ += bytes;
        if (progress_ != nullptr) progress_->progress(done_, total_);
    }
    bool cancelled() const { return progress_ != nullptr && progress_->cancelled(); }

private:
    RecoveryProgress* progress_;
    uint64_t total_;
    uint64_t done_ = 0;
};

DateTime date_time(uint32_t time, uint16_t ms) {
    DateTime d{};
    time_to_systemtime(time, &d);
    d.milliseconds = ms;
    return d;
}

bool before(uint32_t time, uint16_t ms, uint32_t other_time, uint16_t other_ms) {
    return time != other_time ? time < other_time : ms <= other_ms;
}

// One run's files: its GOPs' frames, and the audio that plays between them, queued in time order.
class RunWriter {
public:
    RunWriter(const RecoveredRun& run, const RecoveredRecordSource& source)
        : run_(run), source_(source), writer_(std::make_unique<CAVIFile>()) {}

    bool open(const std::string& folder, std::string* error);
    // Queues the GOP's frames; a record that is no longer whole is counted and left out.
    void add_gop(const RecoveredGop& gop);
    ExportFileEntry finish();

private:
    void read_audio();
    void queue_audio_until(uint32_t time, uint16_t ms);

    const RecoveredRun& run_;
    const RecoveredRecordSource& source_;
    std::unique_ptr<CAVIFile> writer_;
    bool pal_ = false;
    std::vector<RecoveredSamples> audio_;
    size_t next_audio_ = 0;
    ExportRecovered recovered_;
};

bool RunWriter::open(const std::string& folder, std::string* error) {
    pal_ = run_.height == 576 || run_.height == 288;
    writer_->set_pal(pal_ ? 1 : 0);
    const std::string prefix = folder + "/" + recovered_file_stem(run_);
    if (writer_->open(prefix) != 1) {
        *error = "cannot create " + prefix + "avi";
        return false;
    }
    avi_out_video_format(writer_->avi(), run_.width, run_.height, frames_per_second(pal_),
                         run_.codec == "h264" ? "h264" : "XVID");
    avi_out_audio_format(writer_->avi(), 1, kAudioBytesPerSecond, 8, kMuLawTag, kMuLawKbitRate);
    writer_->resume();
    recovered_.recovered = true;
    recovered_.stream = run_.stream;
    read_audio();
    return true;
}

void RunWriter::read_audio() {
    if (!source_.audio) return;
    std::vector<uint8_t> record;
    for (const RecoveredAudio& a : run_.audio) {
        if (source_.audio(a, &record) != 0) continue;
        if (auto samples = audio_samples(record)) audio_.push_back(std::move(*samples));
    }
}

void RunWriter::queue_audio_until(uint32_t time, uint16_t ms) {
    for (; next_audio_ < audio_.size(); ++next_audio_) {
        const RecoveredSamples& a = audio_[next_audio_];
        if (!before(a.time, a.ms, time, ms)) return;
        const DateTime when = date_time(a.time, a.ms);
        writer_->queue_audio(a.samples.data(), static_cast<int32_t>(a.samples.size()), &when);
    }
}

void RunWriter::add_gop(const RecoveredGop& gop) {
    std::vector<uint8_t> record;
    const auto frames = source_.gop && source_.gop(gop, &record) == 0 ? gop_frames(record) : std::nullopt;
    if (!frames) {
        ++recovered_.unreadable_gops;
        return;
    }
    for (const RecoveredFrame& f : *frames) {
        ExportRecord r;
        r.kind = kRecordVideo;
        r.time = date_time(f.time, f.ms);
        r.time_stamp = f.time;
        r.key = f.key ? 1 : 0;
        r.length = f.length;
        r.data = const_cast<uint8_t*>(f.data);  // copied into the ring
        writer_->queue_video(&r);
        // After the frame: a second's audio is kept only once the second has a picture.
        queue_audio_until(f.time, f.ms);
    }
    recovered_.gop_ranges.push_back({gop.image_offset, record.size()});
}

ExportFileEntry RunWriter::finish() {
    queue_audio_until(UINT32_MAX, 999);
    writer_->finish();
    const ChannelWriterStats s = writer_->stats();
    ExportFileEntry e;
    e.prefix = writer_->prefix();
    e.fps = frames_per_second(pal_);
    ExportFileCounts& c = e.counts;
    c.stored_frames = s.placement.frames_written;
    c.empty_frames = s.placement.empty_frames;
    c.dropped_frames = s.placement.frames_dropped + s.ring.dropped + s.collector.overflow_dropped;
    c.refused_frames = s.collector.refused;
    c.audio_bytes = s.placement.audio_bytes;
    c.seconds = s.placement.seconds;
    c.seconds_without_video = s.placement.hole_seconds;
    c.first_frame = s.placement.first_frame;
    c.last_frame = s.placement.last_frame;
    e.recovered = std::move(recovered_);
    return e;
}

std::vector<const RecoveredRun*> runs_to_export(const RecoveryResult& result, int only) {
    std::vector<const RecoveredRun*> runs;
    for (size_t i = 0; i < result.runs.size(); ++i) {
        if ((only < 0 || static_cast<size_t>(only) == i) && !result.runs[i].gops.empty()) {
            runs.push_back(&result.runs[i]);
        }
    }
    return runs;
}

uint64_t total_bytes(const std::vector<const RecoveredRun*>& runs) {
    uint64_t total = 0;
    for (const RecoveredRun* run : runs) {
        for (const RecoveredGop& g : run->gops) total += uint64_t{g.length} + kTrailerSize;
    }
    return total;
}

// Writes the runs one after the other; the first failure (or a cancel) ends the export with
// the files made so far.
std::string write_runs(const std::vector<const RecoveredRun*>& runs, const RecoveredRecordSource& source,
                       const std::string& folder, ExportProgress& progress, ExportReport* report) {
    for (const RecoveredRun* run : runs) {
        RunWriter writer(*run, source);
        std::string error;
        if (!writer.open(folder, &error)) return error;
        bool cancelled = false;
        for (const RecoveredGop& g : run->gops) {
            if ((cancelled = progress.cancelled())) break;
            writer.add_gop(g);
            progress.add(uint64_t{g.length} + kTrailerSize);
        }
        report->files.push_back(writer.finish());
        if (cancelled) return "the export was cancelled";
    }
    return {};
}

}  // namespace

std::string recovered_file_stem(const RecoveredRun& run) {
    const uint32_t first = run.gops.empty() ? 0 : run.gops.front().time;
    const DateTime d = date_time(first, 0);
    char stem[48];
    std::snprintf(stem, sizeof stem, "[R%02d]%02d_%02d_%02d.", run.stream, d.hour, d.minute,
                  d.second);
    return stem;
}

int32_t recover_export_from(const RecoveryResult& result, const RecoveredRecordSource& source,
                            const std::string& folder, int only, RecoveryProgress* progress,
                            std::string* report_path, std::string* error) {
    std::string failure;
    const std::vector<const RecoveredRun*> runs = runs_to_export(result, only);
    if (folder.empty()) failure = "no folder to export to";
    else if (runs.empty()) failure = only >= 0 ? "no recovered run " + std::to_string(only) : "nothing recovered to export";
    if (!failure.empty()) {
        if (error) *error = failure;
        return -1;
    }
    ExportReport report;
    report.source = export_source_now();
    report.from = runs.front()->gops.front().time;
    for (const RecoveredRun* run : runs) {
        report.from = std::min(report.from, run->gops.front().time);
        report.to = std::max(report.to, run->gops.back().time);
    }
    ExportProgress counter(progress, total_bytes(runs));
    const ExportReportClock started = export_report_clock_now();
    report.error = write_runs(runs, source, folder, counter, &report);
    std::string written, report_failure;
    const int32_t rc = write_export_report(folder, report, &report_failure, started, &written);
    if (report_path) *report_path = written;
    if (!report.error.empty() || rc != 0) {
        if (error) *error = !report.error.empty() ? report.error : report_failure;
        return -1;
    }
    return 0;
}

int32_t recover_export(const RecoveryResult& result, const std::string& folder, int only,
                       RecoveryProgress* progress, std::string* report_path, std::string* error) {
    const RecoveredRecordSource disk{recover_read_gop, recover_read_audio};
    return recover_export_from(result, disk, folder, only, progress, report_path, error);
}

}  // namespace recover
