// The skinned button of every window: an SVG glyph on a rounded face whose look follows the
// normal, hover, pressed, disabled and focus states; push, check or radio behaviour.
#pragma once

#include <QAbstractButton>
#include <QSvgRenderer>

namespace ui {

class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Type { Push, Check, Radio };

    explicit SkinButton(QWidget* parent = nullptr);

    // Loads the glyph ":/icons/<base>.svg"; false when there is no such picture.
    bool set_skin(const QString& base);
    QString skin() const { return skin_; }

    void set_type(Type type);
    Type type() const { return type_; }

    // Radio buttons of the same parent and group uncheck each other.
    void set_group(int group) { group_ = group; }
    int group() const { return group_; }

    // Checking a radio button posts kMsgRadioUncheck to the other radio buttons of its group.
    void set_check(bool checked);
    bool check() const { return isChecked(); }

    // A caption in "Verdana" bold, drawn beside the glyph (or alone without one).
    void set_caption(const QString& caption);
    QString caption() const { return text(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void nextCheckState() override;

private:
    void uncheck_group();
    bool hovered() const;

    QSvgRenderer glyph_;
    QString skin_;
    Type type_ = Type::Push;
    int group_ = 0;
};

} // namespace ui
