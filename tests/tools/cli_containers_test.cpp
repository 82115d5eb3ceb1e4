// The same recorder disk as a raw image, as E01 sets (compressed and not) and as a split raw
// image: every command prints the same, the container and its acquisition data are shown, and
// damaged sets end in partial results or a clear failure, never a crash.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"
#include "tests/tools/container_images.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using nlohmann::json;

constexpr const char* kFrom = "2026-03-14 07:00:00";
constexpr const char* kTo = "2026-03-14 07:02:00";

// The output with the container's own fields dropped and every mention of the image or the
// output folder replaced, so that two containers of one disk compare equal.
json neutral(json j, const std::string& image, const std::string& out) {
    if (j.is_object()) {
        j.erase("container");
        j.erase("first_segment");
        for (auto& [key, value] : j.items()) value = neutral(value, image, out);
    } else if (j.is_array()) {
        for (auto& value : j) value = neutral(value, image, out);
    } else if (j.is_string()) {
        std::string s = j.get<std::string>();
        if (s == image) return "<image>";
        if (!out.empty() && s.rfind(out, 0) == 0) return "<out>" + s.substr(out.size());
    }
    return j;
}

// Standard output as JSON documents: one, or one per line for streams.
json documents(const std::string& text) {
    const json whole = json::parse(text, nullptr, false);
    if (!whole.is_discarded()) return json::array({whole});
    json all = json::array();
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(at, nl - at);
        if (!line.empty()) all.push_back(json::parse(line, nullptr, false));
        EXPECT_FALSE(all.back().is_discarded()) << line;
        at = nl + 1;
    }
    return all;
}

// A file's text with its folder's name taken out.
std::string file_text(const json& path, const std::string& folder) {
    const std::vector<uint8_t> bytes = testkit::read_file(path.get<std::string>());
    std::string text(bytes.begin(), bytes.end());
    for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
        text.replace(at, folder.size(), "<out>");
    }
    return text;
}

struct Command {
    std::string name;
    std::vector<std::string> args;  // "@OUT" stands for a fresh output folder
    bool json_output = true;
};

std::vector<Command> every_command() {
    return {
        {"scan", {"--json", "scan"}},
        {"info", {"--json", "info"}},
        {"channels", {"--json", "channels"}},
        {"calendar", {"--json", "calendar"}},
        {"day", {"--json", "day", "--date", "2026-03-14"}},
        {"log event", {"--json", "log", "event", "--date", "2026-03-14"}},
        {"log system", {"--json", "log", "system", "--date", "2026-03-14"}},
        {"log capture", {"--json", "log", "capture", "--date", "2026-03-14"}},
        {"capture-image", {"--json", "capture-image", "--time", "2026-03-14 07:00:15", "--out", "@OUT"}},
        {"frames", {"--json", "frames", "--channels", "1", "--from", kFrom}},
        {"frames rew", {"--json", "frames", "--channels", "1", "--mode", "rew4", "--from", "2026-03-14 07:01:50"}},
        {"read", {"read", "--channel", "3", "--offset", "0", "--length", "3000000"}, false},
        {"export", {"--json", "export", "--channels", "1", "--from", kFrom, "--to", kTo, "--out", "@OUT"}},
    };
}

class ContainerCommands : public ::testing::Test {
protected:
    void SetUp() override {
        images_ = clitest::container_images();
        ASSERT_NE(images_, nullptr) << "the images could not be built";
    }
    // Runs a command on the image; out gets the output folder it used.
    CliResult run(const std::string& image, const Command& c, std::string* out) {
        *out = dir_.file("out" + std::to_string(runs_++));
        std::vector<std::string> args = {"--image", image};
        for (const std::string& a : c.args) args.push_back(a == "@OUT" ? *out : a);
        return run_cli(args);
    }
    clitest::ContainerImages* images_ = nullptr;
    testkit::TempDir dir_;
    int runs_ = 0;
};

