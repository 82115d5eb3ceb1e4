// The writer of one exported channel: its AVI file and SAMI subtitle file, the record ring into
// which the playback thread queues the channel's frames and audio blocks, and a writer thread
// that turns them into a constant-rate AVI of 25 or 30 frames and 8000 audio bytes a recorder
// second, with a caption for every second.
//
// Life: open (files created, formats then set on avi()) -> resume (writer thread runs) -> queue
// records -> finish or close (thread stopped, AVI finished, subtitles ended). Close drops the
// records still queued and the second being collected; finish writes them all first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/avi_writer.h"
#include "export/export_notify.h"
#include "export/placement.h"
#include "export/record_ring.h"
#include "export/sami.h"

struct ChannelWriterStats {
    RecordRingStats ring;        // queued, waited for room, dropped at the ring
    CollectorStats collector;    // dropped before a second's first frame or beyond the slots
    PlacementStats placement;    // seconds, frames placed and dropped, audio bytes dropped
    uint64_t failed_writes = 0;  // frame and audio writes the AVI writer refused
    // What the finished file holds, as close found it: its video chunks (empty frames
    // included) and the bytes of its first audio track.
    uint64_t file_video_frames = 0;
    uint64_t file_audio_bytes = 0;
    // Finishing the AVI file failed: buffered chunks, idx1 or the header did not reach it.
    bool finish_failed = false;
};

class CAVIFile {
  public:
    // Bytes of chunks the AVI writer collects before it writes them.
    static constexpr size_t kWriteBuffer = 1 << 20;

    explicit CAVIFile(std::chrono::milliseconds room_wait = RecordRing::kDefaultRoomWait);
    ~CAVIFile();
    CAVIFile(const CAVIFile&) = delete;
    CAVIFile& operator=(const CAVIFile&) = delete;

    // Creates prefix + "avi" and prefix + "smi" and writes the subtitle header; the writer
    // thread waits for resume. No file is ever replaced: when either name is taken, the pair
    // is made as "<prefix without its dot> (2).avi" and ".smi", or the next free number; prefix()
    // tells which. 1 on success; 0 on failure, with everything closed again.
    int32_t open(const std::string& prefix);
    // The prefix of the files the last successful open made.
    const std::string& prefix() const { return prefix_; }
    // Starts the writer thread on an empty ring. Set the AVI formats before.
    void resume();
    void set_pal(int32_t pal);
    void set_owner(ExportNotify* owner);

    // Queue a video record or an audio block, whole. 1 when the record was given to the ring;
    // 0 for a missing record or data, a record longer than kRecordDataMax, a closed file, or a
    // record the ring had to drop.
    int32_t queue_video(const ExportRecord* record);
    int32_t queue_audio(const uint8_t* data, int32_t length, const DateTime* time);

    // Used by the writer thread: 1 when written; 0 when the file is not open for writing or the
    // write failed (the owner then gets the backup notification (0, 2)).
    int32_t write_frame(const uint8_t* data, int32_t length, int32_t key);
    int32_t write_audio(const uint8_t* data, int32_t length);

    // Waits until the writer thread has written every second that the records queued so far
    // complete (the second still being collected stays open). Returns at once without a writer.
    void drain();
    // Stops the writer thread, finishes the AVI file, ends the subtitles, releases the memory.
    void close();
    // Close at the end of a job: first the queued records and the second being collected are
    // written, unless a write has failed already (more of them would only fail too), so that
    // the file ends with the last frame it was given.
    void finish();

    bool is_open() const { return open_.load(); }
    bool is_running() const { return running_.load(); }
    // The AVI writer, for its formats between open and resume; nullptr when closed.
    avi_out* avi() { return avi_.get(); }
    // Counters of the current (or last) open, readable once the writer thread has ended.
    ChannelWriterStats stats() const;

  private:
    class Sink;
    static int create_pair(const std::string& prefix, std::string* chosen, std::vector<int>* fds);
    void thread_main();
    void write_subtitle(std::string_view line);
    int32_t write_failed();

    RecordRing ring_;
    GroupCollector collector_;
    std::unique_ptr<avi_out> avi_;
    std::string prefix_;
    SamiFile sami_;
    std::thread thread_;
    std::atomic<int32_t> running_{0};
    std::atomic<bool> stopping_{false};  // close has begun: cut a long hole short
    std::atomic<bool> flush_last_{false};  // finish: write the second being collected
    std::atomic<ExportNotify*> owner_{nullptr};
    int32_t pal_ = 0;
    std::atomic<bool> open_{false};
    std::atomic<uint64_t> failed_writes_{0};
    mutable std::mutex stats_lock_;
    CollectorStats collector_stats_;  // copied by the writer thread as it ends
    PlacementStats placement_stats_;
    uint64_t file_video_frames_ = 0;
    uint64_t file_audio_bytes_ = 0;
    bool finish_failed_ = false;
};
