// The writer's files walked by a RIFF parser of the test's own: chunk placement and pad bytes,
// idx1 offsets, every header field, several audio tracks, failed writes and the size limit.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export/avi_writer.h"
#include "tests/testkit/temp_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
           uint32_t{b.at(at + 3)} << 24;
}
uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::string fourcc(const Bytes& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}
std::vector<uint32_t> words(const Bytes& b, size_t from, size_t count) {
    std::vector<uint32_t> w;
    for (size_t i = 0; i < count; ++i) w.push_back(le32(b, from + 4 * i));
    return w;
}
bool all_zero(const Bytes& b, size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
        if (b.at(i) != 0) return false;
    return true;
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Chunk {
    std::string id;
    size_t at = 0;  // position of the chunk's 8-byte header
    uint32_t size = 0;
    Bytes data;
};

struct Stream {
    Chunk list, strh, strf;
};

struct IndexEntry {
    std::string id;
    uint32_t flags, offset, length;
};

// Everything a reader of an AVI 1.0 file relies on, found by walking the chunks.
struct Avi {
    uint32_t riff_size = 0;
    Chunk hdrl, avih, junk, movi;
    std::vector<Stream> streams;
    std::vector<Chunk> chunks;  // the movi list's chunks, in file order
    bool has_idx1 = false;
    std::vector<IndexEntry> idx1;
};

// Reads a chunk header at `at` inside [.., end); fails the test when it does not fit.
Chunk chunk_at(const Bytes& f, size_t at, size_t end) {
    Chunk c;
    EXPECT_LE(at + 8, end) << "chunk header at " << at << " runs past its parent";
    if (at + 8 > end) return c;
    c.id = fourcc(f, at);
    c.at = at;
    c.size = le32(f, at + 4);
    EXPECT_LE(at + 8 + c.size, end) << c.id << " at " << at << " runs past its parent";
    size_t n = std::min<size_t>(c.size, end - at - 8);
    c.data.assign(f.begin() + static_cast<long>(at + 8), f.begin() + static_cast<long>(at + 8 + n));
    return c;
}
size_t next_after(const Chunk& c) { return c.at + 8 + c.size + (c.size & 1); }

void walk_strl(const Bytes& f, const Chunk& list, Avi& avi) {
    Stream s;
    s.list = list;
    size_t end = list.at + 8 + list.size;
    for (size_t at = list.at + 12; at < end;) {
        Chunk c = chunk_at(f, at, end);
        if (c.id == "strh") s.strh = c;
        if (c.id == "strf") s.strf = c;
        if (c.id.empty()) return;
        at = next_after(c);
    }
    avi.streams.push_back(s);
}

void walk_hdrl(const Bytes& f, Avi& avi) {
    size_t end = avi.hdrl.at + 8 + avi.hdrl.size;
    for (size_t at = avi.hdrl.at + 12; at < end;) {
        Chunk c = chunk_at(f, at, end);
        if (c.id.empty()) return;
        if (c.id == "avih") avi.avih = c;
        if (c.id == "LIST" && fourcc(c.data, 0) == "strl") walk_strl(f, c, avi);
        at = next_after(c);
    }
}

void walk_movi(const Bytes& f, Avi& avi) {
    size_t end = avi.movi.at + 8 + avi.movi.size;
    for (size_t at = avi.movi.at + 12; at < end;) {
        Chunk c = chunk_at(f, at, end);
        if (c.id.empty()) return;
        if (c.size & 1) {
            EXPECT_LT(at + 8 + c.size, f.size());
            if (at + 8 + c.size < f.size()) {
                EXPECT_EQ(f[at + 8 + c.size], 0) << "pad byte";
            }
        }
        avi.chunks.push_back(c);
        at = next_after(c);
    }
}

Avi parse(const Bytes& f) {
    Avi avi;
    EXPECT_GE(f.size(), 12u);
    if (f.size() < 12) return avi;
    EXPECT_EQ(fourcc(f, 0), "RIFF");
    EXPECT_EQ(fourcc(f, 8), "AVI ");
    avi.riff_size = le32(f, 4);
    EXPECT_EQ(uint64_t{avi.riff_size} + 8, f.size()) << "RIFF size against the file size";
    size_t end = std::min<size_t>(f.size(), size_t{avi.riff_size} + 8);
    for (size_t at = 12; at < end;) {
        Chunk c = chunk_at(f, at, end);
        if (c.id.empty()) break;
        std::string type = c.id == "LIST" && c.size >= 4 ? fourcc(c.data, 0) : "";
        if (type == "hdrl") {
            avi.hdrl = c;
            walk_hdrl(f, avi);
        } else if (type == "movi") {
            avi.movi = c;
            walk_movi(f, avi);
        } else if (c.id == "JUNK") {
            avi.junk = c;
        } else if (c.id == "idx1") {
            avi.has_idx1 = true;
            EXPECT_EQ(c.size % 16, 0u);
            for (size_t i = 0; i + 16 <= c.data.size(); i += 16)
                avi.idx1.push_back({fourcc(c.data, i), le32(c.data, i + 4), le32(c.data, i + 8),
                                    le32(c.data, i + 12)});
        }
        at = next_after(c);
    }
    return avi;
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// The index must describe exactly the movi chunks, in order, at their absolute positions.
void expect_index_matches(const Avi& avi, const std::vector<bool>& keys) {
    ASSERT_TRUE(avi.has_idx1);
    ASSERT_EQ(avi.idx1.size(), avi.chunks.size());
    for (size_t i = 0; i < avi.chunks.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(avi.idx1[i].id, avi.chunks[i].id);
        EXPECT_EQ(avi.idx1[i].offset, avi.chunks[i].at);
        EXPECT_EQ(avi.idx1[i].length, avi.chunks[i].size);
        EXPECT_EQ(avi.idx1[i].flags, i < keys.size() && keys[i] ? 0x10u : 0u);
    }
}

class AviRiff : public ::testing::Test {
protected:
    testkit::TempDir dir;
    std::string path = dir.file("out.avi");
    avi_out avi;

    void open_mulaw(double fps) {
        ASSERT_EQ(avi_out_create(&avi, path), 0);
        ASSERT_EQ(avi_out_video_format(&avi, 352, 240, fps, "h264"), 1);
        ASSERT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    }
};

TEST_F(AviRiff, ChunksArePaddedToEvenAndIndexedAtTheirHeaders) {
    open_mulaw(25);
    struct Write {
        bool audio;
        size_t length;
        bool key;
    };
    // Odd lengths in both streams, an empty frame, a 1-byte frame and a key frame late on.
    const std::vector<Write> writes = {{false, 101, true}, {true, 320, false}, {false, 0, false},
                                       {true, 7, false},   {false, 1, false},  {false, 64, true},
                                       {true, 1, false},   {false, 33, false}};
    std::vector<Bytes> payloads;
    std::vector<bool> keys;
    uint32_t audio_bytes = 0;
    for (size_t i = 0; i < writes.size(); ++i) {
        payloads.push_back(pattern(writes[i].length, static_cast<uint8_t>(i + 1)));
        uint32_t before = avi.pos;
        if (writes[i].audio) {
            ASSERT_EQ(avi_out_write_audio(&avi, payloads[i].data(), payloads[i].size()), 0);
            audio_bytes += static_cast<uint32_t>(writes[i].length);
        } else {
            ASSERT_EQ(avi_out_write_frame(&avi, payloads[i].data(), payloads[i].size(),
                                          writes[i].key), 0);
            EXPECT_EQ(avi.last_frame_pos, before);
            EXPECT_EQ(avi.last_frame_length, writes[i].length);
        }
        keys.push_back(!writes[i].audio && writes[i].key);
    }
    EXPECT_EQ(avi.video_frames, 5u);
    EXPECT_EQ(avi.tracks[0].bytes_written, audio_bytes);
    EXPECT_EQ(avi.tracks[0].chunks_written, 3u);

    // Until it is finished the file holds zeros where the header goes.
    Bytes unfinished = read_file(path);
    EXPECT_EQ(unfinished.size(), avi.pos);
    EXPECT_TRUE(all_zero(unfinished, 0, 2048));

    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Bytes f = read_file(path);
    Avi parsed = parse(f);
    ASSERT_EQ(parsed.chunks.size(), writes.size());
    EXPECT_EQ(parsed.chunks[0].at, 2048u);
    for (size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE("chunk " + std::to_string(i));
        EXPECT_EQ(parsed.chunks[i].id, writes[i].audio ? "01wb" : "00db");
        EXPECT_EQ(parsed.chunks[i].at % 2, 0u);
        EXPECT_EQ(parsed.chunks[i].data, payloads[i]);
    }
    expect_index_matches(parsed, keys);
    // The movi list runs from its type field to the end of the last data chunk.
    EXPECT_EQ(parsed.movi.at, 2036u);
    EXPECT_EQ(parsed.movi.at + 8 + parsed.movi.size, next_after(parsed.chunks.back()));
}

struct RateCase {
    double fps;
    uint32_t micro_sec_per_frame;
    uint32_t rate;
};

class AviHeaderFields : public AviRiff, public ::testing::WithParamInterface<RateCase> {};

TEST_P(AviHeaderFields, ReadBackAsWritten) {
    const RateCase rc = GetParam();
    open_mulaw(rc.fps);
    Bytes frame = pattern(1001, 3);
    Bytes audio = pattern(321, 9);
    const uint32_t frames = 6;
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(avi_out_write_frame(&avi, frame.data(), frame.size(), i == 0), 0);
        ASSERT_EQ(avi_out_write_audio(&avi, audio.data(), audio.size()), 0);
    }
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Bytes f = read_file(path);
    Avi a = parse(f);

    // Positions of the one-video, one-audio layout.
    EXPECT_EQ(a.hdrl.at, 12u);
    EXPECT_EQ(a.hdrl.size, 294u);
    EXPECT_EQ(a.avih.at, 24u);
    ASSERT_EQ(a.streams.size(), 2u);
    EXPECT_EQ(a.streams[0].list.at, 88u);
    EXPECT_EQ(a.streams[0].list.size, 116u);
    EXPECT_EQ(a.streams[1].list.at, 212u);
    EXPECT_EQ(a.streams[1].list.size, 94u);
    EXPECT_EQ(a.junk.at, 314u);
    EXPECT_EQ(a.junk.size, 1714u);
    EXPECT_TRUE(all_zero(f, 322, 1714));
    EXPECT_EQ(a.movi.at, 2036u);

    using Words = std::vector<uint32_t>;
    const Bytes& h = a.avih.data;
    ASSERT_EQ(h.size(), 56u);
    // us per frame, max bytes/s, padding, flags (index, interleaved), frames, initial frames,
    // streams, buffer size, width, height, reserved.
    EXPECT_EQ(words(h, 0, 14),
              (Words{rc.micro_sec_per_frame, 0, 0, 0x110, frames, 0, 2, 0, 352, 240, 0, 0, 0, 0}));

    const Bytes& vs = a.streams[0].strh.data;
    ASSERT_EQ(vs.size(), 56u);
    EXPECT_EQ(fourcc(vs, 0) + fourcc(vs, 4), "vidsh264");
    // flags, priority + language, initial frames, scale, rate, start, length, buffer size,
    // quality, sample size, frame rectangle.
    EXPECT_EQ(words(vs, 8, 12), (Words{0, 0, 0, 1000000, rc.rate, 0, frames, 0, 0, 0, 0, 0}));

    const Bytes& vf = a.streams[0].strf.data;
    ASSERT_EQ(vf.size(), 40u);
    EXPECT_EQ(words(vf, 0, 3), (Words{40, 352, 240}));
    EXPECT_EQ(le16(vf, 12), 1);   // planes
    EXPECT_EQ(le16(vf, 14), 24);  // bit count
    EXPECT_EQ(fourcc(vf, 16), "h264");
    EXPECT_EQ(words(vf, 20, 5), (Words{352 * 240 * 3, 0, 0, 0, 0}));

    // 8-bit mono mu-law at 64 kbit/s: one byte a sample, 8000 bytes a second.
    const Bytes& as = a.streams[1].strh.data;
    ASSERT_EQ(as.size(), 56u);
    EXPECT_EQ(fourcc(as, 0), "auds");
    EXPECT_EQ(words(as, 4, 13),
              (Words{0, 0, 0, 0, 1, 8000, 0, frames * 321, 0, 0xFFFFFFFF, 1, 0, 0}));

    const Bytes& af = a.streams[1].strf.data;
    ASSERT_EQ(af.size(), 18u);
    EXPECT_EQ(le16(af, 0), 7);     // mu-law
    EXPECT_EQ(le16(af, 2), 1);     // channels
    EXPECT_EQ(words(af, 4, 2), (Words{8000, 8000}));
    EXPECT_EQ(le16(af, 12), 1);    // block align
    EXPECT_EQ(le16(af, 14), 8);    // bits
    EXPECT_EQ(le16(af, 16), 0);    // extra size

    std::vector<bool> keys(2 * frames, false);
    keys[0] = true;
    expect_index_matches(a, keys);
}

INSTANTIATE_TEST_SUITE_P(Rates, AviHeaderFields,
                         ::testing::Values(RateCase{25, 40000, 25000000},
                                           RateCase{30, 33333, 30000000},
                                           RateCase{29.97, 33367, 29970000},
                                           RateCase{0.0005, 0, 0}),
                         [](const ::testing::TestParamInfo<RateCase>& param) {
                             return "case" + std::to_string(param.index);
                         });

TEST_F(AviRiff, EachAudioTrackHasItsListAndTheJunkShrinks) {
    ASSERT_EQ(avi_out_create(&avi, path), 0);
    ASSERT_EQ(avi_out_video_format(&avi, 704, 576, 25, "XVID"), 1);
    ASSERT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    ASSERT_EQ(avi_out_audio_format(&avi, 2, 16000, 16, 1, 512), 1);  // 4 bytes a sample frame
    ASSERT_EQ(avi_out_audio_format(&avi, 2, 48000, 24, 1, 2304), 1); // 6 bytes a sample frame
    EXPECT_EQ(avi.current_track, 2);
    Bytes block = pattern(600, 5);
    ASSERT_EQ(avi_out_write_audio(&avi, block.data(), block.size()), 0);  // third track
    avi.current_track = 0;
    ASSERT_EQ(avi_out_write_audio(&avi, block.data(), 99), 0);
    avi.current_track = 1;
    ASSERT_EQ(avi_out_write_audio(&avi, block.data(), 400), 0);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);

    Bytes f = read_file(path);
    Avi a = parse(f);
    ASSERT_EQ(a.streams.size(), 4u);
    EXPECT_EQ(le32(a.avih.data, 24), 4u);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(a.streams[i].list.at, 212 + 102 * (i - 1));
        EXPECT_EQ(a.streams[i].list.size, 94u);
    }
    EXPECT_EQ(a.hdrl.size, 212 + 3 * 102 - 20u);
    EXPECT_EQ(a.junk.at, 212 + 3 * 102u);
    EXPECT_EQ(a.junk.size, 2028 - (212 + 3 * 102u));
    EXPECT_EQ(a.movi.at, 2036u);
    ASSERT_EQ(a.chunks.size(), 3u);
    EXPECT_EQ(a.chunks[0].id, "03wb");
    EXPECT_EQ(a.chunks[1].id, "01wb");
    EXPECT_EQ(a.chunks[2].id, "02wb");

    // scale, rate, start, length: 16-bit stereo has 4 bytes a sample frame, so the units are
    // bytes; 24-bit stereo has 6, and the length counts 4 / 6 of the bytes written.
    EXPECT_EQ(words(a.streams[2].strh.data, 20, 4), (std::vector<uint32_t>{1, 64000, 0, 400}));
    EXPECT_EQ(words(a.streams[3].strh.data, 20, 4), (std::vector<uint32_t>{1, 288000, 0, 400}));
    EXPECT_EQ(le16(a.streams[3].strf.data, 2), 2);
    EXPECT_EQ(le32(a.streams[3].strf.data, 4), 48000u);
    EXPECT_EQ(le16(a.streams[3].strf.data, 12), 1);  // block align
    EXPECT_EQ(le16(a.streams[3].strf.data, 14), 24);
    EXPECT_EQ(fourcc(a.streams[0].strh.data, 4), "XVID");
}

