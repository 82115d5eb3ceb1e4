#include "tools/sample/disk_json.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace sample {
namespace {

using Json = nlohmann::json;

std::string located(const std::string& path, const std::string& what) {
    return (path.empty() ? std::string("top level") : path) + ": " + what;
}

// One JSON object being mapped onto a struct. Each reader leaves its target alone when the
// member is absent or null, and stops at the first problem with a message naming the member.
class Fields {
  public:
    Fields(const Json& object, std::string path, std::string* error)
        : object_(object), path_(std::move(path)), error_(error) {}

    // The value must be an object whose members are all among `known`.
    bool open(std::initializer_list<const char*> known) {
        if (!object_.is_object()) {
            *error_ = located(path_, "expected an object");
            return false;
        }
        for (const auto& member : object_.items()) {
            const bool listed = std::any_of(known.begin(), known.end(),
                                            [&](const char* k) { return member.key() == k; });
            if (!listed) {
                *error_ = located(path_, "unknown field \"" + member.key() + "\"");
                return false;
            }
        }
        return true;
    }

    const Json* member(const char* key) const {
        auto it = object_.find(key);
        return it == object_.end() || it->is_null() ? nullptr : &*it;
    }

    std::string path_of(const char* key) const { return path_.empty() ? key : path_ + "." + key; }

    bool fail(const char* key, const std::string& what) const {
        *error_ = located(path_of(key), what);
        return false;
    }

    template <typename T>
    bool integer(const char* key, T* out) const {
        const Json* m = member(key);
        if (m == nullptr) return true;
        if (!m->is_number_integer()) return fail(key, range_text<T>());
        if (m->is_number_unsigned()) {
            const uint64_t v = m->get<uint64_t>();
            if (v > static_cast<uint64_t>(std::numeric_limits<T>::max())) {
                return fail(key, range_text<T>());
            }
            *out = static_cast<T>(v);
            return true;
        }
        const int64_t v = m->get<int64_t>();
        if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
            (v > 0 &&
             static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max()))) {
            return fail(key, range_text<T>());
        }
        *out = static_cast<T>(v);
        return true;
    }

    template <typename T>
    bool integer(const char* key, std::optional<T>* out) const {
        if (member(key) == nullptr) return true;
        T value{};
        if (!integer(key, &value)) return false;
        *out = value;
        return true;
    }

    bool flag(const char* key, bool* out) const {
        const Json* m = member(key);
        if (m == nullptr) return true;
        if (!m->is_boolean()) return fail(key, "expected true or false");
        *out = m->get<bool>();
        return true;
    }

    bool text(const char* key, std::string* out) const {
        const Json* m = member(key);
        if (m == nullptr) return true;
        if (!m->is_string()) return fail(key, "expected a string");
        *out = m->get<std::string>();
        return true;
    }

    // A lower-case word out of a fixed list.
    template <typename E>
    bool choice(const char* key, std::initializer_list<std::pair<const char*, E>> names,
                E* out) const {
        const Json* m = member(key);
        if (m == nullptr) return true;
        std::string allowed;
        for (const auto& [name, value] : names) {
            if (m->is_string() && m->get<std::string>() == name) {
                *out = value;
                return true;
            }
            allowed += allowed.empty() ? "\"" : ", \"";
            allowed += std::string(name) + "\"";
        }
        return fail(key, "expected one of " + allowed);
    }

    template <typename T, typename Reader>
    bool nested(const char* key, T* out, Reader read) const {
        const Json* m = member(key);
        return m == nullptr || read(*m, path_of(key), error_, out);
    }

    // An array replaces the default list; each element starts from the struct's defaults.
    template <typename T, typename Reader>
    bool list(const char* key, std::vector<T>* out, Reader read) const {
        const Json* m = member(key);
        if (m == nullptr) return true;
        if (!m->is_array()) return fail(key, "expected an array");
        std::vector<T> items;
        for (size_t i = 0; i < m->size(); ++i) {
            T item{};
            if (!read((*m)[i], path_of(key) + "[" + std::to_string(i) + "]", error_, &item)) {
                return false;
            }
            items.push_back(std::move(item));
        }
        *out = std::move(items);
        return true;
    }

  private:
    template <typename T>
    static std::string range_text() {
        return "expected an integer from " + std::to_string(+std::numeric_limits<T>::min()) +
               " to " + std::to_string(+std::numeric_limits<T>::max());
    }

    const Json& object_;
    std::string path_;
    std::string* error_;
};

