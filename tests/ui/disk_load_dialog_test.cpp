// The disk load dialog on sample recorder and backup disks, driven through its buttons, with a
// message recorder in place of the main window.
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include "platform/drive.h"
#include "storage/api.h"
#include "tests/testkit/temp_image.h"
#include "tests/ui/message_recorder.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/disk_texts.h"
#include "ui/disk_state.h"

using ui::DiskLoadDialog;

namespace {

constexpr uint64_t kSectorsPerGiB = 2097152;

// A backup disk whose sessions' records name no data channels.
sample::DiskSpec backup_without_channels() {
    sample::DiskSpec disk;
    disk.layout = sample::DiskLayout::Partitioned;
    sample::PartitionSpec part;
    part.type_byte = kPartTypeBackup;
    part.count = static_cast<uint32_t>(2 * kSectorsPerGiB);
    part.area.kind = sample::AreaKind::Backup;
    for (uint32_t slot : {0u, 1u}) {
        sample::SessionSpec session;
        session.slot = slot;
        session.data_channel_count = 0;
        session.oldest = sample::kDefaultTime + slot * 3600;
        session.newest = session.oldest + 600;
        part.area.backup.sessions.push_back(session);
    }
    disk.partitions = {part};
    return disk;
}

// A partitioned disk whose recorder volume lies in the third table entry, behind two others.
sample::DiskSpec recorder_in_third_partition() {
    bool known = false;
    const sample::DiskSpec bare = sample::preset("recorder", &known);
    sample::DiskSpec disk;
    disk.layout = sample::DiskLayout::Partitioned;
    disk.total_sectors = bare.total_sectors + kSectorsPerGiB;
    sample::PartitionSpec fat;
    fat.type_byte = 0x0C;
    fat.count = 65536;
    sample::PartitionSpec linux_part = fat;
    linux_part.type_byte = 0x83;
    sample::PartitionSpec recorder;
    recorder.type_byte = kPartTypeRecorder;
    recorder.count = static_cast<uint32_t>(bare.total_sectors);
    recorder.area = bare.bare;
    disk.partitions = {fat, linux_part, recorder};
    return disk;
}

} // namespace

class DiskLoadDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void size_column_switches_to_gib_above_ten();
    void first_opening_scans_and_lists_the_recorder();
    void no_recorder_disk_says_so_and_disables_the_buttons();
    void mount_without_a_selected_row_fails();
    void backup_records_without_data_channels_list_no_session();
    void close_session_on_another_row_does_nothing();
    void refresh_reopens_the_session_that_was_open();
    void unmount_stops_playback_before_the_disk_goes();
    void ok_runs_the_month_scan_and_enter_does_not();
    void a_recorder_in_a_later_partition_is_found();
    void open_image_file_adds_a_drive_row();

private:
    void attach(const std::string& path) { QVERIFY(platform::attach_image(path) >= 0); }
    void start_dialog();
    void select_disk(int row);
    int row_of(const QString& type) const;
    void select_session(int row);
    void mount_and_open(int disk_row, int session_row);

    std::unique_ptr<testkit::TempDir> dir_;
    std::string recorder_;
    std::string recorder_11g_;
    std::string backup_;
    std::string ms_;
    std::string empty_backup_;
    std::string third_partition_;
    std::vector<std::string> fingerprints_;
    ui::DiskState state_;
    std::unique_ptr<testkit::MessageRecorder> owner_;
    std::unique_ptr<DiskLoadDialog> dialog_;
    QStringList told_;
};

void DiskLoadDialogTest::initTestCase() {
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    recorder_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    sample::DiskSpec big = sample::preset("recorder", &known);
    big.total_sectors = 11 * kSectorsPerGiB;
    recorder_11g_ = testkit::make_image(*dir_, "recorder-11g.img", big);
    backup_ = testkit::make_image(*dir_, "backup.img", sample::preset("backup", &known));
    ms_ = testkit::make_image(*dir_, "ms.img", sample::preset("ms", &known));
    empty_backup_ = testkit::make_image(*dir_, "empty-backup.img", backup_without_channels());
    third_partition_ =
        testkit::make_image(*dir_, "third-partition.img", recorder_in_third_partition());
    QVERIFY(known);
    for (const std::string& image :
         {recorder_, recorder_11g_, backup_, ms_, empty_backup_, third_partition_})
        fingerprints_.push_back(testkit::fingerprint(image));
    QCOMPARE(api_init(0, nullptr, nullptr), 0);
}

// Whatever the dialog did, no image changed by a byte.
void DiskLoadDialogTest::cleanupTestCase() {
    api_exit();
    const std::string images[] = {recorder_, recorder_11g_, backup_, ms_, empty_backup_,
                                  third_partition_};
    for (size_t i = 0; i < fingerprints_.size(); ++i)
        QCOMPARE(testkit::fingerprint(images[i]), fingerprints_[i]);
}

