#include "ui/Meter.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kFloor = 1e-5;
constexpr double kRangeDb = 60.0;
constexpr double kRadius = 3.0;
}  // namespace

Meter::Meter(QWidget* parent) : QWidget(parent) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

double Meter::fraction(float peak) {
    const double value = std::max(static_cast<double>(peak), kFloor);
    const double level = 20.0 * std::log10(value);
    return std::max(std::min((level + kRangeDb) / kRangeDb, 1.0), 0.0);
}

QColor Meter::colour(double f) {
    if (f > 0.97) return QColor(Qt::red);
    if (f > 0.8) return QColor(Qt::yellow);
    return QColor(Qt::green);
}

void Meter::setPeak(float peak) {
    const auto pixels = [this](float p) { return std::lround(width() * fraction(p)); };
    const bool differs =
        pixels(peak) != pixels(level) || colour(fraction(peak)) != colour(fraction(level));
    level = peak;
    if (differs) update();
}

void Meter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QRectF track = rect();
    p.setBrush(QColor(0, 0, 0, 64));  // black at 25 %
    p.drawRoundedRect(track, kRadius, kRadius);
    const double f = fraction(level);
    if (f > 0.0) {
        p.setBrush(colour(f));
        p.drawRoundedRect(QRectF(0, 0, track.width() * f, track.height()), kRadius, kRadius);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    for (double at : ticks)
        p.fillRect(QRectF(track.width() * at, 0, 1, track.height()), QColor(255, 255, 255, 89));
}
