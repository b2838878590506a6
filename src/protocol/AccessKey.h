#pragma once

#include <QByteArray>
#include <QString>

// The access key a Control Room asks for when it listens on an address other
// than loopback: a random text kept in $XDG_CONFIG_HOME/Tessaly/room-key
// (~/.config when unset), readable by its owner alone. A recorder on the same
// user's recorders on another machine are given a copy; the room hands it to
// the recorders it starts.
namespace accessKey {

QString path();
// The key, or empty when there is none (or it cannot be read).
QByteArray load();
// The key, made at first use: written whole to a file of its own (mode 0600)
// and then linked into place, which fails for all but the first of two rooms
// started together, so they agree on one, and no room ever reads half a key.
// Empty, with `error` set, when it cannot be made or read.
QByteArray loadOrCreate(QString* error);
// The key a recorder sends on the link: the one the room that started it
// handed down (in the environment variable below), else, for a room that is
// not on loopback, this user's file.
QByteArray forLink(bool loopbackRoom);
constexpr const char* inherited = "TESSALY_ROOM_KEY";
// Compares in time that does not depend on where the texts differ.
bool matches(const QByteArray& given, const QByteArray& key);

}  // namespace accessKey
