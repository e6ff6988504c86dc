#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

namespace {

// The prefix keeps the byte length; it is kept in its own word so the text that
// follows stays aligned for char16_t.
constexpr size_t kPrefix = sizeof(uint32_t);
constexpr uint32_t kMaxBytes = 0x7FFFFFF0u;

BSTR allocBytes(const void* data, uint32_t byteLength) {
    if (byteLength > kMaxBytes) return nullptr;
    // Two NUL bytes after the text, plus one for an odd byte count.
    size_t total = kPrefix + byteLength + sizeof(OLECHAR) + 1;
    auto* block = static_cast<unsigned char*>(std::calloc(1, total));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &byteLength, kPrefix);
    if (data != nullptr && byteLength > 0) std::memcpy(block + kPrefix, data, byteLength);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* blockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return allocBytes(text, static_cast<uint32_t>(length * sizeof(OLECHAR)));
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    size_t length = 0;
    while (text[length] != 0) ++length;
    if (length > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringByteLen(const char* data, UINT length) { return allocBytes(data, length); }

void SysFreeString(BSTR text) {
    if (text == nullptr) return;
    std::free(blockOf(text));
}

UINT SysStringByteLen(BSTR text) {
    if (text == nullptr) return 0;
    uint32_t bytes = 0;
    std::memcpy(&bytes, blockOf(text), kPrefix);
    return bytes;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }
