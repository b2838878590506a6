#pragma once

#include <QDebug>
#include <QWebSocket>

// Takes a socket the room admitted, within the room's limits: with `open`
// sockets of its kind already at `most`, it is closed (and the log says so);
// else its messages are capped at `maxMessage` bytes. Whether it was taken.
inline bool adopt(QWebSocket* socket, qsizetype open, int most, qint64 maxMessage,
                  const char* what) {
    if (open >= most) {
        qWarning().noquote() << QStringLiteral("room: refused a %1 from %2: %3 open")
                                    .arg(QLatin1StringView(what), socket->peerAddress().toString())
                                    .arg(most);
        socket->abort();
        socket->deleteLater();
        return false;
    }
    socket->setParent(nullptr);
    socket->setMaxAllowedIncomingMessageSize(maxMessage);
    socket->setMaxAllowedIncomingFrameSize(maxMessage);
    return true;
}
