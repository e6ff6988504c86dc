#pragma once
// Value protection: AES-256 in CBC mode with PKCS#7 padding, SHA-512, and the
// value routines that keep texts encrypted under a key that lives only as long as
// the process. All of it is our own code, so every deliverable carries the same
// cipher without an outside library.
#include <cstddef>
#include <cstdint>

// ---- SHA-512 ----------------------------------------------------------------

constexpr size_t kSha512DigestSize = 64;
constexpr size_t kSha512BlockSize = 128;

struct Sha512Context {
    uint64_t state[8];
    uint64_t bitCountHigh;
    uint64_t bitCountLow;
    uint8_t buffer[kSha512BlockSize];
    size_t bufferUsed;
};

void sha512Init(Sha512Context* context);
void sha512Update(Sha512Context* context, const uint8_t* data, size_t length);
// Writes the digest and overwrites the whole context with zero bytes.
void sha512Final(Sha512Context* context, uint8_t out[64]);

// One-shot digest; the hash state is wiped before returning.
void sha512(const uint8_t* data, size_t length, uint8_t out[64]);

// ---- AES-256 block cipher and CBC mode ----------------------------------------

constexpr size_t kAesBlockSize = 16;
constexpr size_t kAes256KeySize = 32;
constexpr int kAes256Rounds = 14;

// Cipher error codes, as they appear in the "Error code" log line.
constexpr int kAesErrorBadPadding = 64;    // last byte above 16, or padding bytes differ
constexpr int kAesErrorBadLength = 65;     // cipher text length not a multiple of 16
constexpr int kAesErrorNoSpace = 336;      // output does not fit the space given
constexpr int kAesErrorNoBlockSize = 145;  // context without block size (never keyed)

// Expanded key. blockSize is 0 until a key has been set, which the CBC routines
// refuse with kAesErrorNoBlockSize. Wipe it with aes256Wipe after use.
struct Aes256Context {
    uint32_t roundKeys[4 * (kAes256Rounds + 1)];
    uint32_t blockSize;
};

void aes256SetEncryptKey(Aes256Context* context, const uint8_t key[32]);
// Schedule for the equivalent inverse cipher: the encryption round keys in reverse
// order, the inner ones passed through InvMixColumns.
void aes256SetDecryptKey(Aes256Context* context, const uint8_t key[32]);
void aes256EncryptBlock(const Aes256Context* context, const uint8_t in[16], uint8_t out[16]);
void aes256DecryptBlock(const Aes256Context* context, const uint8_t in[16], uint8_t out[16]);
void aes256Wipe(Aes256Context* context);

// Cipher text length of a plaintext of the given length: always one block more than
// the whole blocks it fills (a full padding block when it is a multiple of 16).
size_t aes256CbcPaddedLength(size_t length);

// CBC encryption with PKCS#7 padding. `out` has room for `capacity` bytes and must
// hold aes256CbcPaddedLength(length); the cipher text length goes to *outLength.
// Returns 0 or a cipher error code. `in` and `out` may not overlap.
int aes256CbcEncrypt(const Aes256Context* context, const uint8_t iv[16], const uint8_t* in,
                     size_t length, uint8_t* out, size_t capacity, size_t* outLength);

// CBC decryption checking PKCS#7 padding: the last byte p must be at most 16 and the
// last p bytes must all be p; a last byte of 0 (zero-padded values) removes nothing.
// `out` must hold `length` bytes; the plaintext length without padding goes to
// *outLength. Returns 0 or a cipher error code; on failure `out` is wiped.
int aes256CbcDecrypt(const Aes256Context* context, const uint8_t iv[16], const uint8_t* in,
                     size_t length, uint8_t* out, size_t capacity, size_t* outLength);

// ---- Value routines -------------------------------------------------------------

// Text put in front of every plaintext that encryptKestrovanValue encrypts.
constexpr const char* kKestrovanValuePrefix = "KestrovanAESCBC";

// Fills the process-wide value key (32 bytes) and IV block (32 bytes, the first 16
// are the IV) from the random generator, once; later calls only report whether the
// key is there. encryptKestrovanValue calls it itself, so no value is ever encrypted
// under an unset key.
bool initKestrovanValueKey();
// The value key and IV, for callers that decrypt what encryptKestrovanValue made.
// Null until initKestrovanValueKey has succeeded.
const uint8_t* kestrovanValueKey();
const uint8_t* kestrovanValueIV();

// Encrypts "KestrovanAESCBC" + text + its zero byte under the value key and IV.
// Returns a new cipher block (free() it) and its length in *outLength (when given),
// or null on failure.
uint8_t* encryptKestrovanValue(const char* text, size_t* outLength);

// Decrypts a cipher block with the caller's 32-byte key and 16-byte IV. Returns a
// new NUL-terminated plaintext with the prefix removed when present (a secret:
// release it with freeSecret), or null on failure.
char* decryptKestrovanValue(const uint8_t* cipher, size_t length, const uint8_t* key,
                            const uint8_t* iv);
