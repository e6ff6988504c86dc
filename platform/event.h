#pragma once
// Named manual-reset events with pulse, scoped to this user and sandbox.
// Like the named objects they stand for, an event lives while any handle to it is open:
// every handle holds a shared lock on the event file, and opening fails when nobody does.
#include <cstdint>

namespace platform {

struct NamedEvent {
    char name[256];
    int fd;          // descriptor of the event file, holding a shared lock while open
    bool owner;      // created by this process
    uint64_t seen;   // pulse counter last seen by this handle
};

// Creates the event, or opens it when it already exists.
bool eventCreate(NamedEvent* event, const char* name);
// Opens an existing event; false when it does not exist or no handle to it is open.
bool eventOpen(NamedEvent* event, const char* name);
// Wakes every waiter once; no pulse is lost for a waiter that polls.
bool eventPulse(NamedEvent* event);
// Waits up to timeoutMs (negative: no limit) for a pulse after the last one seen.
// Returns true on a pulse, false on timeout or when the event file was removed.
bool eventWait(NamedEvent* event, int timeoutMs);
void eventClose(NamedEvent* event);

}  // namespace platform
