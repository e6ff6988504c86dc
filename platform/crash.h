#pragma once
// The process's crash path: the fatal signals are caught on a stack of their own, one
// filter runs on the crashing thread, then the process dies of the signal as it would
// have without us. The dump writer records what the filter needs to leave behind.
//
// The two entry points are exported from the running program under C names, so the
// forensics library looks them up by name in a module it loaded itself, never through
// whatever happens to be first on a search path.
#include <string>

namespace platform {

// What the crashing thread knows about its crash; context is the machine context
// (registers) of the faulting instruction, or null.
struct CrashInfo {
    int signal;
    int code;                 // the signal's reason code
    const void* faultAddress; // the faulting address where the signal has one
    const void* context;
};

using CrashFilter = void (*)(const CrashInfo* info);

using SetCrashFilterCall = bool (*)(CrashFilter filter);
using WriteCrashDumpCall = bool (*)(const char* path, const CrashInfo* info);

// Export names of the two entry points.
constexpr const char* kSetCrashFilterName = "kestrovanSetCrashFilter";
constexpr const char* kWriteCrashDumpName = "kestrovanWriteCrashDump";

// A module holding the entry points; the running program's own path opens the program.
struct CrashModule {
    void* handle;  // null when not loaded
};

// Load flags: 0 binds everything at once and keeps the module's symbols to itself.
bool crashModuleOpen(CrashModule* module, const char* path, int flags, std::string* error);
void* crashModuleSymbol(const CrashModule* module, const char* name, std::string* error);
void crashModuleClose(CrashModule* module);
// Folder and file name of the running program; false (and a system error number)
// when the program file cannot be found.
bool crashModuleLocation(std::string* folder, std::string* fileName, int* error);

}  // namespace platform

extern "C" {
// Installs filter for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate
// stack of the calling thread; replaces a filter installed before. False when the
// handlers cannot be set up.
bool kestrovanSetCrashFilter(platform::CrashFilter filter);
// Writes a dump to path (created or replaced): a header, the signal, the registers,
// the memory map and a backtrace of the calling thread. info may be null (no crash,
// a dump of the current state). Safe to call from the crash filter; false when the
// file cannot be created or written.
bool kestrovanWriteCrashDump(const char* path, const platform::CrashInfo* info);
}
