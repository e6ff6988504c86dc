// Building, searching and changing the JSON map.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define JSMN_STATIC
#include <jsmn.h>

#include "Json.h"
#include "JsonInternal.h"
#include "Log.h"
#include "Text.h"

bool reportMissingJsonKey = false;

namespace {

int compareForSort(const void* a, const void* b) {
    return CompareKestrovanJsonKey(static_cast<const KestrovanJsonEntry*>(a),
                                   static_cast<const KestrovanJsonEntry*>(b));
}

void sortEntries(KestrovanJsonMap* map) {
    std::qsort(map->entries, static_cast<size_t>(jsonmap::usedSlots(map->count)), sizeof(KestrovanJsonEntry),
               compareForSort);
}

// Copy of the bytes [start, end) of text; "" for an empty range.
char* tokenText(const char* text, int start, int end) {
    size_t length = end > start ? static_cast<size_t>(end - start) : 0;
    char* copy = static_cast<char*>(allocZero(length + 1));
    if (copy && length) std::memcpy(copy, text + start, length);
    return copy;
}

// Values may be PINs or decrypted texts, so every slot is wiped as it goes.
void clearEntry(KestrovanJsonEntry* entry) {
    std::free(entry->key);
    freeSecret(entry->value);
    if (entry->binaryData) {
        secureZero(entry->binaryData, entry->binaryLength);
        std::free(entry->binaryData);
    }
    *entry = KestrovanJsonEntry{};
}

void reportMissing(const char* key) {
    if (!reportMissingJsonKey) return;
    // Companion-flag probes and the optional top-most keys are expected to be absent.
    if (std::strstr(key, "Kestrovan") || std::strstr(key, "topui")) return;
    logWarning("Json map key not found: ", key);
    lastErrorCode = kCodeMissingJsonKey;
}

char* copyFound(const KestrovanJsonEntry* entry, uint32_t* outLength) {
    if (entry->value) {
        char* copy = duplicateText(entry->value);
        if (!copy) REPORT_ALLOC();
        else if (outLength) *outLength = static_cast<uint32_t>(std::strlen(copy));
        return copy;
    }
    if (entry->binaryData) {
        // One extra zero byte, so a caller that reads the block as text stops inside it.
        char* copy = static_cast<char*>(allocZero(size_t{entry->binaryLength} + 1));
        if (!copy) return nullptr;
        std::memcpy(copy, entry->binaryData, entry->binaryLength);
        if (outLength) *outLength = entry->binaryLength;
        return copy;
    }
    return nullptr;
}

// Returns the slot holding key within [low, high], or -1.
int searchSlot(const KestrovanJsonMap* map, int low, int high, const KestrovanJsonEntry* probe) {
    int count = jsonmap::usedSlots(map->count);
    if (low < 0) low = 0;
    if (high >= count) high = count - 1;
    if (low > high) return -1;
    int mid = low + (high - low) / 2;
    if (jsonmap::equalsNoCase(map->entries[mid].key, probe->key)) return mid;
    if (low >= high) return -1;
    int order = CompareKestrovanJsonKey(&map->entries[mid], probe);
    if (order < 0) return mid + 1 < count ? searchSlot(map, mid + 1, high, probe) : -1;
    if (order > 0) return mid - 1 >= 0 ? searchSlot(map, low, mid - 1, probe) : -1;
    logWarning("", "BinarySearchKestrovanJsonMap Compare_Same!");
    return -1;
}

}  // namespace

void getKestrovanJsonIV(uint8_t iv[16]) {
    // Four fixed words, laid out most significant byte first: the ASCII text
    // "KestrovanJsonIV1", which page authors can type without a hex table.
    static const uint32_t words[4] = {0x4B657374u, 0x726F7661u, 0x6E4A736Fu, 0x6E495631u};
    for (int i = 0; i < 4; ++i) {
        iv[4 * i] = static_cast<uint8_t>(words[i] >> 24);
        iv[4 * i + 1] = static_cast<uint8_t>(words[i] >> 16);
        iv[4 * i + 2] = static_cast<uint8_t>(words[i] >> 8);
        iv[4 * i + 3] = static_cast<uint8_t>(words[i]);
    }
}

KestrovanJsonMap* NewKestrovanJsonMap() {
    auto* map = static_cast<KestrovanJsonMap*>(allocZero(sizeof(KestrovanJsonMap)));
    if (!map) REPORT_ALLOC();
    return map;
}

