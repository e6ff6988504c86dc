#pragma once
// The session table of the service: 32 slots, each holding one loaded copy of an
// adapter library, and the dispatcher that binds every accepted request to a slot.
// The table carries no lock: the request gate runs one dispatch at a time, and the
// final handler keeps releaseAllSessions from overlapping a dispatch.
#include <cstdint>

struct KestrovanJsonMap;

constexpr int kSessionCount = 32;
constexpr uint64_t kFreeSequence = ~0ull;

constexpr int32_t kCodeAdapterPathRefused = 61009;
constexpr int32_t kCodeNeedNewerServer = 61203;
constexpr int32_t kCodeNeedNewerAdapter = 61204;
constexpr int32_t kCodeAdapterNotLoaded = 61902;
constexpr int32_t kCodeNoEntryPoint = 61906;

// The copy folder and the program folder the table works with. Start-up may hand
// them over before initSessionTable; otherwise the process-wide copy path of the tool
// routines and the folder of the running program are taken.
void setSessionFolders(const char* copyFolder, const char* programFolder);

// Prepares the table once at start-up, before any listener starts: logging, the copy
// and program folders, the value store, the version marker, and fresh per-session
// folders (copies left by an earlier run are removed). Start-up then calls
// markAllSessionsFree().
void initSessionTable();
// Sets all 32 creation sequence numbers to the free mark.
void markAllSessionsFree();

// Binds the request to a session, opens it when new, and answers it. The request map
// stays the caller's; the returned map is new and the caller frees it with
// FreeKestrovanJsonMap. Null only when the request or origin is missing or no map
// can be allocated.
KestrovanJsonMap* dispatchSessionRequest(KestrovanJsonMap* request, const char* origin,
                                         uint32_t processId);

// Index of the live session created first, -1 when none is live.
int findOldestSession();
// Releases one slot (-1 or a free slot does nothing); the caller marks it free after.
void releaseSession(int index);
// Marks one slot's sequence number free.
void markSessionFree(int index);
// Releases every live session, oldest first (used by the final handler).
void releaseAllSessions();

// Frees the response built so far and returns a fresh map holding only "result" =
// code; null when the fresh map cannot be allocated. The line number names the
// failing step in the log.
KestrovanJsonMap* resetResponse(KestrovanJsonMap* response, int32_t code, int line);

// The value store joins the session layer through these hooks. Without them the
// store's start-up step is skipped and the store's function names reach the adapter
// like any other name.
struct ValueStoreHooks {
    // Fills the store's key and IV from the random generator and clears its entries.
    void (*prepare)();
    // Stores a value: 0 or the store's result code.
    int32_t (*set)(const char* channel, const char* domainList, int32_t timeout,
                   const char* value);
    // The value for the channel and origin (empty text when not available); null when
    // it cannot be revealed. The caller frees it with freeSecret.
    char* (*get)(const char* channel, const char* origin);
};
// Installs the store's hooks (null removes them); call before initSessionTable.
void setValueStoreHooks(const ValueStoreHooks* hooks);

// The top-most control of the component windows during a pass-through call joins the
// same way: start(processId, allWindows) before the adapter is called, stop() after.
struct TopMostHooks {
    void (*start)(uint32_t processId, bool allWindows);
    void (*stop)();
};
void setTopMostHooks(const TopMostHooks* hooks);
