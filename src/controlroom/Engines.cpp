#include "controlroom/Engines.h"

#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDebug>
#include <QProcess>
#include <QTimer>

#include "protocol/AccessKey.h"

Engines::Engines(QString p, QString s, QStringList e, const QByteArray& key, QObject* parent)
    : QObject(parent),
      program(std::move(p)),
      server(std::move(s)),
      extra(std::move(e)),
      environment(QProcessEnvironment::systemEnvironment()) {
    environment.remove(QString::fromLatin1(accessKey::inherited));
    if (!key.isEmpty())
        environment.insert(QString::fromLatin1(accessKey::inherited), QString::fromLatin1(key));
}

Engines::~Engines() {
    stopAll(0);
}

void Engines::start(const QString& instance) {
    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setProcessEnvironment(environment);
    // The room takes its signals from a descriptor, with them blocked; a
    // recorder must get its own. In a session of its own, a closed terminal
    // or a Ctrl-C reaches only the room, which stops it cleanly.
    process->setChildProcessModifier([] {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::setsid();
    });
    process->setProgram(program);
    process->setArguments(QStringList{QStringLiteral("-headless"), QStringLiteral("--server"),
                                      server, QStringLiteral("--instance"), instance} +
                          extra);
    children.push_back({instance, process, {}});
    children.back().started.start();
    connect(process, &QProcess::finished, this,
            [this, instance](int code, QProcess::ExitStatus how) {
                restartLater(instance, how == QProcess::CrashExit
                                           ? QStringLiteral("killed")
                                           : QStringLiteral("exit %1").arg(code));
            });
    connect(process, &QProcess::errorOccurred, this, [this, instance](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            restartLater(instance, QStringLiteral("%1 could not be started").arg(program));
    });
    process->start();
}

void Engines::restartLater(const QString& instance, const QString& why) {
    if (stopping) return;
    for (Child& c : children) {
        if (c.instance != instance) continue;
        const bool quick = c.started.elapsed() < shortLifeMs;
        const int wait = quick ? c.delayMs : restartMs;
        c.delayMs = quick ? std::min(wait * 2, 60000) : restartMs;
        qWarning().noquote() << QStringLiteral(
                                    "room: recorder %1 ended (%2); starting it again in %3 s")
                                    .arg(instance, why)
                                    .arg(wait / 1000);
        QTimer::singleShot(wait, this, [this, instance] {
            for (Child& again : children) {
                if (again.instance != instance || stopping) continue;
                again.started.start();
                again.process->start();
            }
        });
    }
}

qint64 Engines::pid(const QString& instance) const {
    for (const Child& c : children)
        if (c.instance == instance) return c.process->processId();
    return 0;
}

void Engines::stopAll(int limitMs) {
    stopping = true;
    for (Child& c : children) c.process->terminate();
    const QDeadlineTimer deadline(limitMs);
    for (Child& c : children) {
        if (c.process->state() == QProcess::NotRunning) continue;
        if (c.process->waitForFinished(static_cast<int>(deadline.remainingTime()))) continue;
        qWarning().noquote()
            << QStringLiteral("room: recorder %1 is still closing its files").arg(c.instance);
        // Deleting a running QProcess kills it outright, losing its take's
        // last headers: it is left to end by itself, as it does once its
        // parent is gone.
        c.process->setParent(nullptr);
        c.process->disconnect(this);
    }
    children.clear();
}
