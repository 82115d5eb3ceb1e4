// quillon-cli: the recorder disk layer for scripts, batch work and tests.
#include <csignal>

#include <CLI/CLI.hpp>

#include "disk/disk.h"
#include "export/export_case.h"
#include "tools/cli/cli.h"
#include "tools/cli/session.h"
#include "tools/sample/sample.h"
#include "version/version.h"

namespace {

CLI::App* add_scan(CLI::App& app) {
    return app.add_subcommand("scan", "List the disk table: drives, partitions and what they hold");
}

CLI::App* add_info(CLI::App& app, cli::InfoOptions* info) {
    CLI::App* cmd =
        app.add_subcommand("info", "Mount a disk row and show its super block and sessions");
    cmd->add_option("--disk", info->row, "Row of the disk table (default: the first mountable)")
        ->check(CLI::NonNegativeNumber);
    return cmd;
}

CLI::App* add_make_sample(CLI::App& app, cli::MakeSampleOptions* make) {
    CLI::App* cmd = app.add_subcommand("make-sample", "Write a sample disk image");
    cmd->add_option("--out", make->out, "Image file to write")->required();
    std::string presets;
    for (const std::string& name : sample::preset_names()) {
        presets += (presets.empty() ? "" : ", ") + name;
    }
    CLI::Option* preset = cmd->add_option("--preset", make->preset, "Ready-made disk: " + presets)
                              ->capture_default_str();
    cmd->add_option("--spec", make->spec_file, "JSON description of the disk")
        ->check(CLI::ExistingFile)
        ->excludes(preset);
    cmd->add_option("--damage", make->damage,
                    "Damage the first area's super block: checksum, magic, version or created")
        ->allow_extra_args(false);
    cmd->add_option("--size-mib", make->size_mib, "Total size of the disk in MiB")
        ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 32));
    cmd->add_flag("--force", make->force, "Replace an existing image file");
    return cmd;
}

CLI::App* add_verify(CLI::App& app, cli::VerifyOptions* v) {
    CLI::App* cmd = app.add_subcommand(
        "verify", "Check an export's files against its report, and its frames against the image");
    cmd->add_option("report", v->report, "The export report (export-report.json)")->required();
    cmd->add_option("--image", v->image,
                    "The drive or image the export was read from: compare the frames with it");
    return cmd;
}

// --disk and --session: which row of the disk table and which of its sessions.
void add_session_options(CLI::App* cmd, cli::SessionOptions* session) {
    cmd->add_option("--disk", session->disk, "Row of the disk table (default: the first mountable)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--session", session->session, "Session of the disk (default: 0)")
        ->check(CLI::NonNegativeNumber);
}

struct SessionCommands {
    cli::SessionOptions session;
    cli::ReadOptions read;
    std::string date;
    std::string log;
    std::string time;
    std::string out;
    CLI::App* channels = nullptr;
    CLI::App* read_cmd = nullptr;
    CLI::App* calendar = nullptr;
    CLI::App* day = nullptr;
    CLI::App* log_cmd = nullptr;
    CLI::App* capture = nullptr;
    cli::FramesOptions frames;
    CLI::App* frames_cmd = nullptr;
    cli::ExportOptions export_options;
    CLI::App* export_cmd = nullptr;
    cli::StillOptions still;
    CLI::App* still_cmd = nullptr;
    cli::RecoverOptions recover;
    CLI::App* recover_cmd = nullptr;
    CLI::App* check_cmd = nullptr;
};

