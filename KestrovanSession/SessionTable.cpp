// The session table: slots, creation order, eviction of the oldest, release, and the
// start-up preparation of the per-session folders.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KestrovanSession/SessionInternal.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "KestrovanUtil/Version.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace {

SessionTable table;
char pendingCopyFolder[kPathCapacity];
char pendingProgramFolder[kPathCapacity];
const ValueStoreHooks* storeHooks = nullptr;
const TopMostHooks* windowHooks = nullptr;

void storeFolder(char* target, const char* folder) {
    target[0] = '\0';
    if (!folder) return;
    size_t length = std::strlen(folder);
    // A cut path would name another folder; an empty one makes every later step fail visibly.
    if (length >= kPathCapacity) {
        logError("Folder path too long: ", folder);
        return;
    }
    std::memcpy(target, folder, length + 1);
}

void clearSlot(SessionSlot& slot) { std::memset(&slot, 0, sizeof slot); }

void writeVersionMarker() {
    char path[kPathCapacity];
    bool fits = table.copyFolder[0] &&
                std::snprintf(path, sizeof path, "%s/TarvikKestrovanMainVersion", table.copyFolder) <
                    static_cast<int>(sizeof path);
    if (fits && !fileExists(path)) platform::createEmptyFile(path);
    FILE* file = fits ? std::fopen(path, "wb") : nullptr;
    if (!file) {
        logWarning("Write Kestrovan version: ", "Fail");
        return;
    }
    static const char marker[] = "Kestrovan version=1.0.23.0510";
    bool written = std::fwrite(marker, 1, sizeof marker - 1, file) == sizeof marker - 1;
    if (std::fclose(file) != 0 || !written) logWarning("Write Kestrovan version: ", "Fail");
}

void prepareSessionFolders() {
    char path[kPathCapacity + 64];
    if (!table.copyFolder[0]) return;
    std::snprintf(path, sizeof path, "%s/Tempfile", table.copyFolder);
    // Copies left by an earlier run would make every copy step fail; start clean.
    platform::removeTree(path);
    platform::makeFolders(path);
    for (int n = 0; n < kSessionCount; ++n) {
        std::snprintf(path, sizeof path, "%s/Tempfile/Session_%d", table.copyFolder, n);
        if (!platform::makeFolders(path)) logWarning("Create session folder: ", path);
    }
}

}  // namespace

SessionTable& sessionTable() { return table; }

bool slotIsLive(int index) {
    if (index < 0 || index >= kSessionCount) return false;
    const char* id = table.slots[index].sessionId;
    return id && *id && table.sequence[index] != kFreeSequence;
}

