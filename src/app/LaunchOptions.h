#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. Switches are whole, case-sensitive
// arguments; anything else is ignored.
struct LaunchOptions {
    enum class Mode { windowed, headless, selfTest, help, version };

    Mode mode = Mode::windowed;
    double selfTestSeconds = 5.0;
    bool hidden = false;   // windowed mode: build the window but do not show it
    QString backend;       // jack, alsa or demo; empty: the stored choice, else jack
    QStringList alsaPcms;  // PCMs by name the ALSA backend offers besides the cards
    int demoInputs = 20;
    int demoRate = 48000;
    int demoLoseEvery = 0;  // the simulated interface loses every Nth buffer; 0: none
    QString server;         // host:port of the Control Room for this run; empty: the stored one
    QString instance;       // which recorder of several on this machine; empty: the default
    QString error;          // a switch with a value it cannot use

    static LaunchOptions parse(const QStringList& arguments);
    static bool knownBackend(const QString& name);
};

QString usage();
