#pragma once

#include <QWidget>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ChannelRow;
class Meter;
class RoomCommands;
class RoomState;

// The whole content of the window: device and folder choice, the record
// control with the elapsed time, the channel rows, the mix and headphone
// meters, and the status line with the Control Room link. A view of the
// engine's published state: every control writes through the engine.
//
// The engine announces every assignment (dozens per 0.05 s tick); the view
// refreshes once per turn of the event loop, rebuilds rows only when the
// number of channels changes, and never replaces text the user is typing.
class RootView : public QWidget {
public:
    RootView(const RoomState& state, RoomCommands& commands, QWidget* parent = nullptr);

    // Asks for a folder, starting at the given one; empty when cancelled.
    // Replaceable, so that tests need no modal dialog.
    std::function<QString(const QString& start)> chooseFolder;

    // Main thread: shows the engine's state now.
    void refresh();

    // Parts, for tests.
    QComboBox* inputPicker() const { return inputs; }
    QComboBox* outputPicker() const { return outputs; }
    QPushButton* folderButton() const { return folder; }
    QLabel* rootLabel() const { return rootPath; }
    QCheckBox* showAllBox() const { return showAll; }
    QPushButton* refreshButton() const { return refreshDevices; }
    QPushButton* recordButton() const { return record; }
    QLabel* elapsedLabel() const { return elapsed; }
    QLabel* timeLeftLabel() const { return timeLeft; }
    QLabel* folderLabel() const { return folderName; }
    const std::vector<ChannelRow*>& rows() const { return channelRows; }
    Meter* mixMeter() const { return mix; }
    Meter* headphoneMeter() const { return mon; }
    QLabel* headphoneLabel() const { return monLabel; }
    QPushButton* hearMixButton() const { return hearMix; }
    QPushButton* toneButton() const { return tone; }
    QLabel* statusLabel() const { return status; }

    // "01:02:05" for 3725.9 s.
    static QString clock(double seconds);
    // The status line's text; it is red when the status reports a failure.
    static QString statusLine(bool linked, const QString& server, const QString& status);

private:
    QWidget* header();
    QWidget* footer();
    void scheduleRefresh();
    void rebuildRows();
    void refreshPickers();

    const RoomState& state;
    RoomCommands& commands;
    bool pending = false;
    QComboBox* inputs;
    QComboBox* outputs;
    QLabel* outputsNote;  // why other cards' outputs are not offered
    QPushButton* folder;
    QLabel* rootPath;
    QCheckBox* showAll;
    QPushButton* refreshDevices;
    QPushButton* record;
    QLabel* elapsed;
    QLabel* timeLeft;  // recording time the disk holds
    QLabel* folderName;
    QVBoxLayout* rowList;
    std::vector<ChannelRow*> channelRows;
    Meter* mix;
    Meter* mon;
    QLabel* monLabel;
    QPushButton* hearMix;
    QPushButton* tone;
    QLabel* status;
};
