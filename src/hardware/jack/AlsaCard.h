#pragma once

#include <QString>
#include <optional>

// The ALSA card behind a jackd2 port, found through the port's alias
// ("alsa_pcm:hw:USB:capture_1", "alsa_pcm:hw:2,0:out1") in what the system
// says of its cards: /proc/asound (each card's id, and the names in "cards")
// and, for a USB card, its device's serial in /sys/class/sound.
struct AlsaCard {
    // What stays with the card whatever its index (which follows plug
    // order): its id, then ":" and its serial when the system gives one.
    QString key;
    QString name;  // "Scarlett 18i20 USB"; the id when "cards" has no name

    // Nothing when the alias names no card, or the card is not there.
    // `root` is put before /proc and /sys (tests give a tree of their own).
    static std::optional<AlsaCard> behind(const QString& alias, const QString& root = {});
};
