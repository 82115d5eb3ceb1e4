// Waiting while the event loop keeps running, so that posted messages (a stop for the main
// window) are handled before the caller goes on.
#pragma once

namespace ui {

// Returns after `ms` milliseconds; user input waits, everything else is dispatched meanwhile.
void wait_dispatching_events(int ms);

} // namespace ui
