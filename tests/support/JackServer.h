#pragma once

#include <jack/jack.h>
#include <unistd.h>

#include <csignal>

#include <QProcess>
#include <QString>
#include <chrono>
#include <thread>

// A private jackd with the dummy driver: no sound card needed. The process's
// JACK clients talk to it by default while it lives.
//
// JACK keeps a registry of at most 8 servers and frees the entry of a killed
// server only for a new server of the same name, so every test server has the
// same name and the tests that start one never run at the same time.
class JackServer {
public:
    explicit JackServer(int rate, const QString& serverName = QStringLiteral("tessaly-test")) {
        name = serverName;
        qputenv("JACK_DEFAULT_SERVER", name.toUtf8());
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.setStandardOutputFile(QProcess::nullDevice());
        server.start(QStringLiteral("jackd"),
                     {"--no-realtime", "-n", name, "-d", "dummy", "-r", QString::number(rate), "-C",
                      "20", "-P", "20", "-p", "256"});
        server.waitForStarted();
        for (int i = 0; i < 100 && !up(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~JackServer() { stop(SIGTERM); }

    bool up() const {
        if (server.state() != QProcess::Running) return false;
        jack_status_t status{};
        jack_client_t* c = jack_client_open("probe", JackNoStartServer, &status);
        if (c) jack_client_close(c);
        return c != nullptr;
    }
    void stop(int signal) {
        if (server.state() != QProcess::Running) return;
        ::kill(static_cast<pid_t>(server.processId()), signal);
        server.waitForFinished(5000);
    }

private:
    QString name;
    QProcess server;
};
