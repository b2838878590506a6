#include "app/LaunchOptions.h"

#include <QUrl>
#include <cmath>

#include "protocol/LinkStatus.h"

namespace {

constexpr double kDefaultSelfTest = 5.0;

// The whole text must be a number, and a finite, non-negative one.
double seconds(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0.0 ? value : kDefaultSelfTest;
}

}  // namespace

bool LaunchOptions::knownBackend(const QString& name) {
    return name == u"jack" || name == u"alsa" || name == u"demo";
}

LaunchOptions LaunchOptions::parse(const QStringList& args) {
    LaunchOptions o;
    const auto valueAfter = [&args](qsizetype at) {
        return at + 1 < args.size() ? args[at + 1] : QString();
    };
    for (qsizetype at = 0; at < args.size(); ++at) {
        const QString& a = args[at];
        if (a == u"--backend") {
            o.backend = valueAfter(at);
            if (!knownBackend(o.backend))
                o.error = QStringLiteral("--backend takes jack, alsa or demo");
        } else if (a == u"--alsa-pcm") {
            if (valueAfter(at).isEmpty() || valueAfter(at).startsWith(u'-'))
                o.error = QStringLiteral("--alsa-pcm takes the name of an ALSA PCM");
            o.alsaPcms.append(valueAfter(at));
        } else if (a == u"--demo-inputs" || a == u"--demo-rate" || a == u"--demo-lose-every") {
            const bool inputs = a == u"--demo-inputs", rate = a == u"--demo-rate";
            bool ok = false;
            const int value = valueAfter(at).toInt(&ok);
            // Losing every buffer would be no interface at all.
            const int least = inputs || rate ? 1 : 2;
            if (!ok || value < least || value > (inputs ? 512 : rate ? 768000 : 1'000'000)) {
                o.error = a + (least == 1 ? QStringLiteral(" takes a positive whole number")
                                          : QStringLiteral(" takes a whole number of 2 or more"));
            } else {
                (inputs ? o.demoInputs : rate ? o.demoRate : o.demoLoseEvery) = value;
            }
        } else if (a == u"--server") {
            o.server = valueAfter(at);
            const QUrl url(QStringLiteral("ws://") + o.server, QUrl::StrictMode);
            if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.path().isEmpty())
                o.error = QStringLiteral("--server takes HOST:PORT");
        } else if (a == u"--instance") {
            o.instance = valueAfter(at);
            if (!validInstance(o.instance))
                o.error = QStringLiteral("--instance takes a name of letters, digits, - and _");
        } else if (a == u"-hidden") {
            o.hidden = true;
        }
    }
    const qsizetype selfTest = args.indexOf(QStringLiteral("--selftest"));
    if (selfTest >= 0) {
        o.mode = Mode::selfTest;
        o.selfTestSeconds =
            selfTest + 1 < args.size() ? seconds(args[selfTest + 1]) : kDefaultSelfTest;
    } else if (args.contains(QStringLiteral("--help"))) {
        o.mode = Mode::help;
    } else if (args.contains(QStringLiteral("--version"))) {
        o.mode = Mode::version;
    } else if (args.contains(QStringLiteral("-headless"))) {
        o.mode = Mode::headless;
    }
    return o;
}

QString usage() {
    return QStringLiteral(
        "Usage: tessaly [-hidden | -headless | --selftest [seconds]]\n"
        "               [--backend jack|alsa|demo] [--alsa-pcm NAME]\n"
        "               [--server HOST:PORT] [--instance NAME]\n"
        "\n"
        "Records every input of a multi-input audio interface at once, meters them,\n"
        "feeds the headphones and talks to the Control Room over a WebSocket link.\n"
        "\n"
        "  (no switch)          a window; launching again shows it\n"
        "  -hidden              the window is built but not shown\n"
        "  -headless            no window; ends with its parent process or on SIGTERM\n"
        "  --selftest [seconds] boots, plays the test tone, records for the given time\n"
        "                       (default 5), prints what it measured and exits\n"
        "  --backend jack|alsa|demo\n"
        "                       the audio system: a JACK server (default, or the stored\n"
        "                       backend setting), the cards directly through ALSA with no\n"
        "                       sound server, or a simulated interface for trying Tessaly\n"
        "                       without hardware\n"
        "  --alsa-pcm NAME      with alsa: also offer this ALSA PCM (a virtual interface\n"
        "                       from ~/.asoundrc); may be given more than once\n"
        "  --demo-inputs N      inputs of the simulated interface (default 20)\n"
        "  --demo-rate HZ       its sample rate (default 48000)\n"
        "  --demo-lose-every N  it loses every Nth buffer, as a dropout would (default:\n"
        "                       none)\n"
        "  --server HOST:PORT   the Control Room for this run (default: the stored\n"
        "                       address, else 127.0.0.1:4777)\n"
        "  --instance NAME      one of several recorders on this machine, with its own\n"
        "                       settings and crash markers\n"
        "  --help, --version\n");
}
