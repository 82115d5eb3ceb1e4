// The examiner's own data for an export: the case it belongs to, the recorder's clock as the
// examiner measured it, and how the export was asked for. The report carries all of it; the
// recorder's time stays the primary time everywhere, corrected times come beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct ExportCaseInfo {
    std::string case_number;
    std::string exhibit;
    std::string examiner;
    std::string notes;
    // The recorder's clock minus a reference clock, in seconds, as the examiner measured it.
    std::optional<int64_t> clock_offset;
    std::string recorder_zone;  // "AREA/CITY"; empty when not given
    std::string invoked_by;     // the command line, or "desktop program"
};

// The largest offset taken: about 30 years either way.
inline constexpr int64_t kMaxClockOffset = int64_t{1} << 30;

// "+75", "-3600", "42": whole seconds with an optional sign. False for anything else or for an
// offset beyond kMaxClockOffset.
bool parse_clock_offset(const std::string& text, int64_t* seconds);

// "corrected HH:MM:SS": the time of day of the reference clock at a recorder time, the second
// caption line of a subtitle or time track when an offset was measured.
std::string corrected_time_text(uint32_t recorder_time, int64_t clock_offset);

// The command line as one text, each argument quoted where the shell would need it.
std::string command_line_text(int argc, const char* const* argv);

inline constexpr const char* kInvokedByDesktop = "desktop program";
