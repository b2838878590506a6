#include "base/Settings.h"

#include <QDir>
#include <QSettings>

#include "base/Instance.h"

namespace {
const QString kInput = QStringLiteral("inputUID");
const QString kOutput = QStringLiteral("outputUID");
const QString kRoot = QStringLiteral("rootPath");
const QString kShowAll = QStringLiteral("showAll");
const QString kServer = QStringLiteral("server");
QString& serverForThisRun() {
    static QString address;
    return address;
}
QString labelsKey(const QString& uid) {
    return QStringLiteral("labels:") + uid;
}
}  // namespace

Settings::Settings()
    : store(std::make_unique<QSettings>(QStringLiteral("Tessaly"),
                                        instance::qualified(QStringLiteral("Tessaly")))) {}

Settings::Settings(const QString& file)
    : store(std::make_unique<QSettings>(file, QSettings::IniFormat)) {}

Settings::~Settings() = default;

QString Settings::inputUID() const {
    return store->value(kInput).toString();
}
void Settings::setInputUID(const QString& uid) {
    store->setValue(kInput, uid);
}
QString Settings::outputUID() const {
    return store->value(kOutput).toString();
}
void Settings::setOutputUID(const QString& uid) {
    store->setValue(kOutput, uid);
}
QString Settings::rootPath() const {
    return store->value(kRoot, QDir::homePath() + QStringLiteral("/Desktop/Tessaly")).toString();
}
void Settings::setRootPath(const QString& path) {
    store->setValue(kRoot, path);
}
bool Settings::showAll() const {
    return store->value(kShowAll, false).toBool();
}
void Settings::setShowAll(bool on) {
    store->setValue(kShowAll, on);
}
QByteArray Settings::labels(const QString& inputUID) const {
    return store->value(labelsKey(inputUID)).toByteArray();
}
void Settings::setLabels(const QString& inputUID, const QByteArray& json) {
    if (json.isEmpty()) {
        store->remove(labelsKey(inputUID));
        return;
    }
    store->setValue(labelsKey(inputUID), json);
}
void Settings::moveDevice(const QString& from, const QString& to) {
    if (const QByteArray moved = labels(from); !moved.isEmpty()) {
        if (labels(to).isEmpty()) setLabels(to, moved);
        setLabels(from, {});
    }
    if (inputUID() == from) setInputUID(to);
    if (outputUID() == from) setOutputUID(to);
}
void Settings::overrideServer(const QString& address) {
    serverForThisRun() = address;
}
QString Settings::server() const {
    if (!serverForThisRun().isEmpty()) return serverForThisRun();
    return store->value(kServer, QStringLiteral("127.0.0.1:4777")).toString();
}
void Settings::setServer(const QString& address) {
    store->setValue(kServer, address);
}
QString Settings::backend() const {
    return store->value(QStringLiteral("backend")).toString();
}
QStringList Settings::keys() const {
    return store->allKeys();
}
void Settings::clear() {
    store->clear();
}
