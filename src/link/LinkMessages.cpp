#include "link/LinkMessages.h"

#include <optional>

#include "link/JsonWriter.h"
#include "room/RoomCommands.h"
#include "room/RoomState.h"

namespace {

void devices(JsonWriter& w, const QList<AudioDev>& list) {
    w.beginArray();
    for (const AudioDev& d : list) {
        w.beginObject();
        w.key("uid").value(d.uid);
        w.key("name").value(d.name);
        w.key("inputs").value(d.inputs);
        w.key("outputs").value(d.outputs);
        w.endObject();
    }
    w.endArray();
}

// Strictly typed members: any other JSON type counts as absent.
std::optional<QString> text(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}
std::optional<bool> flag(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}
std::optional<qint64> integer(const QJsonObject& o, QLatin1StringView key) {
    const QJsonValue v = o.value(key);
    if (!v.isDouble()) return std::nullopt;
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 n = v.toInteger(notWhole);
    return n == notWhole ? std::nullopt : std::optional(n);
}

void set(RoomCommands& engine, const RoomState& state, const QJsonObject& c) {
    const auto i = integer(c, QLatin1StringView("i"));
    if (!i || *i < 0 || *i >= state.channels().size()) return;
    const int index = static_cast<int>(*i);
    if (const auto name = text(c, QLatin1StringView("name"))) engine.setName(index, *name);
    if (const auto armed = flag(c, QLatin1StringView("armed"))) engine.setArmed(index, *armed);
    if (const auto solo = flag(c, QLatin1StringView("solo"))) engine.setSolo(index, *solo);
}

void record(RoomCommands& engine, const RoomState& state, const QJsonObject& c) {
    if (flag(c, QLatin1StringView("on")).value_or(false)) {
        if (state.recording()) return;
        engine.record(text(c, QLatin1StringView("folder")));
    } else {
        engine.stopRecording();
    }
}

void device(RoomCommands& engine, const QJsonObject& c) {
    if (const auto in = text(c, QLatin1StringView("input")); in && !in->isEmpty())
        engine.selectInput(*in);
    if (const auto out = text(c, QLatin1StringView("output")); out && !out->isEmpty()) {
        engine.selectOutput(*out);
    }
}

}  // namespace

QByteArray statusText(const RoomState& engine) {
    QString device;
    for (const AudioDev& d : engine.inputs()) {
        if (d.uid == engine.inputUID()) {
            device = d.name;
            break;
        }
    }
    JsonWriter w;
    w.beginObject();
    w.key("type").value(QStringLiteral("status"));
    w.key("running").value(engine.running());
    w.key("device").value(device);
    w.key("rate").value(engine.hwRate());
    w.key("recording").value(engine.recording());
    w.key("folder").value(engine.folderName());
    w.key("elapsed").value(engine.elapsed());
    w.key("inputs").beginArray();
    for (const Channel& ch : engine.channels()) {
        w.beginObject();
        w.key("i").value(ch.id);
        w.key("name").value(ch.name);
        w.key("hw").value(ch.hwName);
        w.key("armed").value(ch.armed);
        w.key("solo").value(ch.solo);
        w.key("peak").value(static_cast<double>(ch.peak));
        w.endObject();
    }
    w.endArray();
    w.key("monLabel").value(engine.monLabel());
    w.key("monPeak").value(static_cast<double>(engine.monPeak()));
    w.key("mixPeak").value(static_cast<double>(engine.mixPeak()));
    w.key("devices").beginObject();
    w.key("inputs");
    devices(w, engine.inputs());
    w.key("outputs");
    devices(w, engine.outputs());
    w.endObject();
    w.key("inputUID").value(engine.inputUID());
    w.key("outputUID").value(engine.outputUID());
    w.key("status").value(engine.status());
    w.endObject();
    return w.text();
}

void handleCommand(RoomCommands& engine, const RoomState& state, const QJsonObject& command) {
    const auto type = text(command, QLatin1StringView("type"));
    if (!type) return;
    if (*type == u"set") {
        set(engine, state, command);
    } else if (*type == u"record") {
        record(engine, state, command);
    } else if (*type == u"tone") {
        engine.testTone();
    } else if (*type == u"hearMix") {
        engine.clearSolo();
    } else if (*type == u"device") {
        device(engine, command);
    }
}
