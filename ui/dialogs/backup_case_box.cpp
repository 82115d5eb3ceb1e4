#include "ui/dialogs/backup_case_box.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>

#include "export/recorder_zone.h"
#include "ui/control_id.h"

namespace ui {
namespace {

constexpr int kLabelWidth = 64;
constexpr int kRowHeight = 28;
constexpr int kFieldMax = 200;

constexpr const char* kCaseKey = "BackupCase/Number";
constexpr const char* kExhibitKey = "BackupCase/Exhibit";
constexpr const char* kExaminerKey = "BackupCase/Examiner";
constexpr const char* kNotesKey = "BackupCase/Notes";
constexpr const char* kOffsetKey = "BackupCase/ClockOffset";
constexpr const char* kZoneKey = "BackupCase/RecorderZone";

} // namespace

BackupCaseBox::BackupCaseBox(QWidget* parent) : QGroupBox(QStringLiteral("Case"), parent) {
    case_ = add_field(QStringLiteral("Case"), kCaseId, 0, 0, 120);
    exhibit_ = add_field(QStringLiteral("Exhibit"), kExhibitId, 1, 0, 120);
    examiner_ = add_field(QStringLiteral("Examiner"), kExaminerId, 0, 1, 120);
    offset_ = add_field(QStringLiteral("Offset (s)"), kClockOffsetId, 1, 1, 120);
    offset_->setPlaceholderText(QStringLiteral("recorder - reference"));
    offset_->setToolTip(QStringLiteral("The recorder's clock minus a reference clock, in whole seconds"));
    zone_ = add_field(QStringLiteral("Zone"), kZoneId, 0, 2, 120);
    zone_->setPlaceholderText(QStringLiteral("Area/City"));
    notes_ = add_field(QStringLiteral("Notes"), kNotesId, 0, 3, 2 * 120 + kLabelWidth + 16);
}

QLineEdit* BackupCaseBox::add_field(const QString& label, int id, int column, int row, int width) {
    const int x = 14 + column * (kLabelWidth + 120 + 16);
    const int y = 22 + row * kRowHeight;
    auto* text = new QLabel(label, this);
    text->setGeometry(x, y, kLabelWidth, 24);
    auto* edit = new QLineEdit(this);
    edit->setGeometry(x + kLabelWidth, y, width, 24);
    edit->setMaxLength(kFieldMax);
    set_control_id(edit, id);
    return edit;
}

void BackupCaseBox::load(const QSettings& settings) {
    case_->setText(settings.value(kCaseKey).toString());
    exhibit_->setText(settings.value(kExhibitKey).toString());
    examiner_->setText(settings.value(kExaminerKey).toString());
    notes_->setText(settings.value(kNotesKey).toString());
    offset_->setText(settings.value(kOffsetKey).toString());
    zone_->setText(settings.value(kZoneKey).toString());
}

void BackupCaseBox::save(QSettings* settings) const {
    settings->setValue(kCaseKey, case_->text());
    settings->setValue(kExhibitKey, exhibit_->text());
    settings->setValue(kExaminerKey, examiner_->text());
    settings->setValue(kNotesKey, notes_->text());
    settings->setValue(kOffsetKey, offset_->text().trimmed());
    settings->setValue(kZoneKey, zone_->text().trimmed());
}

bool BackupCaseBox::case_info(ExportCaseInfo* info, QString* problem) const {
    ExportCaseInfo out;
    out.case_number = case_->text().toStdString();
    out.exhibit = exhibit_->text().toStdString();
    out.examiner = examiner_->text().toStdString();
    out.notes = notes_->text().toStdString();
    out.invoked_by = kInvokedByDesktop;
    const std::string offset = offset_->text().trimmed().toStdString();
    if (!offset.empty()) {
        int64_t seconds = 0;
        if (!parse_clock_offset(offset, &seconds)) {
            *problem = QStringLiteral("The clock offset must be whole seconds, such as +75 or -3600.");
            return false;
        }
        out.clock_offset = seconds;
    }
    const std::string zone = zone_->text().trimmed().toStdString();
    if (!zone.empty()) {
        RecorderZone loaded;
        std::string why;
        if (loaded.load(zone, &why) != 0) {
            *problem = QString::fromStdString("Time zone: " + why + ".");
            return false;
        }
        out.recorder_zone = zone;
    }
    *info = out;
    return true;
}

void BackupCaseBox::lock() {
    for (QLineEdit* e : {case_, exhibit_, examiner_, notes_, offset_, zone_})
        e->setEnabled(false);
}

} // namespace ui
