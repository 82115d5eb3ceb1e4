#include "tools/sample/log_records.h"

#include <algorithm>
#include <cstring>

namespace sample {
namespace {

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> system_log_record(uint32_t time, const std::string& text) {
    std::vector<uint8_t> r(64, 0);
    put32(&r[4], time);
    std::memcpy(&r[8], text.data(), std::min<size_t>(text.size(), 56));
    return r;
}

std::vector<uint8_t> event_log_record(uint32_t time, uint8_t channel, uint8_t type,
                                      uint8_t in_use) {
    std::vector<uint8_t> r(8, 0);
    r[0] = channel;
    r[1] = type;
    r[2] = in_use;
    put32(&r[4], time);
    return r;
}

std::vector<uint8_t> capture_log_record(uint32_t time, uint32_t kind, uint32_t pictured) {
    std::vector<uint8_t> r(16, 0);
    put32(&r[0], time);
    put32(&r[4], kind);
    put32(&r[8], pictured);
    return r;
}

std::vector<uint8_t> capture_image_record(uint32_t time, const std::vector<uint8_t>& image) {
    std::vector<uint8_t> r(16 + image.size(), 0);
    put32(&r[0], time);
    put32(&r[4], static_cast<uint32_t>(static_cast<int32_t>(image.size()) - 4));
    if (!image.empty()) std::memcpy(&r[16], image.data(), image.size());
    return r;
}

}  // namespace sample
