#pragma once

#include <QString>
#include <cmath>

// Recording time left, as the window and the status line say it, rounded
// down: "4 h 12 min left", "9 min left", "less than a minute", "more than
// 99 h left".
inline QString remainingText(double seconds) {
    const double whole = std::floor(seconds / 60.0);
    if (!(whole >= 1.0)) return QStringLiteral("less than a minute");
    if (whole > 99 * 60) return QStringLiteral("more than 99 h left");  // infinity too
    const auto minutes = static_cast<long long>(whole);
    if (minutes < 60) return QStringLiteral("%1 min left").arg(minutes);
    return QStringLiteral("%1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}
