#pragma once

#include <QColor>
#include <QWidget>

// A horizontal level bar: one linear peak shown on a logarithmic scale from
// −60 dB (empty) to 0 dB (full), in one colour by level, over a dark track
// with tick marks at −30 dB, −12 dB and about −1.8 dB.
class Meter : public QWidget {
public:
    static constexpr int barHeight = 14;
    static constexpr double ticks[3] = {0.5, 0.8, 0.97};

    explicit Meter(QWidget* parent = nullptr);

    // Repaints only when the bar would look different.
    void setPeak(float peak);
    float peak() const { return level; }

    // The share of the width the bar fills for `peak`, 0 … 1.
    static double fraction(float peak);
    // Red above 0.97, yellow above 0.8, green otherwise (strict comparisons).
    static QColor colour(double fraction);

    QSize sizeHint() const override { return {200, barHeight}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    float level = 0.0f;
};
