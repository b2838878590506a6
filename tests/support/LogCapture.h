#pragma once

#include <QStringList>

// Collects the program's log lines (qInfo and friends) while it lives.
class LogCapture {
public:
    LogCapture() {
        lines().clear();
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { lines() << text; });
    }
    ~LogCapture() { qInstallMessageHandler(nullptr); }
    // Every line since the capture began (or since the last take()).
    static QStringList& lines() {
        static QStringList all;
        return all;
    }
    static QStringList take() { return std::exchange(lines(), {}); }
};
