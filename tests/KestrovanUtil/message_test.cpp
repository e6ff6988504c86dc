// IPC message: time value, sealing (checked against GnuTLS's SHA-512), the text form,
// reading it back, and the freshness and hash checks under a fake clock.
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Message.h"
#include "KestrovanUtil/Text.h"
#include "tests/support/sandbox.h"

namespace {

platform::LocalTime fakeNow{};
bool fakeClockWorks = true;

bool fakeClock(platform::LocalTime* out) {
    *out = fakeNow;
    return fakeClockWorks;
}

struct MessageDeleter {
    void operator()(KestrovanMessage* m) const { freeKestrovanMessage(m); }
};
using MessageHolder = std::unique_ptr<KestrovanMessage, MessageDeleter>;

std::string hexOf(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string joinedTime(const KestrovanMessage* m) {
    std::string t;
    for (const char* piece : m->TimeValue) t += piece ? piece : "";
    return t;
}

void setField(char*& field, const char* value) {
    std::free(field);
    field = value ? duplicateText(value) : nullptr;
}

void setTimeValue(KestrovanMessage* m, const std::string& text) {
    const size_t cuts[5] = {0, 3, 7, 11, 16};
    for (int i = 0; i < 4; ++i) {
        const std::string piece = cuts[i] < text.size() ? text.substr(cuts[i], cuts[i + 1] - cuts[i]) : "";
        setField(m->TimeValue[i], piece.c_str());
    }
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox_.writeLogIni(sandbox_.path("message.log"));
        ASSERT_TRUE(setLog("MessageTest"));
        fakeNow = {2024, 1, 15, 13, 55, 47, 0};
        fakeClockWorks = true;
        setKestrovanClock(fakeClock);
    }
    void TearDown() override {
        setKestrovanClock(nullptr);
        unsetLog();
    }
    // The library dates the log file's name, so every file it wrote is read.
    std::string log() const {
        std::string text;
        for (const std::string& name : testsupport::listDir(sandbox_.root())) {
            if (name.rfind("message", 0) == 0) text += testsupport::readFile(sandbox_.path(name));
        }
        return text;
    }
    size_t count(const std::string& needle) const {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        return n;
    }
    // A message sealed now, sent as text and read back as the receiver does.
    MessageHolder sealedAndReceived(const char* instruction = kInstructionStop) {
        MessageHolder sent(newKestrovanMessage("KestrovanWorker", "TarvikKestrovan.exe", instruction));
        TextHolder text(kestrovanMessageText(sent.get()));
        return MessageHolder(text ? parseKestrovanMessage(text.get()) : nullptr);
    }

    testsupport::Sandbox sandbox_;
};

}  // namespace

TEST_F(MessageTest, TimeValueFromTheLocalCalendar) {
    struct Case { platform::LocalTime when; uint64_t expected; };
    const Case cases[] = {
        // 2024 is a leap year for the rule on years since 1900: 366-day years.
        {{2024, 1, 15, 13, 55, 47, 0}, 9ull * 31622400 + ((15 * 24 + 13) * 60 + 55) * 60 + 47},
        {{2023, 6, 1, 0, 0, 0, 0}, 8ull * 31536000 + 1 * 24 * 3600},
        {{2015, 3, 31, 23, 59, 59, 999}, ((31 * 24 + 23) * 60 + 59) * 60 + 59},
        // The month does not enter the value.
        {{2023, 11, 1, 0, 0, 0, 0}, 8ull * 31536000 + 1 * 24 * 3600},
    };
    for (const Case& c : cases) {
        fakeNow = c.when;
        EXPECT_EQ(kestrovanTimeValue(), c.expected) << c.when.year << "-" << c.when.month;
    }
    fakeClockWorks = false;
    EXPECT_EQ(kestrovanTimeValue(), 0u);
}

