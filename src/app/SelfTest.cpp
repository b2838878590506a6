#include "app/SelfTest.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "room/RoomEngine.h"

namespace {

constexpr double kFirstReportSeconds = 2.0;
constexpr double kToneReportSeconds = 0.6;
constexpr double kToneSeconds = 1.0;
constexpr int kPollMs = 10;

void say(FILE* out, const QString& line) {
    std::fputs(line.toUtf8().constData(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

QString peaks(const QList<Channel>& channels, qsizetype count) {
    QStringList values;
    for (qsizetype i = 0; i < count && i < channels.size(); ++i) {
        values << QString::asprintf("%.3f", static_cast<double>(channels[i].peak));
    }
    return values.join(u' ');
}

void listFiles(FILE* out, const QString& folder) {
    QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System);
    std::stable_sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.fileName() < b.fileName();
    });
    for (const QFileInfo& f : entries)
        say(out, QString::asprintf("  %9lld  ", static_cast<long long>(f.size())) + f.fileName());
}

}  // namespace

void selfTest(RoomEngine& e, double seconds, const Clock& clock, FILE* out) {
    // One step every few milliseconds, each when its time on `clock` has
    // come: Qt's timers take whole milliseconds in an int, too few for a
    // long run.
    enum class Step { firstReport, starting, toneReport, lastReport };
    Step step = Step::firstReport;
    const Clock::SteadyTime booted = clock.ticks();
    Clock::SteadyTime recording{};
    QEventLoop done;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &done, [&] {
        const Clock::SteadyTime now = clock.ticks();
        if (step == Step::firstReport) {
            if (secondsBetween(booted, now) < kFirstReportSeconds) return;
            say(out, QStringLiteral("status: ") + e.status());
            const auto armed = std::count_if(e.channels().begin(), e.channels().end(),
                                             [](const Channel& c) { return c.armed; });
            say(out, QStringLiteral("running: %1  inputs: %2  armed: %3")
                         .arg(e.running() ? QStringLiteral("true") : QStringLiteral("false"))
                         .arg(e.channels().size())
                         .arg(armed));
            if (!e.running()) {
                done.quit();
                return;
            }
            e.record();
            step = Step::starting;
        }
        if (step == Step::starting) {
            if (e.takeStarting()) return;  // the file thread opens the take
            // Where it records, or why it does not; the tone and the times
            // count from here.
            say(out, QStringLiteral("recording → ") +
                         (e.recording() ? e.recordingFolder() : e.status()));
            e.testTone(kToneSeconds);
            recording = now;
            step = Step::toneReport;
            return;
        }
        if (step == Step::toneReport && secondsBetween(recording, now) >= kToneReportSeconds) {
            const auto& ch = e.channels();
            say(out, QStringLiteral("during tone — peaks all %1 inputs: ").arg(ch.size()) +
                         peaks(ch, ch.size()));
            const QString loopback =
                ch.size() < 20 ? QStringLiteral("n/a")
                               : QString::asprintf("%.3f %.3f", static_cast<double>(ch[18].peak),
                                                   static_cast<double>(ch[19].peak));
            say(out, QString::asprintf("during tone — headphones meter: %.3f  loopback 19/20: ",
                                       static_cast<double>(e.monPeak())) +
                         loopback);
            step = Step::lastReport;
        }
        if (secondsBetween(recording, now) >= seconds) {
            say(out, QStringLiteral("peaks (first 8): ") + peaks(e.channels(), 8) +
                         QString::asprintf("   mix: %.3f", static_cast<double>(e.mixPeak())));
            e.stopRecording();
            if (e.waitForFiles(RoomEngine::filesWait) && !e.recordingFolder().isEmpty())
                listFiles(out, e.recordingFolder());
            done.quit();
        }
    });
    e.boot();
    poll.start(kPollMs);
    done.exec();
    e.stopEngine();
}
