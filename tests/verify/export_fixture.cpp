#include "tests/verify/export_fixture.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace verifytest {
namespace {

using testkit::kT0;

std::unique_ptr<Exported> make() {
    auto e = std::make_unique<Exported>();
    std::string error;
    sample::VolumeContent content;
    for (int channel : {1, 2}) {
        sample::VideoRecordingSpec spec;
        spec.video_channel = channel;
        spec.fps = 15;
        spec.from = kT0;
        spec.to = kT0 + 20;
        auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 352, 240, 15, &error);
        if (encoder == nullptr) return nullptr;
        auto v = sample::video_recording(spec, *encoder, &error);
        if (!v.has_value()) return nullptr;
        content.channels.push_back(std::move(v->data));
    }
    auto a = sample::audio_recording(1, kT0, kT0 + 20, {}, &error);
    if (!a.has_value()) return nullptr;
    content.channels.push_back(std::move(a->data));
    sample::DiskSpec disk = testkit::small_recorder(content, 29);
    disk.bare.recorder.block_size = 64 * 1024;
    e->image = testkit::make_image(e->dir, "export.img", disk);
    e->folder = e->dir.file("export");
    const clitest::CliResult r = clitest::run_cli(
        {"export", "--json", "--image", e->image, "--channels", "1,2", "--from", "2026-03-14 07:00:03",
         "--to", "2026-03-14 07:00:15", "--out", e->folder});
    if (r.status != 0) {
        ADD_FAILURE() << r.err;
        return nullptr;
    }
    e->report = r.json()["report"].get<std::string>();
    return e;
}

}  // namespace

const Exported* exported() {
    static std::unique_ptr<Exported> e = make();
    return e.get();
}

std::string copy_folder(const testkit::TempDir& dir, const std::string& name) {
    const std::string to = dir.file(name);
    std::filesystem::copy(exported()->folder, to, std::filesystem::copy_options::recursive);
    return to;
}

void flip_byte(const std::string& path, uint64_t offset) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    char b = 0;
    f.seekg(static_cast<std::streamoff>(offset));
    ASSERT_TRUE(f.read(&b, 1)) << path;
    b = static_cast<char>(b ^ 0x5A);
    f.seekp(static_cast<std::streamoff>(offset));
    ASSERT_TRUE(f.write(&b, 1)) << path;
}

}  // namespace verifytest
