// The default name of a still: the picture's date and time in the order of the date format.
#pragma once

#include <QString>

#include "storage/api.h"

namespace ui {

// "YYYY-MM-DD-hhmmss", "MM-DD-YYYY-hhmmss" or "DD-MM-YYYY-hhmmss" for date formats 0 and 3,
// 1 and 4, 2 and 5.
QString capture_file_name(int time_format, const DateTime& time);

} // namespace ui
