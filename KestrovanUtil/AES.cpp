// AES-256 block cipher (FIPS 197) and CBC mode with PKCS#7 padding (SP 800-38A).
// Decryption runs the equivalent inverse cipher, so both directions share the
// round structure and the decryption schedule is computed once per key.
#include <array>
#include <cstring>

#include "AES.h"
#include "Text.h"

namespace {

constexpr uint8_t xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x >> 7) * 0x1b));
}

constexpr uint8_t gfMultiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if (b & 1) product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr uint8_t rotateLeft8(uint8_t x, int n) {
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

// The S-box is derived from its definition (multiplicative inverse in GF(2^8),
// then the affine map) rather than typed in, so a table typo cannot creep in.
constexpr std::array<uint8_t, 256> makeSbox() {
    std::array<uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x) {
        // x^254 is the inverse of x (and 0 for 0).
        uint8_t inverse = 1;
        uint8_t base = static_cast<uint8_t>(x);
        for (int e = 254; e != 0; e >>= 1) {
            if (e & 1) inverse = gfMultiply(inverse, base);
            base = gfMultiply(base, base);
        }
        if (x == 0) inverse = 0;
        box[x] = static_cast<uint8_t>(inverse ^ rotateLeft8(inverse, 1) ^ rotateLeft8(inverse, 2) ^
                                      rotateLeft8(inverse, 3) ^ rotateLeft8(inverse, 4) ^ 0x63);
    }
    return box;
}

constexpr std::array<uint8_t, 256> makeInverseSbox(const std::array<uint8_t, 256>& box) {
    std::array<uint8_t, 256> inverse{};
    for (int x = 0; x < 256; ++x) inverse[box[x]] = static_cast<uint8_t>(x);
    return inverse;
}

constexpr std::array<uint8_t, 256> kSbox = makeSbox();
constexpr std::array<uint8_t, 256> kInverseSbox = makeInverseSbox(kSbox);
static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xed && kSbox[0xff] == 0x16);
static_assert(kInverseSbox[0x63] == 0x00);

constexpr size_t kScheduleWords = 4 * (kAes256Rounds + 1);

uint32_t subWord(uint32_t w) {
    return (static_cast<uint32_t>(kSbox[w >> 24]) << 24) |
           (static_cast<uint32_t>(kSbox[(w >> 16) & 0xff]) << 16) |
           (static_cast<uint32_t>(kSbox[(w >> 8) & 0xff]) << 8) | kSbox[w & 0xff];
}

void expandKey(const uint8_t key[32], uint32_t w[kScheduleWords]) {
    constexpr size_t nk = kAes256KeySize / 4;
    for (size_t i = 0; i < nk; ++i) {
        w[i] = (static_cast<uint32_t>(key[4 * i]) << 24) |
               (static_cast<uint32_t>(key[4 * i + 1]) << 16) |
               (static_cast<uint32_t>(key[4 * i + 2]) << 8) | key[4 * i + 3];
    }
    uint8_t roundConstant = 1;
    for (size_t i = nk; i < kScheduleWords; ++i) {
        uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (static_cast<uint32_t>(roundConstant) << 24);
            roundConstant = xtime(roundConstant);
        } else if (i % nk == 4) {
            temp = subWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
}

// The state is kept column by column, as the standard lays out the input bytes:
// state[4 * column + row].
void addRoundKey(uint8_t state[16], const uint32_t* words) {
    for (int c = 0; c < 4; ++c) {
        uint32_t w = words[c];
        state[4 * c] ^= static_cast<uint8_t>(w >> 24);
        state[4 * c + 1] ^= static_cast<uint8_t>(w >> 16);
        state[4 * c + 2] ^= static_cast<uint8_t>(w >> 8);
        state[4 * c + 3] ^= static_cast<uint8_t>(w);
    }
}

void subBytesShiftRows(uint8_t state[16]) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[4 * c + r] = kSbox[state[4 * ((c + r) & 3) + r]];
    std::memcpy(state, t, 16);
}

