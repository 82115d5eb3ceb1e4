// The report an export job leaves beside its files: where the recording came from, what was
// asked for, and for every file written its size, its SHA-256 (hashed from the finished file on
// disk) and what it holds, so that whoever receives the files can check them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "export/export_case.h"
#include "export/export_stream.h"
#include "export/file_hasher.h"
#include "export/export_side_files.h"
#include "export/placement.h"

inline constexpr const char* kExportReportName = "export-report.json";

// What an E01 image says about its own acquisition; empty fields were not stored.
struct ExportImageCase {
    std::string case_number, evidence_number, examiner, description, notes, acquisition_date;
};

struct ExportSource {
    std::string device;           // the path the drive or image was opened by
    std::string container = "raw";  // "raw", "split raw" or "E01"
    std::string first_segment;      // the container's first file: the image, piece or segment
    uint64_t device_bytes = 0;    // 0 when the drive could not tell
    int32_t disk_row = -1;        // row of the disk table
    uint32_t partition = 0;
    uint64_t start_sector = 0;
    uint64_t sector_count = 0;
    int32_t session = -1;
    std::string session_name;
    uint32_t created = 0, oldest = 0, newest = 0;
    ExportImageCase image_case;  // E01 sources only
};

// What one channel's file pair of one part holds.
struct ExportFileCounts {
    uint64_t stored_frames = 0;   // frames of the recording written as chunks
    uint64_t empty_frames = 0;    // empty positions that keep the frame rate
    uint64_t dropped_frames = 0;  // beyond the frame rate of their second, or lost on the way
    uint64_t refused_frames = 0;  // longer than any frame can be: refused whole, never cut
    uint64_t audio_bytes = 0;     // recorded audio written (silence not counted)
    uint64_t seconds = 0;         // seconds the file plays
    uint64_t seconds_without_video = 0;  // of the span, in this file's share of it
    FrameTime first_frame, last_frame;   // recorder times of the first and last stored frame
};

// A file made of records found outside every channel's stored range: the stream they formed
// and where on the disk each of its GOP records lies, header to trailer.
struct ExportGopRange {
    uint64_t image_offset = 0;
    uint64_t bytes = 0;
};
struct ExportRecovered {
    bool recovered = false;
    int stream = 0;
    std::vector<ExportGopRange> gop_ranges;
    uint64_t unreadable_gops = 0;  // found by the scan, but no longer whole when read again
};

struct ExportFileEntry {
    int channel = 0;  // 1..16; 0 for a recovered file
    int part = 0;
    std::string prefix;  // the files are prefix + "avi" and prefix + "smi"
    int fps = 0;
    ExportFileCounts counts;
    ExportRecovered recovered;
    // "avi"; or "mkv" or "mp4": one file, prefix + format.
    std::string format = "avi";
    // Each stream of the file (the AVI's, then its subtitles); read from the finished files
    // when the report is written, unless a writer filled them in already.
    std::vector<ExportStream> streams;
    uint64_t failed_writes = 0;  // frame and audio writes the file refused (a full disk)
    std::vector<ExportSideFile> side_files;  // listed under their keys beside "avi" and "smi"
};

// A span of a channel that could not be read during the job.
struct ExportReadFailure {
    int channel = 0;        // 1..16
    bool audio = false;     // the channel's audio, not its video
    int32_t error = 0;      // the file system's negative error code
    uint32_t failed_at = 0;   // recorder time where the unreadable span begins
    uint32_t resumed_at = 0;  // where the channel's data continues; 0: it did not
};

struct ExportReport {
    ExportSource source;
    uint32_t from = 0, to = 0;
    uint32_t channel_mask = 0;  // bit c = video channel c + 1
    uint64_t split_bytes = 0;
    std::string error;          // empty when the job succeeded
    std::vector<ExportFileEntry> files;
    std::vector<ExportReadFailure> read_failures;  // in the order they were met
    ExportCaseInfo case_info;
    int64_t job_started = 0, job_ended = 0;  // the PC's clock, seconds since 1970 UTC
    // Digests made while the job ran, by path; a file not among them (or changed since) is
    // hashed when the report is written.
    std::map<std::string, FileDigest> digests;
};

// "YYYY-MM-DD HH:MM:SS" of the recorder's clock.
std::string export_time_text(uint32_t t);

// The source as the storage API has it mounted now.
ExportSource export_source_now();
// The case data an E01 image stores, copied into the source; other sources keep none.
void export_source_add_image_case(ExportSource* source);
// Seconds since 1970 UTC on the PC's clock.
int64_t export_pc_clock_now();

// The time of day on the PC's clock when a job started; it names the job's report in a folder
// that holds an earlier one.
struct ExportReportClock {
    int hour = 0, minute = 0, second = 0;
};
ExportReportClock export_report_clock_now();

// Writes the report into the folder: as export-report.json when the folder has none, else as
// export-report-HHMMSS.json (HHMMSS from started), numbered " (2)", " (3)", ... when that is
// taken too; no file is ever replaced. Files that are not on disk are left out, so the report
// never claims a file that is not there. 0 with the path in *written (when not null), or -1
// with a message.
int32_t write_export_report(const std::string& folder, const ExportReport& report,
                            std::string* error, const ExportReportClock& started = {},
                            std::string* written = nullptr);
// The naming and writing step alone: text placed under the name chosen as above.
int32_t place_export_report(const std::string& folder, const ExportReportClock& started,
                            const std::string& text, std::string* written, std::string* error);
