#include "protocol/LinkStatus.h"

#include <QRegularExpression>

#include "protocol/JsonRead.h"
#include "protocol/JsonWriter.h"

namespace {

using L = QLatin1StringView;

void devices(JsonWriter& w, const QList<LinkDevice>& list) {
    w.beginArray();
    for (const LinkDevice& d : list) {
        w.beginObject();
        w.key("uid").value(d.uid);
        w.key("name").value(d.name);
        w.key("inputs").value(static_cast<std::int64_t>(d.inputs));
        w.key("outputs").value(static_cast<std::int64_t>(d.outputs));
        w.endObject();
    }
    w.endArray();
}

std::optional<LinkChannel> readChannel(const QJsonValue& v) {
    const QJsonObject o = v.toObject();
    const auto i = json::integer(o, L("i"));
    const auto name = json::text(o, L("name"));
    const auto hw = json::text(o, L("hw"));
    const auto armed = json::flag(o, L("armed"));
    const auto solo = json::flag(o, L("solo"));
    const auto peak = json::number(o, L("peak"));
    if (!i || !name || !hw || !armed || !solo || !peak) return std::nullopt;
    return LinkChannel{*i, *name, *hw, *armed, *solo, *peak};
}

std::optional<LinkDevice> readDevice(const QJsonValue& v) {
    const QJsonObject o = v.toObject();
    const auto uid = json::text(o, L("uid"));
    const auto name = json::text(o, L("name"));
    const auto inputs = json::integer(o, L("inputs"));
    const auto outputs = json::integer(o, L("outputs"));
    if (!uid || !name || !inputs || !outputs) return std::nullopt;
    return LinkDevice{*uid, *name, *inputs, *outputs};
}

// Every element of an array member, or nothing when one does not read.
template <typename T, typename Read>
std::optional<QList<T>> list(const QJsonValue& v, Read read) {
    if (!v.isArray()) return std::nullopt;
    QList<T> out;
    for (const QJsonValue& e : v.toArray()) {
        auto item = read(e);
        if (!item) return std::nullopt;
        out.append(std::move(*item));
    }
    return out;
}

}  // namespace

bool validInstance(const QString& name) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return allowed.match(name).hasMatch();
}

QByteArray statusText(const LinkStatus& s) {
    JsonWriter w;
    w.beginObject();
    w.key("type").value(QStringLiteral("status"));
    w.key("running").value(s.running);
    w.key("device").value(s.device);
    w.key("rate").value(s.rate);
    w.key("recording").value(s.recording);
    w.key("folder").value(s.folder);
    w.key("elapsed").value(s.elapsed);
    w.key("inputs").beginArray();
    for (const LinkChannel& ch : s.inputs) {
        w.beginObject();
        w.key("i").value(static_cast<std::int64_t>(ch.i));
        w.key("name").value(ch.name);
        w.key("hw").value(ch.hw);
        w.key("armed").value(ch.armed);
        w.key("solo").value(ch.solo);
        w.key("peak").value(ch.peak);
        w.endObject();
    }
    w.endArray();
    w.key("monLabel").value(s.monLabel);
    w.key("monPeak").value(s.monPeak);
    w.key("mixPeak").value(s.mixPeak);
    w.key("devices").beginObject();
    w.key("inputs");
    devices(w, s.inputDevices);
    w.key("outputs");
    devices(w, s.outputDevices);
    w.endObject();
    w.key("inputUID").value(s.inputUID);
    w.key("outputUID").value(s.outputUID);
    w.key("status").value(s.status);
    w.key("timeLeft").value(s.timeLeft);
    w.key("diskAnswering").value(s.diskAnswering);
    w.key("failure").value(s.failure);
    w.key("instance").value(s.instance);
    w.endObject();
    return w.text();
}

std::optional<LinkStatus> parseStatus(const QJsonObject& o) {
    if (json::text(o, L("type")) != u"status") return std::nullopt;
    const auto running = json::flag(o, L("running"));
    const auto device = json::text(o, L("device"));
    const auto rate = json::smallInteger(o, L("rate"));
    const auto recording = json::flag(o, L("recording"));
    const auto folder = json::text(o, L("folder"));
    const auto elapsed = json::number(o, L("elapsed"));
    const auto inputs = list<LinkChannel>(o.value(L("inputs")), readChannel);
    const auto monLabel = json::text(o, L("monLabel"));
    const auto monPeak = json::number(o, L("monPeak"));
    const auto mixPeak = json::number(o, L("mixPeak"));
    const QJsonObject devs = o.value(L("devices")).toObject();
    const auto inDevs = list<LinkDevice>(devs.value(L("inputs")), readDevice);
    const auto outDevs = list<LinkDevice>(devs.value(L("outputs")), readDevice);
    const auto inputUID = json::text(o, L("inputUID"));
    const auto outputUID = json::text(o, L("outputUID"));
    const auto status = json::text(o, L("status"));
    if (!running || !device || !rate || !recording || !folder || !elapsed || !inputs || !monLabel ||
        !monPeak || !mixPeak || !inDevs || !outDevs || !inputUID || !outputUID || !status)
        return std::nullopt;
    LinkStatus s;
    s.running = *running;
    s.device = *device;
    s.rate = *rate;
    s.recording = *recording;
    s.folder = *folder;
    s.elapsed = *elapsed;
    s.inputs = *inputs;
    s.monLabel = *monLabel;
    s.monPeak = *monPeak;
    s.mixPeak = *mixPeak;
    s.inputDevices = *inDevs;
    s.outputDevices = *outDevs;
    s.inputUID = *inputUID;
    s.outputUID = *outputUID;
    s.status = *status;
    s.timeLeft = json::number(o, L("timeLeft")).value_or(s.timeLeft);
    s.diskAnswering = json::flag(o, L("diskAnswering")).value_or(s.diskAnswering);
    s.failure = json::flag(o, L("failure")).value_or(s.failure);
    s.instance = json::text(o, L("instance")).value_or(s.instance);
    return s;
}