void DiskLoadDialogTest::init() {
    state_ = ui::DiskState{};
    told_.clear();
    owner_ = std::make_unique<testkit::MessageRecorder>();
    dialog_ = std::make_unique<DiskLoadDialog>(&state_, owner_.get(), 0);
    dialog_->set_message_sink([this](const QString& text) { told_ << text; });
}

void DiskLoadDialogTest::cleanup() {
    dialog_.reset();
    ui::close_disk(&state_);
    platform::detach_all();
}

void DiskLoadDialogTest::start_dialog() {
    QSignalSpy filled(dialog_.get(), &DiskLoadDialog::lists_filled);
    dialog_->show();
    QVERIFY(filled.count() > 0 || filled.wait(5000));
}

void DiskLoadDialogTest::select_disk(int row) {
    QTreeWidgetItem* item = dialog_->disk_list()->topLevelItem(row);
    QVERIFY(item != nullptr);
    dialog_->disk_list()->setCurrentItem(item);
}

// The first disk row of a type ("DVR HDD", "BACKUP HDD"); a partitioned disk's whole-disk
// row comes before its partitions.
int DiskLoadDialogTest::row_of(const QString& type) const {
    for (int row = 0; row < dialog_->disk_list()->topLevelItemCount(); ++row)
        if (dialog_->disk_list()->topLevelItem(row)->text(0).endsWith(QStringLiteral("] ") + type))
            return row;
    return -1;
}

void DiskLoadDialogTest::select_session(int row) {
    QTreeWidgetItem* item = dialog_->session_list()->topLevelItem(row);
    QVERIFY(item != nullptr);
    dialog_->session_list()->setCurrentItem(item);
}

void DiskLoadDialogTest::mount_and_open(int disk_row, int session_row) {
    select_disk(disk_row);
    dialog_->button(DiskLoadDialog::kIdMount)->click();
    QVERIFY(state_.disk_loaded);
    select_session(session_row);
    dialog_->button(DiskLoadDialog::kIdOpenSession)->click();
    QVERIFY(state_.session_mounted);
}

void DiskLoadDialogTest::size_column_switches_to_gib_above_ten() {
    QCOMPARE(ui::disk_size_cell(10 * kSectorsPerGiB), QStringLiteral("(10240MB)\n"));
    QCOMPARE(ui::disk_size_cell(11 * kSectorsPerGiB - 1), QStringLiteral("(11263MB)\n"));
    QCOMPARE(ui::disk_size_cell(11 * kSectorsPerGiB), QStringLiteral("(11GB)\n"));
    // The list shows the disk of 11 GiB in whole GiB.
    attach(recorder_11g_);
    start_dialog();
    QCOMPARE(dialog_->disk_list()->topLevelItem(0)->text(2), QStringLiteral("(11GB)"));
}

void DiskLoadDialogTest::first_opening_scans_and_lists_the_recorder() {
    attach(recorder_);
    QVERIFY(!state_.disk_list_loaded);
    start_dialog();
    QVERIFY2(told_.isEmpty(), qPrintable(told_.join("; ")));
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = dialog_->disk_list()->topLevelItem(0);
    QCOMPARE(row->text(0), QStringLiteral("[0] DVR HDD"));
    QCOMPARE(QString(row->text(1)), QString::fromStdString(recorder_));
    QCOMPARE(row->text(3), QStringLiteral("Unmount"));
    QVERIFY(state_.usable_disk_seen);
    QVERIFY(dialog_->button(DiskLoadDialog::kIdMount)->isEnabled());
    QVERIFY(!dialog_->button(DiskLoadDialog::kIdOpenSession)->isEnabled());
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Open Disk"));
}

void DiskLoadDialogTest::no_recorder_disk_says_so_and_disables_the_buttons() {
    attach(ms_);
    start_dialog();
    QCOMPARE(told_, QStringList{QStringLiteral("Failed to found DVR HDD")});
    for (int id : {DiskLoadDialog::kIdMount, DiskLoadDialog::kIdUnmount,
                   DiskLoadDialog::kIdOpenSession, DiskLoadDialog::kIdCloseSession})
        QVERIFY(!dialog_->button(id)->isEnabled());
    QVERIFY(!state_.usable_disk_seen);
    // Refresh scans again and finds the recorder attached meanwhile.
    attach(recorder_);
    told_.clear();
    dialog_->refresh();
    QVERIFY(told_.isEmpty());
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), 2);
    QVERIFY(dialog_->button(DiskLoadDialog::kIdMount)->isEnabled());
}