void add_session_commands(CLI::App& app, SessionCommands* s) {
    s->channels = app.add_subcommand("channels", "Roles and sizes of a session's channels");
    s->read_cmd = app.add_subcommand("read", "Raw bytes of a channel to standard output");
    s->read_cmd->add_option("--channel", s->read.channel, "Channel file number")->required();
    s->read_cmd->add_option("--offset", s->read.offset, "Bytes from the head of the channel");
    s->read_cmd->add_option("--position", s->read.position, "Stored position BLOCK:OFFSET");
    s->read_cmd->add_option("--time", s->read.time, "Recorder time, YYYY-MM-DD HH:MM:SS");
    s->read_cmd->add_option("--length", s->read.length, "Bytes to read (default: to the tail)");
    s->calendar = app.add_subcommand("calendar", "The recorded days of every month");
    s->day = app.add_subcommand("day", "The recorded quarter minutes of one day");
    s->day->add_option("--date", s->date, "YYYY-MM-DD")->required();
    s->log_cmd = app.add_subcommand("log", "One day of the event, system or capture log");
    s->log_cmd->add_option("which", s->log, "event, system or capture")
        ->required()
        ->check(CLI::IsMember({"event", "system", "capture"}));
    s->log_cmd->add_option("--date", s->date, "YYYY-MM-DD")->required();
    s->capture = app.add_subcommand("capture-image", "Save the capture image of a time");
    s->capture->add_option("--time", s->time, "Capture time, YYYY-MM-DD HH:MM:SS")->required();
    s->capture->add_option("--out", s->out, "File to write")->required();
    s->frames_cmd = app.add_subcommand("frames", "Run the playback engine and print every frame");
    s->frames_cmd->add_option("--channels", s->frames.channels, "Video channels, e.g. 1,2")->required();
    s->frames_cmd->add_option("--from", s->frames.from, "Recorder time to play from")->required();
    s->frames_cmd->add_option("--mode", s->frames.mode,
                              "play (default), ff2..ff32, rew1..rew32, frame-f, frame-b, "
                              "minute-f, minute-b (a frame step at --from, the jump, then play)");
    s->frames_cmd->add_flag("--key-frames-only", s->frames.key_frames_only, "Key frames only");
    s->frames_cmd->add_option("--count", s->frames.count, "Stop after this many frames")
        ->check(CLI::NonNegativeNumber);
    s->export_cmd = app.add_subcommand(
        "export", "Export a span of channels as AVI and SAMI, Matroska or MP4 files");
    s->export_cmd->add_option("--channels", s->export_options.channels, "Video channels, e.g. 1,2")
        ->required();
    s->export_cmd->add_option("--from", s->export_options.from, "Span start")->required();
    s->export_cmd->add_option("--to", s->export_options.to, "Span end")->required();
    s->export_cmd->add_option("--out", s->export_options.out, "Folder for the files")->required();
    s->export_cmd->add_option("--split-bytes", s->export_options.split_bytes,
                              "A channel's bytes before its files are split (default 3500000000)");
    s->export_cmd->add_option("--format", s->export_options.format,
                              "avi (with SAMI captions), mkv or mp4 (default avi)");
    s->export_cmd->add_option("--case", s->export_options.case_number, "Case number for the report");
    s->export_cmd->add_option("--exhibit", s->export_options.exhibit, "Exhibit for the report");
    s->export_cmd->add_option("--examiner", s->export_options.examiner, "Examiner for the report");
    s->export_cmd->add_option("--notes", s->export_options.notes, "Notes for the report");
    s->export_cmd->add_option("--clock-offset", s->export_options.clock_offset,
                              "Recorder clock minus a reference clock, in seconds (e.g. +75)")
        ->allow_extra_args(false);
    s->export_cmd->add_option("--recorder-tz", s->export_options.recorder_tz,
                              "The recorder's time zone, AREA/CITY (e.g. Europe/Berlin)");
    s->still_cmd = app.add_subcommand(
        "still", "Save the first picture at or after a time of each channel as BMP or JPEG");
    s->still_cmd->add_option("--channels", s->still.channels, "Video channels, e.g. 1,2")
        ->required();
    s->still_cmd->add_option("--time", s->still.time, "Recorder time")->required();
    s->still_cmd->add_option("--out", s->still.out, "The file (.bmp, .jpg or .jpeg)")->required();
    s->still_cmd->add_option("--format", s->still.format, "bmp or jpeg (default: by extension)");
    s->recover_cmd = app.add_subcommand(
        "recover", "Find GOP records left outside every channel's stored range");
    s->recover_cmd->add_option("--export", s->recover.export_dir,
                               "Folder for the recovered runs as AVI and SAMI files");
    s->check_cmd = app.add_subcommand(
        "check", "Read every stored record of every channel and name the unreadable spans "
                 "(exit 1 when there is one)");
    for (CLI::App* cmd : {s->channels, s->read_cmd, s->calendar, s->day, s->log_cmd, s->capture,
                          s->frames_cmd, s->export_cmd, s->still_cmd, s->recover_cmd,
                          s->check_cmd}) {
        add_session_options(cmd, &s->session);
    }
}

int run_session_command(const cli::GlobalOptions& options, const SessionCommands& s) {
    if (*s.channels) return cli::run_channels(options, s.session);
    if (*s.read_cmd) return cli::run_read(options, s.session, s.read);
    if (*s.calendar) return cli::run_calendar(options, s.session);
    if (*s.day) return cli::run_day(options, s.session, s.date);
    if (*s.log_cmd) return cli::run_log(options, s.session, s.log, s.date);
    if (*s.capture) return cli::run_capture_image(options, s.session, s.time, s.out);
    if (*s.frames_cmd) return cli::run_frames(options, s.session, s.frames);
    if (*s.export_cmd) return cli::run_export(options, s.session, s.export_options);
    if (*s.still_cmd) return cli::run_still(options, s.session, s.still);
    if (*s.recover_cmd) return cli::run_recover(options, s.session, s.recover);
    if (*s.check_cmd) return cli::run_check(options, s.session);
    return cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Reads the disks of stand-alone video recorders, never writing to them.",
                 "quillon-cli"};
    // Global options may also follow the subcommand.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("quillon-cli ") + version::text(),
                         "Print the program's version and exit");

    cli::GlobalOptions options;
    app.add_flag("--json", options.json, "Print one JSON document instead of text");
    app.add_option("--image", options.images, "Disk image to attach at drive 1, 2, ...")
        ->allow_extra_args(false)
        ->check(CLI::ExistingPath);
    app.add_option("--drive", options.drives, "Attach PATH at drive number N")
        ->type_name("N=PATH")
        ->allow_extra_args(false);
    app.add_flag("--trace", options.trace, "Write the disk layer's trace to standard error");

    cli::InfoOptions info;
    cli::MakeSampleOptions make;
    CLI::App* scan_cmd = add_scan(app);
    CLI::App* info_cmd = add_info(app, &info);
    CLI::App* make_cmd = add_make_sample(app, &make);
    cli::VerifyOptions verify;
    CLI::App* verify_cmd = add_verify(app, &verify);
    SessionCommands session;
    add_session_commands(app, &session);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help exits 0; every other parse error is a usage error.
        return app.exit(e) == 0 ? cli::kExitOk : cli::kExitUsage;
    }

    session.export_options.command_line = command_line_text(argc, argv);
    // A file that reaches the process's size limit must fail its write, not end the process
    // before the export's report names what was written.
    std::signal(SIGXFSZ, SIG_IGN);
    dvrfs_set_trace(options.trace);
    if (*make_cmd) return cli::run_make_sample(options, make);
    if (*verify_cmd) return cli::run_verify(options, verify);
    if (int rc = cli::attach_drives(options); rc != cli::kExitOk) return rc;
    if (*scan_cmd) return cli::run_scan(options);
    if (*info_cmd) return cli::run_info(options, info);
    return run_session_command(options, session);
}