TEST_F(MessageTest, SealedFieldsHashAndTextForm) {
    MessageHolder m(newKestrovanMessage("KestrovanWorker", "TarvikKestrovanMonitor.exe", kInstructionRestart));
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->From, "KestrovanWorker");
    EXPECT_STREQ(m->To, "TarvikKestrovanMonitor.exe");
    EXPECT_STREQ(m->Instruction, "KestrovanInstruction_Restart");
    EXPECT_STREQ(m->Message, "");
    const std::string time = hexOf(kestrovanTimeValue());
    ASSERT_EQ(time, "110b3763");  // 8 digits: pieces of 3, 4, 1 and 0 characters
    EXPECT_STREQ(m->TimeValue[0], "110");
    EXPECT_STREQ(m->TimeValue[1], "b376");
    EXPECT_STREQ(m->TimeValue[2], "3");
    EXPECT_STREQ(m->TimeValue[3], "");

    // Independent digest over From, To, TimeValue, key, Instruction, Message.
    const std::string sealed = std::string("KestrovanWorker") + "TarvikKestrovanMonitor.exe" + time +
                               std::string(kestrovanMessageKey, kKestrovanMessageKeyLength) +
                               "KestrovanInstruction_Restart";
    uint8_t digest[64];
    ASSERT_EQ(gnutls_hash_fast(GNUTLS_DIG_SHA512, sealed.data(), sealed.size(), digest), 0);
    const std::string expectedHash = TextHolder(hexEncode(digest, 64)).get();
    EXPECT_STREQ(m->HashValue, expectedHash.c_str());
    EXPECT_EQ(TextHolder(hashKestrovanMessage(m.get())).get(), expectedHash);

    EXPECT_EQ(std::string(TextHolder(kestrovanMessageText(m.get())).get()),
              "{\"From\":\"KestrovanWorker\", \"To\":\"TarvikKestrovanMonitor.exe\", "
              "\"Instruction\":\"KestrovanInstruction_Restart\", \"Message\":\"\", \"TimeValue\":\"110b3763\", "
              "\"HashValue\":\"" + expectedHash + "\"}");

    // The key has 71 bytes and none of them is zero.
    EXPECT_EQ(std::strlen(kestrovanMessageKey), kKestrovanMessageKeyLength);
}

TEST_F(MessageTest, FreshnessWindowOfTwoSeconds) {
    struct Case { int secondsLater; bool valid; };
    const Case cases[] = {{0, true}, {1, true}, {2, true}, {3, false}, {-1, false}, {3600, false}};
    for (const Case& c : cases) {
        fakeNow = {2024, 1, 15, 13, 55, 0, 0};
        MessageHolder received(sealedAndReceived());
        ASSERT_TRUE(received);
        const int64_t total = 55 * 60 + c.secondsLater;
        fakeNow.minute = static_cast<int>(total / 60);
        fakeNow.second = static_cast<int>(total % 60);
        fakeNow.hour = 13 + fakeNow.minute / 60;
        fakeNow.minute %= 60;
        EXPECT_EQ(verifyKestrovanMessage(received.get()), c.valid) << c.secondsLater;
    }
    EXPECT_EQ(count("[Normal] KestrovanMessage verify state: Success"), 3u);
    EXPECT_EQ(count("[Warning] KestrovanMessage verify fail: Replay attack"), 3u);
    // For the 3-second case: now and message time written in hex.
    const std::string sealedAt = hexOf(9ull * 31622400 + ((15 * 24 + 13) * 60 + 55) * 60);
    EXPECT_EQ(count("[Warning] KestrovanMessage message time value: " + sealedAt), 3u);
    EXPECT_EQ(count("[Warning] KestrovanMessage now time value: " + hexOf(9ull * 31622400 + ((15 * 24 + 13) * 60 + 55) * 60 + 3)), 1u);
}

TEST_F(MessageTest, MonthChangeMakesTheValueFallBack) {
    fakeNow = {2024, 1, 31, 23, 59, 59, 0};
    MessageHolder received(sealedAndReceived());
    ASSERT_TRUE(received);
    fakeNow = {2024, 2, 1, 0, 0, 0, 0};
    EXPECT_FALSE(verifyKestrovanMessage(received.get()));
    EXPECT_EQ(count("Replay attack"), 1u);
}

TEST_F(MessageTest, AlteredFieldsFailTheHash) {
    const std::string inWindow = hexOf(kestrovanTimeValue() - 1);
    struct Case { const char* name; std::function<void(KestrovanMessage*)> alter; };
    const Case cases[] = {
        {"From", [](KestrovanMessage* m) { setField(m->From, "Intruder"); }},
        {"To", [](KestrovanMessage* m) { setField(m->To, "KestrovanWorker"); }},
        {"Instruction", [](KestrovanMessage* m) { setField(m->Instruction, kInstructionSuicide); }},
        {"absent Instruction", [](KestrovanMessage* m) { setField(m->Instruction, nullptr); }},
        {"Message", [](KestrovanMessage* m) { setField(m->Message, "x"); }},
        {"TimeValue", [&](KestrovanMessage* m) { setTimeValue(m, inWindow); }},
        {"HashValue case", [](KestrovanMessage* m) {
             for (char* p = m->HashValue; *p; ++p) *p = static_cast<char>(std::tolower(*p));
         }},
        {"HashValue cut", [](KestrovanMessage* m) { m->HashValue[127] = 0; }},
        {"HashValue absent", [](KestrovanMessage* m) { setField(m->HashValue, nullptr); }},
    };
    for (const Case& c : cases) {
        MessageHolder received(sealedAndReceived());
        ASSERT_TRUE(received);
        ASSERT_TRUE(verifyKestrovanMessage(received.get())) << c.name;
        c.alter(received.get());
        EXPECT_FALSE(verifyKestrovanMessage(received.get())) << c.name;
    }
    EXPECT_EQ(count("[Warning] KestrovanMessage verify state: Fail"), std::size(cases));
    EXPECT_EQ(count("Replay attack"), 0u);
}

