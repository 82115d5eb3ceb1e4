// What the export layer tells its owner. The desktop program posts each call to its main window
// as an event; the command-line tool acts on it directly. Calls come from the playback thread and
// from channel writer threads, so an implementation must be thread-safe and must not close a
// channel writer from inside the call (the writer's own thread may be the caller).
#pragma once

#include <cstdint>

// The backup notification's parameters (wparam, lparam).
inline constexpr int32_t kBackupNotifyEnd = 0;       // wparam 0: lparam tells what ended
inline constexpr int32_t kBackupNotifyProgress = 1;  // wparam 1: lparam = percent
inline constexpr int32_t kBackupSpanEnd = 0;         // (0, 0) the span end was reached
inline constexpr int32_t kBackupCreateFailed = 1;    // (0, 1) a channel's files could not be made
inline constexpr int32_t kBackupWriteFailed = 2;     // (0, 2) a frame or audio write failed

// A channel's bytes in one part of an export before the files are split into the next part.
inline constexpr uint64_t kBackupSplitBytes = 3500000000ull;

class ExportNotify {
  public:
    virtual ~ExportNotify() = default;
    virtual void backup_notification(int32_t wparam, int32_t lparam) = 0;
};
