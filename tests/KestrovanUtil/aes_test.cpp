// AES-256, CBC with PKCS#7, and the value routines: published vectors, nettle as an
// independent implementation on random inputs, and the failure codes and log lines.
#include <gtest/gtest.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KestrovanUtil/AES.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "tests/support/sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes randomBlock(std::mt19937& generator, size_t length) {
    Bytes out(length);
    for (auto& b : out) b = static_cast<uint8_t>(generator());
    return out;
}

Bytes toBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Reference CBC encryption without padding: the caller supplies whole blocks.
Bytes nettleCbcEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    aes256_ctx ctx;
    aes256_set_encrypt_key(&ctx, key.data());
    Bytes chain = iv;
    Bytes out(plain.size());
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_encrypt), AES_BLOCK_SIZE, chain.data(),
                plain.size(), out.data(), plain.data());
    return out;
}

Bytes nettleCbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher) {
    aes256_ctx ctx;
    aes256_set_decrypt_key(&ctx, key.data());
    Bytes chain = iv;
    Bytes out(cipher.size());
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), AES_BLOCK_SIZE, chain.data(),
                cipher.size(), out.data(), cipher.data());
    return out;
}

Bytes pkcs7(Bytes plain) {
    size_t pad = 16 - plain.size() % 16;
    plain.insert(plain.end(), pad, static_cast<uint8_t>(pad));
    return plain;
}

// Our decryption through the value routine; "" stands for none.
std::string decryptValue(const Bytes& cipher, const Bytes& key, const Bytes& iv, bool* none = nullptr) {
    char* plain = decryptKestrovanValue(cipher.data(), cipher.size(), key.data(), iv.data());
    if (none) *none = plain == nullptr;
    std::string out = plain ? plain : "";
    freeSecret(plain);
    return out;
}

const Bytes kSp800Key = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kSp800IV = fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kSp800Plain = fromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
const Bytes kSp800Cipher = fromHex(
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");

TEST(Aes256, BlockVectorBothWays) {
    const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    const Bytes cipher = fromHex("8ea2b7ca516745bfeafc49904b496089");
    Aes256Context ctx;
    uint8_t out[16];
    aes256SetEncryptKey(&ctx, key.data());
    aes256EncryptBlock(&ctx, plain.data(), out);
    EXPECT_EQ(Bytes(out, out + 16), cipher);
    aes256SetDecryptKey(&ctx, key.data());
    aes256DecryptBlock(&ctx, cipher.data(), out);
    EXPECT_EQ(Bytes(out, out + 16), plain);
    aes256Wipe(&ctx);
    EXPECT_EQ(ctx.blockSize, 0u);
}

// The four-block CBC vectors: encryption adds a fifth, full padding block, and
// decrypting that result gives the four blocks back. The block decryption alone
// is checked against the decryption vectors chained by hand.
TEST(Aes256Cbc, PublishedVectors) {
    Aes256Context ctx;
    aes256SetEncryptKey(&ctx, kSp800Key.data());
    Bytes cipher(80);
    size_t cipherLength = 0;
    ASSERT_EQ(aes256CbcEncrypt(&ctx, kSp800IV.data(), kSp800Plain.data(), kSp800Plain.size(), cipher.data(),
                               cipher.size(), &cipherLength),
              0);
    ASSERT_EQ(cipherLength, 80u);
    EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 64), kSp800Cipher);

    aes256SetDecryptKey(&ctx, kSp800Key.data());
    for (size_t at = 0; at < 64; at += 16) {
        uint8_t block[16];
        aes256DecryptBlock(&ctx, kSp800Cipher.data() + at, block);
        const uint8_t* previous = at == 0 ? kSp800IV.data() : kSp800Cipher.data() + at - 16;
        for (int i = 0; i < 16; ++i) block[i] ^= previous[i];
        EXPECT_EQ(Bytes(block, block + 16), Bytes(kSp800Plain.begin() + at, kSp800Plain.begin() + at + 16));
    }
    Bytes plain(80);
    size_t plainLength = 0;
    ASSERT_EQ(aes256CbcDecrypt(&ctx, kSp800IV.data(), cipher.data(), 80, plain.data(), plain.size(), &plainLength), 0);
    plain.resize(plainLength);
    EXPECT_EQ(plain, kSp800Plain);
}