void inverseSubBytesShiftRows(uint8_t state[16]) {
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) t[4 * ((c + r) & 3) + r] = kInverseSbox[state[4 * c + r]];
    std::memcpy(state, t, 16);
}

void mixColumns(uint8_t state[16]) {
    for (int c = 0; c < 4; ++c) {
        uint8_t* col = state + 4 * c;
        uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        uint8_t all = a0 ^ a1 ^ a2 ^ a3;
        // 2a ^ 3b ^ c ^ d == a ^ all ^ 2(a ^ b), and so on around the column.
        col[0] = static_cast<uint8_t>(a0 ^ all ^ xtime(a0 ^ a1));
        col[1] = static_cast<uint8_t>(a1 ^ all ^ xtime(a1 ^ a2));
        col[2] = static_cast<uint8_t>(a2 ^ all ^ xtime(a2 ^ a3));
        col[3] = static_cast<uint8_t>(a3 ^ all ^ xtime(a3 ^ a0));
    }
}

void inverseMixColumn(uint8_t col[4]) {
    uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
    col[0] = gfMultiply(a0, 14) ^ gfMultiply(a1, 11) ^ gfMultiply(a2, 13) ^ gfMultiply(a3, 9);
    col[1] = gfMultiply(a0, 9) ^ gfMultiply(a1, 14) ^ gfMultiply(a2, 11) ^ gfMultiply(a3, 13);
    col[2] = gfMultiply(a0, 13) ^ gfMultiply(a1, 9) ^ gfMultiply(a2, 14) ^ gfMultiply(a3, 11);
    col[3] = gfMultiply(a0, 11) ^ gfMultiply(a1, 13) ^ gfMultiply(a2, 9) ^ gfMultiply(a3, 14);
}

void inverseMixColumns(uint8_t state[16]) {
    for (int c = 0; c < 4; ++c) inverseMixColumn(state + 4 * c);
}

uint32_t inverseMixWord(uint32_t w) {
    uint8_t col[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                      static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
    inverseMixColumn(col);
    return (static_cast<uint32_t>(col[0]) << 24) | (static_cast<uint32_t>(col[1]) << 16) |
           (static_cast<uint32_t>(col[2]) << 8) | col[3];
}

}  // namespace

void aes256SetEncryptKey(Aes256Context* context, const uint8_t key[32]) {
    if (context == nullptr || key == nullptr) return;
    expandKey(key, context->roundKeys);
    context->blockSize = kAesBlockSize;
}

void aes256SetDecryptKey(Aes256Context* context, const uint8_t key[32]) {
    if (context == nullptr || key == nullptr) return;
    uint32_t w[kScheduleWords];
    expandKey(key, w);
    for (int round = 0; round <= kAes256Rounds; ++round) {
        const uint32_t* source = w + 4 * (kAes256Rounds - round);
        uint32_t* target = context->roundKeys + 4 * round;
        bool inner = round != 0 && round != kAes256Rounds;
        for (int c = 0; c < 4; ++c) target[c] = inner ? inverseMixWord(source[c]) : source[c];
    }
    secureZero(w, sizeof w);
    context->blockSize = kAesBlockSize;
}

void aes256EncryptBlock(const Aes256Context* context, const uint8_t in[16], uint8_t out[16]) {
    uint8_t state[16];
    std::memcpy(state, in, 16);
    addRoundKey(state, context->roundKeys);
    for (int round = 1; round < kAes256Rounds; ++round) {
        subBytesShiftRows(state);
        mixColumns(state);
        addRoundKey(state, context->roundKeys + 4 * round);
    }
    subBytesShiftRows(state);
    addRoundKey(state, context->roundKeys + 4 * kAes256Rounds);
    std::memcpy(out, state, 16);
    secureZero(state, sizeof state);
}

