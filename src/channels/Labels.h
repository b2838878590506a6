#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

// What is remembered of one input between runs: its name and whether it is armed.
struct Label {
    QString name;
    bool armed = false;

    bool operator==(const Label&) const = default;
};

// The labels of one interface, by channel id.
using Labels = std::map<std::int64_t, Label>;

// Compact JSON: {"0":{"armed":true,"name":"Kick"},…}.
QByteArray encodeLabels(const Labels& labels);

// Strict reading: nothing unless the document is one JSON object whose every
// member is named by a decimal integer and holds an object with a string
// "name" and a boolean "armed".
std::optional<Labels> decodeLabels(const QByteArray& json);
