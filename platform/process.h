#pragma once
// Processes: hidden start, wait, exit codes, listing and termination within the
// session scope (same uid and same TARVIK_ROOT).
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

uint32_t processId();
uint32_t threadId();

// Splits a command line at blanks honouring double quotes.
std::vector<std::string> splitCommandLine(const char* commandLine);

// Starts the command line hidden. The program is looked up in the caller's own folder,
// then PATH; a ".exe" suffix is dropped. throughShell runs it as "/bin/sh -c".
// Returns the pid, or 0 when it could not be started.
uint32_t spawnCommand(const char* commandLine, bool throughShell);
// Like spawnCommand, for a child nobody waits for: it is reaped when it ends so it
// never lingers as a zombie.
uint32_t spawnDetached(const char* commandLine, bool throughShell);
// Waits for a child started by spawnCommand and returns its exit code
// (128 + signal when killed by a signal); -1 on failure.
int waitProcess(uint32_t pid);

struct ProcessEntry {
    uint32_t pid;
    std::string name;  // base name of the executable
};

// Processes of the session scope.
bool listProcesses(std::vector<ProcessEntry>* out);
// Terminates a process of the session scope (SIGKILL: exit code 9).
bool terminateProcess(uint32_t pid);
bool processAlive(uint32_t pid);

// "X.exe" is the file X here; other names are kept.
std::string programFileName(const char* name);
// Name comparison as the system does it: ".exe" ignored.
bool sameProgramName(const char* a, const char* b, bool ignoreCase);

// Runs a command after a delay, detached from the caller (deferred self-delete).
bool scheduleDelete(const char* path, int delayMs);

}  // namespace platform
