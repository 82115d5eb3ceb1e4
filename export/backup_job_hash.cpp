// The job's report data beyond its files: the examiner's case data, when the job ran, and the
// digests of its files, made on the hasher's threads as each file is finished.
#include "export/backup_job.h"

void BackupJob::set_case(const ExportCaseInfo& info) { case_info_ = info; }

void BackupJob::fill_report_case() {
    report_.case_info = case_info_;
    report_.job_started = export_pc_clock_now();
    hasher_.clear();
    hashed_ = maker_.opened().size();
}

void BackupJob::hash_finished_files() {
    const auto& files = maker_.opened();
    for (; hashed_ < files.size(); ++hashed_) {
        if (!files[hashed_].finished) break;
        hasher_.add(files[hashed_].prefix + "avi");
        hasher_.add(files[hashed_].prefix + "smi");
    }
}
