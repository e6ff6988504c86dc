#include "Tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Holder.h"
#include "Log.h"
#include "Text.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/osinfo.h"
#include "platform/process.h"
#include "platform/random.h"

namespace {

// Process-wide state of the tool module; each has this module as its only writer.
char gCopyPath[1024];
platform::NamedEvent gDebugModeEvent;
bool gDebugModeEventHeld = false;

char* textCopy(const std::string& text) {
    char* copy = duplicateText(text.c_str());
    if (!copy) REPORT_ALLOC();
    return copy;
}

}  // namespace

int runHiddenCommand(const char* command, bool throughShell) {
    if (!command) return 1;
    uint32_t pid = platform::spawnCommand(command, throughShell);
    if (!pid) return kCommandNotStarted;
    return platform::waitProcess(pid);
}

void hideNOWaitCommand(const char* command) {
    if (!command) {
        REPORT_NULL("inputCommand");
        return;
    }
    logNormal("hideNOWaitCommand: ", command);
    platform::spawnDetached(command, false);
}

bool isProcessRunning(const char* name) {
    if (!name) {
        REPORT_NULL("processName");
        return false;
    }
    std::vector<platform::ProcessEntry> processes;
    if (!platform::listProcesses(&processes)) {
        logError("", "EnumProcesses fail");
        return false;
    }
    for (const auto& process : processes) {
        if (platform::sameProgramName(process.name.c_str(), name, true)) return true;
    }
    return false;
}

platform::NamedMutex* userMutexLock(const char* name, int waitMs) {
    if (!name) {
        REPORT_NULL("inputMutexLock");
        return nullptr;
    }
    std::string user = platform::userName();
    if (user.size() > 512) user.resize(512);
    std::string fullName = user + "_" + name;
    auto* handle = static_cast<platform::NamedMutex*>(std::calloc(1, sizeof(platform::NamedMutex)));
    if (!handle) {
        REPORT_ALLOC();
        return nullptr;
    }
    if (!platform::mutexOpen(handle, fullName.c_str())) {
        REPORT_ALLOC();
        std::free(handle);
        return nullptr;
    }
    if (platform::mutexWait(handle, waitMs) == platform::WaitResult::Acquired) return handle;
    platform::mutexClose(handle);
    std::free(handle);
    return nullptr;
}

void userMutexUnlock(platform::NamedMutex* handle) {
    if (!handle) return;
    platform::mutexClose(handle);
    std::free(handle);
}

char* getUserTempPath() {
    std::string folder = platform::knownFolder(platform::KnownFolder::UserTemp);
    if (folder.empty()) {
        std::printf("[ERROR] %s extract user temp folder fail at line %d in %s\n", "getUserTempPath", __LINE__,
                    __FILE__);
        return textCopy("");
    }
    if (folder.back() != '/') folder += '/';
    return textCopy(folder);
}

char* getCopyPath(const char* name) {
    std::string path = platform::knownFolder(platform::KnownFolder::CommonAppData);
    if (path.empty()) {
        logError("Get copy path: ", "Fail");
        return textCopy("");
    }
    if (name) {
        if (path.back() != '/') path += '/';
        path += name;
    }
    if (path.size() < sizeof gCopyPath) {
        std::memcpy(gCopyPath, path.c_str(), path.size() + 1);
    } else {
        // A cut path would name another folder; keep none rather than a wrong one.
        gCopyPath[0] = '\0';
    }
    return textCopy(path);
}

const char* copyPath() { return gCopyPath; }

char* moduleDirectory() {
    std::string self = platform::executablePath();
    size_t slash = self.rfind('/');
    return textCopy(slash == std::string::npos ? std::string() : self.substr(0, slash));
}

bool fileExists(const char* path) {
    if (!path) {
        REPORT_NULL("inputFileName");
        return false;
    }
    // Regular files carry the archive attribute, folders do not; a path whose attributes
    // cannot be read for another reason than absence counts as present.
    switch (platform::pathKind(path)) {
    case platform::PathKind::File: return true;
    case platform::PathKind::Unreadable: return true;
    default: return false;
    }
}

char* readTextFile(const char* path) {
    if (!path) {
        logWarning("inputPath is null", "");
        return nullptr;
    }
    std::string content;
    if (!platform::readWholeFile(path, &content)) {
        logWarning("Read file pointer is null", "");
        return nullptr;
    }
    // Text mode: a line ends in "\n" whatever wrote the file, and the text ends at a NUL.
    std::string text;
    text.reserve(content.size());
    for (size_t i = 0; i < content.size() && content[i] != '\0'; ++i) {
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
        text += content[i];
    }
    if (text.empty()) return nullptr;
    return textCopy(text);
}

bool writeTextFile(const char* path, const char* text) {
    if (!path || !text) return false;
    return platform::replaceFileContent(path, text, std::strlen(text));
}

bool randomBytes(void* buffer, size_t length) {
    if (!buffer && length) return false;
    return platform::randomFill(buffer, length);
}

char* newSID() {
    static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    uint8_t bytes[8] = {};
    if (!randomBytes(bytes, sizeof bytes)) std::memset(bytes, 0, sizeof bytes);
    char id[8 + 4 + 1];
    for (size_t i = 0; i < sizeof bytes; ++i) id[i] = kAlphabet[bytes[i] % 36];
    std::memcpy(id + 8, "_SID", 5);
    secureZero(bytes, sizeof bytes);
    return textCopy(id);
}

