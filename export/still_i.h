// Helpers shared by the still-capture files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "export/still_capture.h"

// Stores the message (when error is not null) and returns the code.
int32_t still_fail(std::string* error, int32_t code, const std::string& message);

// Removes a file left half-written, but only a regular file: a device such as /dev/full given
// as the destination stays.
void still_remove_partial(const std::string& path);

// head followed by tail; built by appending, which gcc 12 does not misread as an overlapping
// copy the way it misreads "literal" + std::string.
std::string still_text(const char* head, const std::string& tail);

// A new file for writing at path, or, when that name is taken, at "stem (2).ext", "stem (3).ext",
// ...; never an existing file. *written receives the name made. nullptr with STILL_ERR_OPEN's
// message when none could be created.
std::FILE* still_open_new(const std::string& path, std::string* written, std::string* error);
