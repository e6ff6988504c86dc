#include "platform/event.h"

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

constexpr int kPollMs = 5;
constexpr int kGoneCheckMs = 100;

std::string eventPath(const char* name) {
    const char* rest = nullptr;
    bool global = isGlobalName(name, &rest);
    std::string file = objectFileName(rest);
    if (file.empty()) return {};
    std::string folder = objectFolder("event", global);
    if (folder.empty()) return {};
    return folder + "/" + file + ".event";
}

// The counter is read and changed under a record lock; record locks and flock do not
// interact, so the shared flock that keeps the event alive stays untouched.
bool rangeLock(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = sizeof(uint64_t);
    while (fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            reportFailure("fcntl", "event lock", errno);
            return false;
        }
    }
    return true;
}

bool readCounter(int fd, uint64_t* value) {
    if (!rangeLock(fd, F_RDLCK)) return false;
    uint64_t counter = 0;
    ssize_t n = pread(fd, &counter, sizeof counter, 0);
    rangeLock(fd, F_UNLCK);
    if (n != 0 && n != static_cast<ssize_t>(sizeof counter)) return false;
    *value = n == 0 ? 0 : counter;
    return true;
}

// True when some handle (of any process) holds the event open.
bool anyHandleOpen(const std::string& path) {
    int probe = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (probe < 0) return false;
    bool held = flock(probe, LOCK_EX | LOCK_NB) != 0;
    ::close(probe);
    return held;
}

bool attach(NamedEvent* event, const char* name, int fd, bool owner) {
    while (flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return false;
        }
    }
    uint64_t counter = 0;
    if (!readCounter(fd, &counter)) {
        ::close(fd);
        return false;
    }
    std::snprintf(event->name, sizeof event->name, "%s", name);
    event->fd = fd;
    event->owner = owner;
    event->seen = counter;
    return true;
}

bool validName(NamedEvent* event, const char* name) {
    if (!event) return false;
    std::memset(event, 0, sizeof *event);
    event->fd = -1;
    return name && *name && std::strlen(name) < sizeof event->name;
}

}  // namespace

bool eventCreate(NamedEvent* event, const char* name) {
    if (!validName(event, name)) return false;
    std::string path = eventPath(name);
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        reportFailure("open", path.c_str(), errno);
        return false;
    }
    return attach(event, name, fd, true);
}

bool eventOpen(NamedEvent* event, const char* name) {
    if (!validName(event, name)) return false;
    std::string path = eventPath(name);
    if (path.empty() || !anyHandleOpen(path)) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    return attach(event, name, fd, false);
}

bool eventPulse(NamedEvent* event) {
    if (!event || event->fd < 0) return false;
    if (!rangeLock(event->fd, F_WRLCK)) return false;
    uint64_t counter = 0;
    ssize_t n = pread(event->fd, &counter, sizeof counter, 0);
    if (n != static_cast<ssize_t>(sizeof counter)) counter = 0;
    ++counter;
    bool ok = pwrite(event->fd, &counter, sizeof counter, 0) == static_cast<ssize_t>(sizeof counter);
    rangeLock(event->fd, F_UNLCK);
    // The pulser's own handle is not woken by its own pulse.
    if (ok) event->seen = counter;
    return ok;
}

bool eventWait(NamedEvent* event, int timeoutMs) {
    if (!event || event->fd < 0) return false;
    int64_t start = monotonicMs();
    int64_t lastGoneCheck = start;
    for (;;) {
        uint64_t counter = 0;
        if (!readCounter(event->fd, &counter)) return false;
        if (counter != event->seen) {
            event->seen = counter;
            return true;
        }
        int64_t now = monotonicMs();
        if (now - lastGoneCheck >= kGoneCheckMs) {
            struct stat st {};
            if (fstat(event->fd, &st) != 0 || st.st_nlink == 0) return false;
            lastGoneCheck = now;
        }
        int wait = kPollMs;
        if (timeoutMs >= 0) {
            int64_t left = start + timeoutMs - now;
            if (left <= 0) return false;
            if (left < wait) wait = static_cast<int>(left);
        }
        sleepMs(wait);
    }
}

void eventClose(NamedEvent* event) {
    if (!event || event->fd < 0) return;
    ::close(event->fd);
    event->fd = -1;
    event->owner = false;
}

}  // namespace platform
