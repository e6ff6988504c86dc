// The adapter's getter that hands a map value to the card component as a COM string.
#include <cstdlib>

#include "Holder.h"
#include "Json.h"
#include "Text.h"

BSTR GetKestrovanJsonWide(const KestrovanJsonMap* map, const char* key) {
    SecretHolder value(GetKestrovanJsonValue(map, key));
    if (!value) return SysAllocStringLen(nullptr, 0);
    char16_t* wide = utf8ToUtf16(value.get());
    if (!wide) return SysAllocStringLen(nullptr, 0);
    size_t length = wideLength(wide);
    BSTR text = SysAllocStringLen(wide, static_cast<UINT>(length));
    // PINs reach the component this way: the intermediate copy is wiped as well.
    secureZero(wide, length * sizeof(char16_t));
    std::free(wide);
    return text;
}
