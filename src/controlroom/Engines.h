#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

#include <QProcessEnvironment>

class QProcess;

// The headless recorders the room starts as its children, one instance each.
// A child that ends is started again 2 s later; when the room ends, each is
// asked to stop (it closes its take's files exactly) and waited for.
class Engines : public QObject {
    Q_OBJECT

public:
    // `program` the recorder; `server` the link address it is told;
    // `extra` switches given to every child; `key` the link's access key, if
    // it asks for one (handed down in the environment, never on the command
    // line, which every user can read).
    Engines(QString program, QString server, QStringList extra, const QByteArray& key,
            QObject* parent = nullptr);
    ~Engines() override;

    // Starts a child for the instance.
    void start(const QString& instance);
    // Asks every child to stop and waits for each, at most `limitMs` in all.
    void stopAll(int limitMs);
    // The process id of an instance's child; 0 while none runs.
    qint64 pid(const QString& instance) const;

    static constexpr int restartMs = 2000;
    // A child that keeps ending sooner than this after its start (a switch
    // it does not take, say) waits twice as long each time, up to a minute.
    static constexpr int shortLifeMs = 10000;

private:
    struct Child {
        QString instance;
        QProcess* process;
        QElapsedTimer started;
        int delayMs = restartMs;
    };
    void restartLater(const QString& instance, const QString& why);

    const QString program;
    const QString server;
    const QStringList extra;
    QProcessEnvironment environment;
    std::vector<Child> children;
    bool stopping = false;
};