TEST_F(AviRiff, AudioLengthOfALongTrackDoesNotWrap) {
    open_mulaw(25);
    ASSERT_EQ(avi_out_audio_format(&avi, 2, 8000, 16, 1, 256), 1);
    // Counts a day-long export could reach; four times them does not fit 32 bits.
    avi.tracks[0].bytes_written = 0x50000001;
    avi.tracks[1].bytes_written = 0xC0000000;
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Avi a = parse(read_file(path));
    ASSERT_EQ(a.streams.size(), 3u);
    EXPECT_EQ(le32(a.streams[1].strh.data, 32), 0x50000001u);
    EXPECT_EQ(le32(a.streams[2].strh.data, 32), 0xC0000000u);
}

TEST_F(AviRiff, EightTracksFitTheHeaderANinthIsRefused) {
    ASSERT_EQ(avi_out_create(&avi, path), 0);
    ASSERT_EQ(avi_out_video_format(&avi, 352, 288, 25, "RGB "), 1);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 0);
    EXPECT_EQ(avi.track_count, 8);
    Bytes block = pattern(5, 1);
    ASSERT_EQ(avi_out_write_audio(&avi, block.data(), block.size()), 0);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);

    Avi a = parse(read_file(path));
    ASSERT_EQ(a.streams.size(), 9u);
    EXPECT_EQ(a.junk.at, 212 + 8 * 102u);
    EXPECT_EQ(a.junk.size, 2028 - (212 + 8 * 102u));
    ASSERT_EQ(a.chunks.size(), 1u);
    EXPECT_EQ(a.chunks[0].id, "08wb");
    // "RGB " means uncompressed: no FourCC in the header.
    EXPECT_TRUE(all_zero(a.streams[0].strh.data, 4, 4));
    EXPECT_TRUE(all_zero(a.streams[0].strf.data, 16, 4));
}

