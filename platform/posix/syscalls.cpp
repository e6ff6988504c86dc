#include "platform/syscalls.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace platform {

namespace {

int sysOpen(const char* path, int flags, unsigned mode) { return ::open(path, flags, static_cast<mode_t>(mode)); }
long sysWrite(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }
int sysRename(const char* from, const char* to) { return ::rename(from, to); }
int sysUnlink(const char* path) { return ::unlink(path); }
int sysRmdir(const char* path) { return ::rmdir(path); }
void* sysDlopen(const char* path, int flags) { return ::dlopen(path, flags); }

// Children start with default signal dispositions and nothing blocked, whatever the
// caller's threads did with theirs, so that a started program behaves as if started fresh.
int sysSpawn(int* pid, const char* path, char* const argv[], char* const envp[]) {
    posix_spawnattr_t attr;
    if (int rc = posix_spawnattr_init(&attr); rc != 0) return rc;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    int rc = posix_spawnp(&child, path, nullptr, &attr, argv, envp ? envp : environ);
    posix_spawnattr_destroy(&attr);
    if (rc == 0 && pid) *pid = child;
    return rc;
}

const SysCalls kDefaults{sysOpen, sysWrite, sysRename, sysUnlink, sysRmdir, sysDlopen, sysSpawn};
SysCalls live = kDefaults;

}  // namespace

SysCalls& sysCalls() { return live; }
void restoreSysCalls() { live = kDefaults; }

}  // namespace platform
