#include "decode/library_versions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

namespace decode {
namespace {

std::string version_text(unsigned version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFFu) + "." +
           std::to_string(version & 0xFFu);
}

} // namespace

std::vector<std::pair<std::string, std::string>> library_versions() {
    return {{"libavcodec", version_text(avcodec_version())},
            {"libavutil", version_text(avutil_version())},
            {"libswscale", version_text(swscale_version())}};
}

} // namespace decode
