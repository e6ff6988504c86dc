// base64 text from a page, URL-escaped signs and padding included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KestrovanUtil/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t length = 0;
    char* decoded = base64Decode(text.c_str(), &length);
    if (decoded) {
        // Every four characters of input give at most three bytes.
        if (length > (size / 4 + 1) * 3) std::abort();
        if (decoded[length] != '\0') std::abort();
        std::free(decoded);
    }
    return 0;
}
