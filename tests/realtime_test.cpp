// The real-time contract: while one of our audio callbacks is on the stack (a RealtimeScope),
// nothing allocates, frees, locks, waits, sleeps, logs or writes. This binary interposes those
// calls and counts the ones made inside a scope; each goes on to the next definition (dlsym
// RTLD_NEXT), so that a sanitizer's own replacements keep working.
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/syscall.h>

#include <cstdarg>
#include <mutex>

#include "hardware/AudioDevices.h"
#include "hardware/RealtimeScope.h"
#include "hardware/alsa/AlsaSystem.h"
#include "hardware/demo/DemoSystem.h"
#include "hardware/jack/JackSystem.h"
#include "support/JackServer.h"
#include "support/PretendCard.h"
#include "support/RecordingFixture.h"

// The sanitizers call malloc and dlsym while they start, before their shadow
// memory exists: what runs then must not be instrumented.
#define UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined")))

namespace {

bool started = false;  // set by this file's static initialisation, after the sanitizers
const bool startedNow = (started = true);

std::atomic<long> calls{0};  // forbidden calls made in a scope
std::atomic<const char*> firstSeen{nullptr};

UNINSTRUMENTED void seen(const char* what) {
    if (!started || !RealtimeScope::active()) return;
    calls.fetch_add(1, std::memory_order_relaxed);
    const char* none = nullptr;
    firstSeen.compare_exchange_strong(none, what);
}

// The next definition of a function, found once. dlsym may itself allocate
// before malloc is found: those few bytes come from a static buffer.
bool resolving = false;
template <typename F>
UNINSTRUMENTED F next(F& cached, const char* name) {
    if (cached || resolving) return cached;
    resolving = true;
    cached = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    resolving = false;
    return cached;
}
alignas(16) char bootstrap[1 << 16];  // zeroed, and never reused
std::size_t bootstrapUsed = 0;
UNINSTRUMENTED bool inBootstrap(const void* p) {
    return p >= bootstrap && p < bootstrap + sizeof bootstrap;
}
UNINSTRUMENTED void* fromBootstrap(std::size_t n) {
    bootstrapUsed += (n + 15) & ~std::size_t{15};
    if (bootstrapUsed > sizeof bootstrap) __builtin_trap();
    return bootstrap + bootstrapUsed - ((n + 15) & ~std::size_t{15});
}

long taken() {
    firstSeen.store(nullptr);
    return calls.exchange(0);
}

}  // namespace

