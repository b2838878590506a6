#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unicode/locid.h>

#include <QTemporaryDir>

// Every test binary starts with an empty settings store of its own, a fixed
// time zone and an English locale, so results do not depend on the machine.
template <typename Application>
int testMain(int argc, char** argv) {
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    setenv("TZ", "Europe/Berlin", 1);
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    Application app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
