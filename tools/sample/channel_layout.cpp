#include "tools/sample/channel_layout.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "disk/format.h"

namespace sample {
namespace {

constexpr uint8_t kOverwrittenFill = 0xA5;  // older data before the head
constexpr uint8_t kUnwrittenFill = 0x5A;    // space after the tail

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put64(std::vector<uint8_t>& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}

// Fills a channel's stream and time marks from its writes.
LaidChannel gather(const ChannelData& data) {
    LaidChannel c;
    c.channel = data.channel;
    c.head_slot = data.head_slot;
    c.head_offset = data.head_offset;
    c.zero_block = data.zero_block;
    c.image_ends_at_write = data.image_ends_at_write;
    c.index_column = data.index_column ? *data.index_column
                                       : static_cast<uint32_t>(std::max(0, data.channel - 3));
    for (const ChannelWrite& w : data.writes) {
        c.marks.emplace_back(w.time, c.stream.size());
        c.stream.insert(c.stream.end(), w.bytes.begin(), w.bytes.end());
    }
    c.size = data.size ? *data.size : c.stream.size();
    return c;
}

// Gives the channel its blocks and slots; the tail offset always lies inside the last block.
bool place(LaidChannel* c, const LayoutRules& rules, uint32_t first_block, uint32_t* linear_slot,
           std::string* error) {
    const uint64_t bs = static_cast<uint64_t>(rules.block_size);
    if (c->head_offset >= bs) {
        *error = "head offset beyond the block size";
        return false;
    }
    const uint64_t end = c->head_offset + c->stream.size();
    if (c->stream.empty() && !rules.empty_channels_get_block) {
        // Head and tail at the start of slot 0: the channel opens and reads nothing.
        c->head_slot = c->tail_slot = 0;
        c->head_offset = c->tail_offset = 0;
        return true;
    }
    const uint64_t nblocks = end / bs + 1;
    if (nblocks > rules.map_slots) {
        *error = "channel " + std::to_string(c->channel) + " needs more map slots than it has";
        return false;
    }
    if (!rules.ring) c->head_slot = *linear_slot;
    uint32_t preferred = first_block;
    for (uint64_t j = 0; j < nblocks; ++j) {
        uint32_t block = rules.allocate_block(preferred);
        if (block == 0) {
            *error = "the data area is full";
            return false;
        }
        preferred = block + 1;
        c->blocks.push_back(block);
        uint64_t slot = c->head_slot + j;
        c->slots.push_back(static_cast<uint32_t>(rules.ring ? slot % rules.map_slots : slot));
    }
    if (!rules.ring) {
        if (c->head_slot + nblocks > rules.map_slots) {
            *error = "the session block map is full";
            return false;
        }
        *linear_slot = static_cast<uint32_t>(c->head_slot + nblocks);
    }
    c->tail_slot = c->slots.back();
    c->tail_offset = static_cast<uint32_t>(end % bs);
    return true;
}

// (block, offset) of a stream offset.
std::pair<uint32_t, uint32_t> position_of(const LaidChannel& c, uint64_t at, int32_t block_size) {
    if (c.blocks.empty()) return {0, 0};  // a channel without blocks has no position
    const uint64_t abs = c.head_offset + at;
    const uint64_t bs = static_cast<uint64_t>(block_size);
    return {c.blocks[abs / bs], static_cast<uint32_t>(abs % bs)};
}

// Walks a channel's writes in time order; times asked for never go back.
class MarkCursor {
public:
    explicit MarkCursor(const LaidChannel& c) : c_(&c) {}
    // Stream offset reached at time t: the first byte written at t or later.
    uint64_t offset_at(uint32_t t) {
        skip_before(t);
        return next_ < c_->marks.size() ? c_->marks[next_].second : c_->stream.size();
    }
    // True when bytes were written in [from, to).
    bool wrote_between(uint32_t from, uint32_t to) {
        skip_before(from);
        for (size_t i = next_; i < c_->marks.size() && c_->marks[i].first < to; ++i) {
            const uint64_t end = i + 1 < c_->marks.size() ? c_->marks[i + 1].second : c_->stream.size();
            if (end > c_->marks[i].second) return true;
        }
        return false;
    }

private:
    void skip_before(uint32_t t) {
        while (next_ < c_->marks.size() && c_->marks[next_].first < t) ++next_;
    }
    const LaidChannel* c_;
    size_t next_ = 0;
};

struct IndexPlan {
    uint32_t first = 0;  // time of the first index record
    uint32_t count = 0;  // records, one per interval
};

void span_of_writes(const std::vector<LaidChannel>& chans, uint32_t* oldest, uint32_t* newest) {
    bool any = false;
    for (const LaidChannel& c : chans) {
        for (const auto& [time, at] : c.marks) {
            *oldest = any ? std::min(*oldest, time) : time;
            *newest = any ? std::max(*newest, time) : time;
            any = true;
        }
    }
}

}  // namespace

bool lay_out_volume(const VolumeContent& content, const LayoutRules& rules, VolumeLayout* out,
                    std::string* error) {
    std::vector<LaidChannel> chans(rules.channel_count);
    std::map<int32_t, const ChannelData*> given;
    for (const ChannelData& d : content.channels) {
        if (d.channel < 0 || static_cast<uint32_t>(d.channel) >= rules.channel_count) {
            *error = "channel " + std::to_string(d.channel) + " is not a channel of the volume";
            return false;
        }
        given[d.channel] = &d;
    }
    for (uint32_t c = 0; c < rules.channel_count; ++c) {
        ChannelData empty;
        empty.channel = static_cast<int32_t>(c);
        if (content.build_index && c < 3) empty.head_slot = content.index_head_slot;
        auto it = given.find(static_cast<int32_t>(c));
        chans[c] = gather(it != given.end() ? *it->second : empty);
    }

    uint32_t oldest = rules.oldest, newest = rules.newest;
    uint32_t w_old = 0, w_new = 0;
    span_of_writes(chans, &w_old, &w_new);
    if (oldest == 0) oldest = w_old;
    if (newest == 0) newest = w_new;

    uint32_t linear = rules.next_linear_slot;
    auto place_channel = [&](uint32_t c) {
        const auto it = given.find(static_cast<int32_t>(c));
        uint32_t first = it != given.end() && it->second->first_block ? *it->second->first_block : 0;
        return place(&chans[c], rules, first, &linear, error);
    };
    for (uint32_t c = 3; c < rules.channel_count; ++c) {
        if (!place_channel(c)) return false;
    }

    if (content.build_index && rules.channel_count >= 3 && oldest != 0) {
        const uint32_t iv = rules.interval;
        IndexPlan plan{oldest / iv * iv, 0};
        const uint32_t index_end = content.index_end ? std::min(*content.index_end, newest) : newest;
        if (index_end < plan.first) {
            *error = "the newest recording lies before the oldest";
            return false;
        }
        plan.count = (index_end / iv * iv - plan.first) / iv + 1;
        // Refused before anything is built: a span of years would not fit the index channel.
        const uint64_t index_bytes = uint64_t{plan.count} * (4 + 8 * uint64_t{rules.data_channel_count});
        if (index_bytes > uint64_t{rules.map_slots} * static_cast<uint64_t>(rules.block_size)) {
            *error = "the index of this span does not fit the index channel's map";
            return false;
        }
        // The index: one record per interval with every column's position at that moment.
        LaidChannel& index = chans[1];
        LaidChannel& slog = chans[2];
        std::vector<uint32_t> column_channel(rules.data_channel_count, 0);
        // Channels given a column explicitly win it over ones that default to channel - 3.
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t c = 3; c < rules.channel_count; ++c) {
                const bool given_column = given.count(static_cast<int32_t>(c)) &&
                                          given.at(static_cast<int32_t>(c))->index_column;
                if (given_column == (pass == 1) && chans[c].index_column < rules.data_channel_count) {
                    column_channel[chans[c].index_column] = c;
                }
            }
        }
        std::vector<MarkCursor> at_record, at_hour;
        for (const LaidChannel& c : chans) {
            at_record.emplace_back(c);
            at_hour.emplace_back(c);
        }
        for (uint32_t r = 0; r < plan.count; ++r) {
            const uint32_t t = plan.first + r * iv;
            index.marks.emplace_back(t, index.stream.size());
            put32(index.stream, t);
            uint64_t mask = 0;
            for (uint32_t col = 0; col < rules.data_channel_count; ++col) {
                const uint32_t c = column_channel[col];
                auto [block, off] =
                    c ? position_of(chans[c], at_record[c].offset_at(t), rules.block_size)
                      : std::pair<uint32_t, uint32_t>{0, 0};
                put32(index.stream, block);
                put32(index.stream, off);
            }
            for (uint32_t c = 3; c < rules.channel_count && c < 64; ++c) {
                if (at_record[c].wrote_between(t, t + iv)) mask |= uint64_t{1} << c;
            }
            slog.marks.emplace_back(t, slog.stream.size());
            put32(slog.stream, t);
            put32(slog.stream, 0);
            put64(slog.stream, mask);
        }
        for (int32_t c : {1, 2}) {
            auto extra = content.trailing_bytes.find(c);
            if (extra == content.trailing_bytes.end()) continue;
            chans[c].stream.insert(chans[c].stream.end(), extra->second.begin(), extra->second.end());
        }
        index.size = index.stream.size();
        slog.size = slog.stream.size();
        if (!place_channel(1) || !place_channel(2)) return false;

