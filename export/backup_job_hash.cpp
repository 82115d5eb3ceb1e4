// The job's report data beyond its files: the examiner's case data, when the job ran, and the
// digests of its files, made on the hasher's threads as each file is finished.
#include "export/backup_job.h"
#include "export/sami.h"

void BackupJob::set_case(const ExportCaseInfo& info) {
    if (active_) return;
    case_info_ = info;
    maker_.set_clock_offset(info.clock_offset);
}

void BackupJob::fill_report_case() {
    report_.case_info = case_info_;
    report_.job_started = export_pc_clock_now();
    hasher_.clear();
    hashed_ = maker_.opened().size();
}

// With a measured clock offset the captions gain their corrected line first: the digest is of
// the file as it stays.
void BackupJob::hash_finished_files() {
    const auto& files = maker_.opened();
    for (; hashed_ < files.size(); ++hashed_) {
        if (!files[hashed_].finished) break;
        const std::string& prefix = files[hashed_].prefix;
        if (files[hashed_].format != ExportFormat::Avi) {
            hasher_.add(prefix + export_format_name(files[hashed_].format));
            continue;
        }
        if (case_info_.clock_offset) sami_file_add_corrected_lines(prefix + "smi", *case_info_.clock_offset);
        hasher_.add(prefix + "avi");
        hasher_.add(prefix + "smi");
    }
}

void BackupJob::note_failed_writes() {
    const auto& files = maker_.opened();
    uint64_t failed = 0;
    std::string first;
    for (size_t i = first_file_; i < files.size(); ++i) {
        if (files[i].stats.failed_writes == 0) continue;
        failed += files[i].stats.failed_writes;
        if (first.empty()) first = files[i].prefix + export_format_name(files[i].format);
    }
    if (failed == 0) return;
    std::lock_guard<std::mutex> guard(mutex_);
    if (error_.empty()) {
        error_ = "writing " + first + " failed (" + std::to_string(failed) +
                 " writes refused in all; is the disk full?): the files lack what was placed after "
                 "each failure";
    }
}
