#pragma once

#include <QByteArray>
#include <QJsonObject>

class RoomCommands;
class RoomState;

// The two kinds of message on the Control Room link.

// The engine's whole observable state as compact JSON text: 15 members,
// channel objects of 6, device objects of 4. Main thread.
QByteArray statusText(const RoomState& state);

// Obeys one command object ("set", "record", "tone", "hearMix", "device").
// Members are read with strict types; anything else is ignored silently.
// Main thread.
void handleCommand(RoomCommands& engine, const RoomState& state, const QJsonObject& command);
