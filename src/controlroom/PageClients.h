#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "controlroom/MessageBudget.h"

class QWebSocket;
class Recorders;

// The browsers watching: each is sent every recorder's state as it arrives
// (five times a second per recorder) and may drive any of them with the
// link's own commands. Several browsers may watch and drive at once; each
// sees what the others changed in the recorders' next status. Main thread.
//
// From the room: {"type":"recorder","id":N,"label":…,"connected":…,"status":{…}|null}
//                {"type":"forget","id":N}
// To the room:   {"type":"command","to":N,"command":{a link command}}
//                {"type":"recordAll","on":true|false}
class PageClients : public QObject {
    Q_OBJECT

public:
    explicit PageClients(Recorders& recorders, QObject* parent = nullptr);
    ~PageClients() override;

    // Takes an admitted page socket, and tells it of every recorder.
    void attach(QWebSocket* socket);
    int count() const { return static_cast<int>(clients.size()); }

    static constexpr qint64 maxMessage = 64 * 1024;
    static constexpr int maxClients = 64;
    // A browser that does not take what it is sent misses updates rather
    // than the room holding them for it without end.
    static constexpr qint64 maxBacklog = 4 * 1024 * 1024;

private:
    struct Client {
        QWebSocket* socket = nullptr;
        MessageBudget budget{20.0, 40.0};
    };

    void received(Client& client, const QString& text);
    void broadcast(int id);
    void send(const QString& text);
    void gone(QWebSocket* socket);

    Recorders& recorders;
    std::vector<std::unique_ptr<Client>> clients;
};
