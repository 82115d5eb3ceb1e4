#include "tools/cli/channel_roles.h"

namespace cli {

ChannelRole channel_role(int32_t c, int32_t count) {
    if (c == 0) return {"super index"};
    if (c == 1) return {"index"};
    if (c == 2) return {"search log"};
    if (c == count - 3) return {"event log"};
    if (c == count - 2) return {"capture log"};
    if (c == count - 1) return {"system log"};
    // Counts 27 and 29 have 16 video channels, count 15 has 4; other counts are read the same
    // way as far as their channels reach.
    const int video = count == 15 ? 4 : 16;
    if (c < 3 + video) return {"video", c - 2};
    if (c < 3 + video + 4) return {"audio", c - 2 - video};
    if (c == 3 + video + 4) return {"capture images"};
    return {"unused"};
}

}  // namespace cli
