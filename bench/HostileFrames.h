#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <random>

// `count` frames a Control Room should never send: valid commands with bytes
// changed, added or removed; noise; and well-formed JSON with members of
// every type. The same seed gives the same frames.
inline QList<QByteArray> hostileFrames(int count, unsigned seed = 20261206) {
    const QList<QByteArray> seeds = {
        R"({"type":"set","i":0,"name":"Kick","armed":true,"solo":false})",
        R"({"type":"record","on":true,"folder":"Fuzz"})",
        R"({"type":"record","on":false})",
        R"({"type":"tone"})",
        R"({"type":"hearMix"})",
        R"({"type":"device","input":"uid-1","output":"uid-2"})",
    };
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    QList<QByteArray> frames;
    for (int n = 0; n < count; ++n) {
        QByteArray f;
        switch (pick(3)) {
            case 0:
                f = seeds[pick(static_cast<int>(seeds.size()))];
                for (int k = 1 + pick(4); k > 0; --k) {
                    const int at = pick(static_cast<int>(f.size()) + 1);
                    const char c = static_cast<char>(pick(256));
                    const int how = pick(3);
                    if (how == 0 && at < f.size()) f[at] = c;
                    if (how == 1) f.insert(at, c);
                    if (how == 2) f.remove(at, 1);
                }
                break;
            case 1:
                for (int k = pick(64); k > 0; --k) f.append(static_cast<char>(pick(256)));
                break;
            default: {
                const QJsonValue values[] = {QJsonValue(pick(9) - 2),   QJsonValue(true),
                                             QJsonValue("x"),           QJsonValue(QJsonArray{1}),
                                             QJsonValue(QJsonObject{}), QJsonValue(1e300),
                                             QJsonValue(-0.5),          QJsonValue()};
                const char* keys[] = {"type", "i",      "name",  "armed", "solo",
                                      "on",   "folder", "input", "output"};
                const char* types[] = {"set", "record", "tone", "hearMix", "device", "SET", ""};
                QJsonObject o{{"type", types[pick(7)]}};
                for (int k = pick(5); k > 0; --k) o[keys[pick(9)]] = values[pick(8)];
                f = QJsonDocument(o).toJson(QJsonDocument::Compact);
            }
        }
        frames.append(f);
    }
    return frames;
}
