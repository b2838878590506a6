#include "channels/ChannelList.h"

#include "base/Settings.h"
#include "channels/Labels.h"

void ChannelList::load(const QString& uid, const QStringList& hwNames) {
    const Labels labels = decodeLabels(Settings().labels(uid)).value_or(Labels{});
    list.clear();
    for (qsizetype i = 0; i < hwNames.size(); ++i) {
        const auto found = labels.find(i);
        const bool known = found != labels.end();
        list.append(Channel{i, hwNames[i], known ? found->second.name : hwNames[i],
                            known ? found->second.armed : i < defaultArmed, false});
    }
}

bool ChannelList::setArmed(int index, bool on) {
    if (!has(index)) return false;
    list[index].armed = on;
    return true;
}

bool ChannelList::setName(int index, const QString& name) {
    if (!has(index)) return false;
    list[index].name = name;
    return true;
}

bool ChannelList::setSolo(int index, bool on) {
    if (!has(index)) return false;
    list[index].solo = on;
    return true;
}

void ChannelList::clearSolo() {
    for (Channel& ch : list) ch.solo = false;
}

void ChannelList::save(const QString& uid) const {
    Labels labels;
    for (const Channel& ch : list) labels[ch.id] = Label{ch.name, ch.armed};
    Settings().setLabels(uid, encodeLabels(labels));
}

QString ChannelList::monitorLabel() const {
    QStringList soloed;
    for (const Channel& ch : list) {
        if (ch.solo) soloed.append(ch.displayName());
    }
    return soloed.isEmpty() ? QStringLiteral("Mix") : soloed.join(QStringLiteral(" + "));
}

void ChannelList::flags(std::vector<std::uint8_t>& armed, std::vector<std::uint8_t>& solo) const {
    armed.clear();
    solo.clear();
    for (const Channel& ch : list) {
        armed.push_back(ch.armed);
        solo.push_back(ch.solo);
    }
}
