// Value routines: texts kept or received in protected form, encrypted with
// AES-256-CBC. Our own values carry a prefix that decryption strips again, so a
// caller always gets back exactly the text it put in.
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "AES.h"
#include "Log.h"
#include "Text.h"
#include "Tool.h"

namespace {

constexpr size_t kPrefixLength = 15;  // strlen("KestrovanAESCBC")
static_assert(kPrefixLength == std::char_traits<char>::length(kKestrovanValuePrefix));

// The value key and IV exist only in this process: filled once, read afterwards.
uint8_t valueKey[kAes256KeySize];
uint8_t valueIVBlock[32];  // the first 16 bytes are the IV
std::atomic<bool> valueKeyReady{false};
std::mutex valueKeyLock;

// A heap byte block that is overwritten before it is freed, so that no return path
// leaves plaintext behind.
struct WipedBlock {
    uint8_t* data = nullptr;
    size_t size = 0;
    ~WipedBlock() { release(); }
    void release() {
        if (data != nullptr) {
            secureZero(data, size);
            std::free(data);
        }
        data = nullptr;
        size = 0;
    }
    uint8_t* take() {
        uint8_t* out = data;
        data = nullptr;
        size = 0;
        return out;
    }
};

struct WipedContext {
    Aes256Context context{};
    ~WipedContext() { aes256Wipe(&context); }
};

void reportCipherError(int code, int line) {
    char text[256];
    std::snprintf(text, sizeof text, "Error code %d = 0x%X at %d line in %s", code,
                  static_cast<unsigned>(code), line, __FILE__);
    logWarning("", text);
}

}  // namespace

bool initKestrovanValueKey() {
    if (valueKeyReady.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> guard(valueKeyLock);
    if (valueKeyReady.load(std::memory_order_relaxed)) return true;
    if (!randomBytes(valueKey, sizeof valueKey) || !randomBytes(valueIVBlock, sizeof valueIVBlock)) {
        // Never leave a half-random key behind for a later attempt to trust.
        secureZero(valueKey, sizeof valueKey);
        secureZero(valueIVBlock, sizeof valueIVBlock);
        logError("AES: ", "Value key not available");
        return false;
    }
    valueKeyReady.store(true, std::memory_order_release);
    return true;
}

const uint8_t* kestrovanValueKey() {
    return valueKeyReady.load(std::memory_order_acquire) ? valueKey : nullptr;
}

const uint8_t* kestrovanValueIV() {
    return valueKeyReady.load(std::memory_order_acquire) ? valueIVBlock : nullptr;
}

uint8_t* encryptKestrovanValue(const char* text, size_t* outLength) {
    if (text == nullptr) {
        REPORT_NULL("inputText");
        return nullptr;
    }
    // A value encrypted under an unset key would be readable by anyone.
    if (!initKestrovanValueKey()) return nullptr;

    size_t textLength = std::strlen(text);
    if (textLength > SIZE_MAX / 2) return nullptr;
    // The plaintext is the prefix, the text and its terminating zero byte.
    WipedBlock plain;
    plain.size = kPrefixLength + textLength + 1;
    plain.data = static_cast<uint8_t*>(allocZero(plain.size));
    if (plain.data == nullptr) return nullptr;
    std::memcpy(plain.data, kKestrovanValuePrefix, kPrefixLength);
    std::memcpy(plain.data + kPrefixLength, text, textLength);

    size_t capacity = aes256CbcPaddedLength(plain.size);
    auto* cipher = static_cast<uint8_t*>(allocZero(capacity));
    if (cipher == nullptr) return nullptr;

    WipedContext key;
    aes256SetEncryptKey(&key.context, valueKey);
    size_t cipherLength = 0;
    int code = aes256CbcEncrypt(&key.context, valueIVBlock, plain.data, plain.size, cipher, capacity,
                                &cipherLength);
    if (code != 0) {
        reportCipherError(code, __LINE__);
        std::free(cipher);
        return nullptr;
    }
    if (outLength != nullptr) *outLength = cipherLength;
    return cipher;
}

char* decryptKestrovanValue(const uint8_t* cipher, size_t length, const uint8_t* key,
                            const uint8_t* iv) {
    if (cipher == nullptr) REPORT_NULL("inputText");
    if (key == nullptr) REPORT_NULL("inputKey");
    if (iv == nullptr) REPORT_NULL("inputIV");
    if (cipher == nullptr || key == nullptr || iv == nullptr) return nullptr;
    if (length > SIZE_MAX / 2) return nullptr;

    WipedBlock plain;
    plain.size = length + 1;
    plain.data = static_cast<uint8_t*>(allocZero(plain.size));
    if (plain.data == nullptr) return nullptr;

    size_t plainLength = 0;
    int code;
    {
        WipedContext schedule;
        aes256SetDecryptKey(&schedule.context, key);
        code = aes256CbcDecrypt(&schedule.context, iv, cipher, length, plain.data, length,
                                &plainLength);
    }
    if (code != 0) {
        if (code == kAesErrorBadLength) {
            std::printf("p->Buse: %d\n", static_cast<int>(length % kAesBlockSize));
            std::printf("bufsize: %d\n", static_cast<int>(kAesBlockSize));
            std::fflush(stdout);
        }
        reportCipherError(code, __LINE__);
        return nullptr;
    }
    // Cutting the padding keeps its bytes out of the text when the sender did not
    // end its plaintext with a zero byte; values that did are unchanged by it.
    secureZero(plain.data + plainLength, plain.size - plainLength);

    char* text = reinterpret_cast<char*>(plain.data);
    size_t textLength = std::strlen(text);
    if (std::strncmp(text, kKestrovanValuePrefix, kPrefixLength) == 0) {
        logNormal("AES: ", "Remove prefix");
        char* copy = duplicateText(text + kPrefixLength);
        // Random bytes over the old plaintext (zeros when the source fails), then free.
        if (!randomBytes(plain.data, plain.size)) secureZero(plain.data, plain.size);
        std::free(plain.take());
        return copy;
    }
    // Whatever followed an inner zero byte is not part of the answer: clear it, so
    // that freeing the text with freeSecret leaves nothing readable.
    secureZero(plain.data + textLength, plain.size - textLength);
    return reinterpret_cast<char*>(plain.take());
}
