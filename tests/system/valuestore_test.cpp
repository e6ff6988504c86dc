// Values handed between pages through the real service: stored from one origin,
// fetched from an allowed one, refused to others, held only encrypted, gone after a
// restart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "service_client.h"

using namespace servicetest;

namespace {

const char* kOpen =
    R"({"FunctionName":"KestrovanEcho","LibDir":"Tarvik","ComName":"PelHCAATLAdapter",)"
    R"("minServerVersion":"1.0.0.0","minLibVersion":"1.0.0.0"})";
const char* kSecret = "distinctive-value-7f3c91";

std::map<std::string, std::string> call(const std::string& json, const std::string& origin) {
    Request r;
    r.body = formBody(json);
    r.headers = {"Origin: " + origin};
    Reply reply = send(r);
    EXPECT_EQ(reply.curlCode, 0);
    return decodeReply(reply.body);
}

std::string openSession(const std::string& origin) {
    auto reply = call(kOpen, origin);
    EXPECT_EQ(reply["result"], "0");
    return reply["SessionID"];
}

std::string getValue(const std::string& session, const std::string& origin) {
    return call(R"({"FunctionName":"getKestrovanValue","channel":"Shared","SessionId":")" + session + "\"}",
                origin)["result"];
}

class ValueStoreService : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inPrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (scripts/in-netns)";
        // Sessions reach the software card through the sandbox's component registry.
        std::string bin = std::string(KESTROVAN_BUILD_DIR) + "/bin";
        std::string command = "'" + bin + "/kestrovan-regsvr' '" + bin + "/SoftCard/PelHCAATL.so' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    testsupport::Sandbox sandbox;
};

TEST_F(ValueStoreService, StoredFromOnePageFetchedByAllowedOriginsOnly) {
    std::string session;
    {
        RunningService service(sandbox);
        ASSERT_TRUE(service.running());
        session = openSession("https://shop.example");
        ASSERT_FALSE(session.empty());
        auto set = call(R"({"FunctionName":"setKestrovanValue","SessionId":")" + session +
                            R"(","channel":"shared","domain_list":".shop.example; partner.example",)"
                            R"("timeout":"5","value":")" + kSecret + "\"}",
                        "https://shop.example");
        EXPECT_EQ(set["result"], "0");

        // Between the calls the value exists only in encrypted form.
        // The sanitizer's allocator keeps freed log lines (which show request values while
        // logging is on) uncleared in its quarantine, so the look applies to the normal build.
#if !defined(__SANITIZE_ADDRESS__)
        MemoryScan memory = scanProcessMemory(service.pid(), {kSecret});
        ASSERT_GT(memory.scanned, 1u << 20);
        EXPECT_FALSE(memory.found[0]);
#endif

        EXPECT_EQ(getValue(session, "https://www.shop.example"), kSecret);
        EXPECT_EQ(getValue(session, "https://PARTNER.example/"), kSecret);
        EXPECT_EQ(getValue(session, "https://evil.example"), "");
        EXPECT_EQ(getValue(session, "https://shop.example.evil.test"), "");
        auto missing = call(R"({"FunctionName":"getKestrovanValue","SessionId":")" + session + "\"}",
                            "https://www.shop.example");
        EXPECT_EQ(missing["result"], "61005");
        EXPECT_TRUE(service.waitLog("KestrovanValue url check fail"));
        EXPECT_EQ(service.stop(), 0);
    }
    // A new service process has a new key and an empty store.
    RunningService again(sandbox);
    ASSERT_TRUE(again.running());
    std::string fresh = openSession("https://www.shop.example");
    EXPECT_EQ(getValue(fresh, "https://www.shop.example"), "");
    EXPECT_TRUE(again.waitLog("KestrovanValue no current channel"));
}

TEST_F(ValueStoreService, HostileListsAndOriginsLeaveTheServiceServing) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    std::string session = openSession("https://shop.example");
    std::string stars;
    for (int i = 0; i < 200; ++i) stars += "*.";
    std::string longOrigin = "https://" + std::string(100000, 'a') + ".example";
    const std::string lists[] = {stars, "a(b;[;*)", std::string(20000, 'x') + ";y", "((((((((((a"};
    for (const std::string& list : lists) {
        auto set = call(R"({"FunctionName":"setKestrovanValue","SessionId":")" + session +
                            R"(","channel":"h","domain_list":")" + list + R"(","timeout":"1","value":"v"})",
                        "https://shop.example");
        EXPECT_EQ(set["result"], "0");
        EXPECT_EQ(getValue(session, "https://a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.a.example"), "");
    }
    Request r;
    r.body = formBody(R"({"FunctionName":"getKestrovanValue","channel":"h","SessionId":")" + session + "\"}");
    r.headers = {"Origin: " + longOrigin};
    send(r);
    EXPECT_EQ(call(kOpen, "https://shop.example")["result"], "0");
    EXPECT_TRUE(service.running());
}

}  // namespace
