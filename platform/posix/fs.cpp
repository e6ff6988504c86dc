#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/random.h"
#include "platform/syscalls.h"

namespace platform {

namespace {

bool writeAll(int fd, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        long n = sysCalls().write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void closeKeepingErrno(int fd) {
    int saved = errno;
    ::close(fd);
    errno = saved;
}

}  // namespace

PathKind pathKind(const char* path) {
    if (!path || !*path) return PathKind::Missing;
    struct stat st {};
    if (stat(path, &st) != 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? PathKind::Missing : PathKind::Unreadable;
    }
    if (S_ISREG(st.st_mode)) return PathKind::File;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

bool isHiddenName(const char* path) {
    if (!path) return false;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    return base[0] == '.';
}

bool fileSize(const char* path, int64_t* size) {
    if (!path || !size) return false;
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<int64_t>(st.st_size);
    return true;
}

bool makeFolders(const char* path) {
    if (!path || !*path) return false;
    std::string partial;
    std::string whole(path);
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = whole.find('/', pos + 1);
        partial = whole.substr(0, pos);
        if (partial.empty() || partial == "/") continue;
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            reportFailure("mkdir", partial.c_str(), errno);
            return false;
        }
    }
    return pathKind(path) == PathKind::Folder;
}

bool removeFile(const char* path) { return path && sysCalls().unlink(path) == 0; }

bool removeEmptyFolder(const char* path) { return path && sysCalls().rmdir(path) == 0; }

bool removeTree(const char* path) {
    if (!path || !*path) return false;
    struct stat st {};
    if (lstat(path, &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return sysCalls().unlink(path) == 0;
    std::vector<std::string> names;
    if (!listFolder(path, &names)) return false;
    bool ok = true;
    for (const auto& name : names) {
        std::string child = std::string(path) + "/" + name;
        if (!removeTree(child.c_str())) ok = false;
    }
    return sysCalls().rmdir(path) == 0 && ok;
}

namespace {
std::string partName(const char* path) {
    uint32_t tag = 0;
    randomFill(&tag, sizeof tag);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", tag);
    return std::string(path) + suffix;
}
}  // namespace

bool copyFile(const char* from, const char* to) {
    if (!from || !to) return false;
    int in = sysCalls().open(from, O_RDONLY | O_CLOEXEC, 0);
    if (in < 0) {
        reportFailure("open", from, errno);
        return false;
    }
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeKeepingErrno(in);
        return false;
    }
    // Written beside the target and renamed over it: a library still mapped from the old
    // file is never truncated under its user, and a failed copy leaves the target as it was.
    std::string temp = partName(to);
    int out = sysCalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        reportFailure("open", temp.c_str(), errno);
        closeKeepingErrno(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        if (!writeAll(out, buffer, static_cast<size_t>(n))) { ok = false; break; }
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (ok && sysCalls().rename(temp.c_str(), to) == 0) return true;
    reportFailure(ok ? "rename" : "write", to, errno);
    sysCalls().unlink(temp.c_str());
    return false;
}

bool renamePath(const char* from, const char* to) { return from && to && sysCalls().rename(from, to) == 0; }

bool createEmptyFile(const char* path) {
    if (!path) return false;
    int fd = sysCalls().open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

bool listFolder(const char* path, std::vector<std::string>* names) {
    if (!path || !names) return false;
    DIR* dir = opendir(path);
    if (!dir) return false;
    names->clear();
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names->emplace_back(entry->d_name);
    }
    closedir(dir);
    return true;
}

int deleteMatching(const char* folder, const char* pattern) {
    if (!folder || !pattern) return -1;
    std::vector<std::string> names;
    if (!listFolder(folder, &names)) return -1;
    int deleted = 0;
    for (const auto& name : names) {
        // No FNM_PERIOD: hidden files match "*" too, as the hidden-attribute pass intends.
        if (fnmatch(pattern, name.c_str(), 0) != 0) continue;
        std::string path = std::string(folder) + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (sysCalls().unlink(path.c_str()) == 0) ++deleted;
    }
    return deleted;
}

bool readWholeFile(const char* path, std::string* content) {
    if (!path || !content) return false;
    int fd = sysCalls().open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    content->clear();
    char buffer[8192];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        content->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool replaceFileContent(const char* path, const void* data, size_t length) {
    if (!path || (!data && length)) return false;
    std::string temp = partName(path);
    mode_t mode = 0644;
    struct stat st {};
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
    int fd = sysCalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        reportFailure("open", temp.c_str(), errno);
        return false;
    }
    bool ok = writeAll(fd, data, length);
    if (::close(fd) != 0) ok = false;
    if (ok && sysCalls().rename(temp.c_str(), path) == 0) return true;
    reportFailure(ok ? "rename" : "write", path, errno);
    sysCalls().unlink(temp.c_str());
    return false;
}

std::string executablePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return buffer;
}

}  // namespace platform
