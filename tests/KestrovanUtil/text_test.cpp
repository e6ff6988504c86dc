// Text and encoding helpers: tables of cases, and base64 / UTF conversions checked
// against GnuTLS and iconv on edge and random inputs.
#include <gnutls/gnutls.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "tests/support/sandbox.h"

namespace {

std::string take(char* text) {
    TextHolder holder(text);
    return holder ? std::string(holder.get()) : std::string("<none>");
}

std::u16string takeWide(char16_t* text) {
    WideHolder holder(text);
    return holder ? std::u16string(holder.get()) : std::u16string(u"<none>");
}

std::vector<std::string> takeList(char** list) {
    TextListHolder holder(list);
    std::vector<std::string> parts;
    if (!holder) return {"<none>"};
    for (char** p = holder.get(); *p != nullptr; ++p) parts.emplace_back(*p);
    return parts;
}

// iconv as the outside oracle: false when it refuses the input.
bool iconvConvert(const char* to, const char* from, const std::string& input, std::string* output) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* outp = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    *output = out;
    return true;
}

std::string wideBytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

}  // namespace

TEST(TextAllocation, SizeLimitsAndZeroFill) {
    EXPECT_EQ(allocZero(0), nullptr);
    EXPECT_EQ(allocZero(SIZE_MAX / 2 + 1), nullptr);
    unsigned char* block = static_cast<unsigned char*>(allocZero(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
    std::memset(block, 0xAB, 64);
    secureZero(block, 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
    std::free(block);
    freeSecret(nullptr);
}

TEST(TextCopies, SubstringLowerStartsWith) {
    struct Case { const char* text; size_t start, end; const char* expected; };
    const Case cases[] = {
        {"abcdef", 1, 4, "bcd"}, {"abcdef", 0, 6, "abcdef"}, {"abcdef", 3, 3, "<none>"},
        {"abcdef", 4, 2, "<none>"},
        // A range past the end is cut at the terminator rather than read beyond it.
        {"abc", 1, 100, "bc"}, {"abc", 5, 9, "<none>"}, {nullptr, 0, 1, "<none>"},
    };
    for (const Case& c : cases) EXPECT_EQ(take(substring(c.text, c.start, c.end)), c.expected) << c.start;

    EXPECT_EQ(take(lowerCopy("AbC-Z1ÄÖ")), "abc-z1ÄÖ");
    EXPECT_EQ(take(lowerCopy(nullptr)), "<none>");
    EXPECT_EQ(take(duplicateText(nullptr)), "<none>");
    EXPECT_EQ(takeWide(duplicateWide(u"wide")), u"wide");
    EXPECT_EQ(duplicateWide(nullptr), nullptr);

    EXPECT_TRUE(startsWith("localhost:56452", "localhost:"));
    EXPECT_FALSE(startsWith("local", "localhost:"));
    EXPECT_TRUE(startsWith("anything", nullptr));
    EXPECT_TRUE(startsWith("anything", ""));
    EXPECT_FALSE(startsWith(nullptr, "x"));
}

TEST(TextReplace, LeftToRightWithoutOverlap) {
    struct Case { const char* text; const char* needle; const char* replacement; const char* expected; };
    const Case cases[] = {
        {"aaa", "aa", "b", "ba"},
        {"a*b*c", "*", "\\", "a\\b\\c"},
        {"x==KestrovanSlash==y==KestrovanSlash==", "==KestrovanSlash==", "\\", "x\\y\\"},
        {"abab", "ab", "abab", "abababab"},  // the replacement is not scanned again
        {"none here", "zz", "y", "none here"},
        {"", "a", "b", ""},
        {"keep", "", "x", "keep"},  // an empty needle leaves the text as it is
        {"drop-me", "-me", nullptr, "drop"},
    };
    for (const Case& c : cases) EXPECT_EQ(take(replaceAll(c.text, c.needle, c.replacement)), c.expected) << c.text;
    EXPECT_EQ(replaceAll(nullptr, "a", "b"), nullptr);
}

TEST(TextSplit, EmptyPartsKept) {
    using Parts = std::vector<std::string>;
    struct Case { const char* text; const char* separator; Parts expected; };
    const Case cases[] = {
        {"1,,2", ",", {"1", "", "2"}},
        {"1,2,", ",", {"1", "2", ""}},
        {",", ",", {"", ""}},
        {"solo", ",", {"solo"}},
        {"a\r\nb\r\n\r\nc", "\r\n", {"a", "b", "", "c"}},
        {"/path//x/", "/", {"", "path", "", "x", ""}},
        {"", ",", {}},
        {"a,b", "", {}},
        {"a,b", nullptr, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(takeList(splitText(c.text, c.separator)), c.expected) << c.text;
    EXPECT_EQ(splitText(nullptr, ","), nullptr);
    EXPECT_EQ(textListLength(nullptr), 0u);
    freeTextList(nullptr);
}

TEST(TextPadAndStrip, Cases) {
    EXPECT_EQ(take(padLeft("5", 2, '0')), "05");
    EXPECT_EQ(take(padLeft("12", 2, '0')), "12");
    EXPECT_EQ(take(padLeft("", 3, ' ')), "   ");
    EXPECT_EQ(take(padLeft("5e0f3a1", 16, ' ')), "         5e0f3a1");
    EXPECT_EQ(take(padLeft("abcdef", 4, ' ')), "cdef");  // too wide: the right-most part stays
    EXPECT_EQ(take(padLeft("x", 0, ' ')), "");
    EXPECT_EQ(padLeft(nullptr, 4, ' '), nullptr);

    EXPECT_EQ(takeWide(stripExe(u"TarvikKestrovan.exe")), u"TarvikKestrovan");
    EXPECT_EQ(takeWide(stripExe(u"a.exe.exeb.ex")), u"ab.ex");
    EXPECT_EQ(takeWide(stripExe(u".exe")), u"");
    EXPECT_EQ(takeWide(stripExe(u"NAME.EXE")), u"NAME.EXE");
    EXPECT_EQ(stripExe(nullptr), nullptr);
}

TEST(TextNumbers, ConversionsAndCodes) {
    struct Case { const char* text; bool digitsOnly; bool hex; int32_t value; int32_t code; };
    const Case cases[] = {
        {"-12", false, false, -12, 0},
        {"-12", true, false, -12, 0},
        {"0", true, false, 0, 0},
        {"2147483647", false, false, INT32_MAX, 0},
        {"-2147483648", true, false, INT32_MIN, 0},
        {"2147483648", false, false, 0, kCodeNotNumber},
        {"99999999999999999999", false, false, 0, kCodeNotNumber},
        {"12a", false, false, 12, 0},  // stops at the first other character
        {"12a", true, false, 0, kCodeNotNumber},
        {" 7", false, false, 7, 0},
        {" 7", true, false, 0, kCodeNotNumber},
        {"+7", true, false, 0, kCodeNotNumber},
        {"-", true, false, 0, kCodeNotNumber},
        {"", false, false, 0, kCodeNotNumber},
        {"abc", false, false, 0, kCodeNotNumber},
        {nullptr, false, false, 0, kCodeNullText},
        {nullptr, true, false, 0, kCodeNullText},
        {"1a", false, true, 0x1a, 0},
        {"  5e", false, true, 0x5e, 0},  // a right-aligned time piece
        {"0f3a1", false, true, 0xf3a1, 0},
        {"FFFFF", false, true, 0xFFFFF, 0},
        {"0x10", false, true, 16, 0},
        {"7fffffff", false, true, INT32_MAX, 0},
        {"80000000", false, true, 0, kCodeNotNumber},
        {"   ", false, true, 0, kCodeNotNumber},  // a piece of blanks counts as 0
        {"xyz", false, true, 0, kCodeNotNumber},
        {nullptr, false, true, 0, kCodeNullText},
    };
    for (const Case& c : cases) {
        lastErrorCode = 12345;
        const int32_t value = c.hex ? hexToInt(c.text) : toInt(c.text, c.digitsOnly);
        const char* shown = c.text ? c.text : "(null)";
        EXPECT_EQ(value, c.value) << shown;
        EXPECT_EQ(lastErrorCode, c.code) << shown;
        EXPECT_EQ(lastConversionFailed(), c.code != 0) << shown;
    }
}

TEST(TextUtf, EdgeCasesAgreeWithIconv) {
    // Valid texts at each encoding length boundary, and a surrogate pair.
    const std::vector<std::string> valid = {
        "", "plain ascii", "\x7f", "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf",
        "\xee\x80\x80", "\xef\xbf\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf", "中文 ÄÖ 😀",
    };
    for (const std::string& text : valid) {
        std::string expected;
        ASSERT_TRUE(iconvConvert("UTF-16LE", "UTF-8", text, &expected)) << text;
        const std::u16string wide = takeWide(utf8ToUtf16(text.c_str()));
        EXPECT_EQ(wideBytes(wide), expected) << text;
        EXPECT_EQ(take(utf16ToUtf8(wide.c_str())), text);
    }
    // Malformed UTF-8: overlong forms, encoded surrogates, beyond U+10FFFF, cut sequences.
    const std::vector<std::string> invalidUtf8 = {
        "\xc0\x80", "\xc1\xbf", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xed\xbf\xbf", "\xf0\x8f\xbf\xbf",
        "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\x80", "ab\xe2\x82", "\xe2\x82z", "ok\xff",
    };
    for (const std::string& text : invalidUtf8) {
        std::string ignored;
        EXPECT_FALSE(iconvConvert("UTF-16LE", "UTF-8", text, &ignored)) << "oracle accepts case";
        EXPECT_EQ(takeWide(utf8ToUtf16(text.c_str())), u"");
    }
    // Unpaired surrogates cannot be written in UTF-8.
    const std::vector<std::u16string> invalidUtf16 = {
        std::u16string(1, char16_t(0xD800)), u"a" + std::u16string(1, char16_t(0xDC00)),
        std::u16string{char16_t(0xDBFF), u'x'}, std::u16string{char16_t(0xDC00), char16_t(0xD800)},
    };
    for (const std::u16string& text : invalidUtf16) {
        std::string ignored;
        EXPECT_FALSE(iconvConvert("UTF-8", "UTF-16LE", wideBytes(text), &ignored));
        EXPECT_EQ(take(utf16ToUtf8(text.c_str())), "");
    }
    EXPECT_EQ(utf8ToUtf16(nullptr), nullptr);
    EXPECT_EQ(utf16ToUtf8(nullptr), nullptr);
}

TEST(TextUtf, RandomInputsAgreeWithIconv) {
    std::mt19937 rng(20240115);
    // Random bytes biased towards multi-byte leads and continuations, so that both
    // valid and malformed sequences turn up often.
    const unsigned char pool[] = {'a', 'Z', 0x7f, 0x80, 0xbf, 0xc2, 0xdf, 0xe0, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xa0, 0x90, 0x8f};
    int validSeen = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = 1 + static_cast<int>(rng() % 12);
        for (int i = 0; i < length; ++i) {
            text.push_back(static_cast<char>(rng() % 3 == 0 ? pool[rng() % sizeof(pool)] : 0x80 + rng() % 0x7f));
        }
        std::string expected;
        const bool ok = iconvConvert("UTF-16LE", "UTF-8", text, &expected);
        validSeen += ok;
        const std::u16string wide = takeWide(utf8ToUtf16(text.c_str()));
        EXPECT_EQ(wideBytes(wide), ok ? expected : std::string()) << round;
    }
    EXPECT_GT(validSeen, 50);

    // Random UTF-16 with surrogates in and out of pairs.
    int pairedSeen = 0;
    for (int round = 0; round < 3000; ++round) {
        std::u16string text;
        const int length = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < length; ++i) {
            const uint32_t kind = rng() % 4;
            char16_t unit = kind == 0 ? char16_t(0xD800 + rng() % 0x400)
                          : kind == 1 ? char16_t(0xDC00 + rng() % 0x400)
                                      : char16_t(1 + rng() % 0xFFFE);
            text.push_back(unit);
        }
        std::string expected;
        const bool ok = iconvConvert("UTF-8", "UTF-16LE", wideBytes(text), &expected);
        pairedSeen += ok;
        EXPECT_EQ(take(utf16ToUtf8(text.c_str())), ok ? expected : std::string()) << round;
        if (ok) {
            EXPECT_EQ(takeWide(utf8ToUtf16(expected.c_str())), text) << round;
        }
    }
    EXPECT_GT(pairedSeen, 50);
}

TEST(TextBase64, RandomBytesAgreeWithGnuTls) {
    std::mt19937 rng(61005);
    for (size_t length = 0; length < 200; ++length) {
        std::vector<uint8_t> data(length);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
        gnutls_datum_t in{data.data(), static_cast<unsigned>(length)};
        gnutls_datum_t encoded{nullptr, 0};
        ASSERT_EQ(gnutls_base64_encode2(&in, &encoded), 0);
        const std::string expected(reinterpret_cast<char*>(encoded.data), encoded.size);
        gnutls_free(encoded.data);

        const std::string ours = take(base64EncodeBytes(data.data(), length));
        EXPECT_EQ(ours, expected) << length;

        // Percent-encoded specials decode to the same bytes.
        std::string percent;
        for (char c : ours) percent += c == '+' ? "%2B" : c == '/' ? "%2F" : c == '=' ? "%3D" : std::string(1, c);
        for (const std::string& form : {ours, percent}) {
            size_t decodedLength = 99;
            char* decoded = base64Decode(form.c_str(), &decodedLength);
            ASSERT_NE(decoded, nullptr);
            EXPECT_EQ(decodedLength, length);
            if (length > 0) {
                EXPECT_EQ(std::memcmp(decoded, data.data(), length), 0) << length;
            }
            EXPECT_EQ(decoded[length], '\0');
            std::free(decoded);
        }
    }
}

TEST(TextBase64, DecodeStopsOutsideTheAlphabet) {
    struct Case { const char* text; const char* expected; };
    const Case cases[] = {
        {"SGk%3D", "Hi"}, {"SGk=", "Hi"}, {"SGk", "Hi"}, {"SGk= trailing", "Hi"},
        {"SGVsbG8 V29ybGQ=", "Hello"}, {"SGVsbG8\nV29ybGQ=", "Hello"}, {"SGVsbG8=V29ybGQ=", "Hello"},
        {"", ""}, {"*SGk=", ""}, {"S", ""},
        {"eyJhIjoiMSJ9", "{\"a\":\"1\"}"},
    };
    for (const Case& c : cases) EXPECT_EQ(take(base64Decode(c.text)), c.expected) << c.text;
    EXPECT_EQ(take(base64Decode("%2B%2F%2B%2F")), take(base64Decode("+/+/")));
    EXPECT_EQ(base64Decode(nullptr), nullptr);

    EXPECT_EQ(take(base64Encode("Hi")), "SGk=");
    EXPECT_EQ(take(base64Encode("")), "");
    EXPECT_EQ(base64Encode(nullptr), nullptr);
}

TEST(TextHex, EncodeAndDecode) {
    uint8_t digest[64];
    for (int i = 0; i < 64; ++i) digest[i] = static_cast<uint8_t>(i * 37 + 5);
    const std::string hex = take(hexEncode(digest, sizeof(digest)));
    ASSERT_EQ(hex.size(), 128u);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(hex.substr(0, 6), "052A4F");

    size_t length = 0;
    uint8_t* back = hexDecode(hex.c_str(), &length);
    ASSERT_EQ(length, 64u);
    EXPECT_EQ(std::memcmp(back, digest, 64), 0);
    std::free(back);

    struct Case { const char* text; std::vector<uint8_t> expected; };
    const Case cases[] = {
        {"00ff7Fa0", {0x00, 0xff, 0x7f, 0xa0}},
        {"abc", {0xab}},          // an odd last digit is ignored
        {"zz1g", {0x00, 0x10}},  // non-hex characters count as 0
        {"", {}},
    };
    for (const Case& c : cases) {
        uint8_t* bytes = hexDecode(c.text, &length);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + length), c.expected) << c.text;
        std::free(bytes);
    }
    EXPECT_EQ(hexDecode(nullptr, &length), nullptr);
    EXPECT_EQ(take(hexEncode(nullptr, 0)), "");
}

TEST(TextJson, GetJsonValue) {
    const char* message =
        "{\"From\":\"KestrovanWorker\", \"To\":\"TarvikKestrovan.exe\", \"Instruction\":\"\", "
        "\"Note\":\"say \\\"hi\\\"\", \"Count\":12}";
    struct Case { const char* key; const char* expected; };
    const Case cases[] = {
        {"From", "KestrovanWorker"}, {"from", "KestrovanWorker"}, {"TO", "TarvikKestrovan.exe"},
        {"Instruction", ""}, {"Note", "say \"hi\""}, {"count", "12"}, {"Missing", "<none>"},
        // A value is never taken for a key.
        {"KestrovanWorker", "<none>"},
    };
    for (const Case& c : cases) EXPECT_EQ(take(getJsonValue(message, c.key)), c.expected) << c.key;

    // Non-strict: bare words are tokens too.
    EXPECT_EQ(take(getJsonValue("{from: worker, to: monitor}", "To")), "monitor");
    // A key at the very end has no value token to read.
    EXPECT_EQ(take(getJsonValue("{\"a\":\"1\", \"b\"}", "b")), "<none>");
    EXPECT_EQ(take(getJsonValue("not json at all \"", "a")), "<none>");
    EXPECT_EQ(take(getJsonValue("", "a")), "<none>");
    // More than 64 tokens do not fit the tokeniser.
    std::string big = "{";
    for (int i = 0; i < 40; ++i) big += "\"k" + std::to_string(i) + "\":\"v\",";
    big += "\"last\":\"x\"}";
    EXPECT_EQ(take(getJsonValue(big.c_str(), "k0")), "<none>");
    EXPECT_EQ(getJsonValue(nullptr, "a"), nullptr);
    EXPECT_EQ(getJsonValue("{}", nullptr), nullptr);
}

TEST(TextJson, SevenUnescapePasses) {
    struct Case { const char* text; const char* expected; };
    const Case cases[] = {
        {"a\\rb\\nc\\td", "a\rb\nc\td"},
        {"\\u000f\\u000e\\u001b", "\x0f\x0e\x1b"},
        {"say \\\"hi\\\"", "say \"hi\""},
        // Everything else stays as written.
        {"\\\\ \\/ \\b \\f \\u0041 \\u000F", "\\\\ \\/ \\b \\f \\u0041 \\u000F"},
        // Passes run in order over the whole text: the second backslash pairs with n.
        {"C:\\\\new", "C:\\\new"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(take(unescapeJsonValue(c.text)), c.expected) << c.text;
    EXPECT_EQ(unescapeJsonValue(nullptr), nullptr);
}

TEST(TextReporting, NullArgumentsNameTheirParameter) {
    testsupport::Sandbox sandbox;
    const std::string logFile = sandbox.path("text.log");
    sandbox.writeLogIni(logFile);
    ASSERT_TRUE(setLog("TextTest"));
    EXPECT_EQ(getJsonValue(nullptr, "From"), nullptr);
    EXPECT_FALSE(startsWith(nullptr, "x"));
    EXPECT_EQ(padLeft(nullptr, 2, '0'), nullptr);
    EXPECT_EQ(lowerCopy(nullptr), nullptr);
    unsetLog();
    // The library dates the file name, so every file it wrote is read.
    std::string log;
    for (const std::string& name : testsupport::listDir(sandbox.root())) {
        if (name.rfind("text", 0) == 0) log += testsupport::readFile(sandbox.path(name));
    }
    for (const char* name : {"inputJSONObj", "inputMainString", "MainText", "input"}) {
        EXPECT_NE(log.find(std::string("Parameter ") + name + " is null at "), std::string::npos) << name;
    }
}
