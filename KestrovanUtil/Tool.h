#pragma once
// Process and system tools. Paths and commands are UTF-8 (the platform's text form);
// returned texts are heap copies the caller frees.
#include <cstddef>
#include <cstdint>

#include "platform/event.h"
#include "platform/mutex.h"

constexpr int32_t kCodeNoConnection = 61001;
constexpr int32_t kCodeMissingKey = 61005;

// Result of runHiddenCommand when the process could not be started at all. It is not a
// possible exit code, so a program that never ran cannot pass for one that succeeded.
constexpr int kCommandNotStarted = -1;

// Runs the command hidden and waits; its exit code, 1 for a null command.
int runHiddenCommand(const char* command, bool throughShell);
// Starts the command hidden without waiting; the child is reaped when it ends.
void hideNOWaitCommand(const char* command);
bool isProcessRunning(const char* name);
// Caller name for log lines ("KestrovanWorker" or "TarvikKestrovanMonitor.exe").
bool killProcessByName(const char* name, const char* callerName);

// Per-user named mutex "%s_%s" (user, name); null when not acquired within waitMs
// (negative: no limit).
platform::NamedMutex* userMutexLock(const char* name, int waitMs);
void userMutexUnlock(platform::NamedMutex* handle);

char* getUserTempPath();          // with trailing separator
char* getCopyPath(const char* name);
const char* copyPath();           // the process-wide copy path kept by getCopyPath
char* moduleDirectory();          // no trailing separator
bool fileExists(const char* path);
char* readTextFile(const char* path);
bool writeTextFile(const char* path, const char* text);
bool randomBytes(void* buffer, size_t length);
char* newSID();

constexpr uint32_t kOsLinux = 0x10000;
constexpr uint32_t kOs32Bit = 0x100000;
constexpr uint32_t kOs64Bit = 0x200000;

struct WindowsVersion {
    uint32_t major, minor, build;
    uint8_t productType;    // 1 workstation, 2 domain controller, 3 server
    uint16_t suiteMask;     // 0x8000: home server suite
    int serverR2Metric;     // SM_SERVERR2
    uint16_t architecture;  // 0 x86, 6 Itanium, 9 x64
};
// The Windows decision table as a pure function.
uint32_t decideWindowsOS(const WindowsVersion& version);
uint32_t detectOS();
const char* osName(uint32_t flags);

// Opens "TarvikKestrovan_DEBUG_MODE" once per process; false when it is already held
// or cannot be opened.
bool openDebugModeEvent();
// The held debug-mode event, for waiting on it; null when none is held.
platform::NamedEvent* debugModeEvent();
void closeDebugModeEvent();

char* currentTimeText();
int32_t compareVersions(const char* versionA, const char* versionB);
