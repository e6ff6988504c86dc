#pragma once
// Failures inside the platform layer are named where they happen (the system call and
// its object) and handed to one sink that the program may install, typically its log;
// no raw error number leaves the layer otherwise.

namespace platform {

// call: the failing system call ("flock", "posix_spawn", ...); subject: what it was
// applied to (a path, a command); code: the system's error number, for the log line.
using FailureSink = void (*)(const char* call, const char* subject, int code);

// Installs the sink (null: failures are not reported). Returns the previous one.
FailureSink setFailureSink(FailureSink sink);

// Used by the implementation: passes the failure to the sink. A failure raised while the
// sink itself runs (its log file's lock, say) is not passed on again.
void reportFailure(const char* call, const char* subject, int code);

}  // namespace platform
