#pragma once
// Named manual-reset events with pulse, scoped to this user and sandbox.
#include <cstdint>

namespace platform {

struct NamedEvent {
    char name[256];
    int fd;          // descriptor of the event file; the owner holds a shared lock on it
    bool owner;      // created by this process
    uint64_t seen;   // pulse counter last seen by this handle
};

// Creates the event (the creator owns it while it lives).
bool eventCreate(NamedEvent* event, const char* name);
// Opens an existing event; false when it does not exist or its owner is gone.
bool eventOpen(NamedEvent* event, const char* name);
// Wakes every waiter once; no pulse is lost for a waiter that polls.
bool eventPulse(NamedEvent* event);
// Waits up to timeoutMs (negative: no limit) for a pulse after the last one seen.
// Returns true on a pulse, false on timeout or when the event is gone.
bool eventWait(NamedEvent* event, int timeoutMs);
void eventClose(NamedEvent* event);

}  // namespace platform
