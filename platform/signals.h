#pragma once
// Orderly stop on the termination signals (SIGTERM, SIGINT on POSIX).

namespace platform {

// Blocks the termination signals for the calling thread and every thread it starts
// later, and runs handler on a thread of its own each time one arrives. Call it
// before any other thread is started. False when the watcher cannot be set up.
bool watchTerminationSignals(void (*handler)());

}  // namespace platform
