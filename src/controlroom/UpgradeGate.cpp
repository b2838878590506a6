#include "controlroom/UpgradeGate.h"

#include <QDebug>
#include <QHttpServerRequest>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <QWebSocket>

#include "protocol/AccessKey.h"

namespace {
QByteArray keyOf(const QUrl& url) {
    return QUrlQuery(url).queryItemValue(QStringLiteral("key")).toLatin1();
}
}  // namespace

UpgradeRequest UpgradeRequest::of(const QHttpServerRequest& r) {
    return {r.url().path(), QString::fromLatin1(r.value("origin")),
            QString::fromLatin1(r.value("host")).toLower(), keyOf(r.url()),
            r.remoteAddress().toString()};
}

UpgradeRequest UpgradeRequest::of(const QWebSocket& s) {
    return {s.requestUrl().path(), s.origin(),
            QString::fromLatin1(s.request().rawHeader("Host")).toLower(), keyOf(s.requestUrl()),
            s.peerAddress().toString()};
}

QString UpgradeGate::refusal(const UpgradeRequest& r) const {
    if (r.path != rules.path) return QStringLiteral("no such path");
    if (!rules.browser && !r.origin.isEmpty()) return QStringLiteral("a browser's origin");
    if (rules.browser) {
        if (!rules.knownHost(r.host)) return QStringLiteral("a foreign host");
        const QString page = r.origin.toLower();
        if (!page.startsWith(u"http://") || !rules.knownHost(page.mid(7)))
            return QStringLiteral("a foreign origin");
    }
    if (!rules.key.isEmpty() && !accessKey::matches(r.key, rules.key))
        return QStringLiteral("no access key");
    return {};
}

bool UpgradeGate::admit(const UpgradeRequest& r, const char* what) const {
    const QString why = refusal(r);
    if (why.isEmpty()) return true;
    qWarning().noquote() << QStringLiteral("room: refused a %1 from %2: %3")
                                .arg(QLatin1StringView(what), r.peer, why);
    return false;
}
