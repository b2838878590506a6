#include "controlroom/Engines.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QDebug>
#include <QProcess>
#include <QTimer>

Engines::Engines(QString p, QString s, QStringList e, QObject* parent)
    : QObject(parent), program(std::move(p)), server(std::move(s)), extra(std::move(e)) {}

Engines::~Engines() {
    stopAll(0);
}

void Engines::start(const QString& instance) {
    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // The room takes its signals from a descriptor, with them blocked; a
    // recorder must get its own.
    process->setChildProcessModifier([] {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
    });
    process->setProgram(program);
    process->setArguments(QStringList{QStringLiteral("-headless"), QStringLiteral("--server"),
                                      server, QStringLiteral("--instance"), instance} +
                          extra);
    children.push_back({instance, process});
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
    qWarning().noquote() << QStringLiteral("room: recorder %1 ended (%2); starting it again in 2 s")
                                .arg(instance, why);
    QTimer::singleShot(restartMs, this, [this, instance] {
        for (Child& c : children)
            if (c.instance == instance && !stopping) c.process->start();
    });
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
