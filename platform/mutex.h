#pragma once
// Named mutexes with Win32 wait semantics, scoped to this user and sandbox
// (per-user names) or to the machine ("Global\" names).
#include <cstddef>

namespace platform {

struct NamedMutex {
    char name[512];   // the name as given, e.g. "alice_TarvikKestrovanWatchdog" or "Global\PelLog"
    char path[1024];  // the lock file behind the name
    int lockFd;       // descriptor of the held lock, -1 when not owned
    int depth;        // waits satisfied by this handle and not yet released
    bool open;        // the handle is valid
};

enum class WaitResult { Acquired, Timeout, Failed };

// Creates or opens the mutex (not owned). A name beginning "Global\" is machine-wide.
bool mutexOpen(NamedMutex* mutex, const char* name);
// Waits up to timeoutMs (negative: no limit). Two handles in one process exclude each other;
// waiting again on a handle that owns the mutex succeeds at once (released as often).
// A holder that dies releases the mutex.
WaitResult mutexWait(NamedMutex* mutex, int timeoutMs);
// Releases ownership; no effect when not owned.
void mutexRelease(NamedMutex* mutex);
// Releases and closes the handle.
void mutexClose(NamedMutex* mutex);

}  // namespace platform