// Every plaintext length 0..300 under fresh random keys and IVs, nettle doing the
// same work on the padded plaintext; short ones (below one block) included.
TEST(Aes256Cbc, MatchesNettleForEveryLengthUpTo300) {
    std::mt19937 generator(256);
    for (size_t length = 0; length <= 300; ++length) {
        Bytes key = randomBlock(generator, 32), iv = randomBlock(generator, 16);
        Bytes plain = randomBlock(generator, length);
        Bytes expected = nettleCbcEncrypt(key, iv, pkcs7(plain));

        Aes256Context ctx;
        aes256SetEncryptKey(&ctx, key.data());
        Bytes cipher(aes256CbcPaddedLength(length));
        size_t cipherLength = 0;
        ASSERT_EQ(aes256CbcEncrypt(&ctx, iv.data(), plain.data(), length, cipher.data(), cipher.size(),
                                   &cipherLength),
                  0)
            << length;
        ASSERT_EQ(cipherLength, expected.size()) << length;
        ASSERT_EQ(cipher, expected) << length;

        aes256SetDecryptKey(&ctx, key.data());
        Bytes back(cipher.size());
        size_t backLength = 0;
        ASSERT_EQ(aes256CbcDecrypt(&ctx, iv.data(), cipher.data(), cipher.size(), back.data(), back.size(),
                                   &backLength),
                  0)
            << length;
        back.resize(backLength);
        ASSERT_EQ(back, plain) << length;
    }
}

TEST(Aes256Cbc, FailureCodes) {
    std::mt19937 generator(3);
    Bytes key = randomBlock(generator, 32), iv = randomBlock(generator, 16);
    Aes256Context dec;
    aes256SetDecryptKey(&dec, key.data());

    // Last blocks crafted in plain form, enciphered by nettle without padding.
    struct Case {
        const char* name;
        Bytes lastBlock;
        int code;
        size_t removed;
    };
    Bytes over16(16, 'x');
    over16[15] = 17;
    Bytes mixed(16, 'x');
    mixed[15] = 3;
    mixed[14] = 3;
    mixed[13] = 2;
    Bytes zeroPadded(16, 0);
    std::memcpy(zeroPadded.data(), "abc", 3);
    const Case cases[] = {
        {"last byte above 16", over16, kAesErrorBadPadding, 0},
        {"padding bytes differ", mixed, kAesErrorBadPadding, 0},
        {"zero padding removes nothing", zeroPadded, 0, 0},
        {"a full padding block", Bytes(16, 16), 0, 16},
    };
    for (const auto& c : cases) {
        Bytes plain = randomBlock(generator, 16);
        plain.insert(plain.end(), c.lastBlock.begin(), c.lastBlock.end());
        Bytes cipher = nettleCbcEncrypt(key, iv, plain);
        Bytes out(cipher.size(), 0xee);
        size_t outLength = 99;
        EXPECT_EQ(aes256CbcDecrypt(&dec, iv.data(), cipher.data(), cipher.size(), out.data(), out.size(), &outLength),
                  c.code)
            << c.name;
        if (c.code == 0) {
            EXPECT_EQ(outLength, plain.size() - c.removed) << c.name;
            EXPECT_EQ(out, plain) << c.name;
        } else {
            EXPECT_EQ(out, Bytes(out.size(), 0)) << c.name << ": a refused plaintext is wiped";
        }
    }

    Bytes buffer(64);
    size_t n = 0;
    EXPECT_EQ(aes256CbcDecrypt(&dec, iv.data(), buffer.data(), 33, buffer.data() + 0, 64, &n), kAesErrorBadLength);
    EXPECT_EQ(aes256CbcDecrypt(&dec, iv.data(), buffer.data(), 0, buffer.data(), 64, &n), kAesErrorBadPadding);
    Bytes cipher = nettleCbcEncrypt(key, iv, pkcs7(toBytes("hello")));
    EXPECT_EQ(aes256CbcDecrypt(&dec, iv.data(), cipher.data(), 16, buffer.data(), 15, &n), kAesErrorNoSpace);

    Aes256Context enc;
    aes256SetEncryptKey(&enc, key.data());
    EXPECT_EQ(aes256CbcEncrypt(&enc, iv.data(), buffer.data(), 16, buffer.data() + 32, 31, &n), kAesErrorNoSpace);

    Aes256Context unkeyed{};
    EXPECT_EQ(aes256CbcEncrypt(&unkeyed, iv.data(), buffer.data(), 16, buffer.data() + 32, 32, &n),
              kAesErrorNoBlockSize);
    EXPECT_EQ(aes256CbcDecrypt(&unkeyed, iv.data(), buffer.data(), 16, buffer.data() + 32, 32, &n),
              kAesErrorNoBlockSize);
}

class ValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        logFile_ = sandbox_.path("aes.log");
        sandbox_.writeLogIni(logFile_);
        ASSERT_TRUE(setLog("AesTest"));
        ASSERT_TRUE(initKestrovanValueKey());
        key_.assign(kestrovanValueKey(), kestrovanValueKey() + 32);
        iv_.assign(kestrovanValueIV(), kestrovanValueIV() + 16);
    }
    void TearDown() override { unsetLog(); }
    // The log file's name carries the date, so every file it wrote is read.
    std::string log() const {
        std::string text;
        for (const std::string& name : testsupport::listDir(sandbox_.root()))
            if (name.rfind("aes", 0) == 0) text += testsupport::readFile(sandbox_.path(name));
        return text;
    }

    testsupport::Sandbox sandbox_;
    std::string logFile_;
    Bytes key_, iv_;
};

// Every length 0..100: the cipher text has the predicted length, holds exactly
// prefix + text + zero byte + PKCS#7 padding (read back by nettle), and the value
// routine returns the text.
TEST_F(ValueTest, RoundTripsEveryLengthUpTo100) {
    for (size_t length = 0; length <= 100; ++length) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>('!' + (i * 7 + length) % 90);
        size_t cipherLength = 0;
        uint8_t* cipher = encryptKestrovanValue(text.c_str(), &cipherLength);
        ASSERT_NE(cipher, nullptr) << length;
        size_t plainLength = 15 + length + 1;
        ASSERT_EQ(cipherLength, plainLength / 16 * 16 + 16) << length;
        Bytes cipherBytes(cipher, cipher + cipherLength);
        std::free(cipher);

        Bytes expected = toBytes("KestrovanAESCBC" + text);
        expected.push_back(0);
        EXPECT_EQ(nettleCbcDecrypt(key_, iv_, cipherBytes), pkcs7(expected)) << length;

        bool none = true;
        EXPECT_EQ(decryptValue(cipherBytes, key_, iv_, &none), text) << length;
        EXPECT_FALSE(none) << length;
    }
    EXPECT_NE(log().find("[Normal] AES: Remove prefix"), std::string::npos);
}

TEST_F(ValueTest, EmptyTextAndFullPaddingBlock) {
    size_t n = 0;
    uint8_t* cipher = encryptKestrovanValue("", &n);
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(n, 32u);  // prefix and zero byte fill one block, padding the second
    EXPECT_EQ(decryptValue(Bytes(cipher, cipher + n), key_, iv_), "");
    std::free(cipher);

    // Prefixed length 31: the zero byte completes the second block.
    cipher = encryptKestrovanValue("0123456789abcdef", &n);
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(n, 48u);
    Bytes plain = nettleCbcDecrypt(key_, iv_, Bytes(cipher, cipher + n));
    EXPECT_EQ(Bytes(plain.begin() + 32, plain.end()), Bytes(16, 16));
    std::free(cipher);
}

