#include "hardware/RealtimePriority.h"

#include <sched.h>
#include <sys/resource.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kPriority = 70;        // above the desktop's audio servers' clients
constexpr int kRtkitPriority = 20;   // the most RealtimeKit gives by default
constexpr int kBusTimeoutMs = 2000;  // a bus that does not answer must not hold the start
const QString kRtkit = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kRtkitPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// One of RealtimeKit's properties; `fallback` when it does not say.
qlonglong rtkitProperty(QDBusConnection& bus, const char* name, qlonglong fallback) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kRtkit, kRtkitPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kRtkit << QString::fromLatin1(name);
    const QDBusMessage reply = bus.call(get, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return fallback;
    bool ok = false;
    const qlonglong value = reply.arguments()[0].value<QDBusVariant>().variant().toLongLong(&ok);
    return ok ? value : fallback;
}

// Empty when RealtimeKit made the thread real-time at `priority`; else why not.
QString askRtkit(pid_t tid, int& priority) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return QStringLiteral("no system bus");
    priority = static_cast<int>(
        std::min<qlonglong>(kRtkitPriority, rtkitProperty(bus, "MaxRealtimePriority", 20)));
    // It refuses a process that could keep the CPU longer than it allows.
    const auto most = static_cast<rlim_t>(rtkitProperty(bus, "RTTimeUSecMax", 200000));
    rlimit limit{};
    getrlimit(RLIMIT_RTTIME, &limit);
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > most) {
        limit = {most, most};
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0) return QStringLiteral("RLIMIT_RTTIME refused");
    }
    QDBusMessage make = QDBusMessage::createMethodCall(kRtkit, kRtkitPath, kRtkit,
                                                       QStringLiteral("MakeThreadRealtime"));
    make << static_cast<quint64>(tid) << static_cast<quint32>(priority);
    const QDBusMessage reply = bus.call(make, QDBus::Block, kBusTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorMessage();
}

}  // namespace

void raiseToRealtime(pthread_t thread, pid_t tid) {
    sched_param param{};
    param.sched_priority = std::min(kPriority, sched_get_priority_max(SCHED_FIFO));
    const int refused = pthread_setschedparam(thread, SCHED_FIFO, &param);
    if (refused == 0) {
        qInfo().noquote() << QStringLiteral("audio thread: real-time priority %1 (SCHED_FIFO)")
                                 .arg(param.sched_priority);
        return;
    }
    int priority = 0;
    const QString rtkit = askRtkit(tid, priority);
    if (rtkit.isEmpty()) {
        qInfo().noquote()
            << QStringLiteral("audio thread: real-time priority %1 from RealtimeKit").arg(priority);
        return;
    }
    qInfo().noquote() << QStringLiteral(
                             "audio thread: normal priority (SCHED_FIFO: %1; RealtimeKit: %2)")
                             .arg(QString::fromUtf8(std::strerror(refused)), rtkit);
}