        // The super index: one entry per hour from the oldest recording's hour.
        LaidChannel& super = chans[0];
        const uint32_t last = plan.first + (plan.count - 1) * iv;
        for (uint32_t hour = oldest / 3600 * 3600; hour <= last; hour += 3600) {
            const uint32_t t = std::max(hour, plan.first);
            const uint32_t r = (t - plan.first + iv - 1) / iv;
            if (r >= plan.count) break;
            const uint32_t rt = plan.first + r * iv;
            auto [ib, io] = position_of(index, index.marks[r].second, rules.block_size);
            auto [sb, so] = position_of(slog, slog.marks[r].second, rules.block_size);
            uint32_t mask = 0;
            for (uint32_t c = 3; c < rules.channel_count && c < 32; ++c) {
                if (at_hour[c].wrote_between(hour, hour + 3600)) mask |= 1u << c;
            }
            super.marks.emplace_back(rt, super.stream.size());
            put32(super.stream, ib);
            put32(super.stream, io);
            put32(super.stream, sb);
            put32(super.stream, so);
            put32(super.stream, rt);
            put32(super.stream, mask);
        }
        if (auto extra = content.trailing_bytes.find(0); extra != content.trailing_bytes.end()) {
            super.stream.insert(super.stream.end(), extra->second.begin(), extra->second.end());
        }
        super.size = super.stream.size();
        if (!place_channel(0)) return false;
    } else {
        for (uint32_t c = 0; c < std::min(3u, rules.channel_count); ++c) {
            if (!place_channel(c)) return false;
        }
    }
    out->channels = std::move(chans);
    out->oldest = oldest;
    out->newest = newest;
    out->next_linear_slot = linear;
    return true;
}

