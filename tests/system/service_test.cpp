// Start-up, port selection, shutdown and the key's absence from memory, seen on
// the real service program.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/event.h"
#include "service_client.h"

using namespace servicetest;

namespace {

constexpr const char* kSeparator = "===============================================================================";

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inPrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (scripts/in-netns)";
    }
    testsupport::Sandbox sandbox_;
};

// A listening socket of the test on a loopback address, closed with the object.
struct Listener {
    int fd = -1;
    Listener(bool ipv6, int port) {
        fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        bool bound;
        if (ipv6) {
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(static_cast<uint16_t>(port));
            a.sin6_addr = in6addr_loopback;
            bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        }
        EXPECT_TRUE(bound && listen(fd, 4) == 0) << port;
    }
    ~Listener() { close(fd); }
};

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST_F(Service, StartsSixDaemonsAndStopsInOrderOnTerminationSignal) {
    RunningService service(sandbox_);
    ASSERT_TRUE(service.running());
    std::string log = service.log();
    EXPECT_NE(log.find("*************************************Kestrovan*********************************"),
              std::string::npos);
    EXPECT_NE(log.find("Execute setting: Tarvik"), std::string::npos);
    EXPECT_NE(log.find("Environment: Linux 64 bit"), std::string::npos);
    EXPECT_NE(log.find("CopyPath: " + sandbox_.path("ProgramData/TarvikKestrovan")), std::string::npos);
    EXPECT_NE(log.find("Support port: 56452 56552 56652"), std::string::npos);
    EXPECT_NE(log.find("Kestrovan Version: 1.0.23.0510"), std::string::npos);
    for (const char* address : {"127.0.0.1:56452", "[::1]:56452", "127.0.0.1:56552", "[::1]:56552",
                                "127.0.0.1:56652", "[::1]:56652"})
        EXPECT_NE(log.find(std::string("TarvikKestrovan at ") + address + " launch state: Success"), std::string::npos)
            << address;
    EXPECT_NE(log.find("TarvikKestrovan initialization: Success"), std::string::npos);
    EXPECT_EQ(log.find("Detected Kestrovan crash"), std::string::npos);
    EXPECT_TRUE(testsupport::listDir(sandbox_.path("ProgramData/TarvikKestrovan/Tempfile")).size() >= 32);

    EXPECT_EQ(service.stop(), 0);
    log = service.log();
    size_t start = log.find("[KestrovanFinal] Start release all adapters");
    size_t released = log.find("[KestrovanFinal] Release adapters success");
    size_t ready = log.find("[KestrovanFinal] Ready to suicide");
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(start, released);
    EXPECT_LT(released, ready);
    EXPECT_NE(ready, std::string::npos);
}

TEST_F(Service, CrashNoticeOnlyForARestartCount) {
    struct Case {
        const char* argument;
        bool notice;
    } cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"3", true}};
    for (const auto& c : cases) {
        RunningService service(sandbox_, c.argument);
        ASSERT_TRUE(service.running());
        std::string log = service.log();
        EXPECT_EQ(service.stop(), 0);
        size_t notice = log.find("[Warning] Detected Kestrovan crash");
        EXPECT_EQ(notice != std::string::npos, c.notice) << (c.argument ? c.argument : "(none)");
        if (c.notice) {
            // Framed by separator lines.
            size_t before = log.rfind(kSeparator, notice);
            EXPECT_NE(before, std::string::npos);
            EXPECT_NE(log.find(kSeparator, notice), std::string::npos);
        }
        for (const auto& name : testsupport::listDir(sandbox_.path("log")))
            std::remove(sandbox_.path("log/" + name).c_str());
    }
}

