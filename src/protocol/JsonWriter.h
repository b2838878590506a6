#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// Compact JSON text written straight into one buffer. The status message goes
// out five times a second with an object per channel; building it through
// QJsonObject costs about three times as much (allocations per member and per
// nesting level). Commands are still parsed with QJsonDocument.
class JsonWriter {
public:
    JsonWriter& beginObject() { return open('{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray() { return open('['); }
    JsonWriter& endArray() { return close(']'); }

    // A member name; `name` is plain ASCII and needs no escaping.
    JsonWriter& key(const char* name);
    JsonWriter& value(const QString& text);
    JsonWriter& value(bool flag);
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    // Shortest form that reads back the same; a value JSON cannot hold
    // (NaN, infinity) is written as 0.
    JsonWriter& value(double number);
    // A value that is already JSON text (one this writer made).
    JsonWriter& raw(const QByteArray& json);

    const QByteArray& text() const { return out; }

private:
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
    void separate();  // a comma before every element but the first

    QByteArray out;
    std::vector<bool> first;  // per open level: nothing written in it yet
    bool afterKey = false;
};
