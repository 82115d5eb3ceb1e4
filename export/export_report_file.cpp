// Where a job's report goes: export-report.json in a folder that has none yet, else a name of
// its own with the job's start time, so that no earlier job's report is ever replaced.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "export/export_report.h"
#include "export/new_file.h"
#include "platform/clock.h"

namespace {

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The report's name, claimed by creating it empty: export-report.json when free, else
// export-report-HHMMSS.json, numbered when that is taken too.
int claim_name(const std::string& folder, const ExportReportClock& started, std::string* path,
               std::string* error) {
    *path = folder + "/" + kExportReportName;
    bool taken = false;
    const int fd = new_file_try(*path, &taken);
    if (fd >= 0 || !taken) {
        if (fd < 0 && error != nullptr) *error = "cannot write " + *path;
        return fd;
    }
    char stem[32];
    std::snprintf(stem, sizeof stem, "export-report-%02d%02d%02d", started.hour % 100,
                  started.minute % 100, started.second % 100);
    return new_file_create(folder + "/" + stem, ".json", path, error);
}

}  // namespace

ExportReportClock export_report_clock_now() {
    ExportReportClock now;
    platform::local_clock(&now.hour, &now.minute, &now.second);
    return now;
}

int32_t place_export_report(const std::string& folder, const ExportReportClock& started,
                            const std::string& text, std::string* written, std::string* error) {
    std::string path;
    const int claimed = claim_name(folder, started, &path, error);
    if (claimed < 0) return -1;
    ::close(claimed);
    // Written beside it and renamed onto the empty file claimed above, so that a reader never
    // finds half a report.
    std::string tmp;
    const int fd = new_file_create(folder + "/.export-report", ".part", &tmp, nullptr);
    bool ok = fd >= 0;
    if (ok) {
        ok = write_all(fd, text);
        ok = ::close(fd) == 0 && ok;
        ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        if (fd >= 0) ::unlink(tmp.c_str());
        ::unlink(path.c_str());
        if (error != nullptr) *error = "cannot write " + path;
        return -1;
    }
    if (written != nullptr) *written = path;
    return 0;
}
