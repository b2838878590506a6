#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "controlroom/MessageBudget.h"
#include "protocol/LinkCommand.h"
#include "protocol/LinkStatus.h"

class QTimer;
class QWebSocket;

// Every recorder the room knows: those connected over the link, and those it
// expects (its children, and any that went away), shown as not connected.
// A recorder is known by its instance name and, from another machine, its
// address; one that comes back takes up its old place. Main thread.
class Recorders : public QObject {
    Q_OBJECT

public:
    struct Recorder {
        int id = 0;                        // the page's handle for it; never reused
        QString key;                       // instance, and the address of a remote one
        QString label;                     // what the page calls it
        QWebSocket* socket = nullptr;      // null while not connected
        std::optional<LinkStatus> status;  // the latest, while connected
        bool expected = false;             // one the room starts: never forgotten
        QElapsedTimer away;                // since it went away
    };

    explicit Recorders(QObject* parent = nullptr);
    ~Recorders() override;

    // A recorder of this instance on this machine: shown before it connects.
    void expect(const QString& instance);
    // Takes an admitted link socket. It is a recorder once it sends a status;
    // one that sends none for a while is let go.
    void attach(QWebSocket* socket);
    // Sends a command to one connected recorder; false when it is not.
    bool send(int id, const LinkCommand& command);
    // Starts or stops a take on every connected recorder at once.
    void recordAll(bool on);

    const std::vector<Recorder>& all() const { return recorders; }
    const Recorder* find(int id) const;

    static constexpr qint64 maxMessage = 1 << 20;
    static constexpr int silenceMs = 5000;  // a recorder sends 5 statuses a second
    // What a room keeps, whoever connects: beyond these a link is refused,
    // and the place of the recorder away the longest is forgotten.
    static constexpr int maxLinks = 64;
    static constexpr int maxPlaces = 32;
    // A recorder's old link quiet this long gives its place to a new one.
    static constexpr int takeOverMs = 1000;

Q_SIGNALS:
    // A recorder appeared, sent a status, or went away.
    void updated(int id);
    // A recorder long away whose place was needed for another.
    void forgotten(int id);

private:
    // One connected socket; it names its recorder with its first status.
    struct Link {
        QWebSocket* socket = nullptr;
        MessageBudget budget{25.0, 50.0};
        QElapsedTimer heard;
        int recorder = 0;  // its id; 0 before the first status
    };

    void received(Link& link, const QString& text);
    void gone(QWebSocket* socket);
    Recorder* place(const QString& key, const QString& label);
    Recorder* byId(int id);
    void watch();

    std::vector<Recorder> recorders;
    std::vector<std::unique_ptr<Link>> links;
    int nextId = 1;
    QTimer* watchdog;
};