void DiskLoadDialogTest::mount_without_a_selected_row_fails() {
    attach(recorder_);
    start_dialog();
    dialog_->disk_list()->clearSelection();
    dialog_->button(DiskLoadDialog::kIdMount)->click();
    QCOMPARE(told_, QStringList{QStringLiteral("Failed to mount disk")});
    QVERIFY(!state_.disk_loaded);
    QCOMPARE(state_.disk_row, -1);
    QVERIFY(backup_mounted_disk() == nullptr);
}

void DiskLoadDialogTest::backup_records_without_data_channels_list_no_session() {
    attach(empty_backup_);
    start_dialog();
    const int row = row_of(QStringLiteral("BACKUP HDD"));
    QVERIFY(row > 0);
    QCOMPARE(dialog_->disk_list()->topLevelItem(row)->text(3), QStringLiteral("Unmount"));
    QCOMPARE(dialog_->disk_list()->topLevelItem(0)->text(3), QStringLiteral("Not support"));
    select_disk(row);
    dialog_->button(DiskLoadDialog::kIdMount)->click();
    QVERIFY(told_.isEmpty());
    QVERIFY(state_.disk_loaded);
    QVERIFY(state_.session_count > 0);  // the records exist, they only have no channels
    QCOMPARE(dialog_->session_list()->topLevelItemCount(), 0);
    dialog_->button(DiskLoadDialog::kIdOpenSession)->click();
    QVERIFY(!state_.session_mounted);
}

void DiskLoadDialogTest::close_session_on_another_row_does_nothing() {
    attach(backup_);
    start_dialog();
    QVERIFY(dialog_->session_list()->topLevelItemCount() == 0);
    mount_and_open(row_of(QStringLiteral("BACKUP HDD")), 1);
    QCOMPARE(dialog_->session_list()->topLevelItem(1)->text(3), QStringLiteral("Open"));
    select_session(0);
    dialog_->button(DiskLoadDialog::kIdCloseSession)->click();
    QVERIFY(state_.session_mounted);
    QCOMPARE(dialog_->session_list()->topLevelItem(1)->text(3), QStringLiteral("Open"));
    QCOMPARE(owner_->count(ui::kMsgStop), 0);
    // On the open row it closes, after the owner was told to stop.
    select_session(1);
    dialog_->button(DiskLoadDialog::kIdCloseSession)->click();
    QVERIFY(!state_.session_mounted);
    QCOMPARE(dialog_->session_list()->topLevelItem(1)->text(3), QStringLiteral("Close"));
    QCOMPARE(owner_->count(ui::kMsgStop), 1);
}

void DiskLoadDialogTest::refresh_reopens_the_session_that_was_open() {
    attach(backup_);
    start_dialog();
    const int sessions = dialog_->session_list()->topLevelItemCount();
    QCOMPARE(sessions, 0);
    select_disk(row_of(QStringLiteral("BACKUP HDD")));
    dialog_->button(DiskLoadDialog::kIdMount)->click();
    const int last = dialog_->session_list()->topLevelItemCount() - 1;
    QVERIFY(last >= 1);
    select_session(last);
    dialog_->button(DiskLoadDialog::kIdOpenSession)->click();
    const int32_t record = state_.session;
    const uint32_t oldest = state_.session_oldest;
    QVERIFY(record > 0);
    dialog_->refresh();
    QVERIFY(state_.session_mounted);
    QCOMPARE(state_.session, record);
    QCOMPARE(state_.session_oldest, oldest);
    QCOMPARE(backup_selected_volume()->oldest, oldest);  // the core has that session open
    QCOMPARE(dialog_->session_list()->topLevelItem(last)->text(3), QStringLiteral("Open"));
    QCOMPARE(dialog_->session_list()->topLevelItem(0)->text(3), QStringLiteral("Close"));
    // The owner stopped playing before the session went away for the rescan.
    QVERIFY(!owner_->received.empty());
    QCOMPARE(owner_->received.front().message, int{ui::kMsgStop});
}