TEST_F(AviRiff, EmptyFileHasAHeaderAndAnEmptyIndex) {
    open_mulaw(25);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Bytes f = read_file(path);
    EXPECT_EQ(f.size(), 2048u + 8u);
    Avi a = parse(f);
    EXPECT_EQ(a.movi.size, 4u);
    EXPECT_TRUE(a.has_idx1);
    EXPECT_TRUE(a.idx1.empty());
    EXPECT_EQ(le32(a.avih.data, 16), 0u);
}

// Lowers the file size limit for one test, so that writes past it come back short.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t old_handler_ = SIG_DFL;
};

TEST_F(AviRiff, AShortWriteLeavesNeitherBytesNorIndexEntryBehind) {
    open_mulaw(25);
    Bytes a = pattern(100, 1), b = pattern(300, 2), c = pattern(21, 3);
    {
        FileSizeLimit limit(2048 + 108 + 200);
        ASSERT_EQ(avi_out_write_frame(&avi, a.data(), a.size(), true), 0);
        const uint32_t pos = avi.pos;
        // Only part of this chunk fits under the limit.
        EXPECT_EQ(avi_out_write_frame(&avi, b.data(), b.size(), false), -1);
        EXPECT_EQ(avi.pos, pos);
        EXPECT_EQ(avi.video_frames, 1u);
        EXPECT_EQ(avi.index.size(), 1u);
        EXPECT_EQ(avi.last_frame_pos, 2048u);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), pos);
        EXPECT_EQ(avi_out_write_audio(&avi, b.data(), b.size()), -1);
        EXPECT_EQ(avi.tracks[0].bytes_written, 0u);
        // A smaller chunk still fits, right where the failed one began.
        ASSERT_EQ(avi_out_write_audio(&avi, c.data(), c.size()), 0);
        EXPECT_EQ(avi.tracks[0].bytes_written, 21u);
    }
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Avi parsed = parse(read_file(path));
    ASSERT_EQ(parsed.chunks.size(), 2u);
    EXPECT_EQ(parsed.chunks[1].id, "01wb");
    EXPECT_EQ(parsed.chunks[1].at, 2048u + 108u);
    EXPECT_EQ(parsed.chunks[1].data, c);
    expect_index_matches(parsed, {true, false});
}

