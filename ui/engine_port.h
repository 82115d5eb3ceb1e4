// What the player controller asks of the playback engine. The program passes the storage API
// (ApiEngine); tests may pass an engine of their own that records and answers the calls.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/api.h"

namespace ui {

class EnginePort {
public:
    virtual ~EnginePort() = default;

    // Sets PM_STOP or PM_PAUSE and closes every channel, after the pass under way.
    virtual void halt(int32_t mode) = 0;
    // Opens the channels of `mask`; negative when the engine refused.
    virtual int32_t open_channels(uint32_t mask) = 0;
    virtual int32_t play_from(uint32_t time) = 0;
    virtual int32_t set_mode(int32_t mode) = 0;
    // The mode in force, with the engine's own fall-backs.
    virtual int32_t mode() const = 0;
    virtual void set_key_frame_only(bool on) = 0;
    // The spans the engine could not read since the last call, oldest first.
    virtual std::vector<PlaybackReadFailure> take_read_failures() { return {}; }
};

class ApiEngine final : public EnginePort {
public:
    void halt(int32_t mode) override;
    int32_t open_channels(uint32_t mask) override;
    int32_t play_from(uint32_t time) override;
    int32_t set_mode(int32_t mode) override;
    int32_t mode() const override;
    void set_key_frame_only(bool on) override;
    std::vector<PlaybackReadFailure> take_read_failures() override;
};

} // namespace ui
