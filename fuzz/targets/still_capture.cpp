// libFuzzer entry point of the still_capture target; the work is in fuzz/harness.
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::still_capture(data, size);
}
