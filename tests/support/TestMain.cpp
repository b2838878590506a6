// Every test binary starts with an empty settings store and state folder of its own, a fixed
// time zone and an English locale, so results do not depend on the machine.
#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#ifdef TESSALY_WIDGETS
#include <QApplication>
using Application = QApplication;
#else
using Application = QCoreApplication;
#endif

int main(int argc, char** argv) {
    QTemporaryDir config, state;
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    setenv("XDG_STATE_HOME", state.path().toUtf8().constData(), 1);
    setenv("TZ", "Europe/Berlin", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);  // widgets need no display
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    Application app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