TEST_F(ContainerCommands, EveryCommandPrintsTheSameOnEveryContainerOfTheDisk) {
    for (const Command& c : every_command()) {
        std::string raw_out;
        const CliResult want = run(images_->raw, c, &raw_out);
        ASSERT_EQ(want.status, 0) << c.name << ": " << want.err;
        ASSERT_FALSE(want.out.empty()) << c.name;
        for (const std::string& image : {images_->e01_fast, images_->e01_none, images_->split}) {
            SCOPED_TRACE(c.name + " on " + image);
            std::string out;
            const CliResult got = run(image, c, &out);
            ASSERT_EQ(got.status, 0) << got.err;
            EXPECT_EQ(got.err, want.err);
            if (!c.json_output) {
                EXPECT_TRUE(got.out == want.out) << "the channel's bytes differ";
                continue;
            }
            EXPECT_EQ(neutral(documents(got.out), image, out),
                      neutral(documents(want.out), images_->raw, raw_out));
            if (c.name != "export") continue;
            // The files themselves: the same digests, and the report names the container.
            std::ifstream got_file(out + "/export-report.json"), want_file(raw_out + "/export-report.json");
            const json got_report = json::parse(got_file, nullptr, false);
            const json want_report = json::parse(want_file, nullptr, false);
            ASSERT_FALSE(got_report.is_discarded());
            ASSERT_FALSE(got_report["files"].empty());
            for (size_t i = 0; i < want_report["files"].size(); ++i) {
                EXPECT_EQ(got_report["files"][i]["avi"]["sha256"], want_report["files"][i]["avi"]["sha256"]);
                // The captions name the file's folder; everything else is the same.
                EXPECT_EQ(file_text(got_report["files"][i]["smi"]["path"], out),
                          file_text(want_report["files"][i]["smi"]["path"], raw_out));
            }
            EXPECT_EQ(got_report["source"]["first_segment"], image);
            EXPECT_EQ(got_report["source"]["container"], image == images_->split ? "split raw" : "E01");
            EXPECT_EQ(want_report["source"]["container"], "raw");
            EXPECT_EQ(want_report["source"]["first_segment"], images_->raw);
            // The acquisition's own case data comes with an E01 source, and only with one.
            EXPECT_TRUE(want_report["source"]["image_case_data"].is_null());
            const json& case_data = got_report["source"]["image_case_data"];
            if (image == images_->split) {
                EXPECT_TRUE(case_data.is_null());
            } else {
                EXPECT_EQ(case_data["case_number"], "CASE-16");
                EXPECT_EQ(case_data["evidence_number"], "EV-3");
                EXPECT_EQ(case_data["examiner"], "Examiner One");
                EXPECT_EQ(case_data["description"], "recorder disk");
            }
        }
    }
}

