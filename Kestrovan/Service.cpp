// Start-up, main loop and shutdown of the service.
#include "Service.h"

#include <microhttpd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "Credentials.h"
#include "Daemon.h"
#include "Gate.h"
#include "KestrovanSession/KestrovanValue.h"
#include "KestrovanSession/Session.h"
#include "KestrovanSession/TopMost.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/PelLog.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "KestrovanUtil/Version.h"
#include "PelWhiteBoxUtil.h"
#include "Seams.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/heapwipe.h"
#include "platform/nettable.h"
#include "platform/process.h"
#include "platform/signals.h"

#ifndef KESTROVAN_GIT_TIME
#define KESTROVAN_GIT_TIME ""
#endif

namespace {

constexpr const char* kProgramName = "TarvikKestrovan";
constexpr const char* kProgramFile = "TarvikKestrovan.exe";
constexpr const char* kPortList = "port=56452 56552 56652";
constexpr int kPortCount = 3;
constexpr const char* kBannerLine =
    "*************************************Kestrovan*********************************";
constexpr const char* kSeparatorLine =
    "===============================================================================";

std::atomic<bool> gStop{false};
std::string gCopyPath;  // owned by start-up; read by the final handler
uint32_t gProcessId = 0;
MHD_Daemon* gDaemons[kPortCount][2] = {};  // [port position][0 IPv4, 1 IPv6]
std::atomic<bool> gLogReady{false};
platform::NamedEvent gDebugEvent{};  // owned by the watcher once it runs

void directLine(const char* text) {
    if (isLogOn()) PelLogWrite(5, "%s", text);
}

int shutdownService() {
    for (int k = 0; k < kPortCount; ++k) {
        for (int family = 0; family < 2; ++family) {
            if (gDaemons[k][family] != nullptr) {
                MHD_stop_daemon(gDaemons[k][family]);
                gDaemons[k][family] = nullptr;
            }
        }
    }
    return 0;
}

bool isRestart(const char* commandLine) {
    if (commandLine == nullptr || commandLine[0] == '\0') return false;
    char head[65];
    std::snprintf(head, sizeof(head), "%s", commandLine);
    return std::strcmp(head, "0") != 0;
}

void logBuildStamps() {
    std::string compiled = std::string(buildDate()) + " " + buildTime();
    logNormal("Compile time: ", compiled.c_str());
    logNormal("Git time: ", KESTROVAN_GIT_TIME);
}

// Each pulse of the monitor's debug event flips the service's logging.
[[noreturn]] void DebugModeWatcher() {
    for (;;) {
        if (!platform::eventWait(&gDebugEvent, -1)) {
            platform::sleepMs(100);
            continue;
        }
        if (gLogReady.load()) {
            unsetLog();
            gLogReady.store(false);
        } else {
            gLogReady.store(setLog(kProgramName));
        }
        platform::sleepMs(100);
    }
}

void startDebugModeWatcher() {
    if (!platform::eventOpen(&gDebugEvent, "TarvikKestrovan_DEBUG_MODE")) {
        // The event's creator (the monitor) is not running: the system's "not found".
        logErrorNumber("Kestrovan debugStatusUpdateEvent init failed. ", 2);
        return;
    }
    try {
        std::thread(DebugModeWatcher).detach();
    } catch (...) {
        platform::eventClose(&gDebugEvent);
    }
}

}  // namespace

unsigned int daemonFlags(bool ipv6) {
    unsigned int flags = MHD_USE_ERROR_LOG | MHD_USE_TLS | MHD_USE_INTERNAL_POLLING_THREAD;
    return ipv6 ? flags | MHD_USE_IPv6 : flags;
}

const char* tlsPriorities() {
    static const std::string priorities = std::string("NORMAL:!VERS-TLS-ALL:!SHA1") + ":+VERS-TLS1.2" + ":+VERS-TLS1.3";
    return priorities.c_str();
}

void KestrovanFinal() {
    logNormal("[KestrovanFinal] ", "Start release all adapters");
    {
        // A request in its final call finishes first; later ones are refused.
        std::lock_guard<std::mutex> guard(requestLock());
        closeGate();
        releaseAllSessions();
    }
    // Adapter copies left in the copy folder itself, hidden ones included.
    if (!gCopyPath.empty()) {
        std::string pattern = std::string("*") + platform::kLibrarySuffix;
        platform::deleteMatching(gCopyPath.c_str(), pattern.c_str());
    }
    logNormal("[KestrovanFinal] ", "Release adapters success");
    logNormal("[KestrovanFinal] ", "Ready to suicide");
    gStop.store(true);
}

