#pragma once
// The system calls that tests make fail on purpose (full disk, a library that will
// not load, a process that cannot be started) go through this table.
#include <cstddef>

namespace platform {

struct SysCalls {
    int (*open)(const char* path, int flags, unsigned mode);
    long (*write)(int fd, const void* buffer, size_t count);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*rmdir)(const char* path);
    void* (*dlopen)(const char* path, int flags);
    // posix_spawnp-shaped: returns 0 or an error number.
    int (*spawn)(int* pid, const char* path, char* const argv[], char* const envp[]);
};

// The live table; tests may swap entries and must call restoreSysCalls() afterwards.
SysCalls& sysCalls();
void restoreSysCalls();

}  // namespace platform
