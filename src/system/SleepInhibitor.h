#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <cstdint>
#include <memory>

// Keeps the machine from suspending or going idle to sleep under a take: a
// logind inhibitor lock ("sleep:idle", why "Recording"), asked for on the
// system bus without waiting for the answer, and held as the file descriptor
// logind hands out; closing it gives the lock back. A system without logind,
// or without a system bus, records anyway and nothing is said.
//
// Main thread only.
class SleepInhibitor {
public:
    SleepInhibitor();
    ~SleepInhibitor();

    // Asks for the lock; nothing when it is held or asked for already.
    void hold();
    // Gives it back, or drops an answer still on its way.
    void release();
    // Whether logind gave the lock.
    bool held() const { return lock.isValid(); }

private:
    std::unique_ptr<QObject> calls;  // owns the answers on their way
    std::uint64_t asked = 0;         // a new number for every hold
    bool wanted = false;
    QDBusUnixFileDescriptor lock;
};
