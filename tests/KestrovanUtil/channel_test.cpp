#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <string>

#include "KestrovanUtil/Channel.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Message.h"
#include "KestrovanUtil/Tool.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/window.h"
#include "support/sandbox.h"

namespace {

const char* kChannel = "TestChannel.exe";

std::string eventsPath() { return std::string(std::getenv("TARVIK_ROOT")) + "/events.txt"; }

void record(const char* event) {
    std::ofstream out(eventsPath(), std::ios::app);
    out << event << "\n";
}

void onStart() { record("start"); }
void onStop() { record("stop"); }
void onRestart() { record("restart"); }
void onFinal() { record("final"); }

std::atomic<uint8_t> paused{0};

// Child role: a program with a channel; its mode chooses the handlers it fills.
TEST(ChannelChild, Program) {
    if (testsupport::childRole() != "program") GTEST_SKIP();
    setLog("ChannelChild");
    std::string mode = std::getenv("CHANNEL_MODE");
    if (mode == "handlers" || mode == "paused") {
        ipcStartHandler = onStart;
        ipcStopHandler = onStop;
        ipcRestartHandler = onRestart;
        ipcFinalHandler = onFinal;
    }
    if (mode == "paused") ipcPausedFlag = &paused;
    startIPCReceiver(kChannel);
    record("ready");
    uint8_t last = 0;
    for (;;) {
        uint8_t now = paused.load();
        if (now != last) record(now ? "paused=1" : "paused=0");
        last = now;
        platform::sleepMs(10);
    }
}

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.writeLogIni(sandbox.path("log.txt"));
        setLog("ChannelTest");
    }
    void TearDown() override {
        for (int pid : children) {
            kill(pid, SIGKILL);
            testsupport::waitChild(pid);
        }
        unsetLog();
    }
    int start(const char* mode, bool waitReady = true) {
        int pid = testsupport::startChild("program", "ChannelChild.Program",
                                          {std::string("CHANNEL_MODE=") + mode});
        children.push_back(pid);
        if (waitReady) {
            for (int i = 0; i < 500 && !platform::findWindow(kChannel, nullptr); ++i) platform::sleepMs(10);
        }
        return pid;
    }
    std::string events() const { return testsupport::readFile(sandbox.path("events.txt")); }
    std::string log() const {
        std::string all;
        for (const std::string& name : testsupport::listDir(sandbox.root())) {
            if (name.rfind("log_", 0) == 0) all += testsupport::readFile(sandbox.path(name));
        }
        return all;
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    int exitOf(int pid) {
        int code = testsupport::waitChild(pid);
        children.erase(std::remove(children.begin(), children.end(), pid), children.end());
        return code;
    }
    testsupport::Sandbox sandbox;
    std::vector<int> children;
};

TEST_F(Channel, InstructionArrivesByWindowAndByLock) {
    start("handlers");
    ASSERT_TRUE(sendIPCMsgWin("Tester", kChannel, kInstructionRestart));
    platform::sleepMs(300);
    EXPECT_EQ(count(events(), "restart"), 2u) << events();
    std::string lines = log();
    EXPECT_NE(lines.find("[ChannelChild][Normal] Receive COPYDATA message: KestrovanInstruction_Restart"),
              std::string::npos);
    EXPECT_NE(lines.find("IPC Message Lock Mode: Recivie restart message"), std::string::npos);
    EXPECT_NE(lines.find("[ChannelTest][Normal] sendIPCMsgWin: Lock Mode"), std::string::npos);
}

TEST_F(Channel, ForgedAndReplayedMessagesAreDropped) {
    start("handlers");
    platform::WindowHandle window = platform::findWindow(kChannel, nullptr);
    ASSERT_NE(window, 0u);
    KestrovanMessage* message = newKestrovanMessage("Tester", kChannel, kInstructionStart);
    ASSERT_NE(message, nullptr);
    char* good = kestrovanMessageText(message);
    message->HashValue[0] = message->HashValue[0] == 'A' ? 'B' : 'A';
    char* forged = kestrovanMessageText(message);
    freeKestrovanMessage(message);

    platform::CopyData copy{0, static_cast<uint32_t>(std::strlen(forged) + 1), forged};
    platform::sendMessage(window, platform::WM_COPYDATA, 0, reinterpret_cast<int64_t>(&copy));
    platform::sleepMs(3100);  // past the replay window
    copy = platform::CopyData{0, static_cast<uint32_t>(std::strlen(good) + 1), good};
    platform::sendMessage(window, platform::WM_COPYDATA, 0, reinterpret_cast<int64_t>(&copy));
    // A payload without its terminating zero is bounded by its length.
    copy = platform::CopyData{0, 5, good};
    platform::sendMessage(window, platform::WM_COPYDATA, 0, reinterpret_cast<int64_t>(&copy));
    std::free(good);
    std::free(forged);

    EXPECT_EQ(count(events(), "start"), 0u);
    EXPECT_EQ(count(log(), "[ChannelChild][Warning] [Warning] Verify KestrovanMessage fail"), 3u);
}

