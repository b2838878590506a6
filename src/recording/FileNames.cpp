#include "recording/FileNames.h"

#include <QSet>

namespace {

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

// Spaces and tabs, not line breaks.
bool isTrimmed(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

int utf8Length(const QString& s) {
    return static_cast<int>(s.toUtf8().size());
}

// `base` + `tail`, with `base` cut at a character boundary until the whole fits.
QString fit(QString base, const QString& tail) {
    const int room = kMaxFileNameBytes - utf8Length(tail);
    while (!base.isEmpty() && utf8Length(base) > room) {
        base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
    }
    while (!base.isEmpty() && isTrimmed(base.back())) base.chop(1);
    return base + tail;
}

class NameSet {
public:
    explicit NameSet(const std::filesystem::path& dir) : folder(dir) {}

    // The first candidate that is neither used in this set nor on disk.
    QString claim(const QString& base, const QString& stamp, const QString& alternative) {
        const QString tail = QStringLiteral(" - ") + stamp + QStringLiteral(".wav");
        for (int n = 0;; ++n) {
            QString qualifier;
            if (n >= 1) qualifier = alternative;
            if (n >= 2) qualifier += QStringLiteral(" %1").arg(n);
            const QString name = fit(base, qualifier + tail);
            if (free(name)) {
                used.insert(name.toCaseFolded());
                return name;
            }
        }
    }

private:
    bool free(const QString& name) const {
        if (used.contains(name.toCaseFolded())) return false;
        std::error_code ignored;
        return !std::filesystem::exists(folder / name.toStdString(), ignored);
    }

    std::filesystem::path folder;
    QSet<QString> used;
};

}  // namespace

QString safeName(const QString& displayName) {
    QString s = displayName;
    s.replace(u'/', u'-');
    s.replace(u':', u'.');
    for (QChar& c : s) {
        if (isControl(c)) c = u' ';
    }
    qsizetype start = 0, end = s.size();
    while (start < end && isTrimmed(s[start])) ++start;
    while (end > start && isTrimmed(s[end - 1])) --end;
    return s.mid(start, end - start);
}

QString pathSafe(const QString& text) {
    QString s = text;
    s.replace(u'/', u'-');
    for (QChar& c : s) {
        if (isControl(c)) c = u' ';
    }
    return s;
}

std::vector<QString> setFileNames(const std::vector<SetInput>& inputs, const QString& stamp,
                                  const std::filesystem::path& folder) {
    NameSet names(folder);
    // The mix keeps its well-known name; inputs give way to it.
    const QString mix = names.claim(QStringLiteral("Mix"), stamp, QString());
    std::vector<QString> out;
    for (const SetInput& in : inputs) {
        out.push_back(names.claim(in.safe, stamp, QStringLiteral(" (input %1)").arg(in.id + 1)));
    }
    out.push_back(mix);
    return out;
}
