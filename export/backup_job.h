// The AVI backup job as the main window runs it: start, the frame callback in backup mode, the
// notifications, the split into numbered parts, and the stop. The desktop program and the
// command-line tool drive the same controller; window-only steps are hooks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "export/avimaker.h"
#include "export/export_case.h"
#include "export/file_hasher.h"
#include "export/export_report.h"
#include "export/export_notify.h"
#include "export/export_side_files.h"
#include "export/gop_sources.h"

// Steps only a window has; the default does nothing.
class BackupJobHooks {
public:
    virtual ~BackupJobHooks() = default;
    virtual void mute_display() {}
    virtual void clear_pictures() {}
    virtual void restore_display() {}     // volume and the main window's controls
    virtual void progress(int32_t) {}     // the backup dialog's progress bar
    virtual void create_failed() {}       // "AVI file create faile." in a message box
    virtual void ended() {}               // the backup dialog closes
};

class BackupJob final : public ExportNotify {
public:
    // Restarts that wrote nothing before the next write failure: the disk is full.
    static constexpr int kMaxFruitlessRestarts = 2;

    explicit BackupJob(BackupJobHooks* hooks = nullptr, uint64_t split_bytes = kBackupSplitBytes);
    ~BackupJob() override;

    // Starts the job over the span for the video channels of mask (bit c = channel c + 1).
    // The storage API must be running with frame_callback and status_callback installed and a
    // session mounted. 0, or -1 when the folder cannot be made or the engine refuses.
    int32_t start(uint32_t from, uint32_t to, uint32_t mask, const std::string& folder);
    // The files of the jobs started from now on: AVI (the default), or Matroska or MP4 through
    // the factory that the program provides. Not while a job runs.
    void set_container(ExportFormat format, ContainerFactory factory);
    // The examiner's data for the jobs started from now on: case, clock, how it was asked for.
    void set_case(const ExportCaseInfo& info);
    // Handles posted events until the job has stopped or timeout_ms passed; false once idle.
    bool process(int timeout_ms);
    void stop();

    bool active() const;
    // Why the job failed ("" when it did not).
    std::string error() const;
    const std::vector<CAvimaker::FileSet>& files() const { return maker_.opened(); }
    // The files of the last job with what each holds, as its report names them.
    const std::vector<ExportFileEntry>& report_files() const { return report_.files; }
    // The report the last job wrote: export-report.json, or a name of its own in a folder that
    // held a report already. Empty before a job has ended, and when it could not be written.
    std::string report_path() const;
    // The spans the engine could not read during the last job, as its report lists them.
    std::vector<ExportReadFailure> read_failures() const;

    // Who makes the files beside each finished file besides its list of sources (nullptr:
    // nobody); set before start.
    void set_side_files(ExportSideFiles* maker) { side_files_ = maker; }

    // ExportNotify: from the playback thread and the channel writers' threads.
    void backup_notification(int32_t wparam, int32_t lparam) override;

    // The callbacks to give api_init; they reach the job installed here.
    static void install(BackupJob* job);
    static void frame_callback(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                               int32_t length, int32_t kind, uint32_t picture_size);
    static void status_callback(int32_t code, int32_t slot);

private:
    enum class Event { Notification, Stop, NoData, Restart };
    struct Posted {
        Event event;
        int32_t wparam = 0;
        int32_t lparam = 0;
    };

    void post(Posted p);
    void on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
                  int32_t kind, uint32_t picture_size);
    void on_status(int32_t code, int32_t slot);
    void handle(const Posted& p);
    void restart();
    void finish_or_split();
    void do_stop();
    void note_unfinished_files();
    void write_report();
    // Queues the files reset has just finished for hashing; they are hashed while the job writes
    // on (backup_job_hash.cpp).
    void hash_finished_files();
    void fill_report_case();
    // A file some of whose writes failed lacks what was placed after the failure: the job
    // must not pass for a whole export, and its error names the file.
    void note_failed_writes();
    void make_side_files();
    std::vector<ExportFileEntry> file_entries() const;
    void note_read_error(int32_t slot, int32_t shown);
    void take_read_failures(int32_t shown);
    std::string last_frame_note() const;
    void name_last_frame();
    void quiesce_engine();
    void arm_engine(uint32_t from);

    BackupJobHooks default_hooks_;
    BackupJobHooks* hooks_;
    uint64_t split_bytes_;
    CAvimaker maker_;

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Posted> queue_;
    std::string error_;
    std::vector<ExportReadFailure> read_failures_;
    size_t first_file_ = 0;  // the first of maker_'s files that belongs to this job

    // Job state of the main window.
    uint32_t from_ = 0, to_ = 0, mask_ = 0;
    std::string folder_;
    ExportReport report_;
    ExportReportClock started_;  // the PC clock at the start, for the report's name
    std::string report_written_;
    std::atomic<bool> active_{false};
    std::atomic<bool> stopping_{false};  // the stop flag: records are ignored while set
    // Read by the playback thread: a split it asks for belongs to the part it saw.
    std::atomic<int32_t> part_{0};
    std::atomic<uint32_t> last_time_{0};
    std::atomic<uint64_t> bytes_[CAvimaker::kChannels] = {};
    std::atomic<uint64_t> accepted_{0};  // records handed to the job since the last restart
    int fruitless_restarts_ = 0;
    ExportCaseInfo case_info_;
    FileHasher hasher_;
    size_t hashed_ = 0;  // maker_'s files up to here are queued for hashing

    // Where the frames came from, and the files made beside each finished file (by the index
    // of the file in maker_'s list).
    GopSources sources_;
    ExportSideFiles* side_files_ = nullptr;
    std::vector<std::vector<ExportSideFile>> side_made_;
};