void DiskLoadDialogTest::unmount_stops_playback_before_the_disk_goes() {
    attach(recorder_);
    start_dialog();
    mount_and_open(0, 0);
    QCOMPARE(dialog_->disk_list()->topLevelItem(0)->text(3), QStringLiteral("Mounted"));
    QVERIFY(!dialog_->button(DiskLoadDialog::kIdMount)->isEnabled());
    // Mount again (the button is greyed, the action is not): the sessions stay listed.
    dialog_->mount();
    QVERIFY(state_.session_count > 0);
    dialog_->fill_lists();
    QCOMPARE(dialog_->session_list()->topLevelItemCount(), 1);
    QCOMPARE(dialog_->session_list()->topLevelItem(0)->text(3), QStringLiteral("Open"));
    select_disk(0);
    dialog_->button(DiskLoadDialog::kIdUnmount)->click();
    QVERIFY(!state_.disk_loaded && !state_.session_mounted);
    QCOMPARE(state_.disk_row, -1);
    QVERIFY(backup_mounted_disk() == nullptr);
    QTRY_COMPARE(owner_->count(ui::kMsgTimelineClick), 1);
    const auto order = owner_->numbers();
    QCOMPARE(order.front(), int{ui::kMsgStop});
    QVERIFY(owner_->received.front().disk_mounted);  // the stop came while the disk was there
    QCOMPARE(order.back(), int{ui::kMsgTimelineClick});
    // The refreshed list shows the disk again, ready to mount.
    QCOMPARE(dialog_->disk_list()->topLevelItem(0)->text(3), QStringLiteral("Unmount"));
    QVERIFY(dialog_->button(DiskLoadDialog::kIdMount)->isEnabled());
    QCOMPARE(dialog_->session_list()->topLevelItemCount(), 0);
}

void DiskLoadDialogTest::ok_runs_the_month_scan_and_enter_does_not() {
    attach(recorder_);
    start_dialog();
    mount_and_open(0, 0);
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    QVERIFY(dialog_->isVisible());  // Escape is swallowed
    QTest::keyClick(dialog_.get(), Qt::Key_Return);
    QCOMPARE(dialog_->result(), int{QDialog::Accepted});
    QVERIFY(state_.month_map.empty());
    dialog_->show();
    dialog_->button(DiskLoadDialog::kIdOk)->click();
    QCOMPARE(dialog_->result(), int{QDialog::Accepted});
    QCOMPARE(state_.month_map.size(), size_t{kMonthMapMonths} * kMonthMapEntries);
    QVERIFY(tvfs_month_day_mask(state_.month_map.data(), state_.session_oldest) > 0);
}

void DiskLoadDialogTest::a_recorder_in_a_later_partition_is_found() {
    attach(third_partition_);
    start_dialog();
    QVERIFY2(told_.isEmpty(), qPrintable(told_.join("; ")));
    const int row = row_of(QStringLiteral("DVR HDD"));
    QVERIFY(row > 0);
    QCOMPARE(state_.disks[static_cast<size_t>(row)].partition, 3u);
    QVERIFY(state_.usable_disk_seen);
    QVERIFY(dialog_->button(DiskLoadDialog::kIdMount)->isEnabled());
    mount_and_open(row, 0);
    QCOMPARE(dialog_->disk_list()->topLevelItem(row)->text(3), QStringLiteral("Mounted"));
}

void DiskLoadDialogTest::open_image_file_adds_a_drive_row() {
    attach(recorder_);
    start_dialog();
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), 1);
    // The name column shows where the drive is, whole, at least on hover.
    QCOMPARE(dialog_->disk_list()->topLevelItem(0)->toolTip(1), QString::fromStdString(recorder_));
    QString chosen;
    int asked = 0;
    dialog_->set_image_chooser([&](QWidget* parent) {
        ++asked;
        [&] { QCOMPARE(parent, static_cast<QWidget*>(dialog_.get())); }();
        return chosen;
    });
    auto* open = dialog_->button(DiskLoadDialog::kIdOpenImage);
    QVERIFY(open != nullptr && open->isVisible());
    // Cancelled: nothing changes.
    open->click();
    QCOMPARE(asked, 1);
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), 1);
    // A missing file is named with the reason; the list stays.
    chosen = dir_->file("no-such.img").c_str();
    open->click();
    QCOMPARE(told_, QStringList{QStringLiteral("Cannot open %1: No such file or directory")
                                    .arg(chosen)});
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), 1);
    told_.clear();
    // The backup image: its rows follow the recorder's, and it mounts like any drive.
    chosen = QString::fromStdString(backup_);
    open->click();
    QVERIFY2(told_.isEmpty(), qPrintable(told_.join("; ")));
    const int rows = dialog_->disk_list()->topLevelItemCount();
    QVERIFY(rows > 1);
    const int backup_row = row_of(QStringLiteral("BACKUP HDD"));
    QVERIFY(backup_row > 0);
    QCOMPARE(dialog_->disk_list()->topLevelItem(backup_row)->toolTip(1), chosen);
    // Chosen again: the same evidence gets no second row.
    open->click();
    QCOMPARE(dialog_->disk_list()->topLevelItemCount(), rows);
    mount_and_open(backup_row, 0);
}

QTEST_MAIN(DiskLoadDialogTest)
#include "disk_load_dialog_test.moc"
