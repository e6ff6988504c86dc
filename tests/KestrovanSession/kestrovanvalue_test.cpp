#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KestrovanSession/KestrovanValue.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Tool.h"

namespace {

int64_t fakeNow = 1700000000;
int64_t fakeClock() { return fakeNow; }

class ValueStore : public ::testing::Test {
protected:
    void SetUp() override {
        fakeNow = 1700000000;
        setKestrovanValueClock(fakeClock);
        prepareKestrovanValueStore();
    }
    void TearDown() override {
        prepareKestrovanValueStore();
        setKestrovanValueClock(nullptr);
    }
    static std::string get(const char* channel, const char* origin) {
        SecretHolder value(getKestrovanValue(channel, origin));
        return value ? std::string(value.get()) : std::string("<null>");
    }
};

TEST_F(ValueStore, ChannelIsCaseInsensitiveAndOriginChecked) {
    ASSERT_EQ(setKestrovanValue("a", ".shop.example;127.0.0.1", 0, "hello"), 0);
    EXPECT_EQ(get("A", "https://www.shop.example"), "hello");
    EXPECT_EQ(get("a", "http://127.0.0.1:8080"), "hello");
    EXPECT_EQ(get("a", "https://evil.example"), "");
    EXPECT_EQ(get("a", "not a url"), "");
    EXPECT_EQ(get("unknown", "https://www.shop.example"), "");
    EXPECT_EQ(get(nullptr, "https://www.shop.example"), "");
    EXPECT_EQ(get("a", nullptr), "");
}

TEST_F(ValueStore, MissingArgumentsAndNegativeTimeout) {
    EXPECT_EQ(setKestrovanValue(nullptr, "*", 0, "v"), kCodeMissingKey);
    EXPECT_EQ(setKestrovanValue("c", nullptr, 0, "v"), kCodeMissingKey);
    EXPECT_EQ(setKestrovanValue("c", "*", 0, nullptr), kCodeMissingKey);
    EXPECT_EQ(setKestrovanValue("c", "*", -1, "v"), kCodeMissingKey);
    for (int i = 0; i < kValueEntryCount; ++i) EXPECT_EQ(kestrovanValueEntry(i)->channel, nullptr);
}

TEST_F(ValueStore, SlidingExpiry) {
    ASSERT_EQ(setKestrovanValue("s", "*", 1, "v"), 0);
    fakeNow += 30;
    EXPECT_EQ(get("s", "https://a.example"), "v");
    EXPECT_EQ(kestrovanValueEntry(0)->expiry, fakeNow + 60);
    fakeNow += 60;  // exactly at the expiry: still alive
    EXPECT_EQ(get("s", "https://a.example"), "v");
    fakeNow += 61;
    EXPECT_EQ(get("s", "https://a.example"), "");
    EXPECT_NE(kestrovanValueEntry(0)->channel, nullptr) << "an expired entry stays until room is needed";
}

TEST_F(ValueStore, LongLifetimeDoesNotWrapIntoThePast) {
    ASSERT_EQ(setKestrovanValue("long", "*", INT_MAX, "v"), 0);
    EXPECT_GT(kestrovanValueEntry(0)->expiry, fakeNow);
    fakeNow += 365LL * 24 * 3600;
    EXPECT_EQ(get("long", "https://a.example"), "v");
}

TEST_F(ValueStore, SameChannelUpdatesInPlace) {
    ASSERT_EQ(setKestrovanValue("Chan", "a.example", 0, "one"), 0);
    ASSERT_EQ(setKestrovanValue("chan", "b.example", 5, "two"), 0);
    EXPECT_STREQ(kestrovanValueEntry(0)->channel, "Chan");
    EXPECT_STREQ(kestrovanValueEntry(0)->domainList, "b.example");
    EXPECT_EQ(kestrovanValueEntry(0)->timeout, 5);
    EXPECT_EQ(kestrovanValueEntry(1)->channel, nullptr);
    EXPECT_EQ(get("CHAN", "https://b.example"), "two");
    EXPECT_EQ(get("CHAN", "https://a.example"), "");
}

TEST_F(ValueStore, FullStoreEvictsExpiredOrRefuses) {
    for (int i = 0; i < kValueEntryCount; ++i) {
        ASSERT_EQ(setKestrovanValue(("c" + std::to_string(i)).c_str(), "*", 0, "v"), 0);
    }
    // Entries without expiry count as expired: all are cleared, the last one is used.
    ASSERT_EQ(setKestrovanValue("new", "*", 0, "n"), 0);
    EXPECT_STREQ(kestrovanValueEntry(15)->channel, "new");
    for (int i = 0; i < 15; ++i) EXPECT_EQ(kestrovanValueEntry(i)->channel, nullptr);

    prepareKestrovanValueStore();
    for (int i = 0; i < kValueEntryCount; ++i) {
        ASSERT_EQ(setKestrovanValue(("c" + std::to_string(i)).c_str(), "*", 100, "v"), 0);
    }
    EXPECT_EQ(setKestrovanValue("new", "*", 100, "n"), kCodeValueStoreFull);
    // Once some have expired, they make room.
    ASSERT_EQ(setKestrovanValue("c3", "*", 1, "v"), 0);
    fakeNow += 61;
    ASSERT_EQ(setKestrovanValue("new", "*", 100, "n"), 0);
    EXPECT_STREQ(kestrovanValueEntry(3)->channel, "new");
}

TEST_F(ValueStore, ValueIsHeldOnlyEncrypted) {
    const char* secret = "distinctive-secret-0123456789";
    ASSERT_EQ(setKestrovanValue("k", "*", 0, secret), 0);
    const KestrovanValueEntry* entry = kestrovanValueEntry(0);
    ASSERT_NE(entry->protectedValue, nullptr);
    std::string bytes(reinterpret_cast<const char*>(entry->protectedValue), entry->protectedLength);
    EXPECT_EQ(bytes.find("distinctive"), std::string::npos);
    EXPECT_EQ(entry->protectedLength % 16, 0u);
    EXPECT_EQ(get("k", "https://x.example"), secret);
}

}  // namespace