// Values that a page encrypted itself, under its own key: no prefix, possibly a
// single block, possibly without a zero byte before the padding.
TEST_F(ValueTest, PageEncryptedValues) {
    std::mt19937 generator(11);
    Bytes key = randomBlock(generator, 32), iv = randomBlock(generator, 16);
    struct Case {
        const char* name;
        Bytes plain;  // already padded to whole blocks
        std::string expected;
    };
    Bytes zeroPadded = toBytes("PIN 4711");
    zeroPadded.resize(16, 0);
    Bytes withZero = toBytes("20 characters long!!");
    withZero.push_back(0);
    const Case cases[] = {
        {"single block with zero byte", pkcs7(Bytes{'1', '2', '3', '4', 0}), "1234"},
        {"single block, padding only", pkcs7(toBytes("abc")), "abc"},
        {"two blocks with zero byte", pkcs7(withZero), "20 characters long!!"},
        {"zero padded", zeroPadded, "PIN 4711"},
        {"exact block, full padding block", pkcs7(toBytes("0123456789ABCDEF")), "0123456789ABCDEF"},
    };
    for (const auto& c : cases) {
        Bytes cipher = nettleCbcEncrypt(key, iv, c.plain);
        bool none = true;
        EXPECT_EQ(decryptValue(cipher, key, iv, &none), c.expected) << c.name;
        EXPECT_FALSE(none) << c.name;
    }
    EXPECT_EQ(log().find("Remove prefix"), std::string::npos);
}

TEST_F(ValueTest, FailuresYieldNoneWithTheirLogLines) {
    size_t n = 0;
    uint8_t* cipher = encryptKestrovanValue("some value", &n);
    ASSERT_NE(cipher, nullptr);
    Bytes good(cipher, cipher + n);
    std::free(cipher);

    // A length that is not a whole number of blocks.
    Bytes odd(33, 0x5a);
    testing::internal::CaptureStdout();
    bool none = false;
    decryptValue(odd, key_, iv_, &none);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "p->Buse: 1\nbufsize: 16\n");
    EXPECT_TRUE(none);
    EXPECT_NE(log().find("[Warning] Error code 65 = 0x41 at "), std::string::npos);

    // Wrong keys: mostly bad padding; when the padding happens to look right the
    // garbage comes back as text, but never the value.
    std::mt19937 generator(5);
    int refused = 0;
    for (int i = 0; i < 20; ++i) {
        Bytes wrong = randomBlock(generator, 32);
        std::string text = decryptValue(good, wrong, iv_, &none);
        if (none) ++refused;
        EXPECT_NE(text, "some value");
    }
    EXPECT_GT(refused, 10);
    EXPECT_NE(log().find("[Warning] Error code 64 = 0x40 at "), std::string::npos);

    // Null arguments are reported by name.
    EXPECT_EQ(encryptKestrovanValue(nullptr, &n), nullptr);
    EXPECT_EQ(decryptKestrovanValue(nullptr, 16, key_.data(), iv_.data()), nullptr);
    EXPECT_EQ(decryptKestrovanValue(good.data(), good.size(), nullptr, nullptr), nullptr);
    const std::string text = log();
    for (const char* name : {"inputText", "inputKey", "inputIV"}) {
        EXPECT_NE(text.find(std::string("Parameter ") + name + " is null at "), std::string::npos) << name;
    }
}

TEST(ValueKey, FilledOnceAndNotZero) {
    ASSERT_TRUE(initKestrovanValueKey());
    const uint8_t* key = kestrovanValueKey();
    Bytes first(key, key + 32);
    ASSERT_TRUE(initKestrovanValueKey());
    EXPECT_EQ(kestrovanValueKey(), key);
    EXPECT_EQ(Bytes(key, key + 32), first);
    EXPECT_NE(first, Bytes(32, 0));
    EXPECT_NE(Bytes(kestrovanValueIV(), kestrovanValueIV() + 16), Bytes(16, 0));
}

}  // namespace
