// The JSON map: parsing and its escape passes, capacity, case-insensitive keys, the
// value flags, typed getters, serialisation, the parameter listing and missed lookups.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KestrovanUtil/AES.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "tests/support/sandbox.h"

namespace {

struct MapDeleter {
    void operator()(KestrovanJsonMap* map) const { FreeKestrovanJsonMap(map); }
};
using MapHolder = std::unique_ptr<KestrovanJsonMap, MapDeleter>;

MapHolder parse(const std::string& text) { return MapHolder(ParseKestrovanJsonMap(text.c_str())); }

std::string take(char* text) {
    TextHolder holder(text);
    return holder ? std::string(holder.get()) : std::string("<none>");
}

std::string get(const KestrovanJsonMap* map, const char* key) { return take(GetKestrovanJsonValue(map, key)); }

std::vector<std::pair<std::string, std::string>> entries(const KestrovanJsonMap* map) {
    std::vector<std::pair<std::string, std::string>> list;
    for (int i = 0; i < map->count; ++i) {
        const KestrovanJsonEntry& e = map->entries[i];
        list.emplace_back(e.key, e.value ? e.value : "<absent>");
    }
    return list;
}

std::string hex(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

// One sandbox and one log for the whole program: logging is switched on once per
// process, and each test reads only the lines written since it began.
class JsonMapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sandbox_ = new testsupport::Sandbox();
        sandbox_->writeLogIni(sandbox_->path("json.txt"));
        ASSERT_TRUE(setLog("TarvikKestrovan"));
    }
    static void TearDownTestSuite() {
        unsetLog();
        delete sandbox_;
        sandbox_ = nullptr;
    }
    void SetUp() override {
        logStart_ = allLog().size();
        reportMissingJsonKey = false;
        lastErrorCode = 0;
    }
    void TearDown() override { reportMissingJsonKey = false; }

    static std::string allLog() {
        std::string text;
        for (const std::string& name : testsupport::listDir(sandbox_->root())) {
            if (name.rfind("json_", 0) == 0) text += testsupport::readFile(sandbox_->path(name));
        }
        return text;
    }
    std::string newLog() const { return allLog().substr(logStart_); }

    static testsupport::Sandbox* sandbox_;
    size_t logStart_ = 0;
};
testsupport::Sandbox* JsonMapTest::sandbox_ = nullptr;

TEST_F(JsonMapTest, ParsesFlatObjectsWithTheSevenEscapePasses) {
    struct Case {
        const char* json;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {R"({"a":"b"})", {{"a", "b"}}},
        {R"({"v":"x\"y"})", {{"v", "x\"y"}}},
        // The escaped backslash is left alone, so the second pass then finds backslash-n.
        {R"({"v":"a\\nb"})", {{"v", "a\\\nb"}}},
        {R"({"v":"\r|\n|\t"})", {{"v", "\r|\n|\t"}}},
        {R"({"v":"\u000f\u000e\u001b"})", {{"v", "\x0f\x0e\x1b"}}},
        {R"({"v":"\u0041\/\b"})", {{"v", "\\u0041\\/\\b"}}},
        {R"({"v":""})", {{"v", ""}}},
        {R"({"n":1,"t":true,"z":null})", {{"n", "1"}, {"t", "true"}, {"z", "null"}}},
        // Keys keep their escapes and their case, and the table is sorted without regard to case.
        {R"({"b":"2","A\"q":"1","C":"3"})", {{"A\\\"q", "1"}, {"b", "2"}, {"C", "3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        MapHolder map = parse(c.json);
        ASSERT_TRUE(map);
        EXPECT_EQ(entries(map.get()), c.expected);
        ASSERT_NE(map->rawText, nullptr);
        EXPECT_STREQ(map->rawText, c.json);
    }
}

TEST_F(JsonMapTest, RefusesTextsThatAreNotOneObjectOfPairs) {
    for (const char* json : {"{}", "[]", "", "{\"a\":\"b", "{\"a\":\"b\"}}"}) {
        SCOPED_TRACE(json);
        logStart_ = allLog().size();
        EXPECT_FALSE(parse(json));
        std::string log = newLog();
        EXPECT_NE(log.find("[TarvikKestrovan][Error] jsmn parse error"), std::string::npos);
        EXPECT_NE(log.find(std::string("[TarvikKestrovan][Error] Error json: ") + json + "\r\n"), std::string::npos);
    }
    EXPECT_EQ(ParseKestrovanJsonMap(nullptr), nullptr);
    EXPECT_NE(newLog().find("Parameter inputJsonStr is null"), std::string::npos);
}

