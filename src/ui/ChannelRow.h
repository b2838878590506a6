#pragma once

#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QToolButton;
class Meter;
class RoomCommands;
class RoomState;
class ToggleSwitch;

// One input channel in the window: armed switch, recording dot, name field,
// hardware name, level meter and solo button. Every control writes straight
// to the engine; refresh() shows the engine's values again.
class ChannelRow : public QWidget {
public:
    ChannelRow(const RoomState& state, RoomCommands& commands, int index,
               QWidget* parent = nullptr);

    // Main thread: shows channel `index` as the engine publishes it, or
    // nothing when the list has no such channel. Never touches a name field
    // the user is typing in.
    void refresh();

    int index() const { return position; }
    ToggleSwitch* armedSwitch() const { return armed; }
    QWidget* recordingDot() const { return dot; }
    QLineEdit* nameField() const { return name; }
    QLabel* hardwareLabel() const { return hw; }
    Meter* meter() const { return level; }
    QToolButton* soloButton() const { return solo; }
    // 1.0 when the channel is armed, 0.55 when not.
    double opacity() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const RoomState& state;
    RoomCommands& commands;
    const int position;
    ToggleSwitch* armed;
    QWidget* dot;
    QLineEdit* name;
    QLabel* hw;
    Meter* level;
    QToolButton* solo;
    QGraphicsOpacityEffect* fade;
    bool soloShown = false;
    bool partsHidden = false;
};
