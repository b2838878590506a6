// The per-channel controls (armed, name, solo) and the labels that keep
// names and armed flags per interface.

#include <QSettings>

#include "engine/RoomEngine.h"
#include "recording/Labels.h"

namespace {

constexpr int kDefaultArmed = 8;  // a new interface starts with its first 8 inputs armed

QSettings store() {
    return QSettings(QStringLiteral("Tessaly"), QStringLiteral("Tessaly"));
}

}  // namespace

void RoomEngine::setArmed(int index, bool on) {
    if (recording_ || index < 0 || index >= channels_.size()) return;
    channels_[index].armed = on;
    Q_EMIT changed();
    if (static_cast<std::size_t>(index) < controls.armed.size()) controls.armed[index] = on;
    publishControls();
    saveLabels();
}

void RoomEngine::setName(int index, const QString& name) {
    if (index < 0 || index >= channels_.size()) return;
    channels_[index].name = name;
    Q_EMIT changed();
    saveLabels();
}

void RoomEngine::setSolo(int index, bool on) {
    if (index < 0 || index >= channels_.size()) return;
    channels_[index].solo = on;
    Q_EMIT changed();
    if (static_cast<std::size_t>(index) < controls.solo.size()) controls.solo[index] = on;
    publishControls();
}

void RoomEngine::clearSolo() {
    for (Channel& ch : channels_) {
        ch.solo = false;
        Q_EMIT changed();
    }
    std::fill(controls.solo.begin(), controls.solo.end(), 0);
    publishControls();
}

void RoomEngine::saveLabels() {
    Labels labels;
    for (const Channel& ch : channels_) labels[ch.id] = Label{ch.name, ch.armed};
    store().setValue(labelsKey(inputUID_), encodeLabels(labels));
}

QList<Channel> RoomEngine::loadChannels(const QString& uid, const QStringList& hwNames) const {
    const Labels labels =
        decodeLabels(store().value(labelsKey(uid)).toByteArray()).value_or(Labels{});
    QList<Channel> list;
    for (qsizetype i = 0; i < hwNames.size(); ++i) {
        const auto found = labels.find(i);
        const bool known = found != labels.end();
        list.append(Channel{i, hwNames[i], known ? found->second.name : hwNames[i],
                            known ? found->second.armed : i < kDefaultArmed, false});
    }
    return list;
}