bool equalsNoCase(const char* a, const char* b) {
    if (!a || !b) return false;
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

char* copyAtMost(const char* text, size_t max) {
    if (!text) return nullptr;
    size_t length = std::strlen(text);
    return substring(text, 0, length < max ? length : max);
}

void setValueStoreHooks(const ValueStoreHooks* hooks) { storeHooks = hooks; }
const ValueStoreHooks* valueStoreHooks() { return storeHooks; }
void setTopMostHooks(const TopMostHooks* hooks) { windowHooks = hooks; }
const TopMostHooks* topMostHooks() { return windowHooks; }

void setSessionFolders(const char* copyFolder, const char* programFolder) {
    storeFolder(pendingCopyFolder, copyFolder);
    storeFolder(pendingProgramFolder, programFolder);
}

void initSessionTable() {
    setLog("KestrovanSession");
    for (SessionSlot& slot : table.slots) clearSlot(slot);

    const char* copyFolder = pendingCopyFolder[0] ? pendingCopyFolder : copyPath();
    storeFolder(table.copyFolder, copyFolder);
    if (table.copyFolder[0]) platform::makeFolders(table.copyFolder);

    if (pendingProgramFolder[0]) {
        storeFolder(table.programFolder, pendingProgramFolder);
    } else {
        TextHolder programFolder(moduleDirectory());
        storeFolder(table.programFolder, programFolder.get());
    }

    if (storeHooks && storeHooks->prepare) storeHooks->prepare();
    writeVersionMarker();
    prepareSessionFolders();
}

void markSessionFree(int index) {
    if (index >= 0 && index < kSessionCount) table.sequence[index] = kFreeSequence;
}

void markAllSessionsFree() {
    for (int n = 0; n < kSessionCount; ++n) table.sequence[n] = kFreeSequence;
}

int findOldestSession() {
    int oldest = -1;
    for (int n = 0; n < kSessionCount; ++n) {
        if (table.sequence[n] == kFreeSequence) continue;
        if (oldest == -1 || table.sequence[n] < table.sequence[oldest]) oldest = n;
    }
    return oldest;
}

void releaseSession(int index) {
    if (index < 0 || index >= kSessionCount) return;
    SessionSlot& slot = table.slots[index];
    // A slot whose id could not be stored still holds its library; release that too.
    if (!slot.sessionId && !slot.module) return;

    slot.browserMode = 0;
    logNormal("Release Session id: ", slot.sessionId ? slot.sessionId : "");
    std::free(slot.sessionId);
    slot.sessionId = nullptr;
    logNormal("Release AdapterName: ", slot.adapterName ? slot.adapterName : "");
    std::free(slot.adapterName);
    slot.adapterName = nullptr;
    logNormal("Release Adapter Version: ", slot.adapterVersion ? slot.adapterVersion : "");
    std::free(slot.adapterVersion);
    slot.adapterVersion = nullptr;
    logNormal("Release Installer Version: ", slot.installerVersion ? slot.installerVersion : "");
    std::free(slot.installerVersion);
    slot.installerVersion = nullptr;

    unloadAdapter(index);
}

void dropSession(int index) {
    logNormalNumber("Release session index: ", index);
    releaseSession(index);
    markSessionFree(index);
}

void releaseAllSessions() {
    for (int index = findOldestSession(); index != -1; index = findOldestSession()) dropSession(index);
}

int allocateSessionSlot(const char* sessionId) {
    int index = -1;
    for (int n = 0; n < kSessionCount && index == -1; ++n) {
        const char* id = table.slots[n].sessionId;
        if (!id || !*id) index = n;
    }
    if (index == -1) {
        logWarning("Kestrovan slot is full, release the oldest one", "");
        index = findOldestSession();
        if (index == -1) {
            logWarning("Get the oldest SessionIndex fail", "");
            return -1;
        }
        dropSession(index);
    }
    table.sequence[index] = table.counter++;
    logNormalNumber("Session index: ", index);

    SessionSlot& slot = table.slots[index];
    slot.sessionId = duplicateText(sessionId);
    if (!slot.sessionId) REPORT_ALLOC();
    slot.initTime = platform::unixSeconds();
    logNormalNumber("Init time: ", static_cast<int32_t>(static_cast<uint32_t>(slot.initTime)));
    return index;
}

static KestrovanJsonMap* freshResponse(KestrovanJsonMap* response, int line) {
    logNormal("reset Kestrovan Json at file: ", "KestrovanSession");
    logNormalNumber("reset Kestrovan Json at line: ", line);
    FreeKestrovanJsonMap(response);
    KestrovanJsonMap* fresh = NewKestrovanJsonMap();
    if (!fresh) REPORT_ALLOC();
    return fresh;
}

KestrovanJsonMap* resetResponse(KestrovanJsonMap* response, int32_t code, int line) {
    KestrovanJsonMap* fresh = freshResponse(response, line);
    if (fresh) SetKestrovanJsonResult(fresh, code);
    return fresh;
}

KestrovanJsonMap* resetResponseText(KestrovanJsonMap* response, const char* result, int line) {
    KestrovanJsonMap* fresh = freshResponse(response, line);
    if (fresh) SetKestrovanJsonValue(fresh, "result", result);
    return fresh;
}
