// SHA-256, as lowercase hex: of a byte range (the frames command prints it so that a script can
// compare delivered frames with the ones that were recorded), or of a file's bytes as they lie on
// disk (the export report, so that a recipient can check the files it names). The digest comes
// from libcrypto, which uses the processor's SHA instructions where it has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

namespace platform {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const uint8_t* data, size_t length);
    // The digest of everything given; the object is spent afterwards. "" when libcrypto failed.
    std::string hex_digest();

  private:
    evp_md_ctx_st* ctx_ = nullptr;
    bool ok_ = false;
};

std::string sha256_hex(const uint8_t* data, size_t length);
// 0 and the digest of the file's bytes (and how many were read, when bytes is given), or -1
// when it cannot be opened or read.
int sha256_file(const std::string& path, std::string* hex, uint64_t* bytes = nullptr);

}  // namespace platform
