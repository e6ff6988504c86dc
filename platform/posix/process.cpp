#include "platform/process.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/syscalls.h"

extern char** environ;

namespace platform {

uint32_t processId() { return static_cast<uint32_t>(getpid()); }

uint32_t threadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The caller's own folder first, then PATH, as the command-line search order does.
std::string findProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
    std::string self = executablePath();
    size_t slash = self.rfind('/');
    if (slash != std::string::npos) {
        std::string candidate = self.substr(0, slash + 1) + name;
        if (isExecutableFile(candidate)) return candidate;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = end > start ? dirs.substr(start, end - start) : std::string(".");
        std::string candidate = dir + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The text after "cmd /c " in a command line, for handing to the shell unchanged.
const char* afterShellSwitch(const char* commandLine) {
    const char* p = commandLine;
    while (*p == ' ' || *p == '\t') ++p;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        if (*p == '"') quoted = !quoted;
        ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if ((p[0] == '/' || p[0] == '-') && (p[1] == 'c' || p[1] == 'C')) p += 2;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

uint32_t spawnArgs(std::vector<std::string> args) {
    if (args.empty()) return 0;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pid = 0;
    if (int rc = sysCalls().spawn(&pid, argv[0], argv.data(), environ); rc != 0 || pid <= 0) {
        reportFailure("posix_spawn", argv[0], rc);
        return 0;
    }
    return static_cast<uint32_t>(pid);
}

std::string procText(uint32_t pid, const char* entry) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/%s", pid, entry);
    std::string text;
    if (!readWholeFile(path, &text)) return {};
    return text;
}

// Same uid and the same TARVIK_ROOT (or none on both sides) as this process.
bool inSessionScope(uint32_t pid) {
    if (pid == processId()) return true;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u", pid);
    struct stat st {};
    if (stat(path, &st) != 0 || st.st_uid != geteuid()) return false;
    std::snprintf(path, sizeof path, "/proc/%u/environ", pid);
    std::string environment;
    if (!readWholeFile(path, &environment)) return false;
    std::string theirs;
    bool found = false;
    size_t pos = 0;
    while (pos < environment.size()) {
        size_t end = environment.find('\0', pos);
        if (end == std::string::npos) end = environment.size();
        if (environment.compare(pos, 12, "TARVIK_ROOT=") == 0) {
            theirs = environment.substr(pos + 12, end - pos - 12);
            found = true;
        }
        pos = end + 1;
    }
    while (theirs.size() > 1 && theirs.back() == '/') theirs.pop_back();
    if (!found) theirs.clear();
    return theirs == sandboxRoot();
}

std::string executableName(uint32_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
    char target[4096];
    ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    std::string full(target);
    static const char kDeleted[] = " (deleted)";
    if (full.size() > sizeof kDeleted - 1 &&
        full.compare(full.size() - (sizeof kDeleted - 1), sizeof kDeleted - 1, kDeleted) == 0)
        full.resize(full.size() - (sizeof kDeleted - 1));
    size_t slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

void reapLater(uint32_t pid) {
    // One waiter per child, on exactly its pid: ignoring SIGCHLD instead would take the
    // exit codes away from every waitProcess of the program, and a double fork would
    // hide the real pid from the caller.
    std::thread([pid] {
        int status = 0;
        while (waitpid(static_cast<pid_t>(pid), &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

uint32_t spawnCommand(const char* commandLine, bool throughShell) {
    if (!commandLine) return 0;
    if (throughShell) return spawnArgs({"/bin/sh", "-c", commandLine});
    std::vector<std::string> args = splitCommandLine(commandLine);
    if (args.empty()) return 0;
    std::string program = programFileName(args[0].c_str());
    if (equalsIgnoreCase(program, "cmd") && args.size() >= 2 &&
        (equalsIgnoreCase(args[1], "/c") || equalsIgnoreCase(args[1], "-c")))
        return spawnArgs({"/bin/sh", "-c", afterShellSwitch(commandLine)});
    std::string resolved = findProgram(program);
    if (resolved.empty()) {
        reportFailure("execvp", program.c_str(), ENOENT);
        return 0;
    }
    args[0] = resolved;
    return spawnArgs(std::move(args));
}

uint32_t spawnDetached(const char* commandLine, bool throughShell) {
    uint32_t pid = spawnCommand(commandLine, throughShell);
    if (pid) reapLater(pid);
    return pid;
}

int waitProcess(uint32_t pid) {
    if (!pid) return -1;
    int status = 0;
    for (;;) {
        if (waitpid(static_cast<pid_t>(pid), &status, 0) >= 0) break;
        if (errno != EINTR) {
            reportFailure("waitpid", std::to_string(pid).c_str(), errno);
            return -1;
        }
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool listProcesses(std::vector<ProcessEntry>* out) {
    if (!out) return false;
    std::vector<std::string> names;
    if (!listFolder("/proc", &names)) {
        reportFailure("opendir", "/proc", errno);
        return false;
    }
    out->clear();
    for (const auto& name : names) {
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        uint32_t pid = static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10));
        if (!pid || !inSessionScope(pid)) continue;
        std::string exe = executableName(pid);
        if (exe.empty()) continue;  // gone meanwhile, or a zombie without an image
        out->push_back({pid, exe});
    }
    return true;
}

bool terminateProcess(uint32_t pid) {
    if (!pid || !inSessionScope(pid)) return false;
    return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool processAlive(uint32_t pid) {
    if (!pid) return false;
    std::string stat = procText(pid, "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    char state = stat[close + 2];
    return state != 'Z' && state != 'X';
}

bool scheduleDelete(const char* path, int delayMs) {
    if (!path || !*path) return false;
    if (delayMs < 0) delayMs = 0;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%d.%03d", delayMs / 1000, delayMs % 1000);
    uint32_t pid = spawnArgs({"/bin/sh", "-c", "sleep \"$1\"; rm -f -- \"$0\"", path, seconds});
    if (!pid) return false;
    reapLater(pid);
    return true;
}

}  // namespace platform
