#include "base/Instance.h"

#include <QRegularExpression>

namespace {
QString current;
}

const QString& instance::name() {
    return current;
}

void instance::setName(const QString& name) {
    current = name;
}

bool instance::validName(const QString& name) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return allowed.match(name).hasMatch();
}

QString instance::qualified(const QString& base) {
    return current.isEmpty() ? base : base + u'-' + current;
}
