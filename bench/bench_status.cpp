// Building and serialising one status message for the Control Room, as the
// link does five times a second. Goal: under 50 µs for 64 channels.
#include "QtBenchMain.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include "link/LinkMessages.h"
#include "room/RoomEngine.h"
#include "support/FakeAudio.h"

namespace {

void BM_StatusMessage(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    auto audio = std::make_unique<FakeAudio>();
    audio->list = {{1, "Bench Interface", "bench", channels, 2}};
    AudioSystem::install(std::move(audio));
    RoomEngine engine;
    engine.refreshDevices();
    engine.startEngine();
    for (int i = 0; i < channels; i += 3) engine.setName(i, QString("Vocal mic %1").arg(i));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const QByteArray text = statusText(engine);
        bytes = static_cast<std::size_t>(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

}  // namespace

BENCHMARK(BM_StatusMessage)->Arg(8)->Arg(20)->Arg(64)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    return qtBenchMain(argc, argv);
}
