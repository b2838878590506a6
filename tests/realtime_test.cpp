// The real-time contract: while one of our audio callbacks is on the stack
// (a RealtimeScope), nothing allocates, frees, locks, waits, sleeps, logs or
// writes. This binary interposes those calls and counts the ones made inside
// a scope; it forwards every call to the next definition (dlsym RTLD_NEXT), so
// a sanitizer's own replacements keep working. Counted on the simulated
// interface and on a private jackd, while the main thread works the controls
// as fast as it can.
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/syscall.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "hardware/AudioDevices.h"
#include "hardware/InputCapture.h"
#include "hardware/RealtimeScope.h"
#include "hardware/demo/DemoSystem.h"
#include "hardware/jack/JackSystem.h"
#include "support/JackServer.h"
#include "support/RecordingFixture.h"

// The sanitizers call malloc and dlsym while they start, before their shadow
// memory exists: what runs then must not be instrumented.
#define UNINSTRUMENTED __attribute__((no_sanitize("address", "undefined")))

namespace {

// Set by this file's static initialisation, which runs after the sanitizers started.
bool started = false;
const bool startedNow = (started = true);

enum Kind { kAlloc, kLock, kWait, kSleep, kIO, kKinds };
const char* const kKindNames[kKinds] = {"allocations", "locks", "waits", "sleeps",
                                        "file or log I/O"};
std::array<std::atomic<long>, kKinds> counts{};
std::atomic<const char*> firstSeen{nullptr};

UNINSTRUMENTED void seen(Kind kind, const char* what) {
    if (!started || !RealtimeScope::active()) return;
    counts[kind].fetch_add(1, std::memory_order_relaxed);
    const char* none = nullptr;
    firstSeen.compare_exchange_strong(none, what);
}

// The next definition of `name`, found once.
template <typename F>
UNINSTRUMENTED F next(F& cached, const char* name) {
    if (!cached) cached = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    return cached;
}

// dlsym may allocate before malloc itself is found: those few bytes come from here.
alignas(16) char bootstrap[1 << 16];
std::size_t bootstrapUsed = 0;
UNINSTRUMENTED bool inBootstrap(const void* p) {
    return p >= bootstrap && p < bootstrap + sizeof bootstrap;
}
UNINSTRUMENTED void* fromBootstrap(std::size_t n) {
    n = (n + 15) & ~std::size_t{15};
    if (bootstrapUsed + n > sizeof bootstrap) __builtin_trap();
    char* p = bootstrap + bootstrapUsed;
    bootstrapUsed += n;
    for (std::size_t i = 0; i < n; ++i) p[i] = 0;  // no memset: it may not be found yet
    return p;
}

using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);
using FreeFn = void (*)(void*);
MallocFn realMalloc = nullptr;
CallocFn realCalloc = nullptr;
ReallocFn realRealloc = nullptr;
FreeFn realFree = nullptr;
bool resolving = false;

template <typename F>
UNINSTRUMENTED F resolve(F& cached, const char* name) {
    if (cached || resolving) return cached;
    resolving = true;
    cached = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    resolving = false;
    return cached;
}

// Counts for every kind, reset.
std::array<long, kKinds> taken() {
    std::array<long, kKinds> out{};
    for (int k = 0; k < kKinds; ++k) out[k] = counts[k].exchange(0);
    firstSeen.store(nullptr);
    return out;
}

}  // namespace