TEST_F(Channel, MonitorStartOnlyThroughTheLock) {
    std::string bin = sandbox.path("bin");
    mkdir(bin.c_str(), 0755);
    testsupport::writeFile(bin + "/TarvikKestrovanWorker",
                           "#!/bin/sh\necho \"worker $*\" >> \"$TARVIK_ROOT/events.txt\"\n");
    chmod((bin + "/TarvikKestrovanWorker").c_str(), 0755);
    setenv("PATH", (bin + ":" + std::getenv("PATH")).c_str(), 1);
    start("handlers");
    sendIPCMsgWin("Tester", kChannel, kInstructionMonitorStart);
    platform::sleepMs(500);
    EXPECT_EQ(count(events(), "worker -start"), 1u) << events();
    EXPECT_NE(log().find("Receive UNKNOW instruction: KestrovanInstruction_MonitorStart"), std::string::npos);
}

TEST_F(Channel, SuicideRunsTheFinalHandlerOrEnds) {
    int bare = start("bare");
    sendIPCMsgWin("Tester", kChannel, kInstructionSuicide);
    EXPECT_EQ(exitOf(bare), 0);
    EXPECT_NE(log().find("Execute exit"), std::string::npos);

    // The window path runs the final handler; the program itself decides when to end.
    start("handlers");
    sendIPCMsgWin("Tester", kChannel, kInstructionSuicide);
    EXPECT_GE(count(events(), "final"), 1u) << events();
}

TEST_F(Channel, SuicideByLockAloneRunsFinalHandlerAndEnds) {
    int pid = start("handlers");
    std::string lockName = std::string(kChannel) + kInstructionSuicide;
    platform::NamedMutex* lock = userMutexLock(lockName.c_str(), 100);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(exitOf(pid), 0);
    userMutexUnlock(lock);
    EXPECT_EQ(count(events(), "final"), 1u) << events();
    EXPECT_NE(log().find("IPC Message Lock Mode: Exec final function"), std::string::npos);
}

TEST_F(Channel, SessionChangesPauseOrEnd) {
    start("paused");
    for (int i = 0; i < 300 && events().find("ready") == std::string::npos; ++i) platform::sleepMs(10);
    platform::WindowHandle window = platform::findWindow(kChannel, nullptr);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOCK, 0);
    platform::sleepMs(100);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_UNLOCK, 0);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOGON, 0);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_SESSION_LOGOFF, 0);
    platform::sleepMs(100);
    EXPECT_NE(events().find("paused=1\npaused=0\n"), std::string::npos) << events();
    EXPECT_EQ(count(events(), "final"), 0u);
    EXPECT_NE(log().find("Receive unknow system signal: 5"), std::string::npos);
    EXPECT_NE(log().find("Receive unknow system signal: 6"), std::string::npos);
}

TEST_F(Channel, DisconnectWithoutPauseFlagRunsFinalHandler) {
    start("handlers");
    platform::WindowHandle window = platform::findWindow(kChannel, nullptr);
    platform::sendMessage(window, platform::WM_WTSSESSION_CHANGE, platform::WTS_CONSOLE_DISCONNECT, 0);
    EXPECT_EQ(count(events(), "final"), 1u);
    EXPECT_NE(log().find("Receive disconnect signal"), std::string::npos);
}

TEST_F(Channel, SecondInstanceHasNoWindowReceiver) {
    start("handlers");
    int second = start("handlers", false);
    for (int i = 0; i < 300 && log().find("[Catastrophic failure]") == std::string::npos; ++i) {
        platform::sleepMs(10);
    }
    EXPECT_NE(log().find("[ChannelChild][Warning] [Catastrophic failure] Start Windows API IPC message receiver: Fail"),
              std::string::npos);
    (void)second;
}

TEST_F(Channel, MissingArgumentsAndNoReceiver) {
    EXPECT_FALSE(sendIPCMsgWin(nullptr, kChannel, kInstructionStart));
    EXPECT_FALSE(sendKestrovanInstruction(kChannel, ""));
    EXPECT_FALSE(sendSuicideInstruction(nullptr));
    EXPECT_TRUE(sendIPCMsgWin("Tester", "Nobody.exe", kInstructionStart));
    EXPECT_NE(log().find("sendIPCMsgWin can't find window Nobody.exe"), std::string::npos);
}

int spawnTarget(const std::string& program, const std::string& root) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("TARVIK_ROOT", root.c_str(), 1);
        execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

TEST_F(Channel, KillByNameEndsOnlyThisSandbox) {
    // A program of its own name: a copy of sleep.
    std::string program = sandbox.path("KillTarget");
    ASSERT_EQ(std::system(("cp /bin/sleep '" + program + "'").c_str()), 0);
    std::string otherRoot = sandbox.path("other-sandbox");
    mkdir(otherRoot.c_str(), 0755);
    int inside = spawnTarget(program, sandbox.root());
    int outsider = spawnTarget(program, otherRoot);
    for (int i = 0; i < 200 && !isProcessRunning("KillTarget.exe"); ++i) platform::sleepMs(10);

    EXPECT_TRUE(killProcessByName("KillTarget.exe", "KestrovanWorker"));
    EXPECT_EQ(testsupport::waitChild(inside), 128 + SIGKILL);
    EXPECT_EQ(kill(outsider, 0), 0) << "the other sandbox's program must survive";
    kill(outsider, SIGKILL);
    testsupport::waitChild(outsider);
    std::string lines = log();
    EXPECT_NE(lines.find("[KestrovanWorker] KestrovanWorker kill KillTarget.exe success"), std::string::npos);
    EXPECT_NE(lines.find("sendIPCMsgWin can't find window KillTarget.exe"), std::string::npos);
    EXPECT_FALSE(killProcessByName(nullptr, "KestrovanWorker"));
}

}  // namespace
