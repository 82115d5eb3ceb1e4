// SHA-256 of a byte range, as lowercase hex: the frames command prints it so that a script can
// compare delivered frames with the ones that were recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

std::string sha256_hex(const uint8_t* data, size_t length);

}  // namespace cli
