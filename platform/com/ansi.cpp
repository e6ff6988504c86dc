#include "platform/com/ansi.h"

#include <cstring>
#include <cuchar>
#include <cwchar>
#include <string>

BSTR SysAllocStringFromAnsi(const char* text) {
    if (text == nullptr) return nullptr;
    std::u16string wide;
    std::mbstate_t state{};
    const char* at = text;
    size_t left = std::strlen(text);
    bool valid = true;
    while (left > 0) {
        char16_t unit = 0;
        size_t used = std::mbrtoc16(&unit, at, left, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            valid = false;
            break;
        }
        if (used == static_cast<size_t>(-3)) {  // second half of a surrogate pair, no input taken
            wide.push_back(unit);
            continue;
        }
        if (used == 0) break;
        wide.push_back(unit);
        at += used;
        left -= used;
    }
    if (!valid) wide.clear();
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}
