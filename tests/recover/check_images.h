// Sample volumes for the check: channels of small GOP and audio records, one a second, with
// damage where a test wants it, and a copy of a disk cut short inside a recording.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/testkit/temp_image.h"
#include "tools/sample/sample.h"
#include "tools/sample/stream_records.h"

namespace checktest {

// Record i of a channel is written at from + i.
using DamageOf = std::function<void(int index, sample::RecordDamage* damage)>;

// `count` GOP records of five synthetic frames each; their bytes in write order.
sample::ChannelData gop_channel(int32_t channel, uint32_t from, int count,
                                const DamageOf& damage = {});
sample::ChannelData audio_channel(int32_t channel, uint32_t from, int count,
                                  const DamageOf& damage = {});

// Bytes of the records up to (not including) record `index`.
uint64_t bytes_before(const sample::ChannelData& channel, int index);
uint64_t bytes_of(const sample::ChannelData& channel);

// A count-29 recorder volume of 4 KiB blocks on a 16 MiB disk, with these channels.
sample::DiskSpec recorder_with(const std::vector<sample::ChannelData>& channels);

// Video channel 1 writes a GOP a second over [testkit::kT0, kT0 + 60); the image ends where the
// GOP of kT0 + 20 begins.
std::string cut_short_image(const testkit::TempDir& dir);

}  // namespace checktest
