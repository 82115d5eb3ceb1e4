#include "tools/cli/output.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "disk/disk.h"
#include "disk/recorder_time.h"
#include "tools/cli/cli.h"

namespace cli {

void emit(bool json, const Json& doc, TextPrinter print_text) {
    if (json) {
        // Names come from the disk and need not be UTF-8; bad bytes must not abort the output.
        std::cout << doc.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
    } else {
        print_text(doc, std::cout);
    }
    std::cout.flush();
}

int fail(const std::string& what) {
    std::cerr << "quillon-cli: " << what << '\n';
    return kExitFailure;
}

int fail(const std::string& what, int32_t code) {
    std::cerr << "quillon-cli: " << what << ": " << dvrfs_strerror(code) << " (" << code << ")\n";
    return kExitFailure;
}

int usage_error(const std::string& what) {
    std::cerr << "quillon-cli: " << what << '\n';
    return kExitUsage;
}

std::string time_text(uint32_t time) {
    const CivilTime t = civil_from_recorder(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

void put_time(Json& object, const std::string& key, uint32_t time) {
    object[key] = time;
    object[key + "_text"] = time == 0 ? Json(nullptr) : Json(time_text(time));
}

TextTable::TextTable(std::vector<std::string> headers) {
    if (!headers.empty()) rows_.push_back(std::move(headers));
}

void TextTable::add(std::vector<std::string> row) {
    rows_.push_back(std::move(row));
}

void TextTable::print(std::ostream& out, const std::string& indent) const {
    std::vector<size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows_) {
        std::string line = indent;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line.append(widths[c] - row[c].size() + 2, ' ');
        }
        out << line << '\n';
    }
}

std::string cell(const Json& value) {
    if (value.is_null()) return "-";
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    return value.dump();
}

std::string no_mountable_disk() {
    const uint64_t failed = hdd_failed_reads();
    if (failed == 0) return "no mountable disk";
    return "no mountable disk (" + std::to_string(failed) +
           (failed == 1 ? " disk read" : " disk reads") + " failed: a damaged or incomplete image?)";
}

}  // namespace cli
