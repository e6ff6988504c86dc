// The adapter loader: which library a page may use, the per-session copy, loading and
// binding it, the unlock and version handshake, and unloading on release.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KestrovanSession/SessionInternal.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "KestrovanUtil/Version.h"
#include "platform/folders.h"
#include "platform/fs.h"

namespace {

constexpr char kTablePathId[] = "64A6A7C27F9D4A949161809EFD915BC8";
constexpr char kTableLibDir[] = "Tarvik";
constexpr char kTableComName[] = "PelHCAATLAdapter";

constexpr size_t kNameBuffer = 64;
constexpr size_t kLongNameBuffer = 512;

// Characters that could leave the adapter folder or reach a shell are taken out.
void sanitizeName(char* buffer, size_t size) {
    static const char refused[] = "<>:\"/\\|?*;&$";
    size_t out = 0;
    for (size_t in = 0; in < size && buffer[in]; ++in) {
        if (!std::strchr(refused, buffer[in])) buffer[out++] = buffer[in];
    }
    std::memset(buffer + out, 0, size - out);
    if (std::strcmp(buffer, "..") == 0) std::memset(buffer, 0, size);
}

// Reads a request value into a fixed buffer, cut to size - 1 bytes; empty when missing.
void readInto(KestrovanJsonMap* request, const char* key, char* buffer, size_t size) {
    std::memset(buffer, 0, size);
    TextHolder value(GetKestrovanJsonValue(request, key));
    if (!value) return;
    size_t length = std::strlen(value.get());
    if (length >= size) length = size - 1;
    std::memcpy(buffer, value.get(), length);
}

void logPathCompare(bool matched) {
    void (*line)(const char*, const char*) = matched ? logNormal : logWarning;
    line("Path table compare: ", matched ? "Success" : "Fail");
    line("Lib: ", kTableLibDir);
    line("Component: ", kTableComName);
}

// The path table check; false when the page may not load the named library.
bool selectPath(const char* pathId, char* libDir, char* comName) {
    if (pathId[0]) {
        logNormal("Path id mode: ", "Active");
        if (equalsNoCase(pathId, kTablePathId)) {
            std::snprintf(libDir, kNameBuffer, "%s", kTableLibDir);
            std::snprintf(comName, kNameBuffer, "%s", kTableComName);
            return true;
        }
        // An id outside the table grants nothing: the names must then be the table's own.
        logWarning("Path id: ", "Unknown");
    }
    logNormal("Path id check location mode: ", "Active");
    bool matched = equalsNoCase(libDir, kTableLibDir) && equalsNoCase(comName, kTableComName);
    logPathCompare(matched);
    if (!matched) {
        logWarning("Out of path table connection: ", "Reject");
        return false;
    }
    // The names matched without regard to case; file names here do not, so the
    // library is reached under the table's own spelling.
    std::snprintf(libDir, kNameBuffer, "%s", kTableLibDir);
    std::snprintf(comName, kNameBuffer, "%s", kTableComName);
    return true;
}

// Copies the installed library into the session folder; an existing copy is not replaced.
bool copyAdapter(const char* from, const char* to) {
    if (platform::pathKind(to) != platform::PathKind::Missing) return false;
    return platform::copyFile(from, to);
}

// Loads the copy when it could be made and loads, else the installed file. Fills the
// slot's path and module; false when neither loads.
bool loadAdapter(SessionSlot& slot, const char* original, const char* copy) {
    int error = 0;
    if (copyAdapter(original, copy)) {
        logNormal("Copy adapter state: ", "Success");
        slot.module = loadAdapterModule(copy, &error);
        if (slot.module) {
            logNormal("Copied adapter: ", "Active");
            std::snprintf(slot.adapterPath, sizeof slot.adapterPath, "%s", copy);
            return true;
        }
        logWarning("Copied adapter: ", "Inactive");
    } else {
        logWarning("Copy adapter state: ", "Fail");
    }
    slot.module = loadAdapterModule(original, &error);
    if (slot.module) {
        logNormal("Origin adapter: ", "Active");
        std::snprintf(slot.adapterPath, sizeof slot.adapterPath, "%s", original);
        return true;
    }
    logWarning("Origin adapter: ", "Inactive");
    if (fileExists(original)) logNormal("Origin adpater: ", "Exist");
    else logError("Origin adpater: ", "Not Exist");
    if (fileExists(copy)) logNormal("Copied adpater: ", "Exist");
    else logError("Copied adpater: ", "Not Exist");
    logErrorNumber("Adapter load error reason: ", error);
    return false;
}

bool bindAdapter(SessionSlot& slot) {
    slot.callMethod = reinterpret_cast<CallMethodEntry>(findAdapterEntry(slot.module, "callMethod"));
    slot.callJsonMapMethod =
        reinterpret_cast<CallJsonMapMethodEntry>(findAdapterEntry(slot.module, "callJsonMapMethod"));
    logNormal("Json string callMethod: ", slot.callMethod ? "Active" : "Inactive");
    logNormal("Json map callMethod: ", slot.callJsonMapMethod ? "Active" : "Inactive");
    if (slot.callJsonMapMethod) {
        logNormal("Json map init: ", "Active");
    } else if (slot.callMethod) {
        logNormal("Json string init: ", "Active");
    } else {
        logWarning("All callMethod load fail", "");
        return false;
    }
    return true;
}

// A version check passes only when the page's minimum is equal to or lower than ours.
bool versionSatisfied(const char* minimum, const char* actual) {
    int32_t order = compareVersions(minimum, actual);
    return order == -1 || order == 0;
}

// The installer's version file in the copy folder: "<name without .exe>Version.txt".
char* readInstallerVersion(const char* installerName) {
    TextHolder name(replaceAll(installerName, ".exe", ""));
    if (!name) return nullptr;
    char path[kPathCapacity];
    if (std::snprintf(path, sizeof path, "%s/%sVersion.txt", sessionTable().copyFolder, name.get()) >=
        static_cast<int>(sizeof path)) {
        path[0] = '\0';
    }
    logNormal("InstallerVersionFile: ", path);
    TextHolder text(path[0] ? readTextFile(path) : nullptr);
    return copyAtMost(text ? text.get() : "", kVersionMax);
}

KestrovanJsonMap* failSession(int index, KestrovanJsonMap* response, int32_t code, int line) {
    dropSession(index);
    return resetResponse(response, code, line);
}

}  // namespace

