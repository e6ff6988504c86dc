#pragma once
// What the parts of the session layer share: the slot record, the table, and the
// steps each part offers the others. Not for use outside KestrovanSession/.
#include <cstddef>
#include <cstdint>

#include "KestrovanSession/Session.h"

struct KestrovanJsonMap;

// The adapter interface: both exports return the adapter's own answer text, which
// stays valid only until the next call into that adapter.
extern "C" {
typedef const char* (*CallMethodEntry)(const char* jsonText);
typedef const char* (*CallJsonMapMethodEntry)(KestrovanJsonMap* map, const char* functionName);
}

constexpr size_t kSessionIdMax = 63;
constexpr size_t kFunctionNameMax = 511;
constexpr size_t kVersionMax = 63;
// Paths are UTF-8 here; room for 260 characters of up to four bytes each.
constexpr size_t kPathCapacity = 1040;

struct SessionSlot {
    char* sessionId;         // null or empty: the slot is free
    char* adapterName;       // the ComName that opened the session
    char* adapterVersion;    // answer of Kestrovan_GetVersion
    char* installerVersion;  // may stay null
    char adapterPath[kPathCapacity];  // the library file actually loaded
    void* module;
    CallMethodEntry callMethod;
    CallJsonMapMethodEntry callJsonMapMethod;
    int32_t browserMode;
    int64_t initTime;
};

struct SessionTable {
    SessionSlot slots[kSessionCount];
    uint64_t sequence[kSessionCount];  // creation order; kFreeSequence marks a free slot
    uint64_t counter;
    char copyFolder[kPathCapacity];
    char programFolder[kPathCapacity];
};

SessionTable& sessionTable();
bool slotIsLive(int index);

// ASCII case-insensitive equality; null equals nothing.
bool equalsNoCase(const char* a, const char* b);
// Heap copy of text cut to at most max bytes; null for null.
char* copyAtMost(const char* text, size_t max);

// First free slot, else the oldest one released; then sequence number, id and init
// time. -1 when no slot can be had.
int allocateSessionSlot(const char* sessionId);
// Releases the slot and marks it free, logging the index first.
void dropSession(int index);
// resetResponse with a text result (the adapter's refusal).
KestrovanJsonMap* resetResponseText(KestrovanJsonMap* response, const char* result, int line);

// Opens a new session for the request. On success *index is the live slot and the
// response carries the version keys; on failure *index is -1 and the returned map is
// the whole reply (null only when no map could be had).
KestrovanJsonMap* openSession(KestrovanJsonMap* request, const char* origin, const char* sessionId,
                              KestrovanJsonMap* response, int* index);
// Sends the release notice, unloads the library and deletes the session's copy.
void unloadAdapter(int index);
// Path of the session's private copy of the named library; false when it does not fit.
bool sessionCopyPath(int index, const char* comName, char* out, size_t size);

// One reserved call ("Kestrovan_Unlock", "Kestrovan_GetVersion", "Kestrovan_Release").
// Returns a heap copy of the answer (null when the adapter answered nothing);
// *bound tells whether the adapter had an entry point to take it.
char* callReservedFunction(int index, const char* functionName, const char* functionIndex,
                           const char* url, bool* bound);

// The function dispatch that follows the binding of a request to a session.
KestrovanJsonMap* dispatchFunction(KestrovanJsonMap* request, const char* origin, uint32_t processId,
                                   int index, const char* sessionId, const char* functionName,
                                   KestrovanJsonMap* response);

const ValueStoreHooks* valueStoreHooks();
const TopMostHooks* topMostHooks();

// The library loader of the platform, behind one small seam.
void* loadAdapterModule(const char* path, int* errorCode);
void* findAdapterEntry(void* module, const char* name);
bool freeAdapterModule(void* module, int* errorCode);
