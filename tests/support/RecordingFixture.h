#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "engine/RoomEngine.h"
#include "support/EngineProbe.h"
#include "support/Feed.h"
#include "support/ManualClock.h"
#include "support/WavFile.h"

// 2026-12-05 14:15:07.25 in Berlin, the test binaries' time zone.
inline const Clock::WallTime kAfternoon{std::chrono::milliseconds(1'796'476'507'250LL)};

// An engine with a clock of its own and a fresh recording root.
class RecordingTest : public testing::Test {
protected:
    explicit RecordingTest(Clock::WallTime start = kAfternoon) : clock(start) {}
    void SetUp() override {
        QSettings(QStringLiteral("Tessaly"), QStringLiteral("Tessaly")).clear();
        engine.setRoot(root.path());
    }

    // The .wav files of the current take, sorted by name.
    QStringList takeFiles() const {
        return QDir(engine.recordingFolder())
            .entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name);
    }
    std::string inTake(const QString& name) const {
        return (engine.recordingFolder() + u'/' + name).toStdString();
    }
    // Runs queued work (file failures reach the main thread that way) until `done`.
    template <typename Done>
    bool waitFor(Done done, int tries = 500) {
        for (int i = 0; i < tries && !done(); ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }

    ManualClock clock;
    QTemporaryDir root;
    RoomEngine engine{clock};
};
