#include "platform/sha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <memory>

namespace platform {
namespace {

// Reads of 1 MiB keep the hash ahead of the disk while its memory stays small.
constexpr size_t kReadChunk = size_t{1} << 20;

std::string hex_of(const unsigned char* digest, unsigned int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ != nullptr && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::update(const uint8_t* data, size_t length) {
    if (ok_ && length > 0) ok_ = EVP_DigestUpdate(ctx_, data, length) == 1;
}

std::string Sha256::hex_digest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_, digest, &length) != 1) {
        ok_ = false;
        return {};
    }
    ok_ = false;
    return hex_of(digest, length);
}

std::string sha256_hex(const uint8_t* data, size_t length) {
    Sha256 hash;
    hash.update(data, length);
    return hash.hex_digest();
}

int sha256_file(const std::string& path, std::string* hex, uint64_t* bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha256 hash;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kReadChunk]);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.get(), kReadChunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return -1;
        }
        if (n == 0) break;
        hash.update(buffer.get(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    ::close(fd);
    std::string digest = hash.hex_digest();
    if (digest.empty()) return -1;
    *hex = std::move(digest);
    if (bytes != nullptr) *bytes = total;
    return 0;
}

}  // namespace platform
