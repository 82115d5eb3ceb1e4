// The frame of every window: borderless, a title strip drawn from an SVG across the width, the
// title in white, a small close button (1005) that cancels, and the body in the window's own
// colour. A press on the body that no control takes drags the window.
#pragma once

#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QSvgRenderer>

namespace ui {

class SkinButton;

class DialogFrame : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTitleHeight = 22;
    static constexpr int kCloseButtonId = 1005;

    explicit DialogFrame(QWidget* parent = nullptr);

    void set_title(const QString& title);
    QString title() const { return title_; }
    void set_background(const QColor& colour);
    QColor background() const { return background_; }
    SkinButton* close_button() const { return close_; }

    // Where the title text goes.
    static QRect title_rect() { return {6, 2, 294, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void apply_colours();

    QString title_;
    QColor background_{32, 36, 42};
    QSvgRenderer strip_;
    SkinButton* close_ = nullptr;
    bool moving_ = false;
    QPoint press_global_;
    QPoint press_window_;
};

} // namespace ui
