// Request text into the map, every value read back through its flags, and the
// map written out again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    KestrovanJsonMap* map = ParseKestrovanJsonMap(text.c_str());
    if (!map) return 0;
    if (map->count < 0 || map->count > kKestrovanJsonCapacity) std::abort();
    for (int i = 1; i < map->count; ++i) {
        if (CompareKestrovanJsonKey(&map->entries[i - 1], &map->entries[i]) > 0) std::abort();
    }
    reportMissingJsonKey = (size & 1) != 0;
    for (int i = 0; i < map->count; ++i) {
        // Every key parsed must be found again.
        char* raw = BinarySearchKestrovanJsonMap(map, 0, map->count - 1, map->entries[i].key);
        if (!raw) std::abort();
        std::free(raw);
        freeSecret(GetKestrovanJsonValue(map, map->entries[i].key));
        (void)GetKestrovanJsonInt(map, map->entries[i].key);
    }
    reportMissingJsonKey = false;
    SetKestrovanJsonResult(map, static_cast<int32_t>(size));
    freeSecret(KestrovanJsonMapToText(map));
    FreeKestrovanJsonMap(map);
    return 0;
}
