#include "app/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstring>

#include "base/Instance.h"

QString SingleInstance::socketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/") + instance::qualified(QStringLiteral("tessaly")) +
               QStringLiteral(".socket");
    return QDir::tempPath() + QStringLiteral("/%1-%2.socket")
                                  .arg(instance::qualified(QStringLiteral("tessaly")))
                                  .arg(::getuid());
}

bool SingleInstance::handOff() {
    const QByteArray path = socketPath().toLocal8Bit();
    sockaddr_un address{};
    if (static_cast<std::size_t>(path.size()) >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool answered = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::write(fd, "show\n", 5) == 5;
    ::close(fd);
    return answered;
}

bool SingleInstance::listen(std::function<void()> show) {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());  // nobody answered: whatever is there is stale
    if (!server->listen(socketPath())) return false;
    connect(server, &QLocalServer::newConnection, this, [this, show] {
        while (QLocalSocket* peer = server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            show();
        }
    });
    return true;
}
