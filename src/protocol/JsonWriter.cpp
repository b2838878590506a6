#include "protocol/JsonWriter.h"

#include <QLocale>
#include <cmath>

void JsonWriter::separate() {
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!first.empty()) {
        if (!first.back()) out += ',';
        first.back() = false;
    }
}

JsonWriter& JsonWriter::open(char bracket) {
    separate();
    out += bracket;
    first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    out += bracket;
    first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(const char* name) {
    separate();
    out += '"';
    out += name;
    out += "\":";
    afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(const QString& text) {
    separate();
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    out += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
    separate();
    out += QByteArray::number(static_cast<qlonglong>(number));
    return *this;
}

JsonWriter& JsonWriter::value(double number) {
    separate();
    if (!std::isfinite(number)) number = 0.0;
    out += QByteArray::number(number, 'g', QLocale::FloatingPointShortest);
    return *this;
}

JsonWriter& JsonWriter::raw(const QByteArray& json) {
    separate();
    out += json;
    return *this;
}
