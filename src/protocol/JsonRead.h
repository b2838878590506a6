#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <limits>
#include <optional>

// Strictly typed members: a member of any other JSON type counts as absent.
namespace json {

inline std::optional<QString> text(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}

inline std::optional<bool> flag(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

inline std::optional<double> number(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    return v.isDouble() ? std::optional(v.toDouble()) : std::nullopt;
}

// A whole number; 2.5 is none.
inline std::optional<qint64> integer(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isDouble()) return std::nullopt;
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 n = v.toInteger(notWhole);
    return n == notWhole ? std::nullopt : std::optional(n);
}

// A whole number that fits an int.
inline std::optional<int> smallInteger(const QJsonObject& o, QLatin1StringView key) {
    const auto n = integer(o, key);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*n);
}

}  // namespace json
