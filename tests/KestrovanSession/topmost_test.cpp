#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "KestrovanSession/TopMost.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "support/sandbox.h"

using namespace platform;

namespace {

int64_t idleProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return defWindowProc(window, message, wParam, lParam);
}

bool isTopMost(WindowHandle window) {
    WindowInfo info{};
    return windowInfo(window, &info) && info.topMost;
}

// Child role: opens one window and waits to be killed.
TEST(TopMostChild, OtherProgram) {
    if (testsupport::childRole() != "other") GTEST_SKIP();
    registerWindowClass("OtherProgram", idleProc);
    createWindow("OtherProgram", "Other window");
    sleepMs(30000);
    _exit(0);
}

class TopMost : public ::testing::Test {
protected:
    void SetUp() override { registerWindowClass("ComponentUI", idleProc); }
    void TearDown() override {
        for (WindowHandle w : windows) destroyWindow(w);
        unregisterWindowClass("ComponentUI");
    }
    WindowHandle open(const char* title) {
        WindowHandle w = createWindow("ComponentUI", title);
        windows.push_back(w);
        return w;
    }
    static WindowHandle waitFor(const char* className) {
        for (int i = 0; i < 500; ++i) {
            if (WindowHandle w = findWindow(className, nullptr)) return w;
            sleepMs(10);
        }
        return 0;
    }
    testsupport::Sandbox sandbox;
    std::vector<WindowHandle> windows;
};

TEST_F(TopMost, OwnNewWindowsAreRaisedOthersAreNot) {
    WindowHandle before = open("Existing");
    int other = testsupport::startChild("other", "TopMostChild.OtherProgram");
    ASSERT_NE(waitFor("OtherProgram"), 0u);

    startTopMostControl(static_cast<uint32_t>(getpid()), false);
    sleepMs(500);
    WindowHandle prompt = open("PIN prompt");
    WindowHandle ime = open("Default IME");
    WindowHandle ime2 = open("MSCTFIME UI");
    sleepMs(800);
    stopTopMostControl();

    EXPECT_TRUE(isTopMost(prompt));
    EXPECT_FALSE(isTopMost(before));
    EXPECT_FALSE(isTopMost(ime));
    EXPECT_FALSE(isTopMost(ime2));
    EXPECT_FALSE(isTopMost(findWindow("OtherProgram", nullptr)));

    // A window opened after the call has ended is left alone.
    WindowHandle after = open("After");
    sleepMs(400);
    EXPECT_FALSE(isTopMost(after));
    kill(other, SIGKILL);
    testsupport::waitChild(other);
}

TEST_F(TopMost, AllWindowsModeRaisesOtherPrograms) {
    startTopMostControl(static_cast<uint32_t>(getpid()), true);
    int other = testsupport::startChild("other", "TopMostChild.OtherProgram");
    WindowHandle otherWindow = waitFor("OtherProgram");
    ASSERT_NE(otherWindow, 0u);
    sleepMs(700);
    stopTopMostControl();
    EXPECT_TRUE(isTopMost(otherWindow));
    kill(other, SIGKILL);
    testsupport::waitChild(other);
}

TEST_F(TopMost, SeenListGrowsPastItsFirstSize) {
    for (int i = 0; i < kInitialWindowListSize + 10; ++i) open(("w" + std::to_string(i)).c_str());
    startTopMostControl(static_cast<uint32_t>(getpid()), false);
    stopTopMostControl();
    EXPECT_EQ(topMostListCapacity(), 2 * kInitialWindowListSize);
}

}  // namespace
