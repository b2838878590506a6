#pragma once

#include <QWidget>
#include <functional>

class RoomEngine;
class RootView;

// The one window: the engine's view, titled "Tessaly". Closing it only hides
// it (capture, recording and the link go on); Ctrl+Q quits, asking first
// while a take is running.
class MainWindow : public QWidget {
public:
    explicit MainWindow(RoomEngine& engine);

    // Shows the window again and brings it to the front.
    void reveal();
    // The quit rule: while recording, "Still recording" asks whether to stop;
    // then the engine is stopped (closing every file) and the application
    // quits. Returns false when the user cancelled.
    bool requestQuit();

    RootView* view() const { return root; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    RoomEngine& engine;
    RootView* root;
};
