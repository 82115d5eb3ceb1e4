// The storage API around a command: started, one disk row and one session mounted, and
// everything released again when the command ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "storage/api.h"

namespace cli {

struct SessionOptions {
    std::optional<int> disk;  // default: the first mountable row
    int session = 0;
};

class SessionScope {
public:
    SessionScope() = default;
    ~SessionScope();
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

    // Starts the API (with the engine's callbacks, if given), scans, mounts and selects;
    // returns an exit code after reporting a failure.
    int open(const SessionOptions& options, FrameCallback on_frame = nullptr,
             StatusCallback on_status = nullptr);
    // The same without callbacks, except that a disk without sessions (a backup disk that was
    // re-formatted has none) stays mounted as a disk alone; *selected says whether a session is.
    int open_disk_or_session(const SessionOptions& options, bool* selected);
    // The command's exit code, or a failure when sector reads failed since the session was
    // opened: the layers report many failed reads as the end of the data, so what was printed
    // may be partial, and the exit status must say so.
    int finish(int rc) const;

private:
    int open_disk(const SessionOptions& options, FrameCallback on_frame, StatusCallback on_status);
    int select_session(const SessionOptions& options);

    bool started_ = false;
};

// "YYYY-MM-DD HH:MM:SS" (or "YYYY-MM-DDTHH:MM:SS", or a plain recorder time stamp) as a
// recorder time; nullopt when it is neither.
std::optional<uint32_t> parse_time(const std::string& text);
// "YYYY-MM-DD" as the recorder time of that midnight.
std::optional<uint32_t> parse_date(const std::string& text);

}  // namespace cli
