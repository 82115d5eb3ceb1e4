// The export writers fed whatever the input says: first the AVI writer directly (formats with
// any values, frames and audio of any length), then a channel writer with its thread, given
// frames and audio blocks at arbitrary times, lengths and key flags.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export/avi_writer.h"
#include "export/channel_writer.h"
#include "fuzz/harness/harness.h"

namespace fuzz {
namespace {

// Reads the input front to back; past its end every value is zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    double f64() {
        const uint64_t bits = u32() | uint64_t{u32()} << 32;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A folder of its own for the process's files, removed at exit.
class Scratch {
public:
    Scratch() {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path_ = std::string(base) + "/quillon-fuzz-export-XXXXXX";
        if (::mkdtemp(path_.data()) == nullptr) path_.clear();
    }
    ~Scratch() {
        clear();
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void clear() const {
        if (path_.empty()) return;
        DIR* d = ::opendir(path_.c_str());
        if (d == nullptr) return;
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                ::unlink((path_ + "/" + e->d_name).c_str());
            }
        }
        ::closedir(d);
    }

private:
    std::string path_;
};

const Scratch& scratch() {
    static const Scratch s;
    return s;
}

// Frame and audio bytes: the input's bytes over and over, longer than any record may be.
std::vector<uint8_t> payload(const uint8_t* data, size_t size) {
    std::vector<uint8_t> p(kRecordDataMax + 65536);
    for (size_t i = 0; i < p.size(); ++i) p[i] = size > 0 ? data[i % size] : static_cast<uint8_t>(i);
    return p;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "export_writer: %s\n", what);
    std::abort();
}

void avi_writer(Reader& in, const std::vector<uint8_t>& bytes) {
    const std::string path = scratch().path() + "/direct.avi";
    avi_out avi;
    if (avi_out_create(&avi, path) != 0) fail("cannot create the AVI file");
    const int32_t width = in.i32(), height = in.i32();
    const double fps = in.f64();
    std::string fourcc;
    for (int i = 0; i < 4; ++i) fourcc.push_back(static_cast<char>(in.u8()));
    // Low bits: the FourCC's length; high bits: write buffering and idx1 spilling.
    const uint8_t shape = in.u8();
    if (shape & 0x80) avi_out_set_buffering(&avi, size_t{(shape >> 3) & 7u} * 4096, (shape & 0x40) != 0);
    avi_out_video_format(&avi, width, height, fps, std::string_view(fourcc).substr(0, (shape & 7) % 5));
    const int tracks = in.u8() % (kAviMaxTracks + 2);
    for (int t = 0; t < tracks; ++t) {
        const int32_t channels = in.i32(), rate = in.i32(), bits = in.i32();
        const uint32_t tag = in.u32();
        avi_out_audio_format(&avi, channels, rate, bits, tag, in.i32());
    }
    const int ops = in.u8();
    // Small chunks may repeat, so that a short input reaches a long index.
    int repeats_left = 3 * static_cast<int>(kAviIndexStep);
    for (int i = 0; i < ops && !in.done(); ++i) {
        const uint8_t op = in.u8();
        const size_t length = std::min<size_t>(size_t{in.u16()} * ((op & 0x80) != 0 ? 5u : 1u), bytes.size());
        int times = 1;
        if ((op & 0x40) != 0 && length <= 1024) {
            times = std::min(repeats_left, 1 + in.u8() * 16);
            repeats_left -= times;
        }
        for (int k = 0; k < times; ++k) {
            if (op & 1) {
                avi_out_write_audio(&avi, bytes.data(), length);
            } else {
                avi_out_write_frame(&avi, bytes.data(), length, (op & 2) != 0);
            }
        }
    }
    if (avi_out_finish(&avi) == 0) {
        // A finished file is exactly as long as the writer says, and starts as an AVI does.
        struct stat st {};
        char riff[12] = {};
        if (::stat(path.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) != avi.pos) {
            fail("finished file size differs from the writer's position");
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::pread(fd, riff, sizeof riff, 0) != static_cast<ssize_t>(sizeof riff) ||
            std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "AVI ", 4) != 0) {
            fail("finished file does not start with the AVI header");
        }
        ::close(fd);
    }
    avi_out_close(&avi);
}

void channel_writer(Reader& in, const std::vector<uint8_t>& bytes) {
    // A short room wait: a full ring drops records instead of stalling the input.
    CAVIFile w(std::chrono::milliseconds(20));
    if (w.open(scratch().path() + "/[CH01]07_00_05.") != 1) fail("cannot open the channel writer");
    const uint8_t setup = in.u8();
    w.set_pal(setup & 1);
    avi_out_video_format(w.avi(), 352, 240, (setup & 1) ? 25 : 30, (setup & 2) ? "h264" : "mp4v");
    if (setup & 4) avi_out_audio_format(w.avi(), 1, 8000, 8, 7, 64);
    w.resume();
    int64_t time = in.u32();
    const int records = 1 + in.u8();
    for (int i = 0; i < records && !in.done(); ++i) {
        const uint8_t op = in.u8();
        // Mostly small steps, as a recording moves; now and then a jump back.
        const auto step = static_cast<int8_t>(in.u8());
        time += step < -8 ? step : step % 4;
        time = std::clamp<int64_t>(time, 0, UINT32_MAX);
        const auto t = static_cast<uint32_t>(time);
        int32_t length = in.u16();
        if (op & 0x40) length += kRecordDataMax - 0x8000;  // around the largest record
        if ((op & 0xC0) == 0xC0) length = -length;
        const int32_t cut = std::clamp<int32_t>(length, 0, static_cast<int32_t>(bytes.size()));
        DateTime when{};
        time_to_systemtime(t, &when);
        if (op & 1) {
            w.queue_audio(bytes.data(), length < 0 ? length : cut, &when);
        } else {
            ExportRecord r;
            r.kind = kRecordVideo;
            r.channel = op >> 4 & 3;
            r.time = when;
            r.time.milliseconds = static_cast<uint16_t>(in.u16() % 1000);
            r.time_stamp = t;
            r.key = (op >> 1) & 1;
            r.length = length < 0 ? length : cut;
            r.data = const_cast<uint8_t*>(bytes.data());
            w.queue_video(&r);
        }
        if ((op & 0x0C) == 0x0C) w.drain();
    }
    w.close();
    const ChannelWriterStats stats = w.stats();
    if (stats.ring.queued > static_cast<uint64_t>(records)) fail("more records queued than given");
}

}  // namespace

int export_writer(const uint8_t* data, size_t size) {
    if (scratch().path().empty()) return 0;
    const std::vector<uint8_t> bytes = payload(data, size);
    Reader in(data, size);
    avi_writer(in, bytes);
    if (!in.done()) channel_writer(in, bytes);
    scratch().clear();
    return 0;
}

}  // namespace fuzz
