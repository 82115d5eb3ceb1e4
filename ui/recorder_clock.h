// The recorder time as the windows show it: broken down into its calendar fields.
#pragma once

#include <cstdint>

#include "storage/api.h"

namespace ui {

inline DateTime broken_down(uint32_t time) {
    DateTime t{};
    time_to_systemtime(time, &t);
    return t;
}

} // namespace ui