TEST_F(JsonMapTest, AnEmptyKeyEndsTheBuildWithThePairsTakenSoFar) {
    // Pairs are taken from the end, so only those after the empty key survive.
    MapHolder map = parse(R"({"z":"1","":"x","b":"2","a":"3"})");
    ASSERT_TRUE(map);
    EXPECT_EQ(entries(map.get()), (std::vector<std::pair<std::string, std::string>>{{"a", "3"}, {"b", "2"}}));
    EXPECT_EQ(map->rawText, nullptr);
    EXPECT_NE(newLog().find("Memory allocate fail at file: "), std::string::npos);
}

std::string objectOf(int pairs) {
    std::string json = "{";
    for (int i = 0; i < pairs; ++i) json += (i ? "," : "") + std::string("\"k") + std::to_string(i) + "\":\"" + std::to_string(i) + "\"";
    return json + "}";
}

TEST_F(JsonMapTest, HoldsExactly128PairsAndRefusesAnyMore) {
    EXPECT_FALSE(parse(objectOf(129)));
    MapHolder map = parse(objectOf(128));
    ASSERT_TRUE(map);
    ASSERT_EQ(map->count, 128);
    for (int i = 0; i < 128; ++i) {
        std::string key = "K" + std::to_string(i);
        EXPECT_EQ(get(map.get(), key.c_str()), std::to_string(i)) << key;
    }
    // A full table still takes new values for the keys it has, but no new key.
    SetKestrovanJsonValue(map.get(), "k7", "seven");
    SetKestrovanJsonResult(map.get(), 61005);
    EXPECT_EQ(map->count, 128);
    EXPECT_EQ(get(map.get(), "k7"), "seven");
    EXPECT_EQ(get(map.get(), "result"), "<none>");
    EXPECT_NE(newLog().find("[TarvikKestrovan][Warning] Json map full (128 entries), key not added: result"),
              std::string::npos);
}

TEST_F(JsonMapTest, KeysAreTheSameWhateverTheirCase) {
    MapHolder map = parse(R"({"FunctionName":"KestrovanEcho","b":"x"})");
    ASSERT_TRUE(map);
    EXPECT_EQ(get(map.get(), "functionname"), "KestrovanEcho");
    SetKestrovanJsonValue(map.get(), "FUNCTIONNAME", "other");
    EXPECT_EQ(map->count, 2);
    EXPECT_STREQ(map->entries[1].key, "FunctionName");
    EXPECT_EQ(get(map.get(), "FunctionName"), "other");
    SetKestrovanJsonValue(map.get(), "functionName", nullptr);
    EXPECT_EQ(map->count, 2);
    EXPECT_EQ(get(map.get(), "FunctionName"), "<none>");

    // Inserted keys keep the table sorted, so every one of them is found again.
    MapHolder built(NewKestrovanJsonMap());
    ASSERT_TRUE(built);
    EXPECT_EQ(built->rawText, nullptr);
    EXPECT_EQ(get(built.get(), "a"), "<none>");
    const char* keys[] = {"m", "B", "z", "a", "Y", "c", "Kestrovan_x", "_"};
    for (const char* key : keys) SetKestrovanJsonValue(built.get(), key, key);
    for (int i = 1; i < built->count; ++i)
        EXPECT_LE(CompareKestrovanJsonKey(&built->entries[i - 1], &built->entries[i]), 0);
    for (const char* key : keys) EXPECT_EQ(get(built.get(), key), key);
    EXPECT_EQ(CompareKestrovanJsonKey(nullptr, &built->entries[0]), 100);
}

TEST_F(JsonMapTest, LookupReturnsBinaryBlocksAsCopies) {
    MapHolder map(NewKestrovanJsonMap());
    ASSERT_TRUE(map);
    SetKestrovanJsonValue(map.get(), "blob", nullptr);
    KestrovanJsonEntry& entry = map->entries[0];
    const uint8_t bytes[] = {1, 0, 2, 0xff};
    entry.binaryData = static_cast<uint8_t*>(std::malloc(sizeof bytes));
    std::memcpy(entry.binaryData, bytes, sizeof bytes);
    entry.binaryLength = sizeof bytes;

    uint32_t length = 0;
    TextHolder copy(BinarySearchKestrovanJsonMap(map.get(), 0, map->count - 1, "BLOB", &length));
    ASSERT_TRUE(copy);
    ASSERT_EQ(length, sizeof bytes);
    EXPECT_EQ(std::memcmp(copy.get(), bytes, sizeof bytes), 0);
    EXPECT_NE(copy.get(), reinterpret_cast<char*>(entry.binaryData));
    // Binary-only entries are not part of the answer text.
    EXPECT_EQ(take(KestrovanJsonMapToText(map.get())), "{}");
}

