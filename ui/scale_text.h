// The numbers under the timeline: the hours of the day on the 24-hour scale, the minutes of
// the shown hour on the 60-minute scale, each under its grid mark. It follows the timeline's
// scale and geometry, so it sits at the timeline's x and width.
#pragma once

#include <QWidget>

namespace ui {

class SearchSlider;

class ScaleText : public QWidget {
    Q_OBJECT

public:
    ScaleText(const SearchSlider* timeline, QWidget* parent = nullptr);

    // The labels as text, left to right.
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kIntervals = 12;
    QStringList labels() const;

    const SearchSlider* timeline_;
};

} // namespace ui