TEST_F(AviRiff, WithoutRoomForIdx1TheHeaderIsStillWrittenAndTheFinishFails) {
    open_mulaw(25);
    Bytes frame = pattern(200, 4);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(avi_out_write_frame(&avi, frame.data(), frame.size(), i == 0), 0);
    const uint32_t end = avi.pos;
    {
        FileSizeLimit limit(end + 20);
        EXPECT_EQ(avi_out_finish(&avi), -1);
    }
    ASSERT_EQ(avi_out_close(&avi), 0);
    Bytes f = read_file(path);
    EXPECT_EQ(f.size(), end);
    Avi a = parse(f);
    EXPECT_FALSE(a.has_idx1);
    EXPECT_EQ(le32(a.avih.data, 12), 0x100u);  // interleaved, no index
    EXPECT_EQ(le32(a.avih.data, 16), 3u);
    EXPECT_EQ(a.chunks.size(), 3u);
}

uint32_t pread32(int fd, uint64_t at) {
    Bytes b(4);
    EXPECT_EQ(pread(fd, b.data(), 4, static_cast<off_t>(at)), 4);
    return le32(b, 0);
}

// The limit needs a file near 4 GiB: pos is moved there and the file stays sparse.
TEST_F(AviRiff, SizeLimitCountsChunkIdx1HeaderAndOneMoreEntry) {
    open_mulaw(25);
    Bytes small = pattern(64, 6);
    ASSERT_EQ(avi_out_write_frame(&avi, small.data(), small.size(), true), 0);
    const uint32_t start = avi.pos;

    // A length that wraps a 32-bit sum around to a small one must not pass (the chunk itself
    // would still end below 4 GiB).
    const size_t wraps = (size_t{1} << 32) - start - 40;
    EXPECT_EQ(avi_out_write_frame(&avi, small.data(), wraps, false), -1);
    EXPECT_EQ(avi_out_write_audio(&avi, small.data(), wraps), -1);
    EXPECT_EQ(avi.pos, start);

    // pos + 16 + length + 16 x (entries + 1) may reach the limit but not pass it.
    const uint32_t limit = 0xFEFFF7FF;
    const uint32_t length = 1001;
    const uint32_t at = limit - 16 - length - 16 * 2;
    ASSERT_EQ(at % 2, 0u);
    avi.pos = at;
    Bytes big = pattern(length + 1, 8);
    EXPECT_EQ(avi_out_write_frame(&avi, big.data(), length + 1, false), -1);
    EXPECT_EQ(avi_out_write_audio(&avi, big.data(), length + 1), -1);
    EXPECT_EQ(avi.pos, at);
    EXPECT_EQ(avi.index.size(), 1u);
    EXPECT_EQ(avi.video_frames, 1u);
    EXPECT_EQ(avi.tracks[0].bytes_written, 0u);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), start) << "nothing was written";

    // The smaller write passes, and after it not even an empty chunk has room.
    ASSERT_EQ(avi_out_write_frame(&avi, big.data(), length, false), 0);
    EXPECT_EQ(avi.pos, at + 8 + length + 1);
    EXPECT_EQ(avi_out_write_frame(&avi, nullptr, 0, false), -1);
    EXPECT_EQ(avi.index.size(), 2u);

    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    const uint64_t end = at + 8 + length + 1 + 8 + 32;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), end);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pread32(fd, 4), end - 8);                          // RIFF size
    EXPECT_EQ(pread32(fd, 2040), at + 8 + length + 1 - 2044);   // movi size
    // idx1 closes the file: its second entry is the chunk near the limit.
    const uint64_t idx1 = end - 8 - 32;
    EXPECT_EQ(pread32(fd, idx1), 0x31786469u);  // "idx1"
    EXPECT_EQ(pread32(fd, idx1 + 4), 32u);
    EXPECT_EQ(pread32(fd, idx1 + 8 + 16 + 8), at);
    EXPECT_EQ(pread32(fd, idx1 + 8 + 16 + 12), length);
    close(fd);
}

