// Reading values out of the JSON map: the value flags, typed getters and the
// parameter listing of the log.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AES.h"
#include "Holder.h"
#include "Json.h"
#include "JsonInternal.h"
#include "Log.h"
#include "Text.h"

namespace {

// True when the companion key made from format and key holds "true" (any case).
// Companions are read raw: decoding them could itself ask for the listing or a
// decryption and recurse without end.
bool isFlagSet(const KestrovanJsonMap* map, const char* format, const char* key) {
    char companion[512];
    int length = std::snprintf(companion, sizeof companion, format, key);
    if (length < 0 || static_cast<size_t>(length) >= sizeof companion) return false;
    uint32_t rawLength = 0;
    char* raw = BinarySearchKestrovanJsonMap(map, 0, map->count - 1, companion, &rawLength);
    if (!raw) return false;
    char head[8] = {};
    std::strncpy(head, raw, 7);
    secureZero(raw, rawLength);
    std::free(raw);
    return jsonmap::equalsNoCase(head, "true");
}

// Hex cipher text decrypted with the map's share secret; null when it cannot be.
char* decryptValue(const KestrovanJsonMap* map, const char* raw) {
    DisplayKestrovanJsonMap(map);
    logNormal("find key: ", kKestrovanShareSecret);
    uint32_t secretLength = 0;
    char* secret = BinarySearchKestrovanJsonMap(map, 0, map->count - 1, kKestrovanShareSecret, &secretLength);
    if (!secret) return nullptr;
    // The key is always 32 bytes: a shorter secret is filled up with zero bytes
    // rather than reading past its end.
    uint8_t key[kAes256KeySize] = {};
    std::memcpy(key, secret, secretLength < sizeof key ? secretLength : sizeof key);
    secureZero(secret, secretLength);
    std::free(secret);

    size_t cipherLength = 0;
    uint8_t* cipher = hexDecode(raw, &cipherLength);
    char* plain = nullptr;
    if (cipher) {
        uint8_t iv[kAesBlockSize];
        getKestrovanJsonIV(iv);
        plain = decryptKestrovanValue(cipher, cipherLength, key, iv);
        std::free(cipher);
    }
    secureZero(key, sizeof key);
    return plain;
}

char* stars(size_t count) {
    char* text = static_cast<char*>(allocZero(count + 1));
    if (text) std::memset(text, '*', count);
    return text;
}

// Leading blanks, optional sign, digits up to the first other character; saturates
// instead of overflowing on long digit runs.
int64_t leadingNumber(const char* text, int64_t lowest, int64_t highest) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint64_t limit = negative ? static_cast<uint64_t>(-(lowest + 1)) + 1 : static_cast<uint64_t>(highest);
    uint64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        unsigned digit = *p - '0';
        if (n > (limit - digit) / 10) {
            n = limit;
            break;
        }
        n = n * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(n);
    return n == limit ? lowest : -static_cast<int64_t>(n);
}

int64_t numberValue(const KestrovanJsonMap* map, const char* key, int64_t lowest, int64_t highest) {
    SecretHolder value(GetKestrovanJsonValue(map, key));
    if (!value) return 0;
    if (jsonmap::equalsNoCase(value.get(), "true")) return 1;
    if (jsonmap::equalsNoCase(value.get(), "false")) return 0;
    return leadingNumber(value.get(), lowest, highest);
}

}  // namespace

char* DecodeKestrovanJsonValue(const KestrovanJsonMap* map, const char* key, const char* raw) {
    if (!raw) {
        REPORT_NULL("inputValue");
        return nullptr;
    }
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return duplicateText(raw);
    }
    if (!key) {
        REPORT_NULL("inputKey");
        return duplicateText(raw);
    }
    // The flags exclude each other: only the first one set applies.
    char* decoded = nullptr;
    if (isFlagSet(map, _KestrovanEncryptFlag, key)) {
        decoded = decryptValue(map, raw);
    } else if (isFlagSet(map, _KestrovanFlag, key)) {
        decoded = replaceAll(raw, "*", "\\");
    } else if (isFlagSet(map, _KestrovanSlashFlag, key)) {
        decoded = replaceAll(raw, "==KestrovanSlash==", "\\");
    } else if (isFlagSet(map, _KestrovanBase64Flag, key)) {
        decoded = base64Decode(raw);
    } else {
        return duplicateText(raw);
    }
    if (decoded) return decoded;
    // A value that cannot be transformed reaches the caller as it was sent.
    REPORT_ALLOC();
    return duplicateText(raw);
}

char* GetKestrovanJsonValue(const KestrovanJsonMap* map, const char* key) {
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return nullptr;
    }
    if (!key) {
        REPORT_NULL("inputKey");
        return nullptr;
    }
    SecretHolder raw(BinarySearchKestrovanJsonMap(map, 0, map->count - 1, key));
    if (!raw) return nullptr;
    char* decoded = DecodeKestrovanJsonValue(map, key, raw.get());
    if (!decoded) REPORT_ALLOC();
    return decoded;
}

bool GetKestrovanJsonBool(const KestrovanJsonMap* map, const char* key) {
    SecretHolder value(GetKestrovanJsonValue(map, key));
    return value && jsonmap::equalsNoCase(value.get(), "true");
}

int32_t GetKestrovanJsonInt(const KestrovanJsonMap* map, const char* key) {
    return static_cast<int32_t>(numberValue(map, key, INT32_MIN, INT32_MAX));
}

int64_t GetKestrovanJsonLong(const KestrovanJsonMap* map, const char* key) {
    return numberValue(map, key, INT64_MIN, INT64_MAX);
}

void DisplayKestrovanJsonMap(const KestrovanJsonMap* map) {
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return;
    }
    if (!isLogOn()) return;
    logNormal("= DISPLAY PARAMETER", " ===== start =====");
    int count = jsonmap::usedSlots(map->count);
    for (int i = 0; i < count; ++i) {
        const KestrovanJsonEntry& entry = map->entries[i];
        const char* key = entry.key ? entry.key : "";
        size_t labelSize = std::strlen(key) + 3;
        TextHolder label(static_cast<char*>(allocZero(labelSize)));
        if (!label) {
            REPORT_ALLOC();
            continue;
        }
        std::snprintf(label.get(), labelSize, "%s: ", key);
        TextHolder test(lowerCopy(label.get()));
        const char* shown;
        TextHolder masked;
        if (entry.value) {
            const char* t = test ? test.get() : "";
            bool secretKey = jsonmap::equalsNoCase(key, kKestrovanShareSecret);
            bool mask;
            if (std::strstr(t, "kestrovan") && !secretKey) {
                mask = false;
            } else if (secretKey || std::strstr(t, "pin") || std::strstr(t, "pw") || std::strstr(t, "pass")) {
                // The share secret decrypts the request's values: it never goes to the log.
                mask = true;
            } else {
                mask = isFlagSet(map, _KestrovanHide, key);
            }
            if (mask) masked.reset(stars(std::strlen(entry.value)));
            shown = mask ? (masked ? masked.get() : "") : entry.value;
        } else if (entry.binaryData) {
            shown = "[binary_value]";
        } else {
            shown = "[empty]";
        }
        logNormal(label.get(), shown);
    }
    logNormal("= DISPLAY PARAMETER", " ===== end =====");
}
