#pragma once

#include <pthread.h>
#include <sys/types.h>

// Main thread: real-time priority for an audio thread we run ourselves
// (`thread`, kernel id `tid`). SCHED_FIFO where the user may have it
// (RLIMIT_RTPRIO, or privileges); else from RealtimeKit on the system bus,
// within its rules (priority at most its maximum, RLIMIT_RTTIME no higher
// than it allows); else normal priority. One log line says which.
void raiseToRealtime(pthread_t thread, pid_t tid);
