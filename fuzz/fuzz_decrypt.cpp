// Cipher blocks under a caller's key and IV: the input is 32 key bytes, 16 IV bytes
// and the cipher text (shorter inputs run with a zero key and IV).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KestrovanUtil/AES.h"
#include "KestrovanUtil/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t key[32] = {};
    uint8_t iv[16] = {};
    if (size >= sizeof key + sizeof iv) {
        std::memcpy(key, data, sizeof key);
        std::memcpy(iv, data + sizeof key, sizeof iv);
        data += sizeof key + sizeof iv;
        size -= sizeof key + sizeof iv;
    }
    // A copy of exactly the cipher's size, so any read past it is caught.
    std::vector<uint8_t> cipher(data, data + size);
    char* plain = decryptKestrovanValue(cipher.data(), cipher.size(), key, iv);
    if (plain) {
        if (std::strlen(plain) > size) std::abort();
        freeSecret(plain);
    }
    return 0;
}
