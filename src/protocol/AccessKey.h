#pragma once

#include <QByteArray>
#include <QString>

// The access key a Control Room asks for when it listens on an address other
// than loopback: a random text kept in $XDG_CONFIG_HOME/Tessaly/room-key
// (~/.config when unset), readable by its owner alone. A recorder on the same
// machine reads it from there; one on another machine is given a copy.
namespace accessKey {

QString path();
// The key, or empty when there is none (or it cannot be read).
QByteArray load();
// The key, made at first use (created exclusively, mode 0600, so two rooms
// started together agree on one). Empty, with `error` set, when it cannot be
// made or read.
QByteArray loadOrCreate(QString* error);
// Compares in time that does not depend on where the texts differ.
bool matches(const QByteArray& given, const QByteArray& key);

}  // namespace accessKey
