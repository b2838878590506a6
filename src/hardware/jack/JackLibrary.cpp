#include "hardware/jack/JackLibrary.h"

#include <dlfcn.h>

#include <QFileInfo>
#include <map>
#include <memory>

namespace {

// JACK prints its connection attempts to standard error; a missing server is
// an ordinary state here, reported through the status line.
void quiet(const char*) {}

// The library at `path` (a file, or a name the loader looks up), loaded
// once; nothing when it cannot be loaded or lacks a function.
const JackLibrary* load(const QString& path) {
    // Never freed: clients closed while the process ends still call into them.
    static auto& loaded = *new std::map<QString, std::unique_ptr<JackLibrary>>;
    if (const auto found = loaded.find(path); found != loaded.end()) return found->second.get();
    // Local: two libraries define the same names, and each must keep its own.
    void* handle = ::dlopen(path.toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return loaded.emplace(path, nullptr).first->second.get();
    auto lib = std::make_unique<JackLibrary>();
    bool complete = true;
#define TESSALY_JACK_RESOLVE(name)                                                     \
    lib->name = reinterpret_cast<decltype(lib->name)>(::dlsym(handle, "jack_" #name)); \
    complete = complete && lib->name;
    TESSALY_JACK_FUNCTIONS(TESSALY_JACK_RESOLVE)
#undef TESSALY_JACK_RESOLVE
    Dl_info where{};
    if (!complete || !::dladdr(reinterpret_cast<void*>(lib->client_open), &where)) {
        ::dlclose(handle);  // no client of it was ever made
        return loaded.emplace(path, nullptr).first->second.get();
    }
    lib->file = QFileInfo(QString::fromUtf8(where.dli_fname)).canonicalFilePath();
    lib->set_error_function(quiet);
    lib->set_info_function(quiet);
    return loaded.emplace(path, std::move(lib)).first->second.get();
}

// Whether a PipeWire server has its socket where its clients look for it.
bool pipewireRunning() {
    const QString remote = qEnvironmentVariable("PIPEWIRE_REMOTE", QStringLiteral("pipewire-0"));
    const QString dir =
        qEnvironmentVariable("PIPEWIRE_RUNTIME_DIR", qEnvironmentVariable("XDG_RUNTIME_DIR"));
    return remote.startsWith(u'/') ? QFileInfo::exists(remote)
                                   : !dir.isEmpty() && QFileInfo::exists(dir + u'/' + remote);
}

}  // namespace

QString JackLibrary::server() const {
    return file.contains(QStringLiteral("pipewire"), Qt::CaseInsensitive)
               ? QStringLiteral("PipeWire")
               : QStringLiteral("jackd");
}

const JackLibrary* JackLibrary::system() {
    return load(QStringLiteral("libjack.so.0"));
}

const JackLibrary* JackLibrary::pipewire() {
    if (!pipewireRunning()) return nullptr;
    // Where distributions put PipeWire's JACK library, beside its own modules.
    for (const QString& dir : {QStringLiteral(TESSALY_LIBDIR), QStringLiteral("/usr/lib64"),
                               QStringLiteral("/usr/lib")}) {
        const QString file = dir + QStringLiteral("/pipewire-0.3/jack/libjack.so.0");
        if (QFileInfo::exists(file)) return load(file);
    }
    return nullptr;
}
