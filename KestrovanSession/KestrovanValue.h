#pragma once
// The value store: pages leave a text under a channel with a domain list and a
// lifetime, and fetch it from an allowed origin while it lives. Values are held only
// encrypted, under the process's value key, and are gone when the service stops.
#include <cstddef>
#include <cstdint>

constexpr int kValueEntryCount = 16;
constexpr int32_t kCodeValueStoreFull = 61019;

struct KestrovanValueEntry {
    char* channel;        // null marks a free entry; compared without regard to case
    char* domainList;
    int32_t timeout;      // minutes; 0: the value does not expire
    int64_t expiry;       // seconds since 1970; 0 when timeout is 0
    uint8_t* protectedValue;
    uint32_t protectedLength;
};

// Fills the value key and clears every entry (start-up).
void prepareKestrovanValueStore();
// Frees and zeroes one entry.
void clearKestrovanValueEntry(int index);
// 0, 61005 (missing argument or negative timeout) or 61019 (full).
int32_t setKestrovanValue(const char* channel, const char* domainList, int32_t timeout,
                          const char* value);
// The value (a secret: release with freeSecret), the empty text when not available,
// null when it cannot be revealed.
char* getKestrovanValue(const char* channel, const char* origin);

// Installs the store into the session layer's dispatch.
void installKestrovanValueStore();

// Read access for tests, and the clock they may replace (null restores it).
const KestrovanValueEntry* kestrovanValueEntry(int index);
void setKestrovanValueClock(int64_t (*now)());
