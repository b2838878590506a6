#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "engine/RoomEngine.h"

namespace {

void printHelp() {
    std::puts(
        "Usage: tessaly [--help] [--version]\n"
        "\n"
        "Tessaly records every input of a multi-input audio interface at once.\n"
        "This build holds the engine, the recorder and the audio backends (JACK and a\n"
        "simulated interface); the window, the Control Room link and the program's\n"
        "modes are not in it yet.");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("tessaly " TESSALY_VERSION);
            return 0;
        }
    }
    QCoreApplication app(argc, argv);
    RoomEngine& engine = RoomEngine::shared();
    std::printf("tessaly " TESSALY_VERSION ": engine ready, recordings go to %s\n",
                qUtf8Printable(engine.rootPath()));
    std::puts("The program's modes are not built yet; see --help.");
    return 0;
}
