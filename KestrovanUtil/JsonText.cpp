// Writing the JSON map as answer text: every value in base64, so nothing needs escaping.
#include <cstdlib>
#include <cstring>

#include "Holder.h"
#include "Json.h"
#include "JsonInternal.h"
#include "Log.h"
#include "Text.h"

char* KestrovanJsonMapToText(const KestrovanJsonMap* map) {
    if (!map) {
        REPORT_NULL("inputKestrovanJson");
        return nullptr;
    }
    // The answer carries decrypted and stored values: each piece is wiped when done.
    SecretHolder encoded[kKestrovanJsonCapacity];
    int count = jsonmap::usedSlots(map->count);
    size_t total = 2;  // the braces
    for (int i = 0; i < count; ++i) {
        const KestrovanJsonEntry& entry = map->entries[i];
        if (!entry.value) continue;
        encoded[i].reset(base64Encode(entry.value));
        if (!encoded[i]) {
            REPORT_ALLOC();
            return nullptr;
        }
        // ", " "\"" key "\": \"" base64 "\""
        total += 2 + 1 + std::strlen(entry.key ? entry.key : "") + 4 + std::strlen(encoded[i].get()) + 1;
    }
    char* text = static_cast<char*>(allocZero(total + 1));
    if (!text) {
        REPORT_ALLOC();
        return nullptr;
    }
    char* end = text;
    auto append = [&end](const char* piece) {
        size_t length = std::strlen(piece);
        std::memcpy(end, piece, length);
        end += length;
    };
    bool first = true;
    for (int i = 0; i < count; ++i) {
        if (!encoded[i]) continue;
        append(first ? "{" : ", ");
        first = false;
        append("\"");
        append(map->entries[i].key ? map->entries[i].key : "");
        append("\": \"");
        append(encoded[i].get());
        append("\"");
    }
    append(first ? "{}" : "}");
    return text;
}
