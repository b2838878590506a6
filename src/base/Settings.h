#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QSettings;

// The user's settings, every key in one place: the native store of
// organisation and application "Tessaly" (~/.config/Tessaly/Tessaly.conf;
// Tessaly-NAME.conf for an instance), or a given file. Values are read afresh at every call.
class Settings {
public:
    Settings();
    // Another store of the same layout (a child process's, for instance).
    explicit Settings(const QString& file);
    ~Settings();

    QString inputUID() const;  // empty when none was chosen
    void setInputUID(const QString& uid);
    QString outputUID() const;
    void setOutputUID(const QString& uid);
    // The recording root; "~/Desktop/Tessaly" (expanded) when absent.
    QString rootPath() const;
    void setRootPath(const QString& path);
    bool showAll() const;
    void setShowAll(bool on);
    // The JSON labels document of an interface; empty when absent (an empty
    // document removes it).
    QByteArray labels(const QString& inputUID) const;
    void setLabels(const QString& inputUID, const QByteArray& json);
    // A device known as `from` is `to` now: the choices of it follow, and so
    // do its labels, unless `to` has its own.
    void moveDevice(const QString& from, const QString& to);
    // host:port of the Control Room; "127.0.0.1:4777" when absent; the
    // address given for this run, when there is one.
    QString server() const;
    static void overrideServer(const QString& address);
    void setServer(const QString& address);

    // The audio backend a box keeps ("backend": jack, alsa or demo); empty when none.
    QString backend() const;

    // Every key the store holds.
    QStringList keys() const;
    // Forgets every setting.
    void clear();

private:
    std::unique_ptr<QSettings> store;
};
