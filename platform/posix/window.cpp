// Windows as Unix sequenced-packet sockets: one listening socket per window in the
// runtime folder, and a registry file beside it naming class, title, owner and the
// top-most flag. A sent message waits on its connection for the procedure's result.
#include "platform/window.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/folders.h"

namespace platform {

namespace {

constexpr uint32_t kWireMagic = 0x4B57494E;  // "KWIN"
constexpr uint32_t kMaxPayload = 1 << 20;

struct WireHeader {
    uint32_t magic;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
    uint64_t copyDataWord;
    uint32_t payloadLength;
    uint32_t expectsReply;
};

struct LocalWindow {
    std::string className;
    int listenFd;
    pthread_t thread;
    std::string socketPath;
    std::string registryPath;
};

std::mutex tableLock;
std::map<std::string, WindowProc> classes;
std::map<WindowHandle, LocalWindow> localWindows;
std::atomic<uint32_t> windowCounter{0};
thread_local bool quitPosted = false;

std::string windowFolder() {
    std::string folder = knownFolder(KnownFolder::Runtime);
    if (folder.empty()) return folder;
    folder += "/windows";
    mkdir(folder.c_str(), 0700);
    return folder;
}

std::string handleName(WindowHandle handle) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(handle));
    return name;
}

std::string oneLine(const char* text) {
    std::string line = text ? text : "";
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    return line;
}

bool sameName(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct RegistryEntry {
    WindowInfo info;
    int64_t created;
};

bool writeRegistry(const std::string& path, const WindowInfo& info, int64_t created) {
    std::string temp = path + ".tmp" + std::to_string(getpid());
    FILE* file = std::fopen(temp.c_str(), "w");
    if (!file) return false;
    std::fprintf(file, "%s\n%s\n%u\n%d\n%lld\n", info.className, info.title, info.ownerPid,
                 info.topMost ? 1 : 0, static_cast<long long>(created));
    bool ok = std::fclose(file) == 0;
    return ok && rename(temp.c_str(), path.c_str()) == 0;
}

bool readLine(FILE* file, char* out, size_t size) {
    if (!std::fgets(out, static_cast<int>(size), file)) return false;
    out[std::strcspn(out, "\n")] = '\0';
    return true;
}

bool readRegistry(const std::string& path, WindowHandle handle, RegistryEntry* entry) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    char pid[32], top[8], created[32];
    WindowInfo& info = entry->info;
    info.handle = handle;
    bool ok = readLine(file, info.className, sizeof info.className) &&
              readLine(file, info.title, sizeof info.title) && readLine(file, pid, sizeof pid) &&
              readLine(file, top, sizeof top) && readLine(file, created, sizeof created);
    std::fclose(file);
    if (!ok) return false;
    info.ownerPid = static_cast<uint32_t>(std::strtoul(pid, nullptr, 10));
    info.topMost = top[0] == '1';
    entry->created = std::strtoll(created, nullptr, 10);
    return true;
}

