// The command-line tool's commands and the options they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/export_notify.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the disk or a file let us down
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

struct GlobalOptions {
    bool json = false;
    bool trace = false;
    std::vector<std::string> images;  // attached at drive numbers 1, 2, ...
    std::vector<std::string> drives;  // "N=PATH"
};

struct InfoOptions {
    std::optional<int> row;  // default: the first mountable row
};

struct MakeSampleOptions {
    std::string out;
    std::string preset = "recorder";
    std::string spec_file;            // a JSON disk description instead of a preset
    std::vector<std::string> damage;  // checksum, magic, version, created
    std::optional<uint64_t> size_mib;
    bool force = false;  // replace an existing regular file
};

struct SessionOptions;

struct ReadOptions {
    int32_t channel = 0;             // the channel file's number, 0 .. channel count - 1
    std::optional<int64_t> offset;   // bytes from the head of the stored data
    std::string position;            // "BLOCK:OFFSET", a stored position
    std::string time;                // a recorder time, located through the index
    std::optional<uint64_t> length;  // default: to the tail
};

struct FramesOptions {
    std::string channels;  // video channels 1..16, "1,2,5"
    std::string from;      // recorder time to play from
    std::string mode;      // play, ff2 .. ff32, rew1 .. rew32, frame-f, frame-b, minute-f, minute-b
    bool key_frames_only = false;
    std::optional<int64_t> count;  // stop after this many frames
};

struct ExportOptions {
    std::string channels;  // video channels 1..16
    std::string from, to;  // the span, recorder times
    std::string out;       // the folder for the files
    uint64_t split_bytes = kBackupSplitBytes;  // a channel's bytes before the files are split
    std::string format = "avi";                // avi, mkv or mp4
    // The examiner's data for the report.
    std::string case_number, exhibit, examiner, notes;
    std::string clock_offset;  // "±SECONDS": recorder clock minus reference clock
    std::string recorder_tz;   // AREA/CITY
    std::string command_line;  // as the tool was called
};

struct StillOptions {
    std::string channels;  // video channels 1..16
    std::string time;      // the first picture at or after this recorder time
    std::string out;       // the file; "_CHnn" goes before the extension for several channels
    std::string format;    // bmp or jpeg; "" takes it from the extension
};

struct RecoverOptions {
    std::string export_dir;  // write the runs as files here; "" for none
};

struct VerifyOptions {
    std::string report;  // the export report
    std::string image;   // the drive or image to re-read the exported GOPs from; "" for none
};

// Channel list "1,2,5" (video channels as the user numbers them) as a mask.
std::optional<uint32_t> parse_channel_list(const std::string& list);

// Attaches the images and drives named on the command line; returns an exit code.
int attach_drives(const GlobalOptions& options);
// The drive or image that writing to path would overwrite (an attached image or drive, or any
// block device), or "" when path is none of them. Evidence is never an output.
std::string drive_under(const std::string& path);

int run_scan(const GlobalOptions& options);
int run_info(const GlobalOptions& options, const InfoOptions& info);
int run_make_sample(const GlobalOptions& options, const MakeSampleOptions& make);
int run_channels(const GlobalOptions& options, const SessionOptions& session);
int run_read(const GlobalOptions& options, const SessionOptions& session, const ReadOptions& read);
int run_calendar(const GlobalOptions& options, const SessionOptions& session);
int run_day(const GlobalOptions& options, const SessionOptions& session, const std::string& date);
int run_log(const GlobalOptions& options, const SessionOptions& session, const std::string& which,
            const std::string& date);
int run_capture_image(const GlobalOptions& options, const SessionOptions& session,
                      const std::string& time, const std::string& out);
int run_frames(const GlobalOptions& options, const SessionOptions& session,
               const FramesOptions& frames);
int run_export(const GlobalOptions& options, const SessionOptions& session,
               const ExportOptions& e);
int run_still(const GlobalOptions& options, const SessionOptions& session, const StillOptions& o);
int run_recover(const GlobalOptions& options, const SessionOptions& session,
                const RecoverOptions& r);
// Exit 0 when every stored record of the session can be read, 1 otherwise.
int run_check(const GlobalOptions& options, const SessionOptions& session);
int run_verify(const GlobalOptions& options, const VerifyOptions& v);

// Runs the drive scan for the commands that need the disk table; false once it has
// reported a failure.
bool scan_drives();

}  // namespace cli
