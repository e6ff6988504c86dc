#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/window.h"
#include "support/sandbox.h"

using namespace platform;

namespace {

std::string received;
std::atomic<int> destroyed{0};

int64_t childProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == WM_COPYDATA) {
        const CopyData* copy = reinterpret_cast<const CopyData*>(lParam);
        received.assign(static_cast<const char*>(copy->payload), copy->length);
        return static_cast<int64_t>(copy->length) + static_cast<int64_t>(copy->data);
    }
    if (message == WM_USER + 1) return static_cast<int64_t>(wParam * 2);
    if (message == WM_DESTROY) {
        ++destroyed;
        postQuitMessage(0);
        return 0;
    }
    return defWindowProc(window, message, wParam, lParam);
}

WindowHandle waitForWindow(const char* className, int ms = 5000) {
    int64_t end = monotonicMs() + ms;
    while (monotonicMs() < end) {
        if (WindowHandle w = findWindow(className, nullptr)) return w;
        sleepMs(10);
    }
    return 0;
}

// Child role: a window that echoes the last copy-data text back as its title length,
// and ends its loop when closed.
TEST(WindowChild, Receiver) {
    if (testsupport::childRole() != "receiver") GTEST_SKIP();
    ASSERT_TRUE(registerWindowClass("TestReceiver", childProc));
    ASSERT_NE(createWindow("TestReceiver", "Receiver Title"), 0u);
    WindowMessage message;
    while (getMessage(&message)) {
        dispatchMessage(&message);
        if (message.message == WM_COPYDATA && received == "quit") _exit(3);
    }
    _exit(destroyed == 1 ? 0 : 1);
}

TEST(Window, MessagesReachAnotherProcess) {
    testsupport::Sandbox sandbox;
    int pid = testsupport::startChild("receiver", "WindowChild.Receiver");
    ASSERT_GT(pid, 0);
    WindowHandle window = waitForWindow("testreceiver");  // class names ignore case
    ASSERT_NE(window, 0u);

    WindowInfo info{};
    ASSERT_TRUE(windowInfo(window, &info));
    EXPECT_EQ(info.ownerPid, static_cast<uint32_t>(pid));
    EXPECT_STREQ(info.title, "Receiver Title");
    EXPECT_FALSE(info.topMost);
    EXPECT_EQ(findWindow(nullptr, "Receiver Title"), window);
    EXPECT_EQ(findWindow("TestReceiver", "Other"), 0u);

    const char text[] = "hello";
    CopyData copy{7, sizeof text, text};
    EXPECT_EQ(sendMessage(window, WM_COPYDATA, 0, reinterpret_cast<int64_t>(&copy)),
              static_cast<int64_t>(sizeof text) + 7);
    EXPECT_EQ(sendMessage(window, WM_USER + 1, 21, 0), 42);

    ASSERT_TRUE(setWindowTopMost(window, true));
    ASSERT_TRUE(windowInfo(window, &info));
    EXPECT_TRUE(info.topMost);

    EXPECT_TRUE(postMessage(window, WM_CLOSE, 0, 0));
    EXPECT_EQ(testsupport::waitChild(pid), 0);
    EXPECT_EQ(findWindow("TestReceiver", nullptr), 0u);
}

TEST(Window, WindowOfADeadProcessDisappears) {
    testsupport::Sandbox sandbox;
    int pid = testsupport::startChild("receiver", "WindowChild.Receiver");
    WindowHandle window = waitForWindow("TestReceiver");
    ASSERT_NE(window, 0u);
    kill(pid, SIGKILL);
    testsupport::waitChild(pid);
    EXPECT_EQ(findWindow("TestReceiver", nullptr), 0u);
    EXPECT_EQ(sendMessage(window, WM_USER + 1, 1, 0), 0);
    EXPECT_FALSE(postMessage(window, WM_USER, 0, 0));
}

int64_t localProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == WM_USER) return static_cast<int64_t>(wParam + 1);
    if (message == WM_DESTROY) postQuitMessage(0);
    return defWindowProc(window, message, wParam, lParam);
}

TEST(Window, SameThreadSendRunsDirectlyAndOtherThreadsWait) {
    testsupport::Sandbox sandbox;
    ASSERT_TRUE(registerWindowClass("Local", localProc));
    std::atomic<WindowHandle> window{0};
    std::thread owner([&] {
        window = createWindow("Local", "L");
        EXPECT_EQ(sendMessage(window, WM_USER, 1, 0), 2);
        WindowMessage message;
        while (getMessage(&message)) dispatchMessage(&message);
    });
    while (!window) sleepMs(5);
    EXPECT_EQ(sendMessage(window, WM_USER, 41, 0), 42);
    std::vector<WindowInfo> all;
    ASSERT_TRUE(enumWindows(&all));
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].ownerPid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(sendMessage(window, WM_CLOSE, 0, 0), 0);
    owner.join();
    EXPECT_FALSE(windowExists(window));
    unregisterWindowClass("Local");
}

}  // namespace
