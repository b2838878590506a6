#pragma once

#include <QList>
#include <QString>
#include <optional>

// An ALSA card as the system describes it: /proc/asound (each card's id, its
// PCM devices, the names in "cards", a USB card's stream formats) and, for a
// USB card, its device's serial in /sys/class/sound. Nothing is opened, so
// reading never blocks, and a card another program holds is read all the
// same. `root` is put before /proc and /sys (tests give a tree of their own).
struct AlsaCard {
    // What stays with the card whatever its index (which follows plug
    // order): its id, then ":" and its serial when the system gives one.
    QString key;
    QString name;  // "Scarlett 18i20 USB"; the id when "cards" has no name
    int index = -1;
    QString id;               // "USB"
    QList<int> captures;      // its PCM devices that capture, in order
    QList<int> playbacks;     // and those that play
    int captureChannels = 0;  // the most a USB card's capture offers; 0: not said

    // The uid of the card's device: the JACK backend gives it to the card
    // behind jackd2's "system", so labels stored under it follow the card.
    QString uid() const { return QStringLiteral("alsa:") + key; }
    // How ALSA opens one of its PCM devices, by the id that does not move.
    QString pcm(int device) const {
        return QStringLiteral("hw:CARD=%1,DEV=%2").arg(id).arg(device);
    }

    // The card behind a jackd2 port alias ("alsa_pcm:hw:USB:capture_1",
    // "alsa_pcm:hw:2,0:out1"); nothing when the alias names no card, or the
    // card is not there.
    static std::optional<AlsaCard> behind(const QString& alias, const QString& root = {});
    // Every card that can capture, by index.
    static QList<AlsaCard> all(const QString& root = {});
};
