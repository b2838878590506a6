#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "room/RoomEngine.h"
#include "ui/RootView.h"

MainWindow::MainWindow(RoomEngine& e) : engine(e) {
    setWindowTitle(QStringLiteral("Tessaly"));
    resize(1000, 600);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    root = new RootView(engine, engine, this);
    layout->addWidget(root);
    auto* quit = new QAction(QStringLiteral("Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &MainWindow::requestQuit);
    addAction(quit);
}

void MainWindow::reveal() {
    show();
    raise();
    activateWindow();
}

bool MainWindow::requestQuit() {
    if (engine.recording()) {
        QMessageBox ask(QMessageBox::Warning, QStringLiteral("Still recording"),
                        QStringLiteral("Still recording"), QMessageBox::NoButton, this);
        ask.setInformativeText(QStringLiteral("Stop the recording and quit?"));
        // "&&": a single "&" would make the Q a keyboard mnemonic and hide the ampersand.
        QPushButton* stop = ask.addButton(QStringLiteral("Stop && Quit"), QMessageBox::AcceptRole);
        ask.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        ask.setDefaultButton(stop);
        ask.exec();
        if (ask.clickedButton() != stop) return false;
    }
    engine.stopEngine();
    QApplication::quit();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}
