#include "system/SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

namespace {

// Whether there is a system bus to ask: its address given, or the usual
// socket. Without one, no D-Bus connection (and its thread) is made at all.
bool systemBusThere() {
    return !qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") ||
           QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket")) ||
           QFileInfo::exists(QStringLiteral("/var/run/dbus/system_bus_socket"));
}

}  // namespace

SleepInhibitor::SleepInhibitor() : calls(std::make_unique<QObject>()) {}

SleepInhibitor::~SleepInhibitor() = default;

void SleepInhibitor::hold() {
    if (wanted) return;
    wanted = true;
    if (!systemBusThere()) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    QDBusMessage inhibit = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep:idle") << QStringLiteral("Tessaly")
            << QStringLiteral("Recording") << QStringLiteral("block");
    // Not waited for: a take never waits on the bus.
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), calls.get());
    QObject::connect(answer, &QDBusPendingCallWatcher::finished, calls.get(),
                     [this, answer, mine = ++asked] {
                         const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answer;
                         if (mine == asked && wanted && reply.isValid()) lock = reply.value();
                         answer->deleteLater();
                     });
}

void SleepInhibitor::release() {
    wanted = false;
    ++asked;  // an answer still on its way is dropped, and its lock with it
    lock = QDBusUnixFileDescriptor();
}
