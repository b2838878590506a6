#include "protocol/LinkCommand.h"

#include <QJsonDocument>

#include "protocol/JsonRead.h"
#include "protocol/JsonWriter.h"

using L = QLatin1StringView;

std::optional<LinkCommand> parseCommand(const QJsonObject& o) {
    const auto type = json::text(o, L("type"));
    if (!type) return std::nullopt;
    LinkCommand c;
    if (*type == u"set") {
        c.type = LinkCommand::Type::set;
        c.i = json::integer(o, L("i"));
        c.name = json::text(o, L("name"));
        c.armed = json::flag(o, L("armed"));
        c.solo = json::flag(o, L("solo"));
    } else if (*type == u"record") {
        c.type = LinkCommand::Type::record;
        c.on = json::flag(o, L("on")).value_or(false);
        c.folder = json::text(o, L("folder"));
    } else if (*type == u"tone") {
        c.type = LinkCommand::Type::tone;
    } else if (*type == u"hearMix") {
        c.type = LinkCommand::Type::hearMix;
    } else if (*type == u"device") {
        c.type = LinkCommand::Type::device;
        c.input = json::text(o, L("input"));
        c.output = json::text(o, L("output"));
    } else {
        return std::nullopt;
    }
    return c;
}

QByteArray commandText(const LinkCommand& c) {
    static const char* const names[] = {"set", "record", "tone", "hearMix", "device"};
    JsonWriter w;
    w.beginObject();
    w.key("type").value(QString::fromLatin1(names[static_cast<int>(c.type)]));
    const auto optional = [&w](const char* key, const auto& member) {
        if (member) w.key(key).value(*member);
    };
    switch (c.type) {
        case LinkCommand::Type::set:
            if (c.i) w.key("i").value(static_cast<std::int64_t>(*c.i));
            optional("name", c.name);
            optional("armed", c.armed);
            optional("solo", c.solo);
            break;
        case LinkCommand::Type::record:
            w.key("on").value(c.on);
            optional("folder", c.folder);
            break;
        case LinkCommand::Type::device:
            optional("input", c.input);
            optional("output", c.output);
            break;
        case LinkCommand::Type::tone:
        case LinkCommand::Type::hearMix:
            break;
    }
    w.endObject();
    return w.text();
}

std::optional<QJsonObject> jsonObject(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return doc.object();
}
