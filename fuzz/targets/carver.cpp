// libFuzzer entry point of the carver target; the work is in fuzz/harness.
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::carver(data, size);
}
