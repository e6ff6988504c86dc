#pragma once
// Helpers shared by the JSON map's source files; not part of its interface.
#include <cstddef>

#include "Json.h"

namespace jsonmap {

// Byte order with only A-Z folded to a-z, whatever the locale: <0, 0 or >0.
inline int compareNoCase(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (;; ++x, ++y) {
        unsigned char cx = (*x >= 'A' && *x <= 'Z') ? static_cast<unsigned char>(*x + 32) : *x;
        unsigned char cy = (*y >= 'A' && *y <= 'Z') ? static_cast<unsigned char>(*y + 32) : *y;
        if (cx != cy) return cx < cy ? -1 : 1;
        if (cx == 0) return 0;
    }
}

inline bool equalsNoCase(const char* a, const char* b) { return compareNoCase(a, b) == 0; }

// Clamps a map's count to the table, so a damaged count never walks past it.
inline int usedSlots(int count) { return count < 0 ? 0 : (count > kKestrovanJsonCapacity ? kKestrovanJsonCapacity : count); }

}  // namespace jsonmap