// A write's bytes are given as text, or as an array of byte values.
bool read_write(const Json& j, const std::string& path, std::string* error, ChannelWrite* out) {
    Fields f(j, path, error);
    if (!f.open({"time", "text", "bytes"}) || !f.integer("time", &out->time)) return false;
    if (f.member("text") != nullptr && f.member("bytes") != nullptr) {
        return f.fail("bytes", "give either \"text\" or \"bytes\"");
    }
    std::string text;
    if (!f.text("text", &text)) return false;
    out->bytes.assign(text.begin(), text.end());
    const Json* bytes = f.member("bytes");
    if (bytes == nullptr) return true;
    if (!bytes->is_array()) return f.fail("bytes", "expected an array of byte values");
    for (size_t i = 0; i < bytes->size(); ++i) {
        const Json& b = (*bytes)[i];
        if (!b.is_number_unsigned() || b.get<uint64_t>() > 255) {
            return f.fail("bytes", "element " + std::to_string(i) + ": expected 0 to 255");
        }
        out->bytes.push_back(static_cast<uint8_t>(b.get<uint64_t>()));
    }
    return true;
}

bool read_channel(const Json& j, const std::string& path, std::string* error, ChannelData* out) {
    Fields f(j, path, error);
    return f.open({"channel", "writes", "head_slot", "head_offset", "first_block", "index_column",
                   "zero_block", "size"}) &&
           f.integer("channel", &out->channel) && f.list("writes", &out->writes, read_write) &&
           f.integer("head_slot", &out->head_slot) && f.integer("head_offset", &out->head_offset) &&
           f.integer("first_block", &out->first_block) &&
           f.integer("index_column", &out->index_column) &&
           f.integer("zero_block", &out->zero_block) && f.integer("size", &out->size);
}

bool read_content(const Json& j, const std::string& path, std::string* error, VolumeContent* out) {
    Fields f(j, path, error);
    return f.open({"channels", "build_index", "index_head_slot", "index_end"}) &&
           f.list("channels", &out->channels, read_channel) &&
           f.flag("build_index", &out->build_index) &&
           f.integer("index_head_slot", &out->index_head_slot) &&
           f.integer("index_end", &out->index_end);
}

bool read_damage(const Json& j, const std::string& path, std::string* error,
                 SuperBlockDamage* out) {
    Fields f(j, path, error);
    return f.open({"checksum", "magic", "version", "created_zero"}) &&
           f.flag("checksum", &out->checksum) && f.flag("magic", &out->magic) &&
           f.flag("version", &out->version) && f.flag("created_zero", &out->created_zero);
}

bool read_pointer_copy(const Json& j, const std::string& path, std::string* error,
                       PointerCopy* out) {
    Fields f(j, path, error);
    return f.open({"sector", "version", "bad_checksum", "bad_magic", "word9"}) &&
           f.integer("sector", &out->sector) && f.integer("version", &out->version) &&
           f.flag("bad_checksum", &out->bad_checksum) && f.flag("bad_magic", &out->bad_magic) &&
           f.integer("word9", &out->word9);
}

bool read_recorder(const Json& j, const std::string& path, std::string* error,
                   RecorderVolumeSpec* out) {
    Fields f(j, path, error);
    return f.open({"version", "created", "oldest", "newest", "channel_count", "block_size",
                   "map_sectors_per_channel", "placement", "pointer_copies", "authoritative_sector",
                   "damage", "content"}) &&
           f.integer("version", &out->version) && f.integer("created", &out->created) &&
           f.integer("oldest", &out->oldest) && f.integer("newest", &out->newest) &&
           f.integer("channel_count", &out->channel_count) &&
           f.integer("block_size", &out->block_size) &&
           f.integer("map_sectors_per_channel", &out->map_sectors_per_channel) &&
           f.choice("placement", {{"middle", Placement::Middle}, {"pointer", Placement::Pointer}},
                    &out->placement) &&
           f.list("pointer_copies", &out->pointer_copies, read_pointer_copy) &&
           f.integer("authoritative_sector", &out->authoritative_sector) &&
           f.nested("damage", &out->damage, read_damage) &&
           f.nested("content", &out->content, read_content);
}