TEST_F(Service, APortBusyOnIPv4OnlyStillGetsItsIPv6Daemon) {
    Listener other(false, 56452);
    RunningService service(sandbox_);
    ASSERT_TRUE(service.running());
    std::string log = service.log();
    EXPECT_EQ(count(log, "Detect port 56452 state: In use, try next port"), 1u);
    EXPECT_EQ(log.find("TarvikKestrovan at 127.0.0.1:56452 launch state: "), std::string::npos);
    EXPECT_NE(log.find("TarvikKestrovan at [::1]:56452 launch state: Success"), std::string::npos);
    EXPECT_NE(log.find("TarvikKestrovan at 127.0.0.1:56552 launch state: Success"), std::string::npos);
    EXPECT_NE(log.find("TarvikKestrovan initialization: Success"), std::string::npos);
    // The probe leaves its table in the copy folder.
    std::string probe = testsupport::readFile(sandbox_.path("ProgramData/TarvikKestrovan/Tempfile/KestrovanTemp"));
    EXPECT_NE(probe.find("TCP"), std::string::npos);
}

TEST_F(Service, EveryPortBusyEndsStartUpWithExitCodeZero) {
    std::vector<std::unique_ptr<Listener>> listeners;
    for (int port : {56452, 56552, 56652})
        for (bool ipv6 : {false, true}) listeners.push_back(std::make_unique<Listener>(ipv6, port));
    RunningService service(sandbox_);
    EXPECT_EQ(service.waitExit(10000), 0);
    std::string log = service.log();
    EXPECT_EQ(count(log, "state: In use, try next port"), 6u);
    EXPECT_NE(log.find("HTTPS Mode"), std::string::npos);
    EXPECT_NE(log.find("[Warning] TarvikKestrovan initialization: Fail"), std::string::npos);
}

TEST_F(Service, DebugEventFlipsLoggingWhenItsCreatorRuns) {
    {
        RunningService without(sandbox_);
        ASSERT_TRUE(without.running());
        EXPECT_NE(without.log().find("[Error] Kestrovan debugStatusUpdateEvent init failed. 2"), std::string::npos);
    }
    platform::NamedEvent event{};
    ASSERT_TRUE(platform::eventCreate(&event, "TarvikKestrovan_DEBUG_MODE"));
    RunningService service(sandbox_);
    ASSERT_TRUE(service.running());
    EXPECT_EQ(count(service.log(), "debugStatusUpdateEvent init failed"), 1u);  // the first run's only

    // Each pulse flips logging: off, then on again.
    ASSERT_TRUE(platform::eventPulse(&event));
    EXPECT_TRUE(service.waitLog("[Normal] Log state: Disable"));
    size_t enabled = count(service.log(), "Log state: Enable");
    ASSERT_TRUE(platform::eventPulse(&event));
    bool again = false;
    for (int i = 0; i < 100 && !again; ++i) {
        again = count(service.log(), "Log state: Enable") > enabled;
        if (!again) usleep(20000);
    }
    EXPECT_TRUE(again);
    EXPECT_EQ(service.stop(), 0);
    platform::eventClose(&event);
}

// Base64 lines of a PEM key file: any of them in memory means the text was kept.
std::vector<std::string> keyLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::readFile(path));
    std::string line;
    while (std::getline(in, line))
        if (line.find("-----") == std::string::npos && line.size() >= 24) lines.push_back(line);
    return lines;
}

TEST_F(Service, NoPrivateKeyTextInMemoryAfterStartUp) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed blocks uncleared in its quarantine";
#endif
    std::vector<std::string> ecc = keyLines(serverKeyPath(false));
    std::vector<std::string> rsa = keyLines(serverKeyPath(true));
    ASSERT_FALSE(ecc.empty());
    ASSERT_FALSE(rsa.empty());
    RunningService service(sandbox_);
    ASSERT_TRUE(service.running());
    // It serves with that key: the handshake works.
    Request r;
    r.body = formBody(R"({"FunctionName":"KestrovanEcho"})");
    r.headers = {"Origin: https://page.example"};
    ASSERT_EQ(send(r).curlCode, 0);

    std::vector<std::string> lines = ecc;
    lines.insert(lines.end(), rsa.begin(), rsa.end());
    MemoryScan memory = scanProcessMemory(service.pid(), lines);
    ASSERT_GT(memory.scanned, 1u << 20);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_FALSE(memory.found[i]) << (i < ecc.size() ? "ECDSA" : "RSA") << " key line " << lines[i];
}

}  // namespace
