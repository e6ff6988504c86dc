// The service told to end through its IPC channel: by window message, by lock signal
// and by the user's session, also while requests are in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "KestrovanUtil/Channel.h"
#include "KestrovanUtil/Message.h"
#include "KestrovanUtil/Tool.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "service_client.h"

using namespace servicetest;

namespace {

const char* kFinalLines[] = {
    "[TarvikKestrovan][Normal] [KestrovanFinal] Start release all adapters",
    "[TarvikKestrovan][Normal] [KestrovanFinal] Release adapters success",
    "[TarvikKestrovan][Normal] [KestrovanFinal] Ready to suicide",
};

class ServiceChannel : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inPrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (scripts/in-netns)";
        std::string bin = std::string(KESTROVAN_BUILD_DIR) + "/bin";
        std::string command = "'" + bin + "/kestrovan-regsvr' '" + bin + "/SoftCard/PelHCAATL.so' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static platform::WindowHandle serviceWindow() {
        for (int i = 0; i < 300; ++i) {
            if (platform::WindowHandle w = platform::findWindow(kServiceChannel, nullptr)) return w;
            platform::sleepMs(10);
        }
        return 0;
    }
    static void expectFinalLines(const RunningService& service) {
        std::string log = service.log();
        for (const char* line : kFinalLines) EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    testsupport::Sandbox sandbox;
};

TEST_F(ServiceChannel, SuicideByWindowMessageStopsTheDaemonsAndExitsZero) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    ASSERT_NE(serviceWindow(), 0u);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sendKestrovanInstruction(kServiceChannel, kInstructionSuicide));
    EXPECT_EQ(service.waitExit(5000), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("delay from the instruction to the exit: %lld ms\n", static_cast<long long>(ms.count()));
    expectFinalLines(service);
    EXPECT_NE(service.log().find("Receive COPYDATA message: KestrovanInstruction_Suicide"), std::string::npos);
}

TEST_F(ServiceChannel, SuicideByLockSignalAloneExitsZero) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    std::string lockName = std::string(kServiceChannel) + kInstructionSuicide;
    platform::NamedMutex* lock = userMutexLock(lockName.c_str(), 100);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(service.waitExit(5000), 0);
    userMutexUnlock(lock);
    expectFinalLines(service);
    EXPECT_NE(service.log().find("IPC Message Lock Mode: Exec final function"), std::string::npos);
}

TEST_F(ServiceChannel, SessionLockEndsItLogonAndLogoffOnlyLog) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    platform::WindowHandle window = serviceWindow();
    ASSERT_NE(window, 0u);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOGON, 0);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOGOFF, 0);
    EXPECT_TRUE(service.waitLog("Receive unknow system signal: 6"));
    EXPECT_TRUE(service.running());
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOCK, 0);
    EXPECT_EQ(service.waitExit(5000), 0);
    EXPECT_NE(service.log().find("Receive windows lock signal"), std::string::npos);
    expectFinalLines(service);
}

TEST_F(ServiceChannel, RequestsInFlightWhileTheFinalHandlerRuns) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&] {
            while (!stop.load()) {
                Request r;
                r.body = formBody(
                    R"({"FunctionName":"KestrovanEcho","LibDir":"Tarvik","ComName":"PelHCAATLAdapter",)"
                    R"("minServerVersion":"1.0.0.0","minLibVersion":"1.0.0.0"})");
                r.headers = {"Origin: https://page.example"};
                if (send(r).status == 200) ++answered;
            }
        });
    }
    platform::sleepMs(1500);
    EXPECT_TRUE(sendKestrovanInstruction(kServiceChannel, kInstructionSuicide));
    int code = service.waitExit(10000);
    stop = true;
    for (auto& t : clients) t.join();
    EXPECT_EQ(code, 0);
    EXPECT_GT(answered.load(), 0);
    expectFinalLines(service);
}

}  // namespace