// One counted call that goes on to the next definition. Interposed: the allocator, mutexes,
// condition waits, semaphores, yields, poll, futexes, sleeps, writes and formatted output (logs).
#define INTERPOSE(ret, name, params, args)  \
    UNINSTRUMENTED ret name params {        \
        seen(#name);                        \
        static ret(*real) params = nullptr; \
        return next(real, #name) args;      \
    }

extern "C" {
UNINSTRUMENTED void* malloc(std::size_t n) {
    seen("malloc");
    static void* (*real)(std::size_t) = nullptr;
    return next(real, "malloc") ? real(n) : fromBootstrap(n);
}
UNINSTRUMENTED void* calloc(std::size_t n, std::size_t size) {
    seen("calloc");
    static void* (*real)(std::size_t, std::size_t) = nullptr;
    return next(real, "calloc") ? real(n, size) : fromBootstrap(n * size);
}
UNINSTRUMENTED void free(void* p) {
    if (!p || inBootstrap(p)) return;
    seen("free");
    static void (*real)(void*) = nullptr;
    // While free itself is being looked up, dlsym's own scraps are left alone.
    if (next(real, "free")) real(p);
}
INTERPOSE(void*, realloc, (void* p, std::size_t n), (p, n))
INTERPOSE(void*, aligned_alloc, (std::size_t a, std::size_t n), (a, n))
INTERPOSE(int, posix_memalign, (void** p, std::size_t a, std::size_t n), (p, a, n))
INTERPOSE(int, pthread_mutex_lock, (pthread_mutex_t * m), (m))
INTERPOSE(int, pthread_cond_wait, (pthread_cond_t * c, pthread_mutex_t* m), (c, m))
INTERPOSE(int, pthread_cond_timedwait, (pthread_cond_t * c, pthread_mutex_t* m, const timespec* t),
          (c, m, t))
INTERPOSE(int, sem_wait, (sem_t * s), (s))
INTERPOSE(int, poll, (pollfd * fds, nfds_t n, int timeout), (fds, n, timeout))
INTERPOSE(int, sched_yield, (), ())
INTERPOSE(int, nanosleep, (const timespec* t, timespec* left), (t, left))
INTERPOSE(int, clock_nanosleep, (clockid_t c, int f, const timespec* t, timespec* left),
          (c, f, t, left))
INTERPOSE(ssize_t, write, (int fd, const void* b, std::size_t n), (fd, b, n))
INTERPOSE(ssize_t, pwrite, (int fd, const void* b, std::size_t n, off_t at), (fd, b, n, at))
INTERPOSE(int, fdatasync, (int fd), (fd))
INTERPOSE(std::size_t, fwrite, (const void* b, std::size_t s, std::size_t n, FILE* f), (b, s, n, f))
INTERPOSE(int, vfprintf, (FILE * f, const char* format, va_list args), (f, format, args))
// libstdc++'s atomic waits and atomic<shared_ptr> reach the kernel this way.
UNINSTRUMENTED long syscall(long number, ...) {
    if (number == SYS_futex) seen("syscall(SYS_futex)");
    va_list args;
    va_start(args, number);
    long a[6];
    for (long& v : a) v = va_arg(args, long);
    va_end(args);
    static long (*real)(long, ...) = nullptr;
    return next(real, "syscall")(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
}  // extern "C"

// Under a sanitizer, operator new is the sanitizer's and does not call malloc.
// The array forms go through these in the plain build; under a sanitizer
// they stay wholly its own, so that every pair matches.
void* operator new(std::size_t n) {
    if (void* p = malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    free(p);
}

class RealTime : public RecordingTest {
protected:
    // A callback that takes a lock and allocates is caught: the count works.
    static void canary() {
        static std::mutex lock;
        static std::atomic<int> buffers{0};
        static std::atomic<int*> escaped{nullptr};  // so the allocation cannot be elided
        auto locking = [](void*, auto...) {
            std::lock_guard guard(lock);
            escaped.store(new int(buffers++));
            delete escaped.exchange(nullptr);
        };
        CaptureError error;
        buffers = 0;
        taken();
        auto stream = AudioSystem::current().openCapture(
            *AudioSystem::current().snapshot(AudioDevices::inputs()[0].uid), locking, nullptr,
            error);
        ASSERT_TRUE(stream && waitFor([&] { return buffers > 3; }));
        stream.reset();
        EXPECT_GE(taken(), 3 * buffers);  // a lock, an allocation and a free in each
    }
    // The main thread works every control for 2 s while audio runs; the
    // callbacks must not allocate, lock, wait, sleep or write once.
    void hammer() {
        engine.boot();
        ASSERT_TRUE(waitFor([&] { return engine.running(); })) << engine.status().toStdString();
        taken();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
            const int c = i % static_cast<int>(engine.channels().size());
            engine.setName(c, QString("Take %1").arg(i));
            engine.setSolo(c, i % 3 == 0);
            if (i % 50 == 0) engine.clearSolo();
            if (i % 7 == 0) engine.testTone(0.02);
            if (!engine.recording()) engine.setArmed(c, i % 2 == 0);
            if (i % 200 == 0) engine.recording() ? stop() : record();
            engine.tick();
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        runFor(0.2);  // the last take gets some audio too
        stop();
        const char* first = firstSeen.load();
        EXPECT_EQ(taken(), 0) << "forbidden calls in an audio callback, first: "
                              << (first ? first : "?");
        expectExactHeaders(engine.recordingFolder().toStdString());  // the audio really ran
    }
};

TEST_F(RealTime, TheSimulatedInterfaceAndJackKeepTheContract) {
    DemoSystem::Options lossy{.loseEvery = 5};  // its dropouts are counted on the audio thread too
    AudioSystem::install(std::make_unique<DemoSystem>(lossy));
    canary();
    hammer();
    engine.stopEngine();
    JackServer server(44100);  // another rate than the simulated interface's
    ASSERT_TRUE(server.up());
    AudioSystem::install(std::make_unique<JackSystem>());
    canary();
    hammer();
    EXPECT_EQ(readWithSndfile(inTake(takeFiles()[0])).info.samplerate, 44100);
    engine.stopEngine();
    AudioSystem::install(nullptr);  // before the server goes
}

TEST_F(RealTime, TheAlsaThreadKeepsTheContract) {
    // alsa-lib locks a mutex around every call into a plugin (never for a
    // real card): off, so that the pretend card stands for one.
    setenv("LIBASOUND_THREAD_SAFE", "0", 1);
    ASSERT_TRUE(pretend::declare(qEnvironmentVariable("XDG_CONFIG_HOME"), root.path() + "/card"));
    // Only the pretend card: no root to find real ones under.
    AudioSystem::install(std::make_unique<AlsaSystem>(QStringList{"card"}, root.path() + "/none"));
    canary();
    hammer();
    engine.stopEngine();
    AudioSystem::install(nullptr);
}
