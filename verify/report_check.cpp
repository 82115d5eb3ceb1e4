#include "verify/report_check.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "export/gop_sources.h"
#include "platform/sha256.h"
#include "verify/frame_hash.h"
#include "verify/image_check.h"

namespace verify {
namespace {

using Json = nlohmann::json;

// The files of one entry of the report, the media file first.
// Matroska and MP4 files stand under "file", with their "format" beside it.
constexpr const char* kMediaKeys[] = {"avi", "file", "mkv", "mp4"};
constexpr const char* kOtherKeys[] = {"smi", "framehash", "sources"};

// A field of the report as the type it must have; a report edited by hand may hold anything.
std::string text_field(const Json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool size_field(const Json& j, uint64_t* out) {
    const auto it = j.find("size");
    if (it == j.end() || !it->is_number_unsigned()) return false;
    *out = it->get<uint64_t>();
    return true;
}

class Checker {
public:
    Checker(std::string folder, VerifyOutcome& out) : folder_(std::move(folder)), out_(out) {}

    void entry(const Json& e, platform::Drive* image) {
        std::string media;
        for (const char* key : kMediaKeys) {
            if (const std::string path = listed_file(e, key); !path.empty()) media = path;
        }
        std::string framehash, sources;
        for (const char* key : kOtherKeys) {
            const std::string path = listed_file(e, key);
            if (std::string(key) == "framehash") framehash = path;
            if (std::string(key) == "sources") sources = path;
        }
        if (!media.empty() && !framehash.empty()) frames_again(media, framehash);
        // Only AVI files hold the stored frames as they are; other containers may rewrite them.
        const bool stored_as_is = media.size() > 4 && media.compare(media.size() - 4, 4, ".avi") == 0;
        if (image != nullptr && stored_as_is && !sources.empty()) against_image(*image, media, sources);
    }

private:
    void ok(const std::string& text) {
        ++out_.checked;
        out_.lines.push_back("OK " + text);
    }
    void mismatch(const std::string& text) {
        ++out_.checked;
        ++out_.mismatches;
        out_.lines.push_back("MISMATCH " + text);
    }

    // Checks the file listed under key; its path when it is there, else "". A file that
    // differs from the report is still looked into: its frames say what changed.
    std::string listed_file(const Json& e, const char* key) {
        const auto entry = e.find(key);
        if (entry == e.end() || !entry->is_object()) return {};
        const Json& f = *entry;
        const std::string name = text_field(f, "name");
        // Only names in the report's own folder: a report cannot send the check elsewhere.
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            mismatch(std::string(key) + " entry: \"" + name + "\" is not a file name");
            return {};
        }
        const std::string path = folder_ + "/" + name;
        struct stat st{};
        std::string digest;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            mismatch(name + ": missing");
            return {};
        }
        uint64_t size = 0;
        if (!size_field(f, &size) || static_cast<uint64_t>(st.st_size) != size) {
            mismatch(name + ": size " + std::to_string(st.st_size) + " differs from the report's");
        } else if (platform::sha256_file(path, &digest) != 0) {
            mismatch(name + ": cannot be read");
        } else if (digest != text_field(f, "sha256")) {
            mismatch(name + ": SHA-256 " + digest + " differs from the report's");
        } else {
            ok(name);
        }
        return path;
    }

    static std::string base(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

    // The name of the library that made a list is no part of what the list proves.
    static std::string without_software(const std::string& text) {
        std::istringstream in(text);
        std::string line, out;
        while (std::getline(in, line)) {
            if (line.rfind("#software:", 0) != 0) out += line + "\n";
        }
        return out;
    }

    void frames_again(const std::string& media, const std::string& framehash) {
        std::string made, error;
        if (frame_hash_list(media, &made, &error) != 0) {
            mismatch(base(framehash) + ": the frames of " + base(media) + " cannot be read (" + error + ")");
            return;
        }
        std::ifstream in(framehash, std::ios::binary);
        std::ostringstream stored;
        stored << in.rdbuf();
        if (without_software(made) != without_software(stored.str())) {
            mismatch(base(framehash) + ": differs from the frames of " + base(media));
        } else {
            ok(base(framehash) + " matches the frames of " + base(media));
        }
    }

    void against_image(platform::Drive& image, const std::string& media, const std::string& sources) {
        std::vector<SourceLine> lines;
        std::string error;
        if (read_sources_list(sources, &lines, &error) != 0) {
            mismatch(base(sources) + ": " + error);
            return;
        }
        ImageCheck check;
        if (check_against_image(image, media, lines, &check, &error) != 0) {
            mismatch(base(media) + ": " + error);
        } else if (!check.match) {
            mismatch(base(media) + " against the image: " + check.detail);
        } else {
            ok(base(media) + ": " + std::to_string(check.frames) + " stored frames match the image");
        }
    }

    std::string folder_;
    VerifyOutcome& out_;
};

VerifyOutcome unusable(const std::string& why) {
    VerifyOutcome out;
    out.status = kVerifyUnusable;
    out.error = why;
    return out;
}

}  // namespace

VerifyOutcome verify_report(const std::string& report, const VerifyOptions& options) {
    std::ifstream in(report, std::ios::binary);
    if (!in) return unusable("cannot open " + report);
    const Json doc = Json::parse(in, nullptr, false);
    const auto files = doc.is_object() ? doc.find("files") : doc.end();
    if (doc.is_discarded() || !doc.is_object() || files == doc.end() || !files->is_array()) {
        return unusable(report + " is not an export report");
    }
    std::unique_ptr<platform::Drive> image;
    if (!options.image.empty()) {
        image = platform::open_drive(options.image.c_str());
        if (!image) return unusable("cannot open the image " + options.image);
    }
    const size_t slash = report.find_last_of('/');
    VerifyOutcome out;
    Checker checker(slash == std::string::npos ? "." : report.substr(0, slash), out);
    for (const Json& e : *files) {
        if (e.is_object()) checker.entry(e, image.get());
    }
    out.status = out.mismatches > 0 ? kVerifyMismatch : kVerifyMatch;
    return out;
}

std::string report_source(const std::string& report) {
    std::ifstream in(report, std::ios::binary);
    const Json doc = Json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return {};
    const auto source = doc.find("source");
    if (source == doc.end() || !source->is_object()) return {};
    const std::string path = text_field(*source, "device");
    if (path.empty()) return {};
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? path : std::string();
}

std::string verify_summary(const VerifyOutcome& outcome) {
    if (outcome.status == kVerifyUnusable) return outcome.error;
    if (outcome.mismatches == 0) return "All " + std::to_string(outcome.checked) + " checks match.";
    return std::to_string(outcome.mismatches) + " of " + std::to_string(outcome.checked) +
           " checks do not match.";
}

}  // namespace verify
