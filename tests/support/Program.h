#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "base/Settings.h"

// A private home for each child: settings, recordings and the instance socket.
class Program : public testing::Test {
protected:
    Settings settings() const { return Settings(home.path() + "/config/Tessaly/Tessaly.conf"); }
    void launch(QProcess& p, const QStringList& args, const QString& program = TESSALY_BINARY) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [key, value] : {std::pair{"HOME", ""},
                                         {"XDG_CONFIG_HOME", "/config"},
                                         {"XDG_STATE_HOME", "/state"},
                                         {"XDG_RUNTIME_DIR", "/runtime"}}) {
            QDir().mkpath(home.path() + value);
            env.insert(key, home.path() + value);
        }
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(program, args);
        ASSERT_TRUE(p.waitForStarted());
    }
    QTemporaryDir home;
};
