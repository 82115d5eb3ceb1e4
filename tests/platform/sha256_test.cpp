// The SHA-256 wrapper against libcrypto's one-shot digest: data fed in uneven pieces, files
// larger than one read, a file that is not there.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "platform/sha256.h"
#include "tests/testkit/temp_image.h"

namespace {

std::string reference(const std::vector<uint8_t>& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
    std::string hex;
    char digits[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", digest[i]);
        hex += digits;
    }
    return hex;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(gen());
    return out;
}

TEST(Sha256, KnownDigestsOfShortTexts) {
    const std::string abc = "abc";
    EXPECT_EQ(platform::sha256_hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(platform::sha256_hex(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    const std::vector<uint8_t> data = noise(100003, 7);
    platform::Sha256 hash;
    size_t done = 0, step = 1;
    while (done < data.size()) {
        const size_t n = std::min(step, data.size() - done);
        hash.update(data.data() + done, n);
        done += n;
        step = step * 3 + 1;
    }
    EXPECT_EQ(hash.hex_digest(), reference(data));
}

TEST(Sha256, FileLargerThanOneRead) {
    testkit::TempDir dir;
    const std::string path = dir.path() + "/big.bin";
    const std::vector<uint8_t> data = noise((size_t{9} << 20) + 17, 11);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    std::fclose(f);
    std::string hex;
    ASSERT_EQ(platform::sha256_file(path, &hex), 0);
    EXPECT_EQ(hex, reference(data));
}

TEST(Sha256, MissingFileFailsAndLeavesTheDigestAlone) {
    testkit::TempDir dir;
    std::string hex = "unchanged";
    EXPECT_EQ(platform::sha256_file(dir.path() + "/absent.bin", &hex), -1);
    EXPECT_EQ(hex, "unchanged");
    // A folder cannot be read as a file.
    EXPECT_EQ(platform::sha256_file(dir.path(), &hex), -1);
    EXPECT_EQ(hex, "unchanged");
}

}  // namespace
