#include "fuzz/harness/checksum_repair.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "disk/disk.h"
#include "disk/format.h"

namespace fuzz {
namespace {

// The word the sample builder keeps free for the balance (word 33).
constexpr size_t kRecorderBalanceOffset = offsetof(DvrSuperBlock, unused24) + 9 * sizeof(uint32_t);
constexpr size_t kBackupBalanceOffset = offsetof(BackupSuperBlock, checksum);

uint32_t word_at(const uint8_t* p, size_t offset) {
    uint32_t w;
    std::memcpy(&w, p + offset, 4);
    return w;
}

class Repair {
  public:
    explicit Repair(SparseImage* image) : image_(image) {}
    int changed() const { return changed_; }

    void recorder_area(uint64_t start, uint64_t size) {
        recorder_super_block(start + size / 2);
        for (uint32_t candidate : kDvrCandidateSectors) {
            const uint8_t* copy = recorder_super_block(start + candidate);
            if (copy == nullptr) continue;
            // The pointer copy's word 9 names the authoritative copy, relative to the start.
            const auto relative =
                static_cast<int32_t>(word_at(copy, offsetof(DvrSuperBlock, authoritative_sector)));
            if (relative >= 0 && static_cast<uint64_t>(relative) < size) {
                recorder_super_block(start + static_cast<uint64_t>(relative));
            }
        }
    }

    // Returns the slots the super block counts, for the session headers to repair afterwards.
    int32_t backup_super_block(uint64_t start) {
        uint8_t* s = find(start);
        if (s == nullptr || word_at(s, 0) != kBackupMagic) return 0;
        balance(s + kBackupBalanceOffset, dvrfs_checksum(s, sizeof(BackupSuperBlock)));
        const auto slots = static_cast<int32_t>(word_at(s, offsetof(BackupSuperBlock, slot_count)));
        return slots > 0 && slots <= kMaxSessionSlots ? slots : 0;
    }

    // The header's checksummed bytes span 260 sectors; only the ones the image holds add to the
    // sum, the rest are zeros.
    void session_header(uint64_t first) {
        uint32_t negated_sum = 0;
        const uint64_t end = first + (kSessionChecksummedBytes + kSectorSize - 1) / kSectorSize;
        for (auto it = image_->sectors.lower_bound(first);
             it != image_->sectors.end() && it->first < end; ++it) {
            const size_t from = static_cast<size_t>(it->first - first) * kSectorSize;
            const size_t n = std::min<size_t>(kSectorSize, kSessionChecksummedBytes - from);
            negated_sum += dvrfs_checksum(it->second.data(), static_cast<uint32_t>(n));
        }
        if (negated_sum == 0) return;
        const uint64_t sector = first + kSessionChecksumOffset / kSectorSize;
        if (sector >= image_->total_sectors) return;
        auto& bytes = image_->sectors[sector];
        bytes.resize(kSectorSize, 0);  // a hole becomes a sector of zeros
        balance(bytes.data() + kSessionChecksumOffset % kSectorSize, negated_sum);
    }

  private:
    uint8_t* find(uint64_t sector) {
        auto it = image_->sectors.find(sector);
        return it == image_->sectors.end() ? nullptr : it->second.data();
    }

    // A recorder super block at the sector, balanced; null when the sector holds none.
    const uint8_t* recorder_super_block(uint64_t sector) {
        uint8_t* s = find(sector);
        if (s == nullptr || word_at(s, 0) != kDvrMagic) return nullptr;
        balance(s + kRecorderBalanceOffset, dvrfs_checksum(s, sizeof(DvrSuperBlock)));
        return s;
    }

    // `negated_sum` is the checksum over the structure with the balance word as it is; adding
    // it to that word makes the words sum to zero.
    void balance(uint8_t* word, uint32_t negated_sum) {
        if (negated_sum == 0) return;
        const uint32_t w = word_at(word, 0) + negated_sum;
        std::memcpy(word, &w, 4);
        ++changed_;
    }

    SparseImage* image_;
    int changed_ = 0;
};

bool has_boot_signature(const uint8_t* sector0) {
    return sector0 != nullptr && sector0[510] == 0x55 && sector0[511] == 0xAA;
}

// The scan takes such a boot sector for a plain MS-DOS or NTFS disk and reads no table.
bool is_ms_boot_sector(const uint8_t* s) {
    return s[0] == 0xEB &&
           (std::memcmp(s + 3, "MSDOS", 5) == 0 || std::memcmp(s + 3, "NTFS", 4) == 0);
}

}  // namespace

int repair_checksums(SparseImage* image) {
    Repair repair(image);
    const auto zero = image->sectors.find(0);
    const uint8_t* sector0 = zero == image->sectors.end() ? nullptr : zero->second.data();
    if (!has_boot_signature(sector0)) {
        repair.recorder_area(0, image->total_sectors);
        repair.recorder_area(kDvrSecondProbeStart, image->total_sectors);
        return repair.changed();
    }
    if (is_ms_boot_sector(sector0)) return 0;
    PartitionEntry entries[kPartitionEntries];
    std::memcpy(entries, sector0 + kPartitionTableOffset, sizeof entries);
    // Super blocks first: a balance word may lie inside another area's session header, whose
    // sum must then include it.
    int32_t slots[kPartitionEntries] = {};
    for (int i = 0; i < kPartitionEntries; ++i) {
        const PartitionEntry& p = entries[i];
        if (p.sector_count == 0) continue;
        repair.recorder_area(p.start_sector, p.sector_count);
        repair.recorder_area(uint64_t{p.start_sector} + kDvrSecondProbeStart, p.sector_count);
        slots[i] = repair.backup_super_block(p.start_sector);
    }
    for (int i = 0; i < kPartitionEntries; ++i) {
        for (int32_t s = 0; s < slots[i]; ++s) {
            repair.session_header(entries[i].start_sector +
                                  session_header_sector(static_cast<uint32_t>(s)));
        }
    }
    return repair.changed();
}

}  // namespace fuzz