void aes256DecryptBlock(const Aes256Context* context, const uint8_t in[16], uint8_t out[16]) {
    uint8_t state[16];
    std::memcpy(state, in, 16);
    addRoundKey(state, context->roundKeys);
    for (int round = 1; round < kAes256Rounds; ++round) {
        inverseSubBytesShiftRows(state);
        inverseMixColumns(state);
        addRoundKey(state, context->roundKeys + 4 * round);
    }
    inverseSubBytesShiftRows(state);
    addRoundKey(state, context->roundKeys + 4 * kAes256Rounds);
    std::memcpy(out, state, 16);
    secureZero(state, sizeof state);
}

void aes256Wipe(Aes256Context* context) {
    if (context != nullptr) secureZero(context, sizeof *context);
}

size_t aes256CbcPaddedLength(size_t length) {
    return (length / kAesBlockSize) * kAesBlockSize + kAesBlockSize;
}

int aes256CbcEncrypt(const Aes256Context* context, const uint8_t iv[16], const uint8_t* in,
                     size_t length, uint8_t* out, size_t capacity, size_t* outLength) {
    if (context == nullptr || context->blockSize != kAesBlockSize) return kAesErrorNoBlockSize;
    if (iv == nullptr || out == nullptr || (in == nullptr && length != 0)) return kAesErrorNoSpace;
    if (length > SIZE_MAX - kAesBlockSize) return kAesErrorNoSpace;
    size_t total = aes256CbcPaddedLength(length);
    if (capacity < total) return kAesErrorNoSpace;

    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    size_t whole = length / kAesBlockSize * kAesBlockSize;
    for (size_t at = 0; at < whole; at += kAesBlockSize) {
        for (size_t i = 0; i < kAesBlockSize; ++i) chain[i] ^= in[at + i];
        aes256EncryptBlock(context, chain, chain);
        std::memcpy(out + at, chain, kAesBlockSize);
    }
    // The last block: the remaining bytes, then p bytes of value p (1..16).
    size_t rest = length - whole;
    uint8_t pad = static_cast<uint8_t>(kAesBlockSize - rest);
    for (size_t i = 0; i < kAesBlockSize; ++i) chain[i] ^= i < rest ? in[whole + i] : pad;
    aes256EncryptBlock(context, chain, chain);
    std::memcpy(out + whole, chain, kAesBlockSize);
    secureZero(chain, sizeof chain);
    if (outLength != nullptr) *outLength = total;
    return 0;
}

int aes256CbcDecrypt(const Aes256Context* context, const uint8_t iv[16], const uint8_t* in,
                     size_t length, uint8_t* out, size_t capacity, size_t* outLength) {
    if (context == nullptr || context->blockSize != kAesBlockSize) return kAesErrorNoBlockSize;
    if (length % kAesBlockSize != 0) return kAesErrorBadLength;
    // Without any block there is no padding to find.
    if (length == 0) return kAesErrorBadPadding;
    if (iv == nullptr || in == nullptr || out == nullptr || capacity < length) return kAesErrorNoSpace;

    uint8_t chain[16];
    uint8_t block[16];
    std::memcpy(chain, iv, 16);
    for (size_t at = 0; at < length; at += kAesBlockSize) {
        aes256DecryptBlock(context, in + at, block);
        for (size_t i = 0; i < kAesBlockSize; ++i) block[i] ^= chain[i];
        std::memcpy(chain, in + at, kAesBlockSize);
        std::memcpy(out + at, block, kAesBlockSize);
    }
    secureZero(block, sizeof block);
    secureZero(chain, sizeof chain);

    const uint8_t* last = out + length - kAesBlockSize;
    uint8_t pad = last[kAesBlockSize - 1];
    // A last byte of 0 stands for zero padding: nothing is removed.
    bool good = pad <= kAesBlockSize;
    if (good) {
        uint8_t differ = 0;
        for (size_t i = kAesBlockSize - pad; i < kAesBlockSize; ++i) differ |= last[i] ^ pad;
        good = differ == 0;
    }
    if (!good) {
        secureZero(out, length);
        return kAesErrorBadPadding;
    }
    if (outLength != nullptr) *outLength = length - pad;
    return 0;
}