bool read_session(const Json& j, const std::string& path, std::string* error, SessionSpec* out) {
    Fields f(j, path, error);
    return f.open({"slot", "name", "created", "interval", "oldest", "newest", "channel_count",
                   "data_channel_count", "bad_checksum", "content"}) &&
           f.integer("slot", &out->slot) && f.text("name", &out->name) &&
           f.integer("created", &out->created) && f.integer("interval", &out->interval) &&
           f.integer("oldest", &out->oldest) && f.integer("newest", &out->newest) &&
           f.integer("channel_count", &out->channel_count) &&
           f.integer("data_channel_count", &out->data_channel_count) &&
           f.flag("bad_checksum", &out->bad_checksum) &&
           f.nested("content", &out->content, read_content);
}

bool read_backup(const Json& j, const std::string& path, std::string* error, BackupDiskSpec* out) {
    Fields f(j, path, error);
    return f.open({"slot_count", "sessions_used", "created", "block_limit", "block_size",
                   "sessions", "damage"}) &&
           f.integer("slot_count", &out->slot_count) &&
           f.integer("sessions_used", &out->sessions_used) && f.integer("created", &out->created) &&
           f.integer("block_limit", &out->block_limit) &&
           f.integer("block_size", &out->block_size) &&
           f.list("sessions", &out->sessions, read_session) &&
           f.nested("damage", &out->damage, read_damage);
}

bool read_area(const Json& j, const std::string& path, std::string* error, AreaSpec* out) {
    Fields f(j, path, error);
    if (!f.open({"kind", "recorder", "backup"})) return false;
    const bool has_recorder = f.member("recorder") != nullptr;
    const bool has_backup = f.member("backup") != nullptr;
    if (f.member("kind") == nullptr) {
        if (has_recorder && has_backup) {
            return f.fail("kind", "needed when both \"recorder\" and \"backup\" are given");
        }
        if (has_recorder) out->kind = AreaKind::Recorder;
        if (has_backup) out->kind = AreaKind::Backup;
    }
    return f.choice("kind",
                    {{"recorder", AreaKind::Recorder},
                     {"backup", AreaKind::Backup},
                     {"empty", AreaKind::Empty}},
                    &out->kind) &&
           f.nested("recorder", &out->recorder, read_recorder) &&
           f.nested("backup", &out->backup, read_backup);
}

// The type byte is a number, or a "0x.." string as partition tables are usually written.
bool read_type_byte(const Fields& f, uint8_t* out) {
    const Json* m = f.member("type_byte");
    if (m == nullptr || !m->is_string()) return f.integer("type_byte", out);
    const std::string s = m->get<std::string>();
    const bool hex = s.size() > 2 && s.size() <= 4 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
                     s.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    if (!hex)
        return f.fail("type_byte", "expected an integer from 0 to 255 or \"0x00\" to \"0xFF\"");
    *out = static_cast<uint8_t>(std::strtoul(s.c_str() + 2, nullptr, 16));
    return true;
}

bool read_partition(const Json& j, const std::string& path, std::string* error,
                    PartitionSpec* out) {
    Fields f(j, path, error);
    return f.open({"type_byte", "bootable", "start", "count", "area"}) &&
           read_type_byte(f, &out->type_byte) && f.flag("bootable", &out->bootable) &&
           f.integer("start", &out->start) && f.integer("count", &out->count) &&
           f.nested("area", &out->area, read_area);
}

bool read_disk(const Json& j, std::string* error, DiskSpec* out) {
    Fields f(j, "", error);
    return f.open({"total_sectors", "layout", "bare_start", "bare", "partitions"}) &&
           f.integer("total_sectors", &out->total_sectors) &&
           f.choice("layout",
                    {{"partitioned", DiskLayout::Partitioned},
                     {"bare", DiskLayout::Bare},
                     {"ms", DiskLayout::MsBoot}},
                    &out->layout) &&
           f.integer("bare_start", &out->bare_start) && f.nested("bare", &out->bare, read_area) &&
           f.list("partitions", &out->partitions, read_partition);
}

}  // namespace

int spec_from_json(const std::string& text, DiskSpec* out, std::string* error) {
    std::string message;
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // The library reports syntax errors only by exception; its position is what helps.
        message = "not valid JSON near byte " + std::to_string(e.byte);
    }
    DiskSpec spec;
    if (message.empty() && read_disk(doc, &message, &spec)) {
        *out = std::move(spec);
        return 0;
    }
    if (error) *error = message;
    return -1;
}

}  // namespace sample