// Companion keys of the value flags, each case decoding the key "v".
TEST_F(JsonMapTest, ValueFlagsApplyInTheirOrderOfPriority) {
    struct Case {
        const char* json;
        const char* decoded;
    };
    const Case cases[] = {
        {R"({"v":"C:*Temp*x","v_KestrovanFlag":"TRUE"})", "C:\\Temp\\x"},
        {R"({"v":"C:==KestrovanSlash==Temp","v_KestrovanSlashFlag":"true"})", "C:\\Temp"},
        {R"({"v":"a*b==KestrovanSlash==c","v_KestrovanFlag":"true","v_KestrovanSlashFlag":"true"})",
         "a\\b==KestrovanSlash==c"},
        {R"({"v":"SGk%3D","v_KestrovanBase64Flag":"true"})", "Hi"},
        {R"({"v":"a*b==KestrovanSlash==c","v_KestrovanSlashFlag":"true","v_KestrovanBase64Flag":"true"})",
         "a*b\\c"},
        // Only "true" sets a flag; "false", "yes" and "true " leave the value alone.
        {R"({"v":"a*b","v_KestrovanFlag":"yes"})", "a*b"},
        {R"({"v":"a*b","v_KestrovanFlag":"false"})", "a*b"},
        {R"({"v":"a*b","v_KestrovanFlag":"true "})", "a*b"},
        {R"({"v":"a*b","V_KESTROVANFLAG":"True"})", "a\\b"},
        // No share secret: the cipher text comes back as it was sent.
        {R"({"v":"00112233","v_KestrovanEncryptFlag":"true","v_KestrovanFlag":"true"})", "00112233"},
        // Hiding changes nothing but the listing.
        {R"({"v":"a*b","v_KestrovanHide":"true"})", "a*b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        MapHolder map = parse(c.json);
        ASSERT_TRUE(map);
        EXPECT_EQ(get(map.get(), "v"), c.decoded);
    }
    EXPECT_EQ(DecodeKestrovanJsonValue(nullptr, "v", nullptr), nullptr);
    EXPECT_EQ(take(DecodeKestrovanJsonValue(nullptr, "v", "raw")), "raw");
}

// Encrypts the way a page does: AES-256-CBC, PKCS#7, the map's IV, the secret's first
// 32 bytes (zero-filled when shorter).
std::string pageEncrypt(const std::string& secret, const std::string& plain) {
    uint8_t key[32] = {};
    std::memcpy(key, secret.data(), secret.size() < 32 ? secret.size() : 32);
    uint8_t iv[16];
    getKestrovanJsonIV(iv);
    Aes256Context context;
    aes256SetEncryptKey(&context, key);
    std::vector<uint8_t> out(aes256CbcPaddedLength(plain.size()));
    size_t length = 0;
    int code = aes256CbcEncrypt(&context, iv, reinterpret_cast<const uint8_t*>(plain.data()), plain.size(),
                                out.data(), out.size(), &length);
    aes256Wipe(&context);
    return code == 0 ? hex(out.data(), length) : "<refused>";
}

TEST_F(JsonMapTest, EncryptedValuesAreDecryptedWithTheShareSecret) {
    uint8_t iv[16];
    getKestrovanJsonIV(iv);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(iv), 16), "KestrovanJsonIV1");

    const std::string secret = "0123456789abcdef0123456789abcdef";
    // The example page authors are given, worked out with an independent tool.
    const std::string example = "B06622FD3462CD61E87274C994AADA2A4AFD95EB73008BB80A9CAD38F75C8842";
    ASSERT_EQ(pageEncrypt(secret, std::string("KestrovanAESCBC1234") + '\0'), example);

    struct Case {
        std::string secret, cipherHex, decoded;
    };
    std::string lower = pageEncrypt(secret, "C:\\Users\\card\\pin.txt");
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string bad = "00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF";
    const Case cases[] = {
        {secret, example, "1234"},
        {secret, lower, "C:\\Users\\card\\pin.txt"},
        // Only the first 32 bytes of a longer secret are the key; a shorter one is zero-filled.
        {secret + "tail", example, "1234"},
        {"short-secret", pageEncrypt("short-secret", "KestrovanAESCBCshort key"), "short key"},
        // What cannot be decrypted reaches the caller as its hex text.
        {secret, bad, bad},
        {"another key entirely, 32 bytes!", example, example},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cipherHex);
        std::string json = R"({"v":")" + c.cipherHex + R"(","v_KestrovanEncryptFlag":"true","Kestrovan_share_secret":")" +
                           c.secret + R"("})";
        MapHolder map = parse(json);
        ASSERT_TRUE(map);
        EXPECT_EQ(get(map.get(), "v"), c.decoded);
    }
    // The listing that precedes a decryption never shows the secret.
    std::string log = newLog();
    EXPECT_NE(log.find("[TarvikKestrovan][Normal] find key: Kestrovan_share_secret"), std::string::npos);
    EXPECT_EQ(log.find(secret), std::string::npos);
}