// --- Buffered writes and the spilled index ---------------------------------------------------

struct Write {
    bool audio;
    Bytes data;
    bool key;
};

// Odd and even lengths, empty frames, key frames, and now and then a chunk larger than a small
// write buffer.
std::vector<Write> mixed_writes(size_t count) {
    std::vector<Write> writes;
    for (size_t i = 0; i < count; ++i) {
        const bool audio = i % 7 == 3;
        const size_t length = i % 997 == 996 ? 9000 : (i * 13) % 41;
        writes.push_back({audio, pattern(length, static_cast<uint8_t>(i)), !audio && i % 25 == 0});
    }
    return writes;
}

int put(avi_out* avi, const Write& w) {
    return w.audio ? avi_out_write_audio(avi, w.data.data(), w.data.size())
                   : avi_out_write_frame(avi, w.data.data(), w.data.size(), w.key);
}

// Memory holds a bounded part of the index, and the file comes out byte for byte as without
// buffering: the spilled entries are put back in front of the rest.
TEST_F(AviRiff, BufferedAndSpilledWritesGiveTheSameFileAsDirectOnes) {
    const std::vector<Write> writes = mixed_writes(3 * kAviIndexStep + 123);
    open_mulaw(25);
    avi_out buffered;
    const std::string buffered_path = dir.file("buffered.avi");
    ASSERT_EQ(avi_out_create(&buffered, buffered_path), 0);
    ASSERT_EQ(avi_out_video_format(&buffered, 352, 240, 25, "h264"), 1);
    ASSERT_EQ(avi_out_audio_format(&buffered, 1, 8000, 8, 7, 64), 1);
    ASSERT_EQ(avi_out_set_buffering(&buffered, 4096, true), 0);
    ASSERT_GE(buffered.index_file, 0);
    size_t most_in_memory = 0;
    for (const Write& w : writes) {
        ASSERT_EQ(put(&avi, w), 0);
        ASSERT_EQ(put(&buffered, w), 0);
        most_in_memory = std::max(most_in_memory, buffered.index.size());
    }
    EXPECT_LE(most_in_memory, kAviIndexStep);
    EXPECT_GE(buffered.index_spilled, 3 * kAviIndexStep);
    EXPECT_EQ(avi_out_index_count(&buffered), writes.size());
    EXPECT_EQ(buffered.pos, avi.pos);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_finish(&buffered), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    ASSERT_EQ(avi_out_close(&buffered), 0);

    const Bytes direct = read_file(path), through_buffer = read_file(buffered_path);
    ASSERT_EQ(direct.size(), through_buffer.size());
    EXPECT_TRUE(direct == through_buffer);
    std::vector<bool> keys;
    for (const Write& w : writes) keys.push_back(!w.audio && w.key);
    expect_index_matches(parse(through_buffer), keys);
}

