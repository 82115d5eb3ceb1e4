#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "disk/disk.h"
#include "platform/clock.h"

namespace {
std::atomic<bool> g_trace_on{false};
}

void dvrfs_set_trace(bool on) { g_trace_on.store(on, std::memory_order_relaxed); }

bool dvrfs_trace_enabled() { return g_trace_on.load(std::memory_order_relaxed); }

void dvrfs_trace(const char* format, ...) {
    if (!dvrfs_trace_enabled()) return;
    // Each call formats into buffers of its own, so the UI and playback threads may both trace.
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    int h = 0, m = 0, s = 0;
    platform::local_clock(&h, &m, &s);
    // Over-long messages lose their end; the line never outgrows its buffer.
    char line[256];
    int prefix = std::snprintf(line, sizeof line, "%02d:%02d:%02d ", h, m, s);
    size_t room = sizeof line - static_cast<size_t>(prefix) - 1;
    size_t length = std::min(std::strlen(message), room);
    std::memcpy(line + prefix, message, length);
    line[static_cast<size_t>(prefix) + length] = '\0';
    // One write per line keeps lines from two threads from interleaving mid-line.
    std::fputs(line, stderr);
    std::fflush(stderr);
}
