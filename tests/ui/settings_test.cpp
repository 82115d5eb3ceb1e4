// The persisted settings' two default rules, their range checks and the six time formats.
#include "ui/settings.h"

#include <QTemporaryDir>
#include <QtTest>

using ui::Settings;

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private slots:
    void first_run_gets_defaults_and_writes_them() {
        const QString file = path("first.conf");
        {
            auto store = ui::open_settings(file);
            const Settings s = ui::load_settings(*store);
            QCOMPARE(s.volume, 12);
            QCOMPARE(s.iframe, 1);
            QCOMPARE(s.time_format, 0);
        }
        // A second store on the same file sees what the first run wrote.
        QSettings raw(file, QSettings::IniFormat);
        QCOMPARE(raw.value("Quillon/Volume").toInt(), 12);
        QCOMPARE(raw.value("Quillon/IFrame").toInt(), 1);
        QVERIFY(raw.contains("Quillon/TimeFormat"));
        QCOMPARE(raw.value("Quillon/TimeFormat").toInt(), 0);
    }

    void missing_value_in_existing_group_reads_zero() {
        const QString file = path("partial.conf");
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue("Quillon/IFrame", 1);
            raw.setValue("Quillon/TimeFormat", 4);
        }
        auto store = ui::open_settings(file);
        const Settings s = ui::load_settings(*store);
        QCOMPARE(s.volume, 0); // muted, not the first-run 12
        QCOMPARE(s.iframe, 1);
        QCOMPARE(s.time_format, 4);
        QVERIFY(!store->contains("Quillon/Volume")); // nothing is written back
    }

    void values_out_of_range_are_brought_into_range_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("volume");
        QTest::addColumn<int>("iframe");
        QTest::addColumn<int>("format");
        QTest::newRow("loud") << "Volume" << QVariant(99) << 15 << 0 << 0;
        QTest::newRow("negative") << "Volume" << QVariant(-3) << 0 << 0 << 0;
        QTest::newRow("garbage") << "Volume" << QVariant("abc") << 0 << 0 << 0;
        QTest::newRow("iframe 7") << "IFrame" << QVariant(7) << 0 << 1 << 0;
        QTest::newRow("format 6") << "TimeFormat" << QVariant(6) << 0 << 0 << 0;
        QTest::newRow("format 5") << "TimeFormat" << QVariant(5) << 0 << 0 << 5;
    }
    void values_out_of_range_are_brought_into_range() {
        QFETCH(QString, name);
        QFETCH(QVariant, stored);
        const QString file = path(QTest::currentDataTag()) + ".conf";
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue("Quillon/" + name, stored);
        }
        auto store = ui::open_settings(file);
        const Settings s = ui::load_settings(*store);
        QTEST(s.volume, "volume");
        QTEST(s.iframe, "iframe");
        QTEST(s.time_format, "format");
    }

    void saved_values_load_back() {
        const QString file = path("round.conf");
        {
            auto store = ui::open_settings(file);
            ui::save_settings(*store, Settings{3, 0, 5});
        }
        auto store = ui::open_settings(file);
        const Settings s = ui::load_settings(*store);
        QCOMPARE(s.volume, 3);
        QCOMPARE(s.iframe, 0);
        QCOMPARE(s.time_format, 5);
    }

    void unwritable_store_keeps_values_in_memory() {
        auto store = ui::open_settings(path("no-such-dir/sub/x.conf"));
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner);
        const Settings s = ui::load_settings(*store);
        QFile::setPermissions(dir_.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(s.volume, 12);
    }

    void time_formats_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "2024-03-07 09:05:01";
        QTest::newRow("1") << 1 << "03-07-2024 09:05:01";
        QTest::newRow("2") << 2 << "07-03-2024 09:05:01";
        QTest::newRow("3") << 3 << "2024/03/07 09:05:01";
        QTest::newRow("4") << 4 << "03/07/2024 09:05:01";
        QTest::newRow("5") << 5 << "07/03/2024 09:05:01";
        QTest::newRow("below") << -1 << QString();
        QTest::newRow("above") << 6 << QString();
    }
    void time_formats() {
        QFETCH(int, index);
        QTEST(ui::format_time(index, 2024, 3, 7, 9, 5, 1), "text");
    }

    void year_is_not_padded() {
        QCOMPARE(ui::format_time(0, 999, 12, 31, 23, 59, 59), QString("999-12-31 23:59:59"));
    }

    void menu_texts_match_their_formats() {
        // Each menu text names the order its format prints: YYYY, MM, DD and the separator.
        const auto& menu = ui::time_format_menu();
        for (int i = 0; i < ui::kTimeFormatCount; ++i) {
            const QString shown = ui::format_time(i, 2024, 11, 22, 0, 0, 0).left(10);
            QString pattern = QString::fromLatin1(menu[static_cast<size_t>(i)].menu_text);
            pattern.replace("YYYY", "2024").replace("MM", "11").replace("DD", "22");
            QCOMPARE(shown, pattern);
        }
        QCOMPARE(menu[0].menu_id, 32801);
        QCOMPARE(menu[1].menu_id, 32799);
        QCOMPARE(menu[2].menu_id, 32800);
        QCOMPARE(menu[5].menu_id, 32804);
    }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
