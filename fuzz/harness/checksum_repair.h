// Mutated super blocks almost never keep a valid checksum, so a fuzzer that must guess checksums
// stops at the probe. A sparse input can ask (kRepairChecksums) for the checksums of what the
// drive scan and the mounts would look at to be balanced first, so that mutations of the fields
// themselves reach the code behind the probe.
#pragma once

#include "fuzz/harness/sparse_image.h"

namespace fuzz {

// Balances, where the disk layer would look for them:
// - recorder super blocks (the recorder magic in word 0): the middle sector of each probed area,
//   the pointer copies at sectors 0, 10 and 20, and the copy each pointer copy names;
// - backup super blocks (the backup magic) at the start of each partition;
// - the session headers of the slots such a super block counts (at most 32).
// Areas are the bare disk from sector 0 and 2552, or, behind a partition table, each
// partition from its start and 2552 sectors in. Returns how many checksums it changed; a
// structure whose checksum already holds is left as it is, and no sector past the end is made.
int repair_checksums(SparseImage* image);

}  // namespace fuzz