TEST_F(JsonMapTest, FlagsOnCompanionKeysDoNotRecurse) {
    // Decrypting lists the map, and the listing tests x's hide flag: were that flag
    // decoded in turn, its own encrypt flag would list the map again without end.
    MapHolder map = parse(R"({"x":"00","x_KestrovanEncryptFlag":"true","x_KestrovanHide":"true",)"
                          R"("x_KestrovanHide_KestrovanEncryptFlag":"true","Kestrovan_share_secret":"k"})");
    ASSERT_TRUE(map);
    EXPECT_EQ(get(map.get(), "x"), "00");
    EXPECT_NE(newLog().find("[TarvikKestrovan][Normal] x: **\r\n"), std::string::npos);
}

TEST_F(JsonMapTest, TypedGettersConvertTheDecodedValue) {
    MapHolder map = parse(R"({"t":"TRUE","f":"False","n":"  -12abc","p":"+7","x":"abc","big":"99999999999",)"
                          R"("neg":"-99999999999999999999","one":"1","b64":"NDI=","b64_KestrovanBase64Flag":"true",)"
                          R"("u":"\u00e4\u20ac","w":"äb€"})");
    ASSERT_TRUE(map);
    struct Case {
        const char* key;
        bool asBool;
        int32_t asInt;
        int64_t asLong;
    };
    const Case cases[] = {
        {"t", true, 1, 1},
        {"f", false, 0, 0},
        {"n", false, -12, -12},
        {"p", false, 7, 7},
        {"x", false, 0, 0},
        {"one", false, 1, 1},
        {"big", false, INT32_MAX, 99999999999},
        {"neg", false, INT32_MIN, INT64_MIN},
        {"b64", false, 42, 42},
        {"missing", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(GetKestrovanJsonBool(map.get(), c.key), c.asBool);
        EXPECT_EQ(GetKestrovanJsonInt(map.get(), c.key), c.asInt);
        EXPECT_EQ(GetKestrovanJsonLong(map.get(), c.key), c.asLong);
    }

    auto wide = [&](const char* key) {
        BSTR text = GetKestrovanJsonWide(map.get(), key);
        EXPECT_NE(text, nullptr) << key;
        std::u16string copy = text ? std::u16string(text, SysStringLen(text)) : u"<none>";
        SysFreeString(text);
        return copy;
    };
    EXPECT_EQ(wide("w"), u"äb€");
    EXPECT_EQ(wide("missing"), u"");
    // Values keep their bytes; other backslash-u escapes are not turned into characters.
    EXPECT_EQ(wide("u"), u"\\u00e4\\u20ac");
    MapHolder invalid(NewKestrovanJsonMap());
    ASSERT_TRUE(invalid);
    SetKestrovanJsonValue(invalid.get(), "bad", "\xff\xfe");
    BSTR empty = GetKestrovanJsonWide(invalid.get(), "bad");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST_F(JsonMapTest, SerialisesEveryValueInBase64) {
    MapHolder reply(NewKestrovanJsonMap());
    ASSERT_TRUE(reply);
    EXPECT_EQ(take(KestrovanJsonMapToText(reply.get())), "{}");
    SetKestrovanJsonResult(reply.get(), 0);
    EXPECT_EQ(take(KestrovanJsonMapToText(reply.get())), "{\"result\": \"MA==\"}");
    SetKestrovanJsonValue(reply.get(), "SessionID", "ab");
    SetKestrovanJsonValue(reply.get(), "empty", "");
    SetKestrovanJsonValue(reply.get(), "none", nullptr);
    SetKestrovanJsonResult(reply.get(), -61005);
    EXPECT_EQ(take(KestrovanJsonMapToText(reply.get())),
              "{\"empty\": \"\", \"result\": \"LTYxMDA1\", \"SessionID\": \"YWI=\"}");

    MapHolder valueless(NewKestrovanJsonMap());
    SetKestrovanJsonValue(valueless.get(), "a", nullptr);
    SetKestrovanJsonValue(valueless.get(), "b", nullptr);
    EXPECT_EQ(take(KestrovanJsonMapToText(valueless.get())), "{}");
    EXPECT_EQ(KestrovanJsonMapToText(nullptr), nullptr);
}

TEST_F(JsonMapTest, ListingMasksSecrets) {
    MapHolder map = parse(R"({"FunctionName":"KestrovanEcho","Password":"zq!abc","userPIN":"p1n-9876",)"
                          R"("newPw":"w#x","KestrovanMode":"9","Kestrovan_share_secret":"s3cr3t-key",)"
                          R"("x":"hide-me","x_KestrovanHide":"true","y":"visible","y_KestrovanHide":"no","e":""})");
    ASSERT_TRUE(map);
    SetKestrovanJsonValue(map.get(), "bare", nullptr);
    SetKestrovanJsonValue(map.get(), "blob", nullptr);
    for (int i = 0; i < map->count; ++i) {
        if (std::strcmp(map->entries[i].key, "blob") == 0) {
            map->entries[i].binaryData = static_cast<uint8_t*>(std::calloc(1, 1));
            map->entries[i].binaryLength = 1;
        }
    }
    DisplayKestrovanJsonMap(map.get());
    std::string log = newLog();
    const char* lines[] = {
        "[TarvikKestrovan][Normal] = DISPLAY PARAMETER ===== start =====\r\n",
        "[TarvikKestrovan][Normal] FunctionName: KestrovanEcho\r\n",
        "[TarvikKestrovan][Normal] Password: ******\r\n",
        "[TarvikKestrovan][Normal] userPIN: ********\r\n",
        "[TarvikKestrovan][Normal] newPw: ***\r\n",
        "[TarvikKestrovan][Normal] KestrovanMode: 9\r\n",
        "[TarvikKestrovan][Normal] Kestrovan_share_secret: **********\r\n",
        "[TarvikKestrovan][Normal] x: *******\r\n",
        "[TarvikKestrovan][Normal] x_KestrovanHide: true\r\n",
        "[TarvikKestrovan][Normal] y: visible\r\n",
        "[TarvikKestrovan][Normal] e: \r\n",
        "[TarvikKestrovan][Normal] bare: [empty]\r\n",
        "[TarvikKestrovan][Normal] blob: [binary_value]\r\n",
        "[TarvikKestrovan][Normal] = DISPLAY PARAMETER ===== end =====\r\n",
    };
    for (const char* line : lines) EXPECT_NE(log.find(line), std::string::npos) << line;
    for (const char* secret : {"zq!abc", "p1n-9876", "w#x", "s3cr3t-key", "hide-me"}) EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST_F(JsonMapTest, MissingKeysAreReportedOnlyWhenAskedTo) {
    MapHolder map = parse(R"({"a":"1"})");
    ASSERT_TRUE(map);
    EXPECT_EQ(get(map.get(), "strData"), "<none>");
    EXPECT_EQ(lastErrorCode, 0);
    EXPECT_EQ(newLog().find("Json map key not found"), std::string::npos);

    reportMissingJsonKey = true;
    // Companion probes and the optional top-most keys stay quiet, as does a found key.
    EXPECT_EQ(get(map.get(), "KestrovanMode"), "<none>");
    EXPECT_EQ(get(map.get(), "topuiFlag"), "<none>");
    EXPECT_EQ(get(map.get(), "a"), "1");
    EXPECT_EQ(lastErrorCode, 0);
    EXPECT_EQ(newLog().find("Json map key not found"), std::string::npos);

    EXPECT_EQ(get(map.get(), "strData"), "<none>");
    EXPECT_EQ(lastErrorCode, kCodeMissingJsonKey);
    EXPECT_NE(newLog().find("[TarvikKestrovan][Warning] Json map key not found: strData\r\n"), std::string::npos);
}

}  // namespace
