#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// A command a Control Room sends a recorder. Members are read with strict
// types ("i" a JSON integer, "on", "armed", "solo" booleans, the rest
// strings); a member of any other type counts as absent.
struct LinkCommand {
    enum class Type { set, record, tone, hearMix, device };

    Type type = Type::tone;
    std::optional<qint64> i;        // set
    std::optional<QString> name;    // set
    std::optional<bool> armed;      // set
    std::optional<bool> solo;       // set
    bool on = false;                // record: false when absent or not a boolean
    std::optional<QString> folder;  // record
    std::optional<QString> input;   // device
    std::optional<QString> output;  // device
};

// The command in a message; nothing for an unknown "type" (the comparison
// is exact), a "type" that is not a string, or none at all.
std::optional<LinkCommand> parseCommand(const QJsonObject& message);

// The command as the JSON text a recorder reads back as the same command.
QByteArray commandText(const LinkCommand& command);

// Text that is one JSON object, parsed; nothing for anything else.
std::optional<QJsonObject> jsonObject(const QByteArray& text);
