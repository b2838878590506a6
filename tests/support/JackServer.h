#pragma once

#include <jack/jack.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>
#include <csignal>
#include <thread>

// A private jackd with the dummy driver: no sound card needed. The process's JACK clients talk to
// it by default while it lives. JACK keeps at most 8 servers and frees a killed one's entry only
// for a server of the same name, so every test server has the same name and those tests take turns.
class JackServer {
public:
    explicit JackServer(int rate, int period = 256,
                        const QString& name = QStringLiteral("tessaly-test"))
        : args(QString("--no-realtime -n %1 -d dummy -r %2 -C 20 -P 20 -p %3")
                   .arg(name, QString::number(rate), QString::number(period))
                   .split(' ')) {
        qputenv("JACK_DEFAULT_SERVER", name.toUtf8());
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.setStandardOutputFile(QProcess::nullDevice());
        // A server whose test process was killed (a timeout) must not outlive it.
        server.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        start();
    }
    // Starts it (again), and waits until it answers.
    void start() {
        server.start("jackd", args);
        server.waitForStarted();
        for (int i = 0; i < 100 && !up(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~JackServer() { stop(SIGTERM); }
    bool up() const {
        jack_client_t* c = jack_client_open("probe", JackNoStartServer, nullptr);
        if (c) jack_client_close(c);
        return server.state() == QProcess::Running && c;
    }
    void stop(int signal) {
        if (server.state() != QProcess::Running) return;
        ::kill(static_cast<pid_t>(server.processId()), signal);
        server.waitForFinished(5000);
    }
    // Stops it (SIGSTOP) for `seconds`, then lets it go on; how long it was stopped.
    double pause(double seconds) {
        const auto from = std::chrono::steady_clock::now();
        ::kill(static_cast<pid_t>(server.processId()), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        ::kill(static_cast<pid_t>(server.processId()), SIGCONT);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    }

private:
    const QStringList args;
    QProcess server;
};
