#include "channels/Labels.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

QByteArray encodeLabels(const Labels& labels) {
    QJsonObject doc;
    for (const auto& [id, label] : labels) {
        doc.insert(QString::number(id), QJsonObject{{QStringLiteral("name"), label.name},
                                                    {QStringLiteral("armed"), label.armed}});
    }
    return QJsonDocument(doc).toJson(QJsonDocument::Compact);
}

std::optional<Labels> decodeLabels(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    Labels labels;
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        bool ok = false;
        const qlonglong id = it.key().toLongLong(&ok);
        if (!ok || !decimal.match(it.key()).hasMatch() || !it.value().isObject())
            return std::nullopt;
        const QJsonObject entry = it.value().toObject();
        const QJsonValue name = entry.value(QStringLiteral("name"));
        const QJsonValue armed = entry.value(QStringLiteral("armed"));
        if (!name.isString() || !armed.isBool()) return std::nullopt;
        labels[id] = Label{name.toString(), armed.toBool()};
    }
    return labels;
}
