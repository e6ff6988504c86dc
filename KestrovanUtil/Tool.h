#pragma once
// Process and system tools. Paths and commands are UTF-8 (the platform's text form);
// returned texts are heap copies the caller frees.
#include <cstddef>
#include <cstdint>

#include "platform/mutex.h"

constexpr int32_t kCodeNoConnection = 61001;
constexpr int32_t kCodeMissingKey = 61005;

int runHiddenCommand(const char* command, bool throughShell);
void hideNOWaitCommand(const char* command);
bool isProcessRunning(const char* name);
// Caller name for log lines ("KestrovanWorker" or "TarvikKestrovanMonitor.exe").
bool killProcessByName(const char* name, const char* callerName);

// Per-user named mutex "%s_%s" (user, name); null when not acquired within waitMs.
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
    uint8_t productType;
    uint16_t suiteMask;
    int serverR2Metric;
    uint16_t architecture;
};
// The Windows decision table as a pure function.
uint32_t decideWindowsOS(const WindowsVersion& version);
uint32_t detectOS();
const char* osName(uint32_t flags);

bool openDebugModeEvent();
char* currentTimeText();
int32_t compareVersions(const char* versionA, const char* versionB);
