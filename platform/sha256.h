// SHA-256, as lowercase hex: of a byte range (the frames command prints it so that a script can
// compare delivered frames with the ones that were recorded), or of a file's bytes as they lie on
// disk (the export report, so that a recipient can check the files it names).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class Sha256 {
  public:
    Sha256();
    void update(const uint8_t* data, size_t length);
    // The digest of everything given; the object is spent afterwards.
    std::string hex_digest();

  private:
    std::array<uint32_t, 8> h_;
    uint8_t block_[64] = {};
    size_t used_ = 0;  // bytes in block_
    uint64_t total_ = 0;
};

std::string sha256_hex(const uint8_t* data, size_t length);
// 0 and the digest of the file's bytes, or -1 when it cannot be opened or read.
int sha256_file(const std::string& path, std::string* hex);

}  // namespace platform