extern "C" {

UNINSTRUMENTED void* malloc(std::size_t n) {
    seen(kAlloc, "malloc");
    MallocFn f = resolve(realMalloc, "malloc");
    return f ? f(n) : fromBootstrap(n);
}
UNINSTRUMENTED void* calloc(std::size_t n, std::size_t size) {
    seen(kAlloc, "calloc");
    CallocFn f = resolve(realCalloc, "calloc");
    return f ? f(n, size) : fromBootstrap(n * size);
}
UNINSTRUMENTED void* realloc(void* p, std::size_t n) {
    seen(kAlloc, "realloc");
    if (inBootstrap(p)) {
        auto* moved = static_cast<char*>(malloc(n));
        const auto* old = static_cast<const char*>(p);
        for (std::size_t i = 0; i < n && old + i < bootstrap + sizeof bootstrap; ++i)
            moved[i] = old[i];
        return moved;
    }
    return resolve(realRealloc, "realloc")(p, n);
}
UNINSTRUMENTED void free(void* p) {
    if (!p || inBootstrap(p)) return;
    seen(kAlloc, "free");
    // While free itself is being looked up, dlsym's own scraps are left alone.
    if (FreeFn f = resolve(realFree, "free")) f(p);
}
UNINSTRUMENTED int posix_memalign(void** out, std::size_t align, std::size_t n) {
    seen(kAlloc, "posix_memalign");
    static int (*real)(void**, std::size_t, std::size_t) = nullptr;
    return next(real, "posix_memalign")(out, align, n);
}
UNINSTRUMENTED void* aligned_alloc(std::size_t align, std::size_t n) {
    seen(kAlloc, "aligned_alloc");
    static void* (*real)(std::size_t, std::size_t) = nullptr;
    return next(real, "aligned_alloc")(align, n);
}

UNINSTRUMENTED int pthread_mutex_lock(pthread_mutex_t* m) {
    seen(kLock, "pthread_mutex_lock");
    static int (*real)(pthread_mutex_t*) = nullptr;
    return next(real, "pthread_mutex_lock")(m);
}
UNINSTRUMENTED int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    seen(kLock, "pthread_rwlock_rdlock");
    static int (*real)(pthread_rwlock_t*) = nullptr;
    return next(real, "pthread_rwlock_rdlock")(l);
}
UNINSTRUMENTED int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    seen(kLock, "pthread_rwlock_wrlock");
    static int (*real)(pthread_rwlock_t*) = nullptr;
    return next(real, "pthread_rwlock_wrlock")(l);
}
UNINSTRUMENTED int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    seen(kWait, "pthread_cond_wait");
    static int (*real)(pthread_cond_t*, pthread_mutex_t*) = nullptr;
    return next(real, "pthread_cond_wait")(c, m);
}
UNINSTRUMENTED int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m,
                                          const timespec* t) {
    seen(kWait, "pthread_cond_timedwait");
    static int (*real)(pthread_cond_t*, pthread_mutex_t*, const timespec*) = nullptr;
    return next(real, "pthread_cond_timedwait")(c, m, t);
}
UNINSTRUMENTED int sem_wait(sem_t* s) {
    seen(kWait, "sem_wait");
    static int (*real)(sem_t*) = nullptr;
    return next(real, "sem_wait")(s);
}
UNINSTRUMENTED int sem_timedwait(sem_t* s, const timespec* t) {
    seen(kWait, "sem_timedwait");
    static int (*real)(sem_t*, const timespec*) = nullptr;
    return next(real, "sem_timedwait")(s, t);
}
UNINSTRUMENTED int sched_yield() {
    seen(kWait, "sched_yield");
    static int (*real)() = nullptr;
    return next(real, "sched_yield")();
}
UNINSTRUMENTED int poll(pollfd* fds, nfds_t n, int timeout) {
    seen(kWait, "poll");
    static int (*real)(pollfd*, nfds_t, int) = nullptr;
    return next(real, "poll")(fds, n, timeout);
}
// libstdc++'s atomic waits and atomic<shared_ptr> reach the kernel this way.
UNINSTRUMENTED long syscall(long number, ...) {
    if (number == SYS_futex) seen(kWait, "syscall(SYS_futex)");
    va_list args;
    va_start(args, number);
    long a[6];
    for (long& v : a) v = va_arg(args, long);
    va_end(args);
    static long (*real)(long, ...) = nullptr;
    return next(real, "syscall")(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

UNINSTRUMENTED int nanosleep(const timespec* t, timespec* left) {
    seen(kSleep, "nanosleep");
    static int (*real)(const timespec*, timespec*) = nullptr;
    return next(real, "nanosleep")(t, left);
}
UNINSTRUMENTED int clock_nanosleep(clockid_t c, int flags, const timespec* t, timespec* left) {
    seen(kSleep, "clock_nanosleep");
    static int (*real)(clockid_t, int, const timespec*, timespec*) = nullptr;
    return next(real, "clock_nanosleep")(c, flags, t, left);
}
UNINSTRUMENTED int usleep(useconds_t us) {
    seen(kSleep, "usleep");
    static int (*real)(useconds_t) = nullptr;
    return next(real, "usleep")(us);
}

UNINSTRUMENTED ssize_t write(int fd, const void* b, std::size_t n) {
    seen(kIO, "write");
    static ssize_t (*real)(int, const void*, std::size_t) = nullptr;
    return next(real, "write")(fd, b, n);
}
UNINSTRUMENTED ssize_t pwrite(int fd, const void* b, std::size_t n, off_t at) {
    seen(kIO, "pwrite");
    static ssize_t (*real)(int, const void*, std::size_t, off_t) = nullptr;
    return next(real, "pwrite")(fd, b, n, at);
}
UNINSTRUMENTED int fdatasync(int fd) {
    seen(kIO, "fdatasync");
    static int (*real)(int) = nullptr;
    return next(real, "fdatasync")(fd);
}
UNINSTRUMENTED int fsync(int fd) {
    seen(kIO, "fsync");
    static int (*real)(int) = nullptr;
    return next(real, "fsync")(fd);
}
UNINSTRUMENTED std::size_t fwrite(const void* b, std::size_t size, std::size_t n, FILE* f) {
    seen(kIO, "fwrite");
    static std::size_t (*real)(const void*, std::size_t, std::size_t, FILE*) = nullptr;
    return next(real, "fwrite")(b, size, n, f);
}
UNINSTRUMENTED int fputs(const char* s, FILE* f) {
    seen(kIO, "fputs");
    static int (*real)(const char*, FILE*) = nullptr;
    return next(real, "fputs")(s, f);
}
UNINSTRUMENTED int vfprintf(FILE* f, const char* format, va_list args) {
    seen(kIO, "vfprintf");
    static int (*real)(FILE*, const char*, va_list) = nullptr;
    return next(real, "vfprintf")(f, format, args);
}

}  // extern "C"

// Under a sanitizer, operator new is the sanitizer's and does not call malloc.
void* operator new(std::size_t n) {
    if (void* p = malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    free(p);
}

namespace {

class RealTime : public RecordingTest {
protected:
    void TearDown() override {
        engine.stopEngine();
        AudioSystem::install(nullptr);
    }
    void boot() {
        engine.boot();
        ASSERT_TRUE(waitFor([&] { return engine.running(); })) << engine.status().toStdString();
    }
    // The main thread works every control for `seconds` while audio runs.
    void hammer(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
            const int c = i % static_cast<int>(engine.channels().size());
            engine.setName(c, QString("Take %1").arg(i));
            engine.setSolo(c, i % 3 == 0);
            if (i % 50 == 0) engine.clearSolo();
            if (i % 7 == 0) engine.testTone(0.02);
            if (!engine.recording()) engine.setArmed(c, i % 2 == 0);
            if (i % 200 == 0) engine.recording() ? engine.stopRecording() : engine.record();
            engine.tick();
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        engine.stopRecording();
    }
    void expectNone() {
        const auto got = taken();
        const char* first = firstSeen.load();
        for (int k = 0; k < kKinds; ++k) {
            EXPECT_EQ(got[k], 0) << kKindNames[k]
                                 << " in an audio callback, first: " << (first ? first : "?");
        }
    }
    // A callback that takes a lock and allocates must be caught.
    void expectCanaryCaught() {
        const std::uint32_t device = AudioDevices::find(engine.inputUID())->id;
        engine.stopEngine();
        InputCapture capture;
        ASSERT_FALSE(capture.start(device));
        std::mutex lock;
        std::atomic<int> calls{0};
        std::atomic<int*> escaped{nullptr};  // so the allocation cannot be elided
        taken();
        capture.setOnBuffer([&](const float* const*, std::int64_t, std::int64_t) {
            std::lock_guard guard(lock);
            escaped.store(new int(calls++));
            delete escaped.exchange(nullptr);
        });
        ASSERT_TRUE(waitFor([&] { return calls > 3; }));
        capture.setOnBuffer({});
        const auto got = taken();
        EXPECT_GE(got[kLock], 1);
        EXPECT_GE(got[kAlloc], 2);
    }
};

}  // namespace

TEST_F(RealTime, TheSimulatedInterfaceKeepsTheContract) {
    AudioSystem::install(std::make_unique<DemoSystem>());
    boot();
    expectCanaryCaught();
    engine.startEngine();
    taken();
    hammer(2.0);
    expectNone();
    // The audio really ran: the takes hold what it recorded.
    EXPECT_GT(QDir(engine.recordingFolder()).entryList({"*.wav"}).size(), 0);
    expectExactHeaders(engine.recordingFolder().toStdString());
}

TEST_F(RealTime, JackKeepsTheContract) {
    JackServer server(48000);
    ASSERT_TRUE(server.up());
    AudioSystem::install(std::make_unique<JackSystem>());
    boot();
    expectCanaryCaught();
    engine.startEngine();
    taken();
    hammer(2.0);
    expectNone();
    expectExactHeaders(engine.recordingFolder().toStdString());
}