TEST_F(ContainerCommands, ScanAndInfoNameTheContainerAndTheAcquisition) {
    struct Case {
        std::string image, kind;
    };
    for (const Case& c : {Case{images_->raw, "raw"}, Case{images_->split, "split raw"},
                          Case{images_->e01_fast, "E01"}, Case{images_->e01_none, "E01"}}) {
        SCOPED_TRACE(c.image);
        const CliResult scan = run_cli({"--json", "--image", c.image, "scan"});
        ASSERT_EQ(scan.status, 0) << scan.err;
        EXPECT_EQ(scan.json()["disks"][0]["container"], c.kind);
        const CliResult text = run_cli({"--image", c.image, "scan"});
        EXPECT_NE(text.out.find("CONTAINER"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find(" " + c.kind + " "), std::string::npos) << text.out;

        const CliResult info = run_cli({"--json", "--image", c.image, "info"});
        ASSERT_EQ(info.status, 0) << info.err;
        const json container = info.json()["container"];
        EXPECT_EQ(container["kind"], c.kind);
        const std::vector<std::string> files = clitest::files_of_set(images_->dir, c.image);
        EXPECT_EQ(container["files"], c.kind == "raw" ? json::array({c.image}) : json(files));
        if (c.kind == "split raw") {
            EXPECT_EQ(files.size(), 17u);  // 64 MiB in pieces of 3999999
        }
        if (c.kind != "E01") {
            EXPECT_FALSE(container.contains("acquisition"));
            continue;
        }
        EXPECT_GE(files.size(), 2u);
        EXPECT_EQ(container["incomplete"], false);
        const json& a = container["acquisition"];
        EXPECT_EQ(a["case_number"], "CASE-16");
        EXPECT_EQ(a["evidence_number"], "EV-3");
        EXPECT_EQ(a["examiner"], "Examiner One");
        EXPECT_EQ(a["description"], "recorder disk");
        EXPECT_EQ(a["md5"], images_->md5);
        EXPECT_EQ(a["sha1"], images_->sha1);
        ASSERT_TRUE(a["date"].is_string());
        EXPECT_EQ(a["date"].get<std::string>().substr(0, 2), "20");

        const CliResult shown = run_cli({"--image", c.image, "info"});
        ASSERT_EQ(shown.status, 0) << shown.err;
        EXPECT_NE(shown.out.find("Container: E01, " + std::to_string(files.size()) + " files from " + c.image),
                  std::string::npos) << shown.out;
        for (const std::string& value : {std::string("CASE-16"), std::string("Examiner One"), images_->md5, images_->sha1}) {
            EXPECT_NE(shown.out.find(value), std::string::npos) << value << "\n" << shown.out;
        }
    }
}

// A damaged set: every command ends with 0 or with 1 and one line that says why; the commands
// that need what is lost end with 1, and the trace names the image and the byte.
void expect_damage_reported(const std::string& image, const std::string& what) {
    SCOPED_TRACE(what);
    testkit::TempDir out;
    int failures = 0;
    for (const Command& c : every_command()) {
        std::vector<std::string> args = {"--image", image};
        for (const std::string& a : c.args) args.push_back(a == "@OUT" ? out.file(c.name) : a);
        const CliResult r = run_cli(args);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << c.name << " ended with " << r.status << "\n" << r.err;
        if (r.status != 1) continue;
        ++failures;
        // Progress lines ("export: 12%") may come first: a job that goes on past unreadable
        // spans runs long enough to show them. The failure itself is one line, the last.
        std::vector<std::string> lines;
        for (size_t at = 0; at < r.err.size();) {
            const size_t end = std::min(r.err.find('\n', at), r.err.size());
            lines.push_back(r.err.substr(at, end - at));
            at = end + 1;
        }
        ASSERT_FALSE(lines.empty()) << c.name;
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            EXPECT_NE(lines[i].find('%'), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(lines.back().rfind("quillon-cli: ", 0), 0u) << c.name << ": " << r.err;
    }
    EXPECT_GE(failures, 1) << "nothing noticed the damage";
    const CliResult traced = run_cli({"--trace", "--image", image, "read", "--channel", "3",
                                      "--offset", "0", "--length", "3000000"});
    EXPECT_EQ(traced.status, 1);
    EXPECT_NE(traced.err.find("Read failed: '" + image + "' at byte "), std::string::npos) << traced.err;
}

TEST_F(ContainerCommands, AMissingMiddleSegmentEndsInPartialResults) {
    const auto files = clitest::files_of_set(images_->dir, images_->e01_none);
    ASSERT_GE(files.size(), 3u);
    const std::string first = clitest::link_set(dir_, "gap", files, {});
    const std::string middle = first.substr(0, first.size() - 3) + files[1].substr(files[1].size() - 3);
    ASSERT_EQ(::unlink(middle.c_str()), 0);
    const CliResult info = run_cli({"--json", "--image", first, "info"});
    if (info.status == 0) {
        EXPECT_EQ(info.json()["container"]["incomplete"], true);
    }
    expect_damage_reported(first, "missing " + middle);
}

// An acquisition cut off while writing: the set ends in a truncated segment, the one that holds
// the recording.
TEST_F(ContainerCommands, ATruncatedLastSegmentEndsInPartialResults) {
    const auto files = clitest::files_of_set(images_->dir, images_->e01_none);
    const int64_t recording = clitest::channel_offset(images_->raw);
    ASSERT_GE(recording, 0);
    const auto stored = clitest::find_stored_chunk(files, images_->raw, uint64_t(recording));
    ASSERT_TRUE(stored.has_value());
    const std::vector<std::string> written(files.begin(), files.begin() + long(stored->segment) + 1);
    const std::string first = clitest::link_set(dir_, "cut", written, {stored->segment});
    const std::string last = first.substr(0, first.size() - 3) + written.back().substr(written.back().size() - 3);
    ASSERT_EQ(::truncate(last.c_str(), off_t(stored->offset)), 0);  // up to the recording's chunk
    expect_damage_reported(first, "truncated " + last);
}

TEST_F(ContainerCommands, AFlippedByteInACompressedChunkEndsInPartialResults) {
    const auto files = clitest::files_of_set(images_->dir, images_->e01_fast);
    const int64_t recording = clitest::channel_offset(images_->raw);
    ASSERT_GE(recording, 0);
    const auto stored = clitest::find_stored_chunk(files, images_->raw, uint64_t(recording));
    ASSERT_TRUE(stored.has_value());
    ASSERT_TRUE(stored->compressed);
    const std::string first = clitest::link_set(dir_, "flip", files, {stored->segment});
    const std::string damaged = first.substr(0, first.size() - 3) +
                                files[stored->segment].substr(files[stored->segment].size() - 3);
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    const auto at = std::streamoff(stored->offset + 100);  // inside the deflate stream
    f.seekg(at);
    const int byte = f.get();
    f.seekp(at);
    f.put(static_cast<char>(byte ^ 0x40));
    f.close();
    expect_damage_reported(first, "flipped byte in " + damaged);
}

// A set libewf cannot open at all: not "no disks", but the image and libewf's reason.
TEST_F(ContainerCommands, AnE01SetThatDoesNotOpenIsNamed) {
    const std::string stub = dir_.file("stub.E01");
    std::ofstream(stub, std::ios::binary).write("EVF\x09\x0d\x0a\xff\x00" "not a segment", 21);
    const std::string cut = clitest::link_set(dir_, "head", {images_->e01_fast}, {0});
    ASSERT_EQ(::truncate(cut.c_str(), 100), 0);
    for (const std::string& image : {stub, cut}) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"--image", image, "scan"},
                                                     std::vector<std::string>{"--image", image, "info"},
                                                     std::vector<std::string>{"--drive", "3=" + image, "scan"}}) {
            const CliResult r = run_cli(args);
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("quillon-cli: cannot open the E01 image " + image + ": lib", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

}  // namespace
