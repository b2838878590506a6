#include "base/Instance.h"

namespace {
QString current;
}

const QString& instance::name() {
    return current;
}

void instance::setName(const QString& name) {
    current = name;
}

QString instance::qualified(const QString& base) {
    return current.isEmpty() ? base : base + u'-' + current;
}