void write_channel_blocks(ImageWriter& image, const VolumeLayout& layout, int32_t block_size,
                          const std::function<uint64_t(uint32_t block)>& sector_of) {
    const uint64_t bs = static_cast<uint64_t>(block_size);
    std::vector<uint8_t> block;
    for (const LaidChannel& c : layout.channels) {
        const uint64_t head = c.head_offset;
        const uint64_t end = head + c.stream.size();
        // Past the tail only one sector of fill is written, so images stay sparse.
        const uint64_t written_end = (end + 2 * kSectorSize - 1) / kSectorSize * kSectorSize;
        for (size_t j = 0; j < c.blocks.size(); ++j) {
            const uint64_t first = j * bs;  // channel offset of this block's first byte
            const uint64_t length = std::min(bs, written_end - first);
            block.resize(length);
            for (uint64_t i = 0; i < length; ++i) {
                const uint64_t at = first + i;
                block[i] = at < head ? kOverwrittenFill
                           : at < end ? c.stream[at - head]
                                      : kUnwrittenFill;
            }
            image.write(sector_of(c.blocks[j]), block.data(), block.size());
        }
        if (c.image_ends_at_write && *c.image_ends_at_write < c.marks.size()) {
            const uint64_t at = head + c.marks[*c.image_ends_at_write].second;
            if (at / bs < c.blocks.size()) image.end_at(sector_of(c.blocks[at / bs]) + at % bs / kSectorSize);
        }
    }
}

}  // namespace sample
