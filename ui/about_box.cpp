#include "ui/about_box.h"

#include "decode/library_versions.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/shortcuts.h"
#include "version/version.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>
// jpeglib.h expects stdio's declarations first.
#include <jpeglib.h>

namespace ui {
namespace {

void tint(QLabel* label, const QColor& colour) {
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
}

QLabel* heading(const QString& text) {
    auto* label = new QLabel(text);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    label->setFont(font);
    tint(label, QColor(140, 196, 255));
    return label;
}

QLabel* body(const QString& text) {
    auto* label = new QLabel(text);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QWidget* shortcut_table() {
    auto* table = new QWidget;
    auto* grid = new QGridLayout(table);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(2);
    const auto shortcuts = keyboard_shortcuts();
    const int rows = static_cast<int>((shortcuts.size() + 1) / 2);
    for (int i = 0; i < static_cast<int>(shortcuts.size()); ++i) {
        const Shortcut& s = shortcuts[static_cast<size_t>(i)];
        const int column = (i / rows) * 2;
        QLabel* keys = body(s.keys.toString(QKeySequence::NativeText));
        tint(keys, QColor(255, 214, 102));
        grid->addWidget(keys, i % rows, column);
        grid->addWidget(body(QString::fromLatin1(s.action)), i % rows, column + 1);
    }
    return table;
}

} // namespace

QString AboutBox::program_text() {
    return QStringLiteral("Quillon %1").arg(QString::fromLatin1(version::text()));
}

QString AboutBox::libraries_text() {
    QStringList lines;
    lines << QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion()));
    for (const auto& [name, version] : decode::library_versions())
        lines << QString::fromStdString(name + " " + version);
    lines << QStringLiteral("libjpeg API %1").arg(JPEG_LIB_VERSION);
    return lines.join(QLatin1Char('\n'));
}

QString AboutBox::shortcuts_text() {
    QStringList lines;
    for (const Shortcut& s : keyboard_shortcuts())
        lines << s.keys.toString(QKeySequence::NativeText) + QLatin1Char('\t') +
                     QString::fromLatin1(s.action);
    return lines.join(QLatin1Char('\n'));
}

AboutBox::AboutBox(QWidget* parent) : DialogFrame(parent) {
    set_title(QStringLiteral("Quillon Info(&A)..."));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, kTitleHeight + 12, 18, 14);
    column->setSpacing(6);
    QLabel* name = body(program_text());
    QFont big = name->font();
    big.setPixelSize(18);
    big.setBold(true);
    name->setFont(big);
    column->addWidget(name);
    column->addWidget(body(QStringLiteral("Reads the disks of stand-alone video recorders.")));
    column->addSpacing(6);
    column->addWidget(heading(QStringLiteral("Libraries")));
    column->addWidget(body(libraries_text()));
    column->addSpacing(6);
    column->addWidget(heading(QStringLiteral("Keyboard")));
    column->addWidget(shortcut_table());
    column->addSpacing(8);

    auto* ok = new SkinButton(this);
    ok->set_caption(QStringLiteral("OK"));
    ok->setFixedSize(76, 26);
    set_control_id(ok, 1);
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    column->addWidget(ok, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

// The box has nothing to enter: Enter answers it as its OK button does.
void AboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    DialogFrame::keyPressEvent(event);
}

} // namespace ui
