#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

class QProcess;

// The headless recorders the room starts as its children, one instance each.
// A child that ends is started again 2 s later; when the room ends, each is
// asked to stop (it closes its take's files exactly) and waited for.
class Engines : public QObject {
    Q_OBJECT

public:
    // `program` the recorder; `server` the link address it is told;
    // `extra` switches given to every child.
    Engines(QString program, QString server, QStringList extra, QObject* parent = nullptr);
    ~Engines() override;

    // Starts a child for the instance.
    void start(const QString& instance);
    // Asks every child to stop and waits for each, at most `limitMs` in all.
    void stopAll(int limitMs);
    // The process id of an instance's child; 0 while none runs.
    qint64 pid(const QString& instance) const;

    static constexpr int restartMs = 2000;

private:
    struct Child {
        QString instance;
        QProcess* process;
    };
    void restartLater(const QString& instance, const QString& why);

    const QString program;
    const QString server;
    const QStringList extra;
    std::vector<Child> children;
    bool stopping = false;
};
