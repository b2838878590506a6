#include "room/DropoutReport.h"

#include <QDebug>
#include <cmath>
#include <utility>

namespace {

// Take time as "01:02:07".
QString takeTime(std::int64_t frames, int rate) {
    const std::int64_t s = frames / rate;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QChar(u'0'))
        .arg(s / 60 % 60, 2, 10, QChar(u'0'))
        .arg(s % 60, 2, 10, QChar(u'0'));
}

// "0.02", "1.3": hundredths under a second, rounded up so that a loss never
// reads as none; tenths above.
QString lostSeconds(std::int64_t frames, int rate) {
    const double s = static_cast<double>(frames) / rate;
    return s < 1.0 ? QString::number(std::ceil(s * 100.0) / 100.0, 'f', 2)
                   : QString::number(s, 'f', 1);
}

}  // namespace

void DropoutReport::begin(std::uint64_t number, std::uint64_t serverNotices) {
    take = number;
    notices = loggedNotices = serverNotices;
    counts = logged = Dropouts{};
    loggedAt.reset();
    slow = false;
    shown = {};
}

bool DropoutReport::update(const Dropouts& latest, double ringFill, int hz,
                           std::uint64_t serverNotices) {
    rate = std::max(hz, 1);
    notices = serverNotices;
    if (latest.take == take) counts = latest;
    // Taken off below a quarter only, so that it does not flap.
    slow = ringFill > 0.5 || (slow && ringFill > 0.25);
    if (!loggedAt || secondsBetween(*loggedAt, clock.ticks()) >= 1.0) logNew();
    const Status note = noteFor(slow);
    if (note == shown) return false;
    shown = note;
    return true;
}

void DropoutReport::end(const Dropouts& latest, const QString& folder) {
    if (latest.take == take) counts = latest;
    logNew();
    const Status totals = noteFor(false);
    if (!totals.empty()) qInfo().noquote() << QStringLiteral("take: ") + folder + totals.text;
    begin(0);
}

Status DropoutReport::noteFor(bool ringSlow) const {
    QString text;
    const Dropouts::Loss& missed = counts.missed;
    if (missed.count > 0) {
        text += QStringLiteral(" · %1 %2 (%3 s), first at %4")
                    .arg(QString::number(missed.count),
                         missed.count == 1 ? QStringLiteral("dropout") : QStringLiteral("dropouts"),
                         lostSeconds(missed.frames, rate), takeTime(missed.firstAt, rate));
    }
    const Dropouts::Loss& disk = counts.disk;
    if (disk.count > 0) {
        text += QStringLiteral(" · disk too slow: %1 s lost, first at %2")
                    .arg(lostSeconds(disk.frames, rate), takeTime(disk.firstAt, rate));
    } else if (ringSlow) {
        text += QStringLiteral(" · disk slow");
    }
    return {text, missed.count > 0 || disk.count > 0};
}

void DropoutReport::logNew() {
    // What is new of one kind: "0.01 s not received at 00:12:31".
    auto said = [this](const Dropouts::Loss& now, const Dropouts::Loss& before,
                       const QString& how) {
        const std::uint64_t losses = now.count - before.count;
        const QString lost = lostSeconds(now.frames - before.frames, rate) + QStringLiteral(" s ");
        const QString at = takeTime(now.lastAt, rate);
        if (losses == 0)
            return lost + QStringLiteral("more ") + how + QStringLiteral(" since ") + at;
        if (losses == 1) return lost + how + QStringLiteral(" at ") + at;
        return QStringLiteral("%1 losses, %2, the last at %3")
            .arg(QString::number(losses), lost + how, at);
    };
    QStringList parts;
    if (counts.missed.frames != logged.missed.frames)
        parts << said(counts.missed, logged.missed, QStringLiteral("not received"));
    if (counts.disk.frames != logged.disk.frames)
        parts << said(counts.disk, logged.disk, QStringLiteral("dropped (disk too slow)"));
    logged = counts;
    if (parts.isEmpty()) return;
    const bool noticed = std::exchange(loggedNotices, notices) != notices;
    qInfo().noquote() << QStringLiteral("dropout: ") + parts.join(QStringLiteral("; ")) +
                             (noticed ? QStringLiteral(" (the server reported xruns)") : QString());
    loggedAt = clock.ticks();
}