bool sessionCopyPath(int index, const char* comName, char* out, size_t size) {
    int written = std::snprintf(out, size, "%s/Tempfile/Session_%d/%s%s", sessionTable().copyFolder, index,
                                comName, platform::kLibrarySuffix);
    return written >= 0 && static_cast<size_t>(written) < size;
}

KestrovanJsonMap* openSession(KestrovanJsonMap* request, const char* origin, const char* sessionId,
                              KestrovanJsonMap* response, int* index) {
    *index = -1;
    char pathId[kLongNameBuffer];
    char libDir[kNameBuffer];
    char comName[kNameBuffer];
    readInto(request, "PathID", pathId, sizeof pathId);
    readInto(request, "LibDir", libDir, sizeof libDir);
    readInto(request, "ComName", comName, sizeof comName);
    sanitizeName(libDir, sizeof libDir);
    sanitizeName(comName, sizeof comName);
    logNormal("Adapter folder: ", libDir);
    logNormal("Adapter name: ", comName);

    if (!selectPath(pathId, libDir, comName)) return resetResponse(response, kCodeAdapterPathRefused, __LINE__);
    if (!comName[0] || !libDir[0]) {
        logNormal("No path information connection: ", "Reject");
        return resetResponse(response, kCodeAdapterPathRefused, __LINE__);
    }

    int slotIndex = allocateSessionSlot(sessionId);
    if (slotIndex == -1) return response;
    SessionTable& table = sessionTable();
    SessionSlot& slot = table.slots[slotIndex];

    char original[kPathCapacity];
    char copy[kPathCapacity];
    bool fits = std::snprintf(original, sizeof original, "%s/%s/%s%s", table.programFolder, libDir, comName,
                              platform::kLibrarySuffix) < static_cast<int>(sizeof original);
    fits = sessionCopyPath(slotIndex, comName, copy, sizeof copy) && fits;
    if (!fits) {
        logError("Adapter path too long: ", comName);
        return failSession(slotIndex, response, kCodeAdapterNotLoaded, __LINE__);
    }
    logNormal("Original adapter: ", original);
    logNormal("Copy adapter: ", copy);

    if (!loadAdapter(slot, original, copy)) return failSession(slotIndex, response, kCodeAdapterNotLoaded, __LINE__);
    slot.adapterName = duplicateText(comName);
    if (!slot.adapterName) REPORT_ALLOC();

    if (!bindAdapter(slot)) return failSession(slotIndex, response, kCodeNoEntryPoint, __LINE__);

    bool bound = false;
    SecretHolder unlock(callReservedFunction(slotIndex, "Kestrovan_Unlock", "-2", origin, &bound));
    if (!bound) return failSession(slotIndex, response, kCodeNoEntryPoint, __LINE__);
    if (unlock && equalsNoCase(unlock.get(), "0")) {
        logNormal("Unlock: ", "Success");
    } else {
        logWarning("Unlock result: ", unlock ? unlock.get() : "");
        KestrovanJsonMap* reply = resetResponseText(response, unlock ? unlock.get() : "", __LINE__);
        dropSession(slotIndex);
        return reply;
    }

    TextHolder answer(callReservedFunction(slotIndex, "Kestrovan_GetVersion", "-1", nullptr, &bound));
    TextHolder version(copyAtMost(answer ? answer.get() : "", kVersionMax));
    if (!version || !version.get()[0]) {
        logWarning("Init adapter: ", "Fail");
        dropSession(slotIndex);
        return response;
    }
    slot.adapterVersion = duplicateText(version.get());
    if (!slot.adapterVersion) REPORT_ALLOC();

    int32_t reported = toInt(version.get());
    if (!lastConversionFailed() && reported >= 61000 && reported <= 61999) {
        logWarningNumber("Parse component version error: ", reported);
        return failSession(slotIndex, response, reported, __LINE__);
    }
    logNormal("Extract component version: ", "Success");

    char installerName[kLongNameBuffer];
    char minServerVersion[kNameBuffer];
    char minLibVersion[kNameBuffer];
    readInto(request, "InstallerName", installerName, sizeof installerName);
    sanitizeName(installerName, sizeof installerName);
    TextHolder minServer(GetKestrovanJsonValue(request, "minServerVersion"));
    if (minServer) std::snprintf(minServerVersion, sizeof minServerVersion, "%s", minServer.get());
    readInto(request, "minLibVersion", minLibVersion, sizeof minLibVersion);
    if (!minLibVersion[0]) std::snprintf(minLibVersion, sizeof minLibVersion, "0.0.0.0");

    // A page that names no minimum service version is refused: it predates the check.
    const char* pageServer = minServer ? minServerVersion : nullptr;
    SetKestrovanJsonValue(response, "ServerVersion", kServerVersion);
    SetKestrovanJsonValue(response, "LibVersion", version.get());
    logWarning("Mini server version: ", pageServer ? pageServer : "");
    logWarning("Real server version: ", kServerVersion);
    if (!versionSatisfied(pageServer, kServerVersion)) {
        logWarning("Verify server version: ", "Fail");
        return failSession(slotIndex, response, kCodeNeedNewerServer, __LINE__);
    }
    logNormal("Verify server version: ", "Pass");

    logWarning("Mini adapter version: ", minLibVersion);
    logWarning("Real adapter version: ", version.get());
    if (!versionSatisfied(minLibVersion, version.get())) {
        logWarning("Verify adapter version: ", "Fail");
        return failSession(slotIndex, response, kCodeNeedNewerAdapter, __LINE__);
    }
    logNormal("Verify adapter version: ", "Pass");

    if (installerName[0]) {
        logNormal("InstallerName: ", installerName);
        TextHolder installerVersion(readInstallerVersion(installerName));
        logNormal("InstallerVersion: ", installerVersion ? installerVersion.get() : "");
        SetKestrovanJsonValue(response, "InstallerVersion", installerVersion ? installerVersion.get() : "");
        slot.installerVersion = installerVersion.release();
        if (!slot.installerVersion) REPORT_ALLOC();
    }

    *index = slotIndex;
    return response;
}

