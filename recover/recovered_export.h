// The export of recovered runs: each run through the channel writer, so that its files are of
// the same kind as an export's (AVI with the recorder's time in SAMI subtitles beside it), and a
// report that marks every file as recovered and names the image bytes each GOP came from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recover/carver.h"

namespace recover {

// Writes every run (or only run index `only` when >= 0) through the channel writer as
// "[R01]HH_MM_SS.avi" + ".smi" (R + the run's stream number in two digits, the time of its first
// GOP), never replacing a file, and export-report.json (or the never-replace name) marking each
// file "recovered": true with the image byte ranges of its GOPs. Each record is read again from
// the mounted disk and checked again; one that no longer is whole is left out and counted.
// 0 with *report_path set, or -1 with *error (a report is still written for the files made).
int32_t recover_export(const RecoveryResult& result, const std::string& folder, int only,
                       RecoveryProgress* progress, std::string* report_path, std::string* error);

// Where the export gets each record's bytes, trailer included: 0 or a negative error code.
struct RecoveredRecordSource {
    std::function<int32_t(const RecoveredGop&, std::vector<uint8_t>*)> gop;
    std::function<int32_t(const RecoveredAudio&, std::vector<uint8_t>*)> audio;
};

// recover_export with the records from the given source (recover_export's reads the mounted
// disk through recover_read_gop and recover_read_audio).
int32_t recover_export_from(const RecoveryResult& result, const RecoveredRecordSource& source,
                            const std::string& folder, int only, RecoveryProgress* progress,
                            std::string* report_path, std::string* error);

// The bytes of a recovered audio record, read again from the mounted disk and checked again:
// 0 or a negative error code.
int32_t recover_read_audio(const RecoveredAudio& audio, std::vector<uint8_t>* record);

// "[R01]08_00_00.": the name of a run's files without their extension.
std::string recovered_file_stem(const RecoveredRun& run);

}  // namespace recover
