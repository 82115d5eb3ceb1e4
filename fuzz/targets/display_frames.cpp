// libFuzzer entry point of the display_frames target; the work is in fuzz/harness.
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::display_frames(data, size);
}
