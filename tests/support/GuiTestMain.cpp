#include <QApplication>

#include "support/TestMain.h"

// Widgets on the offscreen platform: no display needed.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return testMain<QApplication>(argc, argv);
}
