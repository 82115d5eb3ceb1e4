// The recorder's time zone, read from the system's zone files (the compiled TZif form), so that
// a report can give the UTC time of a recorder wall-clock time and name the hours that a change
// back from daylight-saving time makes occur twice. Reads only; no process-wide TZ is touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kZoneFolder = "/usr/share/zoneinfo";

class RecorderZone {
public:
    struct Repeat {
        int64_t local_from = 0;  // wall time where the repeated stretch starts (inclusive)
        int64_t local_to = 0;    // and where it ends (exclusive)
        int32_t first_offset = 0;   // UTC offset in seconds during the first pass
        int32_t second_offset = 0;  // and during the second
    };

    // Loads a zone by its name ("Europe/Berlin"). 0, or -1 with the reason.
    int load(const std::string& name, std::string* error, const std::string& folder = kZoneFolder);
    // The same from the bytes of a zone file.
    int parse(const std::vector<uint8_t>& bytes, std::string* error);

    const std::string& name() const { return name_; }
    // Seconds east of UTC at a UTC instant.
    int32_t offset_at(int64_t utc) const;
    // Every UTC instant whose wall time in the zone is `local`, earliest first: none in a
    // skipped stretch, two in a repeated one.
    std::vector<int64_t> to_utc(int64_t local) const;
    // The repeated stretches of wall time that overlap [local_from, local_to].
    std::vector<Repeat> repeats_within(int64_t local_from, int64_t local_to) const;

private:
    std::string name_;
    std::vector<int64_t> transitions_;  // UTC, ascending
    std::vector<int32_t> offset_after_;  // offset from each transition on
    int32_t initial_offset_ = 0;         // before the first transition
};

// A zone name as a user may give it: letters, digits and "_+-./" in parts that are neither
// empty nor "." or "..", not starting with "/".
bool zone_name_acceptable(const std::string& name);