uint32_t decideWindowsOS(const WindowsVersion& v) {
    constexpr uint8_t kWorkstation = 1;
    constexpr uint16_t kHomeServerSuite = 0x8000;
    constexpr uint16_t kIntel = 0, kItanium = 6, kAmd64 = 9;
    const bool workstation = v.productType == kWorkstation;
    uint32_t os = 0;
    if (v.major == 5 && v.minor == 1) {
        os = 0x1;
    } else if (v.major == 5 && v.minor == 2) {
        if (workstation && v.architecture == kAmd64) os = 0x2;
        else if (v.serverR2Metric == 0) os = 0x4;
        else if (v.suiteMask & kHomeServerSuite) os = 0x8;
        else os = 0x10;
    } else if (v.major == 6 && v.minor == 0) {
        os = workstation ? 0x20 : 0x40;
    } else if (v.major == 6 && v.minor == 1) {
        os = workstation ? 0x100 : 0x80;
    } else if (v.major == 6 && v.minor == 2) {
        os = workstation ? 0x400 : 0x200;
    } else if (v.major == 6 && v.minor == 3) {
        os = workstation ? 0x1000 : 0x800;
    } else if (v.major == 10 && v.minor == 0) {
        os = workstation ? (v.build >= 22000 ? 0x8000 : 0x4000) : 0x2000;
    }
    if (!os) return 0;
    if (v.architecture == kIntel) os |= kOs32Bit;
    else if (v.architecture == kAmd64 || v.architecture == kItanium) os |= kOs64Bit;
    return os;
}

uint32_t detectOS() {
    platform::OsVersionInfo info{};
    if (!platform::readOsVersion(&info) || !info.valid) return 0;
    if (info.linux) return kOsLinux | (info.wide ? kOs64Bit : kOs32Bit);
    WindowsVersion v{info.major, info.minor, info.build, info.productType,
                     info.suiteMask, info.serverR2Metric, info.architecture};
    return decideWindowsOS(v);
}

const char* osName(uint32_t flags) {
    static const char* const kNames[] = {
        "WindowsXP",           "WindowsXPx64",        "WindowsServer2003", "WindowsHomeServer",
        "WindowsServer2003R2", "WindowsVista",        "WindowsServer2008", "WindowsServer2008R2",
        "Windows7",            "WindowsServer2012",   "Windows8",          "WindowsServer2012R2",
        "Windows8.1",          "WindowsServer2016",   "Windows10",         "Windows11",
        "Linux",
    };
    for (size_t bit = 0; bit < sizeof kNames / sizeof kNames[0]; ++bit) {
        if (flags & (1u << bit)) return kNames[bit];
    }
    return "UnknowOS";
}

bool openDebugModeEvent() {
    if (gDebugModeEventHeld) return false;
    gDebugModeEventHeld = platform::eventOpen(&gDebugModeEvent, "TarvikKestrovan_DEBUG_MODE");
    return gDebugModeEventHeld;
}

platform::NamedEvent* debugModeEvent() { return gDebugModeEventHeld ? &gDebugModeEvent : nullptr; }

void closeDebugModeEvent() {
    if (!gDebugModeEventHeld) return;
    platform::eventClose(&gDebugModeEvent);
    gDebugModeEventHeld = false;
}

char* currentTimeText() {
    platform::LocalTime now{};
    if (!platform::localTime(&now)) return textCopy("Unknow time");
    const int fields[5] = {now.month, now.day, now.hour, now.minute, now.second};
    TextHolder padded[5];
    for (int i = 0; i < 5; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", fields[i]);
        padded[i].reset(padLeft(number, 2, '0'));
        if (!padded[i]) return nullptr;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d-%s-%s %s-%s-%s", now.year, padded[0].get(), padded[1].get(),
                  padded[2].get(), padded[3].get(), padded[4].get());
    return textCopy(text);
}

namespace {

// The version text as compared: at most 511 characters, blanks removed, "." read as ",".
std::string normaliseVersion(const char* version) {
    std::string out;
    for (size_t i = 0; version[i] && i < 511; ++i) {
        char c = version[i];
        if (c == ' ') continue;
        out += c == '.' ? ',' : c;
    }
    return out;
}

bool isVersionNumber(const char* component, int32_t* value) {
    *value = toInt(component, true);
    return !lastConversionFailed();
}

void logStringCompare(const char* a, const char* b) {
    logWarning("Version check: ", "String compare mode");
    logWarning(" - Version A: ", a);
    logWarning(" - Version B: ", b);
}

}  // namespace

int32_t compareVersions(const char* versionA, const char* versionB) {
    if (!versionA) REPORT_NULL("inputVersionA");
    if (!versionB) REPORT_NULL("inputVersionB");
    if (!versionA || !versionB) return kCodeNoConnection;
    TextListHolder a(splitText(normaliseVersion(versionA).c_str(), ","));
    TextListHolder b(splitText(normaliseVersion(versionB).c_str(), ","));
    if (!a || !b) return kCodeNoConnection;
    size_t count = textListLength(a.get());
    if (count != textListLength(b.get())) return 3;
    if (count == 0) return 0;
    for (size_t i = 0; i < count; ++i) {
        if (!a.get()[i][0] || !b.get()[i][0]) return kCodeMissingKey;
    }
    for (size_t i = 0; i < count; ++i) {
        const char* ca = a.get()[i];
        const char* cb = b.get()[i];
        int32_t na = 0, nb = 0;
        if (!isVersionNumber(ca, &na)) {
            logStringCompare(ca, cb);
            if (std::strcmp(ca, cb) != 0) return 2;
            continue;
        }
        if (!isVersionNumber(cb, &nb)) {
            if (std::strcmp(ca, cb) != 0) {
                logStringCompare(ca, cb);
                return 2;
            }
            continue;
        }
        if (na < nb) return -1;
        if (na > nb) return 1;
    }
    return 0;
}