int KestrovanMain(const char* commandLine) {
    armCrashForensics();

    {
        TextHolder copy(getCopyPath(kProgramName));
        if (!copy || copy.get()[0] == '\0') {
            logError("Extract copy path: ", "Fail");
            return shutdownService();
        }
        gCopyPath = copy.get();
    }

    gLogReady.store(setLog(kProgramName));
    directLine(kBannerLine);
    logNormal("Execute setting: ", "Tarvik");
    logBuildStamps();

    if (isRestart(commandLine)) {
        directLine(kSeparatorLine);
        logWarning("Detected Kestrovan crash", "");
        directLine(kSeparatorLine);
    }

    uint32_t os = detectOS();
    if (os != 0) {
        char name[512];
        const char* osText = osName(os);
        std::snprintf(name, sizeof(name), "%s", osText != nullptr ? osText : "");
        std::string environment = std::string(name) + " " + ((os & kOs64Bit) != 0 ? "64 bit" : "32 bit");
        logNormal("Environment: ", environment.c_str());
    }

    gProcessId = platform::processId();
    setGateProcessId(gProcessId);
    // The termination signals run the same orderly stop as the IPC final instruction.
    platform::watchTerminationSignals(KestrovanFinal);

    TextHolder programFolder(moduleDirectory());
    if (!programFolder || programFolder.get()[0] == '\0') {
        logError("Extract execute path: ", "Fail");
        return shutdownService();
    }
    logNormal("CopyPath: ", gCopyPath.c_str());
    logNormal("Execute path: ", programFolder.get());

    int ports[kPortCount] = {};
    std::sscanf(kPortList, "port=%d %d %d", &ports[0], &ports[1], &ports[2]);
    std::string portText = std::to_string(ports[0]) + " " + std::to_string(ports[1]) + " " + std::to_string(ports[2]);
    logNormal("Support port: ", portText.c_str());

    startServiceChannel(kProgramFile, KestrovanFinal);

    {
        std::string base = kProgramFile;
        base.erase(base.size() - 4);
        TextHolder copy(getCopyPath(base.c_str()));
        if (copy && copy.get()[0] != '\0') gCopyPath = copy.get();
    }

    installKestrovanValueStore();
    installTopMostControl();
    setSessionFolders(gCopyPath.c_str(), programFolder.get());
    initSessionTable();
    markAllSessionsFree();
    logNormal("Kestrovan Version: ", kServerVersion);

    bool rsa = useRsaCredentials(os);
    TextHolder certificate(duplicateText(serverCertificate(rsa)));
    if (!certificate) {
        REPORT_ALLOC();
        return shutdownService();
    }
    char* key = LoadServerKey();
    if (key == nullptr) {
        REPORT_ALLOC();
        return shutdownService();
    }

    // The TLS stack parses the key into scratch blocks that it frees uncleared.
    platform::wipeFreedBlocks(true);
    int started = 0;
    for (int k = 0; k < kPortCount; ++k) {
        for (int family = 0; family < 2; ++family) {
            platform::SocketAddress address;
            platform::makeLoopbackAddress(&address, family == 1, static_cast<uint16_t>(ports[k]));
            gDaemons[k][family] =
                StartDaemonOnAddress(daemonFlags(family == 1), address.bytes, certificate.get(), key, tlsPriorities());
            if (gDaemons[k][family] != nullptr) ++started;
        }
    }

    // The daemons hold the key in their own form now; no readable copy stays here.
    char* keyBuffer = key;
    PelWhiteBoxResultFinal(&key);
    std::free(keyBuffer);
    certificate.reset();
    platform::wipeFreedBlocks(false);

    logNormal("", "HTTPS Mode");
    if (started == 0) {
        logWarning("TarvikKestrovan initialization: ", "Fail");
        return shutdownService();
    }
    logNormal("TarvikKestrovan initialization: ", "Success");

    startDebugModeWatcher();
    directLine(kSeparatorLine);

    while (!gStop.load()) platform::sleepMs(100);
    return shutdownService();
}
