#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "channels/Channel.h"

// The inputs of the open device as the window and the link show them: their
// names, armed and solo flags and displayed peaks, and the labels (names and
// armed flags) kept per interface in the settings.
//
// Main thread only. The rules that involve other parts (arming frozen during
// a take) belong to the engine that owns this list.
class ChannelList {
public:
    // A new interface starts with this many inputs armed.
    static constexpr int defaultArmed = 8;

    const QList<Channel>& all() const { return list; }
    int size() const { return static_cast<int>(list.size()); }
    bool has(int index) const { return index >= 0 && index < list.size(); }

    // The list for the interface `uid` with these input names: the stored
    // label of each input where there is one, else its hardware name, the
    // first eight armed. A stored document that does not decode is ignored.
    void load(const QString& uid, const QStringList& hwNames);

    // By position; false (and nothing changed) when there is no such channel.
    bool setArmed(int index, bool on);
    bool setName(int index, const QString& name);
    bool setSolo(int index, bool on);
    void clearSolo();
    void setPeak(int index, float peak) { list[index].peak = peak; }

    // Stores every channel's name and armed flag as the labels of `uid`.
    void save(const QString& uid) const;

    // What the headphones carry: "Mix", or the soloed channels' names
    // joined with " + ".
    QString monitorLabel() const;
    // The audio thread's copy of the armed and solo flags, by position.
    void flags(std::vector<std::uint8_t>& armed, std::vector<std::uint8_t>& solo) const;

private:
    QList<Channel> list;
};