bool ownerAlive(uint32_t pid) {
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool fillAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connectWindow(WindowHandle window) {
    std::string folder = windowFolder();
    if (folder.empty()) return -1;
    sockaddr_un address;
    if (!fillAddress(folder + "/" + handleName(window) + ".sock", &address)) return -1;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendPacket(int fd, const WireHeader& header, const void* payload) {
    std::vector<uint8_t> packet(sizeof header + header.payloadLength);
    std::memcpy(packet.data(), &header, sizeof header);
    if (header.payloadLength) std::memcpy(packet.data() + sizeof header, payload, header.payloadLength);
    ssize_t sent;
    do {
        sent = send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(packet.size());
}

bool deliver(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam, bool wait,
             int64_t* result) {
    WireHeader header{kWireMagic, message, wParam, lParam, 0, 0, wait ? 1u : 0u};
    const void* payload = nullptr;
    if (message == WM_COPYDATA) {
        const CopyData* copy = reinterpret_cast<const CopyData*>(lParam);
        if (!copy || copy->length > kMaxPayload) return false;
        header.copyDataWord = copy->data;
        header.payloadLength = copy->payload ? copy->length : 0;
        header.lParam = 0;
        payload = copy->payload;
    }
    int fd = connectWindow(window);
    if (fd < 0) return false;
    bool ok = sendPacket(fd, header, payload);
    if (ok && wait) {
        int64_t answer = 0;
        ssize_t got;
        do {
            got = recv(fd, &answer, sizeof answer, 0);
        } while (got < 0 && errno == EINTR);
        ok = got == sizeof answer;
        if (ok && result) *result = answer;
    }
    close(fd);
    return ok;
}

WindowProc procedureOf(WindowHandle window, bool* sameThread) {
    std::lock_guard<std::mutex> guard(tableLock);
    auto it = localWindows.find(window);
    if (it == localWindows.end()) return nullptr;
    if (sameThread) *sameThread = pthread_equal(it->second.thread, pthread_self());
    auto cls = classes.find(it->second.className);
    return cls == classes.end() ? nullptr : cls->second;
}

}  // namespace

bool registerWindowClass(const char* className, WindowProc procedure) {
    if (!className || !*className || !procedure) return false;
    std::lock_guard<std::mutex> guard(tableLock);
    return classes.emplace(className, procedure).second;
}

void unregisterWindowClass(const char* className) {
    if (!className) return;
    std::lock_guard<std::mutex> guard(tableLock);
    classes.erase(className);
}

WindowHandle createWindow(const char* className, const char* title) {
    if (!className) return 0;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        if (!classes.count(className)) return 0;
    }
    std::string folder = windowFolder();
    if (folder.empty()) return 0;
    // Every copy of this layer loaded into the process (a component library carries its
    // own) counts from 1: the handle is claimed by creating its registry file exclusively.
    WindowHandle handle = 0;
    std::string base;
    for (int attempt = 0; attempt < 100000 && handle == 0; ++attempt) {
        WindowHandle candidate = (static_cast<WindowHandle>(getpid()) << 32) | (++windowCounter);
        std::string candidateBase = folder + "/" + handleName(candidate);
        int claim = open((candidateBase + ".win").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (claim < 0) {
            if (errno == EEXIST) continue;
            return 0;
        }
        close(claim);
        handle = candidate;
        base = candidateBase;
    }
    if (handle == 0) return 0;
    std::string socketPath = base + ".sock";
    sockaddr_un address;
    int fd = fillAddress(socketPath, &address) ? socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0) : -1;
    if (fd >= 0) unlink(socketPath.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0) {
        if (fd >= 0) close(fd);
        unlink((base + ".win").c_str());
        return 0;
    }
    WindowInfo info{};
    info.handle = handle;
    info.ownerPid = static_cast<uint32_t>(getpid());
    std::snprintf(info.className, sizeof info.className, "%s", oneLine(className).c_str());
    std::snprintf(info.title, sizeof info.title, "%s", oneLine(title).c_str());
    if (!writeRegistry(base + ".win", info, nowNs())) {
        close(fd);
        unlink(socketPath.c_str());
        unlink((base + ".win").c_str());
        return 0;
    }
    std::lock_guard<std::mutex> guard(tableLock);
    localWindows[handle] = LocalWindow{className, fd, pthread_self(), socketPath, base + ".win"};
    return handle;
}

bool destroyWindow(WindowHandle window) {
    bool sameThread = false;
    WindowProc procedure = procedureOf(window, &sameThread);
    {
        std::lock_guard<std::mutex> guard(tableLock);
        if (!localWindows.count(window)) return false;
    }
    if (procedure) procedure(window, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(tableLock);
    auto it = localWindows.find(window);
    if (it == localWindows.end()) return true;  // the procedure destroyed it itself
    close(it->second.listenFd);
    unlink(it->second.socketPath.c_str());
    unlink(it->second.registryPath.c_str());
    localWindows.erase(it);
    return true;
}

bool windowExists(WindowHandle window) {
    WindowInfo info;
    return windowInfo(window, &info);
}

bool enumWindows(std::vector<WindowInfo>* windows) {
    windows->clear();
    std::string folder = windowFolder();
    if (folder.empty()) return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::vector<RegistryEntry> entries;
    while (dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name.size() != 20 || name.compare(16, 4, ".win") != 0) continue;
        WindowHandle handle = std::strtoull(name.substr(0, 16).c_str(), nullptr, 16);
        RegistryEntry entry{};
        if (!readRegistry(folder + "/" + name, handle, &entry)) continue;
        if (!ownerAlive(entry.info.ownerPid)) {
            // The owner died without removing its window: clear the leftovers.
            unlink((folder + "/" + name).c_str());
            unlink((folder + "/" + name.substr(0, 16) + ".sock").c_str());
            continue;
        }
        entries.push_back(entry);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const RegistryEntry& a, const RegistryEntry& b) {
        return a.created != b.created ? a.created < b.created : a.info.handle < b.info.handle;
    });
    for (const RegistryEntry& entry : entries) windows->push_back(entry.info);
    return true;
}

