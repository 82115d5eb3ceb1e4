// recover/carver.h
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace recover {

// recover_scan's answer when the progress callback asked to stop; beside the disk layer's codes.
inline constexpr int32_t RECOVER_ECANCELED = -60;

// A GOP record found outside every channel's stored range, whole and consistent.
struct RecoveredGop {
    uint32_t time = 0;          // recorder seconds of the record
    int32_t ms = 0;             // its milliseconds
    uint64_t image_offset = 0;  // the GOP header's byte offset in the image or drive as a whole
    uint32_t length = 0;        // the record's bytes, header to trailer
    int32_t frames = 0;
};

// An audio record found beside a run.
struct RecoveredAudio {
    uint32_t time = 0;
    uint64_t image_offset = 0;
    uint32_t length = 0;
};

// Records that follow each other in a block; runs with the same codec, picture size and
// parameter sets share a stream number.
struct RecoveredRun {
    int stream = 0;        // 1, 2, ...
    std::string codec;     // "h264" or "mpeg4"
    int width = 0, height = 0;
    std::vector<RecoveredGop> gops;     // in recorder-time order
    std::vector<RecoveredAudio> audio;
};

struct RecoveryResult {
    uint64_t scanned_bytes = 0;
    std::vector<RecoveredRun> runs;     // ordered by first time, then image offset
    uint64_t cut_records = 0;           // records that ran past their block into an unknown one
};

class RecoveryProgress {
public:
    virtual ~RecoveryProgress() = default;
    virtual void progress(uint64_t /*done_bytes*/, uint64_t /*total_bytes*/) {}
    virtual bool cancelled() { return false; }
};

// Scans the mounted disk's selected volume (a recorder volume, or a backup disk after
// backup_mount_session) for records outside the stored ranges. 0; RECOVER_ECANCELED when
// cancelled; another negative error code when nothing could be scanned. Reads the image only.
int32_t recover_scan(RecoveryProgress* progress, RecoveryResult* result);

// The bytes of a recovered GOP record, read again from the image and checked again: 0 or a
// negative error code.
int32_t recover_read_gop(const RecoveredGop& gop, std::vector<uint8_t>* record);

}  // namespace recover
