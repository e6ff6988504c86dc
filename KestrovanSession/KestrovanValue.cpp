#include "KestrovanValue.h"

#include <cstdlib>
#include <cstring>

#include "AES.h"
#include "Holder.h"
#include "Log.h"
#include "Session.h"
#include "Text.h"
#include "Tool.h"
#include "checkURL.h"
#include "platform/clock.h"

namespace {

KestrovanValueEntry entries[kValueEntryCount];
int64_t (*clockNow)() = platform::unixSeconds;

// Expiry of a value read or stored now. Widened before multiplying: a long lifetime
// must not wrap into the past.
int64_t expiryFrom(int64_t now, int32_t timeout) {
    return now + static_cast<int64_t>(timeout) * 60;
}

bool sameChannel(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

int findChannel(const char* channel) {
    for (int i = 0; i < kValueEntryCount; ++i) {
        if (entries[i].channel && sameChannel(entries[i].channel, channel)) return i;
    }
    return -1;
}

void reportStoreNull(const char* name) { reportNullParameter(name, "KestrovanValue", __LINE__); }

}  // namespace

void clearKestrovanValueEntry(int index) {
    if (index < 0 || index >= kValueEntryCount) return;
    KestrovanValueEntry& entry = entries[index];
    std::free(entry.channel);
    std::free(entry.domainList);
    if (entry.protectedValue) secureZero(entry.protectedValue, entry.protectedLength);
    std::free(entry.protectedValue);
    entry = KestrovanValueEntry{};
}

void prepareKestrovanValueStore() {
    initKestrovanValueKey();
    for (int i = 0; i < kValueEntryCount; ++i) clearKestrovanValueEntry(i);
}

int32_t setKestrovanValue(const char* channel, const char* domainList, int32_t timeout,
                          const char* value) {
    if (!channel) {
        reportStoreNull("channel");
        return kCodeMissingKey;
    }
    if (!domainList) {
        reportStoreNull("domain_list");
        return kCodeMissingKey;
    }
    if (!value) {
        reportStoreNull("value");
        return kCodeMissingKey;
    }
    if (timeout < 0) return kCodeMissingKey;

    int index = findChannel(channel);
    if (index < 0) {
        for (int i = 0; i < kValueEntryCount && index < 0; ++i) {
            if (!entries[i].channel) index = i;
        }
    }
    if (index < 0) {
        // Full: make room from expired entries; those without expiry count as expired.
        const int64_t now = clockNow();
        for (int i = 0; i < kValueEntryCount; ++i) {
            if (entries[i].expiry < now) {
                clearKestrovanValueEntry(i);
                index = i;
            }
        }
        if (index < 0) {
            logWarning("KestrovanValue: ", "Full");
            return kCodeValueStoreFull;
        }
    }

    KestrovanValueEntry& entry = entries[index];
    if (!entry.channel) {
        entry.channel = duplicateText(channel);
        if (!entry.channel) {
            REPORT_ALLOC();
            return kCodeMissingKey;
        }
    }
    char* domains = duplicateText(domainList);
    if (!domains) {
        REPORT_ALLOC();
        clearKestrovanValueEntry(index);
        return kCodeMissingKey;
    }
    std::free(entry.domainList);
    entry.domainList = domains;
    entry.timeout = timeout;
    entry.expiry = timeout != 0 ? expiryFrom(clockNow(), timeout) : 0;

    if (entry.protectedValue) secureZero(entry.protectedValue, entry.protectedLength);
    std::free(entry.protectedValue);
    entry.protectedValue = nullptr;
    entry.protectedLength = 0;
    size_t length = 0;
    entry.protectedValue = encryptKestrovanValue(value, &length);
    if (!entry.protectedValue) {
        REPORT_ALLOC();
    } else {
        entry.protectedLength = static_cast<uint32_t>(length);
    }
    return 0;
}

char* getKestrovanValue(const char* channel, const char* origin) {
    char* answer = duplicateText("");
    if (!answer) return nullptr;
    if (!channel) {
        reportStoreNull("channel");
        return answer;
    }
    if (!origin) {
        reportStoreNull("domain");
        return answer;
    }
    const int index = findChannel(channel);
    if (index < 0) {
        logWarning("KestrovanValue no current channel", channel);
        return answer;
    }
    KestrovanValueEntry& entry = entries[index];

    setUnlockURL(entry.domainList);
    unlock(origin);
    const bool allowed = unlockResult();
    clearUnlockURL();
    if (!allowed) {
        logWarning("KestrovanValue url check fail", origin);
        return answer;
    }

    if (entry.expiry != 0) {
        const int64_t now = clockNow();
        logNormalNumber("KestrovanValue current_time: ", static_cast<int32_t>(now));
        if (now > entry.expiry) {
            logWarning("KestrovanValue: ", "Timeout");
            logWarningNumber("KestrovanValue expired_time: ", static_cast<int32_t>(entry.expiry));
            return answer;
        }
        entry.expiry = expiryFrom(now, entry.timeout);
        logNormalNumber("KestrovanValue update expired_time: ", static_cast<int32_t>(entry.expiry));
    } else {
        logNormal("KestrovanValue: ", "No expired time");
    }

    char* plain = entry.protectedValue
                      ? decryptKestrovanValue(entry.protectedValue, entry.protectedLength,
                                              kestrovanValueKey(), kestrovanValueIV())
                      : nullptr;
    std::free(answer);
    if (!plain) {
        REPORT_ALLOC();
        return nullptr;
    }
    return plain;
}

namespace {

void hookPrepare() { prepareKestrovanValueStore(); }
int32_t hookSet(const char* channel, const char* domainList, int32_t timeout, const char* value) {
    return setKestrovanValue(channel, domainList, timeout, value);
}
char* hookGet(const char* channel, const char* origin) { return getKestrovanValue(channel, origin); }

const ValueStoreHooks storeHooks = {hookPrepare, hookSet, hookGet};

}  // namespace

void installKestrovanValueStore() { setValueStoreHooks(&storeHooks); }

const KestrovanValueEntry* kestrovanValueEntry(int index) {
    return index >= 0 && index < kValueEntryCount ? &entries[index] : nullptr;
}

void setKestrovanValueClock(int64_t (*now)()) { clockNow = now ? now : platform::unixSeconds; }
