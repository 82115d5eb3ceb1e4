// The examiner's data in the backup dialog, in a group of its own: case, exhibit, examiner and
// notes for the report, and the recorder's clock as measured (offset and time zone). Remembered
// in the settings between exports.
#pragma once

#include <QGroupBox>
#include <QString>

#include "export/export_case.h"

class QLineEdit;
class QSettings;

namespace ui {

class BackupCaseBox : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kCaseId = 1090;
    static constexpr int kExhibitId = 1091;
    static constexpr int kExaminerId = 1092;
    static constexpr int kNotesId = 1093;
    static constexpr int kClockOffsetId = 1094;
    static constexpr int kZoneId = 1095;
    static constexpr int kHeight = 148;

    explicit BackupCaseBox(QWidget* parent);

    // The values of the last export, or empty fields.
    void load(const QSettings& settings);
    void save(QSettings* settings) const;
    // The fields as the job takes them; false with what is wrong when the offset is not whole
    // seconds or the zone is unknown.
    bool case_info(ExportCaseInfo* info, QString* problem) const;
    void lock();

private:
    QLineEdit* add_field(const QString& label, int id, int column, int row, int width);

    QLineEdit* case_ = nullptr;
    QLineEdit* exhibit_ = nullptr;
    QLineEdit* examiner_ = nullptr;
    QLineEdit* notes_ = nullptr;
    QLineEdit* offset_ = nullptr;
    QLineEdit* zone_ = nullptr;
};

} // namespace ui