void unloadAdapter(int index) {
    SessionSlot& slot = sessionTable().slots[index];
    if (slot.callJsonMapMethod) {
        bool bound = false;
        // The answer of the release notice means nothing to us; only its delivery matters.
        std::free(callReservedFunction(index, "Kestrovan_Release", "-3", nullptr, &bound));
    }
    slot.callMethod = nullptr;
    slot.callJsonMapMethod = nullptr;
    slot.initTime = 0;

    bool released = true;
    if (!slot.module) {
        logWarning("FreeLibrary: ", "NULL");
    } else {
        int error = 0;
        released = freeAdapterModule(slot.module, &error);
        if (!released) logWarningNumber("Free library error code: ", error);
        slot.module = nullptr;
    }
    if (released) logNormal("Release adapter state: ", "Success");
    else logWarning("Release adapter state: ", "Fail");

    char copy[kPathCapacity];
    const char* name = slot.adapterPath[0] ? std::strrchr(slot.adapterPath, '/') : nullptr;
    if (name) {
        // The copy of this session is named after the library file it copies.
        std::string base(name + 1);
        size_t suffix = base.rfind(platform::kLibrarySuffix);
        if (suffix != std::string::npos) base.erase(suffix);
        if (sessionCopyPath(index, base.c_str(), copy, sizeof copy) && std::strcmp(copy, slot.adapterPath) == 0) {
            if (platform::removeFile(copy)) logNormal("Delete adapter state: ", "Success");
            else logWarning("Delete adapter state: ", "Fail");
        }
    }
    slot.adapterPath[0] = '\0';
}
