#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// The status message a recorder sends its Control Room five times a second:
// its whole observable state. Both ends use this one definition.

struct LinkChannel {
    qint64 i = 0;  // 0-based; the number a "set" command addresses
    QString name;
    QString hw;
    bool armed = false;
    bool solo = false;
    double peak = 0.0;
};

struct LinkDevice {
    QString uid;
    QString name;
    qint64 inputs = 0;
    qint64 outputs = 0;
};

struct LinkStatus {
    bool running = false;
    QString device;
    int rate = 48000;
    bool recording = false;
    QString folder;
    double elapsed = 0.0;
    QList<LinkChannel> inputs;
    QString monLabel;
    double monPeak = 0.0;
    double mixPeak = 0.0;
    QList<LinkDevice> inputDevices;
    QList<LinkDevice> outputDevices;
    QString inputUID;
    QString outputUID;
    QString status;

    // Added for a Control Room that shows what the window shows; a peer that
    // does not know them ignores them, and a recorder that does not send
    // them leaves these values.
    double timeLeft = -1.0;     // "timeLeft": seconds of recording left; negative: not known
    bool diskAnswering = true;  // "diskAnswering"
    bool failure = false;       // "failure": the status reports a failure (shown in red)
    QString instance;           // "instance": the recorder's instance name; empty by default
};

// Whether `name` can be a recorder's instance name ("instance"): 1 to 64
// letters, digits, '-' or '_', for it becomes part of file names. The default
// instance has none.
bool validInstance(const QString& name);

// Compact JSON text of the 15 members and the additions.
QByteArray statusText(const LinkStatus& status);

// Reads a status message with strict types: every one of the 15 members
// must be present with its type (an addition may be absent); anything else
// is no status.
std::optional<LinkStatus> parseStatus(const QJsonObject& message);
