#pragma once

#include <QString>
#include <optional>

// What the window and the Control Room link may ask of the engine. Main
// thread only; each answers through the observable state, never directly.
class RoomCommands {
public:
    virtual ~RoomCommands() = default;

    // Lists the devices again and chooses input and output.
    virtual void refreshDevices() = 0;
    // Stops, then opens the chosen input and starts the headphones.
    virtual void startEngine() = 0;
    // Explicit device choices, stored; ignored during a take.
    virtual void selectInput(const QString& uid) = 0;
    virtual void selectOutput(const QString& uid) = 0;
    // The recording root for the next take; stored.
    virtual void setRoot(const QString& path) = 0;
    // Whether the window lists every input; stored.
    virtual void setShowAll(bool on) = 0;
    // Starts a take, in the day folder named `dayFolder` under the root when
    // given (one name, made safe: never a path elsewhere), else in today's.
    virtual void record(const std::optional<QString>& dayFolder = std::nullopt) = 0;
    // Ends the take; every file is closed with exact sizes.
    virtual void stopRecording() = 0;
    // Channel controls, by position. Arming is frozen during a take.
    virtual void setArmed(int index, bool on) = 0;
    virtual void setName(int index, const QString& name) = 0;
    virtual void setSolo(int index, bool on) = 0;
    virtual void clearSolo() = 0;
    // The 1000 Hz test tone in the headphones for `seconds`.
    virtual void testTone(double seconds = 0.7) = 0;
    // The link reports whether the Control Room is connected.
    virtual void setLinkConnected(bool connected) = 0;
};
