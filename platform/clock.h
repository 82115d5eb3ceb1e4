#pragma once

namespace platform {

// Hour, minute and second of the PC's own clock, for trace lines.
void local_clock(int* hour, int* minute, int* second);

}  // namespace platform
