#pragma once
// The JSON map: a fixed table of at most 128 key/value pairs, sorted by key without
// regard to case, that requests are parsed into and answers are written from.
//
// The service hands its own map by address to the adapter library, so the layout of
// KestrovanJsonMap and KestrovanJsonEntry is a binary interface between the two
// programs: change nothing here without rebuilding both.
//
// Every text that an operation returns is a new heap copy the caller frees (free(),
// or freeSecret() when it may hold a secret). The map owns all its strings.
#include <cstddef>
#include <cstdint>

#include "platform/com/bstr.h"

constexpr int32_t kKestrovanJsonCapacity = 128;
constexpr int32_t kKestrovanJsonTokens = 2 * kKestrovanJsonCapacity + 1;
constexpr int32_t kCodeMissingJsonKey = 61016;

struct KestrovanJsonEntry {
    char* key;              // exactly as between the quotes of the request
    char* value;            // unescaped text value, or null
    uint8_t* binaryData;    // binary value, or null
    uint32_t binaryLength;  // bytes in binaryData
};

struct KestrovanJsonMap {
    KestrovanJsonEntry entries[kKestrovanJsonCapacity];  // slots 0 .. count-1 in use, sorted
    char* rawText;                                       // the parsed text, null for a new map
    int32_t count;
};

static_assert(sizeof(void*) != 8 || sizeof(KestrovanJsonEntry) == 32, "entry layout is shared with the adapter");
static_assert(offsetof(KestrovanJsonEntry, key) == 0);
static_assert(offsetof(KestrovanJsonEntry, value) == sizeof(void*));
static_assert(offsetof(KestrovanJsonEntry, binaryData) == 2 * sizeof(void*));
static_assert(offsetof(KestrovanJsonEntry, binaryLength) == 3 * sizeof(void*));
static_assert(offsetof(KestrovanJsonMap, entries) == 0);
static_assert(offsetof(KestrovanJsonMap, rawText) == kKestrovanJsonCapacity * sizeof(KestrovanJsonEntry));
static_assert(offsetof(KestrovanJsonMap, count) == offsetof(KestrovanJsonMap, rawText) + sizeof(char*));
static_assert(sizeof(void*) != 8 || sizeof(KestrovanJsonMap) == 4112, "map layout is shared with the adapter");

// Companion keys that mark how a value was written; "%s" is the value's own key.
// A companion counts as set when its raw value equals "true" without regard to case.
inline constexpr char _KestrovanEncryptFlag[] = "%s_KestrovanEncryptFlag";  // hex of AES-256-CBC cipher text
inline constexpr char _KestrovanFlag[] = "%s_KestrovanFlag";                // "*" stands for a backslash
inline constexpr char _KestrovanSlashFlag[] = "%s_KestrovanSlashFlag";      // "==KestrovanSlash==" for a backslash
inline constexpr char _KestrovanBase64Flag[] = "%s_KestrovanBase64Flag";    // base64 text
inline constexpr char _KestrovanHide[] = "%s_KestrovanHide";                // masked in the parameter listing
// Entry whose first 32 bytes are the key of encrypted values.
inline constexpr char kKestrovanShareSecret[] = "Kestrovan_share_secret";

// When on, a lookup that finds nothing logs a warning and sets lastErrorCode to 61016
// (keys containing "Kestrovan" or "topui" excepted). Off by default.
extern bool reportMissingJsonKey;

// The fixed IV with which pages encrypt values for the map.
void getKestrovanJsonIV(uint8_t iv[16]);

KestrovanJsonMap* ParseKestrovanJsonMap(const char* inputJsonStr);
KestrovanJsonMap* NewKestrovanJsonMap();
void FreeKestrovanJsonMap(KestrovanJsonMap* map);

// -1, 0 or 1 by ASCII case-insensitive key order; 100 when either entry is null.
int CompareKestrovanJsonKey(const KestrovanJsonEntry* inputA, const KestrovanJsonEntry* inputB);
// Raw (undecoded) value of key within slots low .. high, or the binary block (its
// length in *outLength when given; the copy carries one extra NUL byte); null when missing.
char* BinarySearchKestrovanJsonMap(const KestrovanJsonMap* map, int32_t low, int32_t high, const char* key,
                                   uint32_t* outLength = nullptr);

// Replaces the value of key, or inserts the pair; a null value leaves the slot without
// value. Inserting into a full map is refused with a warning.
void SetKestrovanJsonValue(KestrovanJsonMap* map, const char* key, const char* value);
// Sets "result" to the decimal text of n.
void SetKestrovanJsonResult(KestrovanJsonMap* map, int32_t n);

// raw transformed by the first companion flag of key that is set; a plain copy when
// none is, or when the transformation fails.
char* DecodeKestrovanJsonValue(const KestrovanJsonMap* map, const char* key, const char* raw);
char* GetKestrovanJsonValue(const KestrovanJsonMap* map, const char* key);
bool GetKestrovanJsonBool(const KestrovanJsonMap* map, const char* key);
int32_t GetKestrovanJsonInt(const KestrovanJsonMap* map, const char* key);
int64_t GetKestrovanJsonLong(const KestrovanJsonMap* map, const char* key);
// The decoded value as a COM string (released with SysFreeString); an empty one when
// the key is missing or the text is not UTF-8.
BSTR GetKestrovanJsonWide(const KestrovanJsonMap* map, const char* key);

// {"key": "base64 of value", ...}; entries without a text value are left out.
char* KestrovanJsonMapToText(const KestrovanJsonMap* map);
// Writes the parameter listing to the log, secrets masked.
void DisplayKestrovanJsonMap(const KestrovanJsonMap* map);
