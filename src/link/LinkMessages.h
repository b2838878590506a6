#pragma once

#include <QByteArray>
#include <QJsonObject>

#include "protocol/LinkCommand.h"
#include "protocol/LinkStatus.h"

class RoomCommands;
class RoomState;

// The engine's side of the two kinds of message on the Control Room link.

// The engine's whole observable state. Main thread.
LinkStatus linkStatus(const RoomState& state);
inline QByteArray statusText(const RoomState& state) {
    return statusText(linkStatus(state));
}

// Obeys one command; a "set" for a channel that does not exist changes
// nothing, and "record" while recording starts nothing. Main thread.
void obey(RoomCommands& engine, const RoomState& state, const LinkCommand& command);