// A buffered write that fails takes back every chunk since the last good flush: the file, the
// index and the counters agree again, and the finished file is whole.
TEST_F(AviRiff, AFailedFlushReturnsToWhatTheFileHolds) {
    open_mulaw(25);
    ASSERT_EQ(avi_out_set_buffering(&avi, 1000, true), 0);
    const std::vector<Write> writes = mixed_writes(400);
    std::vector<bool> keys;
    {
        FileSizeLimit limit(2048 + 3000);
        size_t i = 0;
        for (; i < writes.size(); ++i) {
            const uint32_t frames = avi.video_frames;
            if (put(&avi, writes[i]) != 0) break;
            ASSERT_EQ(avi.video_frames, frames + (writes[i].audio ? 0 : 1));
        }
        ASSERT_LT(i, writes.size()) << "the limit was never reached";
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), avi.pos);
        EXPECT_LE(avi.pos, 2048u + 3000u);
        EXPECT_EQ(avi_out_index_count(&avi), avi.video_frames + avi.tracks[0].chunks_written);
        // The chunks that stayed are the first ones written, whole.
        for (size_t k = 0; k < avi_out_index_count(&avi); ++k)
            keys.push_back(!writes[k].audio && writes[k].key);
    }
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    Avi parsed = parse(read_file(path));
    ASSERT_EQ(parsed.chunks.size(), keys.size());
    for (size_t k = 0; k < keys.size(); ++k) EXPECT_EQ(parsed.chunks[k].data, writes[k].data);
    expect_index_matches(parsed, keys);
    EXPECT_EQ(le32(parsed.avih.data, 16), static_cast<uint32_t>(
        std::count_if(writes.begin(), writes.begin() + static_cast<long>(keys.size()),
                      [](const Write& w) { return !w.audio; })));
}

// Closing an unfinished file still writes what is buffered.
TEST_F(AviRiff, ClosingAnUnfinishedBufferedFileKeepsItsChunks) {
    open_mulaw(25);
    ASSERT_EQ(avi_out_set_buffering(&avi, 1 << 20, false), 0);
    Bytes a = pattern(333, 9);
    ASSERT_EQ(avi_out_write_frame(&avi, a.data(), a.size(), true), 0);
    const uint32_t end = avi.pos;
    ASSERT_EQ(avi_out_close(&avi), 0);
    const Bytes f = read_file(path);
    ASSERT_EQ(f.size(), end);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), f.begin() + 2048 + 8));
}

}  // namespace
