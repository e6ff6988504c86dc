// Windows the card component opens during a call are brought to the front when the
// page asks for it; windows of other programs only in the all-windows mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/window.h"
#include "service_client.h"

using namespace servicetest;

namespace {

int64_t idleProc(platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return platform::defWindowProc(window, message, wParam, lParam);
}

class TopMostService : public ::testing::Test {
protected:
    void SetUp() override {
        if (!inPrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (scripts/in-netns)";
        std::string bin = std::string(KESTROVAN_BUILD_DIR) + "/bin";
        std::string command = "'" + bin + "/kestrovan-regsvr' '" + bin + "/SoftCard/PelHCAATL.so' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        platform::registerWindowClass("OtherProgram", idleProc);
    }
    void TearDown() override { platform::unregisterWindowClass("OtherProgram"); }

    std::map<std::string, std::string> call(const std::string& json) {
        Request r;
        r.body = formBody(json);
        r.headers = {"Origin: https://page.example"};
        return decodeReply(send(r).body);
    }
    std::string open() {
        auto reply = call(R"({"FunctionName":"KestrovanEcho","LibDir":"Tarvik","ComName":"PelHCAATLAdapter",)"
                          R"("minServerVersion":"1.0.0.0","minLibVersion":"1.0.0.0"})");
        return reply["SessionID"];
    }
    // The card's method opens its prompt about a second into the call.
    std::string serial(const std::string& session, const std::string& extra) {
        return call(R"({"FunctionName":"HCA_GetCardSN","ReaderName":"","SessionId":")" + session + "\"" + extra +
                    "}")["result"];
    }
    // A window of this test process (another program) opened during the call.
    bool otherWindowRaisedDuring(const std::string& session, const std::string& extra) {
        platform::WindowHandle other = 0;
        std::thread opener([&] {
            platform::sleepMs(900);
            other = platform::createWindow("OtherProgram", "Other program");
            platform::sleepMs(1200);
        });
        serial(session, extra);
        opener.join();
        platform::WindowInfo info{};
        bool raised = platform::windowInfo(other, &info) && info.topMost;
        platform::destroyWindow(other);
        return raised;
    }
    testsupport::Sandbox sandbox;
};

TEST_F(TopMostService, ComponentWindowsComeToTheFrontWhenAsked) {
    RunningService service(sandbox);
    ASSERT_TRUE(service.running());
    std::string session = open();
    ASSERT_FALSE(session.empty());
    ASSERT_FALSE(serial(session, "").empty());  // the card's folder now exists
    testsupport::writeFile(sandbox.path("ProgramData/PelHCAATL/window"), "HCA_GetCardSN 1000 700 PIN prompt\n");

    size_t mark = service.log().size();
    EXPECT_FALSE(otherWindowRaisedDuring(session, R"(,"topuidetect":"true","topuialldetect":"true")"));
    std::string lines = service.log().substr(mark);
    EXPECT_NE(lines.find("Set top component UI: Enable"), std::string::npos);
    EXPECT_NE(lines.find("Set UI top: PIN prompt"), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Set UI top: Other program"), std::string::npos);

    mark = service.log().size();
    EXPECT_TRUE(otherWindowRaisedDuring(session, R"(,"topuialldetect":"true")"));
    EXPECT_NE(service.log().substr(mark).find("Set top all system UI: Enable"), std::string::npos);

    mark = service.log().size();
    serial(session, "");
    EXPECT_EQ(service.log().substr(mark).find("Set UI top: "), std::string::npos);

    // Input-method windows are never raised.
    testsupport::writeFile(sandbox.path("ProgramData/PelHCAATL/window"), "HCA_GetCardSN 500 700 Default IME\n");
    mark = service.log().size();
    serial(session, R"(,"topuidetect":"true")");
    EXPECT_EQ(service.log().substr(mark).find("Set UI top: "), std::string::npos);
}

}  // namespace
