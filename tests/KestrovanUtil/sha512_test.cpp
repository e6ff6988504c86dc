// SHA-512 against the published vectors and against nettle on random inputs.
#include <gtest/gtest.h>
#include <nettle/sha2.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KestrovanUtil/AES.h"

namespace {

std::string toHex(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string digestOf(const std::string& text) {
    uint8_t out[64];
    sha512(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
    return toHex(out, sizeof out);
}

std::vector<uint8_t> randomBytesFor(std::mt19937& generator, size_t length) {
    std::vector<uint8_t> data(length);
    for (auto& b : data) b = static_cast<uint8_t>(generator());
    return data;
}

TEST(Sha512, PublishedVectors) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
         "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
        {"abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        // The two-block message: padding has to spill into a second block.
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
         "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
         "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
        {std::string(1000000, 'a'),
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
         "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(digestOf(c.message), c.digest) << "message length " << c.message.size();
    }
}

// Every length around the block and padding boundaries (111/112, 127/128, 239/240 ...).
TEST(Sha512, MatchesNettleForEveryLengthUpTo300) {
    std::mt19937 generator(512);
    for (size_t length = 0; length <= 300; ++length) {
        auto data = randomBytesFor(generator, length);
        uint8_t ours[64];
        sha512(data.data(), data.size(), ours);

        uint8_t theirs[SHA512_DIGEST_SIZE];
        sha512_ctx ctx;
        sha512_init(&ctx);
        sha512_update(&ctx, data.size(), data.data());
        sha512_digest(&ctx, sizeof theirs, theirs);
        ASSERT_EQ(toHex(ours, 64), toHex(theirs, 64)) << "length " << length;
    }
}

// Feeding the same bytes in uneven pieces must give the one-shot digest.
TEST(Sha512, PiecewiseUpdateEqualsOneShot) {
    std::mt19937 generator(7);
    auto data = randomBytesFor(generator, 1000);
    uint8_t expected[64];
    sha512(data.data(), data.size(), expected);

    const size_t pieces[] = {0, 1, 5, 127, 128, 129, 3, 200, 255, 152};
    Sha512Context context;
    sha512Init(&context);
    size_t at = 0;
    for (size_t piece : pieces) {
        sha512Update(&context, data.data() + at, piece);
        at += piece;
    }
    ASSERT_EQ(at, data.size());
    uint8_t out[64];
    sha512Final(&context, out);
    EXPECT_EQ(toHex(out, 64), toHex(expected, 64));

    // The state is wiped once the digest is out.
    Sha512Context zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&context, &zero, sizeof zero), 0);
}

}  // namespace
