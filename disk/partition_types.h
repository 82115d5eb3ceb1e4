// Classes of partition-table type bytes.
#pragma once

#include <cstdint>

// Partition type code of a table type byte: MS, LINUX, DVR20 (0xF0), BACKUP10 (0xF2) or OTHER.
uint32_t partition_type_from_type_byte(uint8_t type_byte);
// File-system type when no probe found a file system: as above, but 0xF0 and 0xF2 are OTHER.
uint32_t fs_type_from_type_byte(uint8_t type_byte);
