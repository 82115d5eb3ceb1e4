// Bytes that look like stream records to a careless scan but are not whole, consistent records
// with a picture in them: the decoys of the remnants disk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/sample/remnants.h"

namespace sample {

struct DecoyBlock {
    std::vector<uint8_t> bytes;  // from the block's first byte; the rest of the block stays empty
    std::vector<std::pair<uint32_t, DecoyKind>> decoys;  // offset in the block of each
};

// One decoy of each kind (three start-bits words in the noise), spread over a block of
// block_bytes. real_gop is a whole GOP record (trailer included) of a recording whose key frame
// decodes: the decoys made from it differ from a good record in one way only. nullopt with a
// message when they do not fit the block.
std::optional<DecoyBlock> decoy_block(const std::vector<uint8_t>& real_gop, uint32_t time,
                                      size_t block_bytes, std::string* error);

}  // namespace sample
