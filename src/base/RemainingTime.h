#pragma once

#include <QString>
#include <cmath>

// Recording time left, as the window and the status line say it, rounded
// down: "4 h 12 min left", "9 min left", "less than a minute", "more than
// 99 h left".
inline QString remainingText(double seconds) {
    const auto minutes = static_cast<long long>(std::floor(std::max(seconds, 0.0) / 60.0));
    if (minutes < 1) return QStringLiteral("less than a minute");
    if (minutes > 99 * 60) return QStringLiteral("more than 99 h left");
    if (minutes < 60) return QStringLiteral("%1 min left").arg(minutes);
    return QStringLiteral("%1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}