TEST_F(MessageTest, ReadingTheTextForm) {
    // Keys in any letter case, fields in any order.
    MessageHolder sent(newKestrovanMessage("TarvikKestrovanMonitor.exe", "KestrovanWorker", kInstructionStart));
    const std::string time = joinedTime(sent.get());
    const std::string text = "{\"hashvalue\":\"" + std::string(sent->HashValue) + "\", \"FROM\":\"" + sent->From +
                             "\", \"to\":\"" + sent->To + "\", \"iNsTrUcTiOn\":\"" + sent->Instruction +
                             "\", \"message\":\"\", \"timevalue\":\"" + time + "\"}";
    MessageHolder received(parseKestrovanMessage(text.c_str()));
    ASSERT_TRUE(received);
    EXPECT_STREQ(received->From, "TarvikKestrovanMonitor.exe");
    EXPECT_EQ(joinedTime(received.get()), time);
    EXPECT_TRUE(verifyKestrovanMessage(received.get()));

    // Missing keys leave their fields absent; without a time value the check fails.
    MessageHolder partial(parseKestrovanMessage("{\"From\":\"a\", \"HashValue\":\"00\"}"));
    ASSERT_TRUE(partial);
    EXPECT_STREQ(partial->From, "a");
    EXPECT_EQ(partial->To, nullptr);
    EXPECT_EQ(partial->Instruction, nullptr);
    EXPECT_EQ(partial->Message, nullptr);
    for (char* piece : partial->TimeValue) EXPECT_EQ(piece, nullptr);
    EXPECT_FALSE(verifyKestrovanMessage(partial.get()));
    EXPECT_EQ(count("Replay attack"), 1u);
    EXPECT_EQ(kestrovanMessageText(partial.get()), nullptr);

    // A time value longer than 16 digits keeps its first 16; a short one gives short pieces.
    MessageHolder longTime(parseKestrovanMessage("{\"TimeValue\":\"0123456789abcdefXYZW\"}"));
    EXPECT_EQ(joinedTime(longTime.get()), "0123456789abcdef");
    EXPECT_STREQ(longTime->TimeValue[3], "bcdef");
    MessageHolder shortTime(parseKestrovanMessage("{\"TimeValue\":\"1a\"}"));
    EXPECT_STREQ(shortTime->TimeValue[0], "1a");
    EXPECT_STREQ(shortTime->TimeValue[1], "");

    EXPECT_EQ(parseKestrovanMessage(nullptr), nullptr);
}

TEST_F(MessageTest, SendersAndRefusals) {
    // Without an instruction the field stays absent, is sent empty and still verifies.
    MessageHolder bare(newKestrovanMessage("KestrovanWorker", "TarvikKestrovan.exe", nullptr));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->Instruction, nullptr);
    TextHolder text(kestrovanMessageText(bare.get()));
    ASSERT_TRUE(text);
    EXPECT_NE(std::strstr(text.get(), "\"Instruction\":\"\", "), nullptr);
    MessageHolder received(parseKestrovanMessage(text.get()));
    EXPECT_TRUE(verifyKestrovanMessage(received.get()));

    EXPECT_EQ(newKestrovanMessage(nullptr, "TarvikKestrovan.exe", kInstructionStop), nullptr);
    EXPECT_EQ(newKestrovanMessage("KestrovanWorker", nullptr, kInstructionStop), nullptr);
    EXPECT_FALSE(verifyKestrovanMessage(nullptr));
    EXPECT_EQ(hashKestrovanMessage(nullptr), nullptr);
    freeKestrovanMessage(nullptr);

    // The text form has no escaping, so a quotation mark in a field is refused.
    MessageHolder quoted(newKestrovanMessage("Kestrovan\"Worker", "TarvikKestrovan.exe", kInstructionStop));
    EXPECT_EQ(kestrovanMessageText(quoted.get()), nullptr);
    EXPECT_NE(log().find("Parameter kcstrInputTo is null at "), std::string::npos);
}
