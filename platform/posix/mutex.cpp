#include "platform/mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/names.h"

namespace platform {

namespace {
constexpr int kPollMs = 3;
}

bool mutexOpen(NamedMutex* mutex, const char* name) {
    if (!mutex) return false;
    std::memset(mutex, 0, sizeof *mutex);
    mutex->lockFd = -1;
    if (!name || std::strlen(name) >= sizeof mutex->name) return false;
    const char* rest = nullptr;
    bool global = isGlobalName(name, &rest);
    std::string file = objectFileName(rest);
    if (file.empty()) return false;
    std::string folder = objectFolder("mutex", global);
    if (folder.empty()) return false;
    std::string path = folder + "/" + file + ".lock";
    if (path.size() >= sizeof mutex->path) return false;
    // Create the lock file now so that a missing folder or a full disk shows at open time.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        reportFailure("open", path.c_str(), errno);
        return false;
    }
    if (global) fchmod(fd, 0666);  // every user of the machine takes this lock
    ::close(fd);
    std::snprintf(mutex->name, sizeof mutex->name, "%s", name);
    std::snprintf(mutex->path, sizeof mutex->path, "%s", path.c_str());
    mutex->open = true;
    return true;
}

WaitResult mutexWait(NamedMutex* mutex, int timeoutMs) {
    if (!mutex || !mutex->open) return WaitResult::Failed;
    if (mutex->lockFd >= 0) {
        ++mutex->depth;
        return WaitResult::Acquired;
    }
    // Each acquisition has its own open file description: flock excludes between those,
    // so two handles of one process exclude each other just like two processes do.
    int fd = ::open(mutex->path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        reportFailure("open", mutex->path, errno);
        return WaitResult::Failed;
    }
    if (timeoutMs < 0) {
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                reportFailure("flock", mutex->path, errno);
                ::close(fd);
                return WaitResult::Failed;
            }
        }
    } else {
        int64_t deadline = monotonicMs() + timeoutMs;
        for (;;) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                reportFailure("flock", mutex->path, errno);
                ::close(fd);
                return WaitResult::Failed;
            }
            int64_t left = deadline - monotonicMs();
            if (left <= 0) {
                ::close(fd);
                return WaitResult::Timeout;
            }
            sleepMs(left < kPollMs ? static_cast<int>(left) : kPollMs);
        }
    }
    mutex->lockFd = fd;
    mutex->depth = 1;
    return WaitResult::Acquired;
}

void mutexRelease(NamedMutex* mutex) {
    if (!mutex || mutex->lockFd < 0) return;
    if (--mutex->depth > 0) return;
    flock(mutex->lockFd, LOCK_UN);
    ::close(mutex->lockFd);
    mutex->lockFd = -1;
    mutex->depth = 0;
}

void mutexClose(NamedMutex* mutex) {
    if (!mutex) return;
    if (mutex->lockFd >= 0) {
        mutex->depth = 1;
        mutexRelease(mutex);
    }
    mutex->open = false;
}

}  // namespace platform