KestrovanJsonMap* ParseKestrovanJsonMap(const char* inputJsonStr) {
    if (!inputJsonStr) {
        REPORT_NULL("inputJsonStr");
        return nullptr;
    }
    jsmn_parser parser;
    jsmn_init(&parser);
    jsmntok_t tokens[kKestrovanJsonTokens];
    int r = jsmn_parse(&parser, inputJsonStr, std::strlen(inputJsonStr), tokens, kKestrovanJsonTokens);
    if (r < 2) {
        logError("", "jsmn parse error");
        logError("Error json: ", inputJsonStr);
        return nullptr;
    }
    KestrovanJsonMap* map = NewKestrovanJsonMap();
    if (!map) return nullptr;

    // Pairs are taken from the end; token 0, the enclosing object, is never used.
    for (int i = r - 2; i > 0 && map->count < kKestrovanJsonCapacity; i -= 2) {
        const jsmntok_t& keyToken = tokens[i];
        const jsmntok_t& valueToken = tokens[i + 1];
        if (keyToken.end <= keyToken.start) {
            // An empty key ends the build; what was taken so far is kept, still sorted.
            REPORT_ALLOC();
            sortEntries(map);
            return map;
        }
        KestrovanJsonEntry& entry = map->entries[map->count];
        entry.key = tokenText(inputJsonStr, keyToken.start, keyToken.end);
        if (!entry.key) {
            REPORT_ALLOC();
            continue;
        }
        if (valueToken.end > valueToken.start) {
            char* raw = tokenText(inputJsonStr, valueToken.start, valueToken.end);
            entry.value = raw ? unescapeJsonValue(raw) : nullptr;
            freeSecret(raw);
        } else {
            entry.value = duplicateText("");
        }
        if (!entry.value) {
            REPORT_ALLOC();
            entry.value = static_cast<char*>(allocZero(1));
        }
        map->count++;
    }
    sortEntries(map);
    map->rawText = duplicateText(inputJsonStr);
    if (!map->rawText) REPORT_ALLOC();
    return map;
}

void FreeKestrovanJsonMap(KestrovanJsonMap* map) {
    if (!map) return;
    int count = jsonmap::usedSlots(map->count);
    for (int i = 0; i < count; ++i) clearEntry(&map->entries[i]);
    map->count = 0;
    // The raw request may carry PINs and secrets too.
    freeSecret(map->rawText);
    std::free(map);
}

int CompareKestrovanJsonKey(const KestrovanJsonEntry* inputA, const KestrovanJsonEntry* inputB) {
    if (!inputA || !inputB) {
        if (!inputA) REPORT_NULL("inputA");
        if (!inputB) REPORT_NULL("inputB");
        return 100;
    }
    int order = jsonmap::compareNoCase(inputA->key, inputB->key);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

char* BinarySearchKestrovanJsonMap(const KestrovanJsonMap* map, int32_t low, int32_t high, const char* key,
                                   uint32_t* outLength) {
    if (outLength) *outLength = 0;
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return nullptr;
    }
    if (!key) {
        REPORT_NULL("inputKey");
        return nullptr;
    }
    KestrovanJsonEntry probe{};
    probe.key = const_cast<char*>(key);
    int slot = searchSlot(map, low, high, &probe);
    if (slot < 0) {
        reportMissing(key);
        return nullptr;
    }
    return copyFound(&map->entries[slot], outLength);
}

void SetKestrovanJsonValue(KestrovanJsonMap* map, const char* key, const char* value) {
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return;
    }
    if (!key) {
        REPORT_NULL("Key");
        return;
    }
    char* copy = nullptr;
    if (value) {
        copy = duplicateText(value);
        if (!copy) REPORT_ALLOC();
    }
    int count = jsonmap::usedSlots(map->count);
    for (int i = 0; i < count; ++i) {
        KestrovanJsonEntry& entry = map->entries[i];
        if (jsonmap::equalsNoCase(entry.key, key)) {
            freeSecret(entry.value);
            entry.value = copy;
            return;
        }
    }
    if (count >= kKestrovanJsonCapacity) {
        // The table has no slot left; writing on would corrupt whatever follows it.
        logWarning("Json map full (128 entries), key not added: ", key);
        freeSecret(copy);
        return;
    }
    char* keyCopy = duplicateText(key);
    if (!keyCopy) {
        REPORT_ALLOC();
        freeSecret(copy);
        return;
    }
    map->entries[count] = KestrovanJsonEntry{keyCopy, copy, nullptr, 0};
    map->count = count + 1;
    sortEntries(map);
}

void SetKestrovanJsonResult(KestrovanJsonMap* map, int32_t n) {
    char text[64];
    std::snprintf(text, sizeof text, "%d", n);
    SetKestrovanJsonValue(map, "result", text);
}
