// The idx1 entries, collected in memory until the file is finished.
#include <cstring>
#include <new>
#include <stdexcept>

#include "export/avi_writer.h"

int avi_out_put_index(avi_out* avi, const char tag[4], uint32_t flags, uint32_t position,
                      uint32_t length) {
    if (avi == nullptr || tag == nullptr) return -1;
    std::vector<avi_out_index_entry>& index = avi->index;
    // Fixed steps rather than doubling: a long export costs 16 bytes per chunk, no more.
    if (index.size() == index.capacity()) {
        try {
            index.reserve(index.capacity() + kAviIndexStep);
        } catch (const std::bad_alloc&) {
            return -1;
        } catch (const std::length_error&) {
            return -1;
        }
    }
    avi_out_index_entry entry{};
    std::memcpy(entry.id, tag, 4);
    entry.flags = flags;
    entry.offset = position;
    entry.length = length;
    index.push_back(entry);
    return 0;
}
