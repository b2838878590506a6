#include "recording/FileNames.h"

#include <QStringList>
#include <cerrno>

namespace {

// Spaces and tabs, not line breaks.
bool isTrimmed(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isRefused(QChar c) {
    return c.category() == QChar::Other_Control || QStringView(u"\\*?\"<>|").contains(c);
}

void chopEnd(QString& s) {
    while (!s.isEmpty() && (s.back() == u'.' || isTrimmed(s.back()))) s.chop(1);
}

int utf8Length(const QString& s) {
    return static_cast<int>(s.toUtf8().size());
}

// Cut at a character boundary until it takes at most `room` bytes.
void cutTo(QString& s, int room) {
    while (!s.isEmpty() && utf8Length(s) > room) {
        s.chop(s.size() >= 2 && s.back().isLowSurrogate() ? 2 : 1);
    }
}

// The other desktop system opens a device instead of a file for these names,
// whatever follows their first dot.
bool isReserved(QStringView stem) {
    while (!stem.isEmpty() && stem.back() == u' ') stem.chop(1);
    const QString upper = stem.toString().toUpper();
    static const QStringList names{"CON", "PRN", "AUX", "NUL"};
    if (names.contains(upper)) return true;
    return upper.size() == 4 && (upper.startsWith(u"COM") || upper.startsWith(u"LPT")) &&
           upper.back() >= u'1' && upper.back() <= u'9';
}

}  // namespace

QString safeName(const QString& text) {
    qsizetype start = 0, end = text.size();
    while (start < end && isTrimmed(text[start])) ++start;
    while (end > start && isTrimmed(text[end - 1])) --end;
    QString s = text.mid(start, end - start);
    s.replace(u'/', u'-');
    s.replace(u':', u'.');
    for (QChar& c : s) {
        if (isRefused(c)) c = u'-';
    }
    chopEnd(s);
    const qsizetype stem = s.contains(u'.') ? s.indexOf(u'.') : s.size();
    if (isReserved(QStringView(s).left(stem))) s.insert(stem, u'-');
    cutTo(s, kMaxFileNameBytes);
    chopEnd(s);
    return s;
}

SetNames::SetNames(const QString& stamp)
    : tail(QStringLiteral(" - ") + stamp + QStringLiteral(".wav")) {}

QString SetNames::nextInput(const QString& label, int number, int& tried) {
    const QString safe = safeName(label);
    return next(safe.isEmpty() ? QStringLiteral("Input %1").arg(number) : safe,
                QStringLiteral(" (input %1)").arg(number), tried);
}

QString SetNames::nextFallback(int number, int& tried) {
    return next(QStringLiteral("Input %1").arg(number), QStringLiteral(" (input %1)").arg(number),
                tried);
}

bool SetNames::refusesName(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EROFS:
        case EACCES:
        case EIO:
        case EEXIST:
            return false;
        default:
            return true;
    }
}

QString SetNames::next(const QString& base, const QString& alternative, int& tried) {
    for (;; ++tried) {
        QString qualifier;
        if (tried >= 1) qualifier = alternative;
        if (tried >= 2) qualifier += QStringLiteral(" %1").arg(tried);
        // The base gives way, so that the qualifier and the stamp stay whole.
        QString name = base;
        cutTo(name, kMaxFileNameBytes - utf8Length(qualifier + tail));
        while (!name.isEmpty() && isTrimmed(name.back())) name.chop(1);
        name += qualifier + tail;
        if (!used.contains(name.toCaseFolded())) {
            used.insert(name.toCaseFolded());
            ++tried;
            return name;
        }
    }
}
