#include "export/placement.h"

#include <algorithm>

namespace {

void push(Placement& p, int16_t entry) {
    // Never more than the frame rate: the second's length in the video is fixed.
    if (p.count < static_cast<int>(p.video.size())) p.video[static_cast<size_t>(p.count++)] = entry;
}

void pad_to(Placement& p, int fps) {
    while (p.count < fps) push(p, kEmptyFrame);
}

int clamp_fps(int fps) {
    return std::clamp(fps, 1, kMaxFps);
}

}  // namespace

Placement place_by_milliseconds(std::span<const uint16_t> milliseconds, int fps) {
    fps = clamp_fps(fps);
    const int period = 1000 / fps;  // 33 at 30 fps, 40 at 25
    const int used = static_cast<int>(std::min(milliseconds.size(), static_cast<size_t>(fps)));
    Placement p;
    for (int i = 0; i < used; ++i) {
        // A frame goes to its own position, or to the next free one when that is taken, but
        // never so late that the frames after it no longer fit the second: every frame up to
        // the frame rate is kept, in order.
        const int wanted = milliseconds[static_cast<size_t>(i)] / period;
        const int latest = fps - (used - i);
        const int target = std::min(std::max(wanted, p.count), latest);
        while (p.count < target) push(p, kEmptyFrame);
        push(p, static_cast<int16_t>(i));
    }
    pad_to(p, fps);
    return p;
}

Placement place_evenly(int video_count, int fps) {
    fps = clamp_fps(fps);
    const int v = std::clamp(video_count, 0, fps);
    const int half = static_cast<int>(fps * 0.5 + 0.5);  // 15 at 30 fps, 13 at 25
    Placement p;
    if (v <= half) {
        const int gap = v == 0 ? 0 : fps / v - 1;
        for (int i = 0; i < v; ++i) {
            push(p, static_cast<int16_t>(i));
            for (int g = 0; g < gap && p.count < fps; ++g) push(p, kEmptyFrame);
        }
    } else {
        int need = fps - v;
        const int period = v / (v - need);  // v > fps / 2, so v - need = 2v - fps > 0
        for (int i = 0; i < v; ++i) {
            push(p, static_cast<int16_t>(i));
            if (period > 0 && need > 0 && p.count % period == 0) {
                push(p, kEmptyFrame);
                --need;
            }
        }
    }
    pad_to(p, fps);
    return p;
}