bool windowInfo(WindowHandle window, WindowInfo* info) {
    std::string folder = windowFolder();
    if (folder.empty() || window == 0) return false;
    RegistryEntry entry{};
    if (!readRegistry(folder + "/" + handleName(window) + ".win", window, &entry)) return false;
    if (!ownerAlive(entry.info.ownerPid)) return false;
    *info = entry.info;
    return true;
}

WindowHandle findWindow(const char* className, const char* title) {
    std::vector<WindowInfo> windows;
    if (!enumWindows(&windows)) return 0;
    for (const WindowInfo& info : windows) {
        if (className && !sameName(info.className, className)) continue;
        if (title && !sameName(info.title, title)) continue;
        return info.handle;
    }
    return 0;
}

bool setWindowTopMost(WindowHandle window, bool topMost) {
    std::string folder = windowFolder();
    if (folder.empty()) return false;
    std::string path = folder + "/" + handleName(window) + ".win";
    RegistryEntry entry{};
    if (!readRegistry(path, window, &entry) || !ownerAlive(entry.info.ownerPid)) return false;
    entry.info.topMost = topMost;
    return writeRegistry(path, entry.info, entry.created);
}

int64_t sendMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    bool sameThread = false;
    WindowProc procedure = procedureOf(window, &sameThread);
    // A message to a window of the calling thread runs its procedure directly.
    if (procedure && sameThread) return procedure(window, message, wParam, lParam);
    int64_t result = 0;
    return deliver(window, message, wParam, lParam, true, &result) ? result : 0;
}

bool postMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == WM_COPYDATA) return false;
    return deliver(window, message, wParam, lParam, false, nullptr);
}

bool getMessage(WindowMessage* message) {
    for (;;) {
        if (quitPosted) {
            quitPosted = false;
            message->window = 0;
            message->message = WM_QUIT;
            message->replyFd = -1;
            return false;
        }
        std::vector<pollfd> fds;
        std::vector<WindowHandle> handles;
        {
            std::lock_guard<std::mutex> guard(tableLock);
            for (const auto& [handle, local] : localWindows) {
                if (!pthread_equal(local.thread, pthread_self())) continue;
                fds.push_back(pollfd{local.listenFd, POLLIN, 0});
                handles.push_back(handle);
            }
        }
        if (fds.empty()) return false;
        int ready = poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            int connection = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            timeval limit{2, 0};  // a sender that connects and never writes is dropped
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            std::vector<uint8_t> packet(sizeof(WireHeader) + kMaxPayload);
            ssize_t got;
            do {
                got = recv(connection, packet.data(), packet.size(), 0);
            } while (got < 0 && errno == EINTR);
            WireHeader header{};
            if (got < static_cast<ssize_t>(sizeof header)) {
                close(connection);
                continue;
            }
            std::memcpy(&header, packet.data(), sizeof header);
            if (header.magic != kWireMagic ||
                header.payloadLength != static_cast<size_t>(got) - sizeof header) {
                close(connection);
                continue;
            }
            message->window = handles[i];
            message->message = header.message;
            message->wParam = header.wParam;
            message->lParam = header.lParam;
            message->payload.assign(packet.begin() + sizeof header, packet.begin() + got);
            message->copyData = CopyData{header.copyDataWord, header.payloadLength, nullptr};
            if (header.expectsReply) {
                message->replyFd = connection;
            } else {
                message->replyFd = -1;
                close(connection);
            }
            return true;
        }
    }
}

int64_t dispatchMessage(WindowMessage* message) {
    WindowProc procedure = procedureOf(message->window, nullptr);
    int64_t result = 0;
    if (procedure) {
        int64_t lParam = message->lParam;
        if (message->message == WM_COPYDATA) {
            message->copyData.payload = message->payload.empty() ? nullptr : message->payload.data();
            lParam = reinterpret_cast<int64_t>(&message->copyData);
        }
        result = procedure(message->window, message->message, message->wParam, lParam);
    }
    if (message->replyFd >= 0) {
        send(message->replyFd, &result, sizeof result, MSG_NOSIGNAL);
        close(message->replyFd);
        message->replyFd = -1;
    }
    return result;
}

void postQuitMessage(int) { quitPosted = true; }

int64_t defWindowProc(WindowHandle window, uint32_t message, uint64_t, int64_t) {
    if (message == WM_CLOSE) destroyWindow(window);
    return 0;
}

bool registerSessionNotification(WindowHandle window) {
    std::lock_guard<std::mutex> guard(tableLock);
    return localWindows.count(window) != 0;
}

}  // namespace platform
