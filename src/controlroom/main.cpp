// tessaly-room: the Control Room. Serves the link recorders connect to,
// starts headless recorders as its children and serves the page that shows
// and drives them from any browser.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cstdio>

#include "controlroom/Engines.h"
#include "controlroom/LinkServer.h"
#include "controlroom/PageClients.h"
#include "controlroom/PageServer.h"
#include "controlroom/Recorders.h"
#include "controlroom/RoomOptions.h"
#include "protocol/AccessKey.h"

namespace {

// SIGTERM, SIGINT and SIGHUP (the terminal closed) end the room through its
// event loop, which stops its recorders first. Blocked before any thread
// starts, so every thread leaves them to the descriptor.
int signalDescriptor() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// The recorder beside this program, else the one on the PATH.
QString recorderProgram(const RoomOptions& o) {
    if (!o.engine.isEmpty()) return o.engine;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly");
    return QFileInfo(beside).isExecutable() ? beside : QStringLiteral("tessaly");
}

// The address a child on this machine reaches the link by.
QString linkForChildren(const ListenAddress& link) {
    if (!link.wildcard()) return link.text();
    const bool six = link.host == QHostAddress::AnyIPv6;
    return ListenAddress{QHostAddress(six ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost),
                         link.port}
        .text();
}

int fail(const QString& why) {
    std::fprintf(stderr, "tessaly-room: %s\n", qUtf8Printable(why));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int signalFd = signalDescriptor();
    QCoreApplication app(argc, argv);
    // The HTTP server's own complaint about a refused upgrade; ours says why.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-room"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    const RoomOptions o = RoomOptions::parse(app.arguments());
    if (!o.error.isEmpty()) {
        std::fprintf(stderr, "tessaly-room: %s\n", qUtf8Printable(o.error));
        return 2;
    }
    if (o.help) {
        std::fputs(qUtf8Printable(roomUsage()), stdout);
        return 0;
    }
    if (o.version) {
        std::puts("tessaly-room " TESSALY_VERSION);
        return 0;
    }

    // Beyond loopback, each socket asks for the key.
    QByteArray linkKey, pageKey;
    if (!o.link.loopback() || !o.page.loopback()) {
        QString error;
        const QByteArray key = accessKey::loadOrCreate(&error);
        if (key.isEmpty()) return fail(QStringLiteral("no access key: ") + error);
        if (!o.link.loopback()) linkKey = key;
        if (!o.page.loopback()) pageKey = key;
    }

    Recorders recorders;
    LinkServer link(recorders, linkKey);
    PageClients clients(recorders);
    PageServer page(clients, o.page, pageKey);
    QString error;
    if (!link.listen(o.link, &error) || !page.listen(o.page, &error)) return fail(error);
    qInfo().noquote()
        << QStringLiteral("room: recorders connect to ws://%1/tessaly; the page is at http://%2/")
               .arg(o.link.text(), o.page.text());
    // The key is shown to the person at the terminal, never written to the log.
    if (::isatty(STDOUT_FILENO)) {
        // A phone reaches "every address" by the machine's name.
        const QString where = o.page.wildcard()
                                  ? QHostInfo::localHostName() + u':' + QString::number(o.page.port)
                                  : o.page.text();
        std::printf("Tessaly room: http://%s/%s\n", qUtf8Printable(where),
                    pageKey.isEmpty() ? "" : qPrintable(QStringLiteral("?key=") + pageKey));
        std::fflush(stdout);
    }

    Engines engines(recorderProgram(o), linkForChildren(o.link), o.engineArgs, linkKey);
    if (o.startEngines) {
        // Rooms on other ports start recorders of other names, so two rooms on
        // one machine never share a recorder's settings.
        const QString prefix = o.link.port == 4777 ? QStringLiteral("room-")
                                                   : QStringLiteral("room%1-").arg(o.link.port);
        for (int n = 1; n <= o.recorders; ++n) {
            const QString instance = prefix + QString::number(n);
            recorders.expect(instance);
            engines.start(instance);
        }
    }

    QSocketNotifier onSignal(signalFd, QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == sizeof info) {
        }
        QCoreApplication::quit();
    });
    app.exec();
    // A recorder closing a take on a slow disk may take up to 10 s.
    engines.stopAll(15000);
    return 0;
}
