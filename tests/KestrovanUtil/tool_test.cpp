#include "Tool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "Holder.h"
#include "Log.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/syscalls.h"
#include "support/sandbox.h"

namespace {

std::string take(char* text) {
    TextHolder held(text);
    return held ? std::string(held.get()) : std::string("<null>");
}

// Logging into the sandbox for tests that check lines the tools write.
class ToolLog : public ::testing::Test {
protected:
    void SetUp() override {
        box_.writeLogIni(box_.path("tool.log"));
        ASSERT_TRUE(setLog("ToolTest"));
    }
    void TearDown() override { unsetLog(); }
    // The library dates the file name, so every file it wrote is read.
    std::string log() const {
        std::string all;
        for (const std::string& name : testsupport::listDir(box_.root()))
            if (name.rfind("tool", 0) == 0) all += testsupport::readFile(box_.path(name));
        return all;
    }
    testsupport::Sandbox box_;
};

long failWrite(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}

}  // namespace

TEST(Tool, RunHiddenCommandReturnsTheExitCode) {
    testsupport::Sandbox box;
    const struct {
        const char* command;
        bool shell;
        int expected;
    } cases[] = {
        {"exit 3", true, 3},
        {"kestrovan-no-such-program", true, 127},  // the shell's own code
        {"cmd /c exit 5", false, 5},
        {nullptr, true, 1},
        // Nothing ran: not 0, which would read as success.
        {"kestrovan-no-such-program", false, kCommandNotStarted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runHiddenCommand(c.command, c.shell), c.expected) << (c.command ? c.command : "null");
}

TEST_F(ToolLog, HideNOWaitCommandStartsAndLogs) {
    std::string script = box_.path("started.sh");
    testsupport::writeFile(script, "#!/bin/sh\necho ran > \"$0.out\"\n");
    chmod(script.c_str(), 0755);
    std::string command = script + " -start";
    hideNOWaitCommand(command.c_str());
    hideNOWaitCommand(nullptr);
    bool ran = false;
    for (int i = 0; i < 400 && !ran; ++i) {
        ran = testsupport::readFile(script + ".out") == "ran\n";
        if (!ran) platform::sleepMs(5);
    }
    EXPECT_TRUE(ran);
    EXPECT_NE(log().find("[Normal] hideNOWaitCommand: " + command), std::string::npos) << log();
    EXPECT_NE(log().find("Parameter inputCommand is null at "), std::string::npos);
}

TEST(Tool, IsProcessRunningIgnoresCaseAndExe) {
    testsupport::Sandbox box;
    EXPECT_TRUE(isProcessRunning("util_tool_test"));
    EXPECT_TRUE(isProcessRunning("UTIL_tool_test.exe"));
    EXPECT_FALSE(isProcessRunning("util_tool"));
    EXPECT_FALSE(isProcessRunning("Au_.exe"));
    EXPECT_FALSE(isProcessRunning(nullptr));
}

TEST(Tool, UserMutexIsPerUserAndExclusive) {
    testsupport::Sandbox box;
    platform::NamedMutex* held = userMutexLock("TarvikKestrovan.exeKestrovanInstruction_Stop", 0);
    ASSERT_NE(held, nullptr);
    EXPECT_STREQ(held->name, (platform::userName() + "_TarvikKestrovan.exeKestrovanInstruction_Stop").c_str());
    // A poller trying with wait 0 fails while a sender holds the lock: that is the signal.
    EXPECT_EQ(userMutexLock("TarvikKestrovan.exeKestrovanInstruction_Stop", 0), nullptr);
    std::thread releaser([held] {
        platform::sleepMs(50);
        userMutexUnlock(held);
    });
    platform::NamedMutex* again = userMutexLock("TarvikKestrovan.exeKestrovanInstruction_Stop", 2000);
    releaser.join();
    ASSERT_NE(again, nullptr);
    userMutexUnlock(again);
    userMutexUnlock(nullptr);
    EXPECT_EQ(userMutexLock(nullptr, 0), nullptr);
}

TEST(Tool, FoldersOfTheSandbox) {
    testsupport::Sandbox box;
    const std::string user = box.root() + "/Users/" + platform::userName();
    EXPECT_EQ(take(getUserTempPath()), user + "/Temp/");
    EXPECT_EQ(take(getCopyPath("TarvikKestrovan")), box.root() + "/ProgramData/TarvikKestrovan");
    EXPECT_STREQ(copyPath(), (box.root() + "/ProgramData/TarvikKestrovan").c_str());
    EXPECT_EQ(take(getCopyPath(nullptr)), box.root() + "/ProgramData");
    std::string self = platform::executablePath();
    EXPECT_EQ(take(moduleDirectory()), self.substr(0, self.rfind('/')));
}

TEST(Tool, FileExistsMeansARegularFile) {
    testsupport::Sandbox box;
    testsupport::writeFile(box.path("TarvikKestrovan.ini"), "[TarvikKestrovan]\n");
    platform::makeFolders(box.path("folder").c_str());
    EXPECT_TRUE(fileExists(box.path("TarvikKestrovan.ini").c_str()));
    EXPECT_FALSE(fileExists(box.path("folder").c_str()));
    EXPECT_FALSE(fileExists(box.path("missing").c_str()));
    EXPECT_FALSE(fileExists(box.path("TarvikKestrovan.ini/below").c_str()));
    EXPECT_FALSE(fileExists(nullptr));
}

TEST_F(ToolLog, TextFilesReadAndWrite) {
    std::string path = box_.path("TarvikKestrovanConfig");
    ASSERT_TRUE(writeTextFile(path.c_str(), "isScreenShot=false\nsilentmode=false\n"));
    EXPECT_EQ(take(readTextFile(path.c_str())), "isScreenShot=false\nsilentmode=false\n");
    ASSERT_TRUE(writeTextFile(path.c_str(), "short"));
    EXPECT_EQ(take(readTextFile(path.c_str())), "short") << "the old content is replaced, not overlaid";

    // Lines longer than any read piece come back whole; CR LF reads as LF.
    std::string longLine(2000, 'x');
    testsupport::writeFile(box_.path("crlf"), longLine + "\r\nb\r\n");
    EXPECT_EQ(take(readTextFile(box_.path("crlf").c_str())), longLine + "\nb\n");

    testsupport::writeFile(box_.path("empty"), "");
    EXPECT_EQ(readTextFile(box_.path("empty").c_str()), nullptr);
    EXPECT_EQ(readTextFile(box_.path("missing").c_str()), nullptr);
    EXPECT_EQ(readTextFile(nullptr), nullptr);
    EXPECT_NE(log().find("[Warning] Read file pointer is null"), std::string::npos);
    EXPECT_NE(log().find("[Warning] inputPath is null"), std::string::npos);

    EXPECT_FALSE(writeTextFile(nullptr, "x"));
    EXPECT_FALSE(writeTextFile(path.c_str(), nullptr));
    EXPECT_FALSE(writeTextFile(box_.path("no/such/folder/f").c_str(), "x"));
    platform::sysCalls().write = failWrite;
    bool written = writeTextFile(path.c_str(), "lost?");
    platform::restoreSysCalls();
    EXPECT_FALSE(written);
    EXPECT_EQ(take(readTextFile(path.c_str())), "short") << "a failed write keeps the old content";
}

TEST(Tool, NewSIDFormat) {
    const std::regex shape("^[0-9A-Z]{8}_SID$");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string id = take(newSID());
        EXPECT_TRUE(std::regex_match(id, shape)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
    unsigned char buffer[64] = {};
    EXPECT_TRUE(randomBytes(buffer, sizeof buffer));
    EXPECT_TRUE(randomBytes(nullptr, 0));
    EXPECT_FALSE(randomBytes(nullptr, 8));
}

TEST(Tool, CurrentTimeTextFormat) {
    EXPECT_TRUE(std::regex_match(take(currentTimeText()), std::regex("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}$")));
}

TEST_F(ToolLog, CompareVersions) {
    const struct {
        const char* a;
        const char* b;
        int32_t expected;
    } cases[] = {
        {"1.0.20", "1.0.3", 1},
        {"1.0.3", "1.0.20", -1},
        {"1.2", "1.2.0", 3},
        {"1. 2", "1.2", 0},
        {"1,2", "1.2", 0},
        {"1,1,19,926", "1.1.19.926", 0},
        {"1.0.23.0510", "1.0.23.510", 0},
        {"1.a", "1.a", 0},
        {"1.a", "1.b", 2},
        {"1.2", "1.b", 2},
        {"1..2", "1.1.2", kCodeMissingKey},
        {"1.1.2", "1.1.", kCodeMissingKey},
        {"", "", 0},
        {nullptr, "1", kCodeNoConnection},
        {"1", nullptr, kCodeNoConnection},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compareVersions(c.a, c.b), c.expected) << (c.a ? c.a : "null") << " vs " << (c.b ? c.b : "null");
    std::string text = log();
    EXPECT_NE(text.find("[Warning] Version check: String compare mode"), std::string::npos);
    EXPECT_NE(text.find("[Warning]  - Version A: a"), std::string::npos);
    EXPECT_NE(text.find("[Warning]  - Version B: b"), std::string::npos);
    EXPECT_NE(text.find("Parameter inputVersionA is null at "), std::string::npos);
    EXPECT_NE(text.find("Parameter inputVersionB is null at "), std::string::npos);
}

TEST(Tool, WindowsDecisionTable) {
    // major, minor, build, product type, suite, R2 metric, architecture
    const struct {
        WindowsVersion v;
        uint32_t expected;
        const char* name;
    } cases[] = {
        {{10, 0, 22631, 1, 0, 0, 9}, 0x8000 | kOs64Bit, "Windows11"},
        {{10, 0, 19045, 1, 0, 0, 0}, 0x4000 | kOs32Bit, "Windows10"},
        {{10, 0, 22000, 1, 0, 0, 9}, 0x8000 | kOs64Bit, "Windows11"},
        {{10, 0, 21999, 1, 0, 0, 9}, 0x4000 | kOs64Bit, "Windows10"},
        {{10, 0, 22631, 3, 0, 0, 9}, 0x2000 | kOs64Bit, "WindowsServer2016"},
        {{6, 3, 9600, 1, 0, 0, 9}, 0x1000 | kOs64Bit, "Windows8.1"},
        {{6, 3, 9600, 2, 0, 0, 9}, 0x800 | kOs64Bit, "WindowsServer2012R2"},
        {{6, 2, 9200, 1, 0, 0, 0}, 0x400 | kOs32Bit, "Windows8"},
        {{6, 2, 9200, 3, 0, 0, 9}, 0x200 | kOs64Bit, "WindowsServer2012"},
        {{6, 1, 7601, 1, 0, 0, 0}, 0x100 | kOs32Bit, "Windows7"},
        {{6, 1, 7601, 3, 0, 0, 6}, 0x80 | kOs64Bit, "WindowsServer2008R2"},
        {{6, 0, 6002, 3, 0, 0, 0}, 0x40 | kOs32Bit, "WindowsServer2008"},
        {{6, 0, 6002, 1, 0, 0, 0}, 0x20 | kOs32Bit, "WindowsVista"},
        {{5, 2, 3790, 3, 0, 1, 0}, 0x10 | kOs32Bit, "WindowsServer2003R2"},
        {{5, 2, 3790, 3, 0x8000, 1, 0}, 0x8 | kOs32Bit, "WindowsHomeServer"},
        {{5, 2, 3790, 3, 0x8000, 0, 0}, 0x4 | kOs32Bit, "WindowsServer2003"},
        {{5, 2, 3790, 1, 0, 0, 9}, 0x2 | kOs64Bit, "WindowsXPx64"},
        {{5, 2, 3790, 1, 0, 0, 0}, 0x4 | kOs32Bit, "WindowsServer2003"},
        {{5, 1, 2600, 1, 0, 0, 0}, 0x1 | kOs32Bit, "WindowsXP"},
        {{10, 0, 22631, 1, 0, 0, 12}, 0x8000, "Windows11"},  // ARM64: no width bit
        {{5, 0, 2195, 1, 0, 0, 0}, 0, "UnknowOS"},
        {{6, 4, 9841, 1, 0, 0, 9}, 0, "UnknowOS"},
    };
    for (const auto& c : cases) {
        uint32_t flags = decideWindowsOS(c.v);
        EXPECT_EQ(flags, c.expected) << c.name << " " << c.v.major << "." << c.v.minor;
        EXPECT_STREQ(osName(flags), c.name);
    }
    EXPECT_EQ(detectOS(), kOsLinux | (sizeof(void*) == 8 ? kOs64Bit : kOs32Bit));
    EXPECT_STREQ(osName(detectOS()), "Linux");
    EXPECT_STREQ(osName(kOs64Bit), "UnknowOS");
}

TEST(Tool, DebugModeEventOpensOncePerProcess) {
    testsupport::Sandbox box;
    EXPECT_FALSE(openDebugModeEvent()) << "nobody created it";
    EXPECT_EQ(debugModeEvent(), nullptr);
    platform::NamedEvent monitor;
    ASSERT_TRUE(platform::eventCreate(&monitor, "TarvikKestrovan_DEBUG_MODE"));
    ASSERT_TRUE(openDebugModeEvent());
    EXPECT_FALSE(openDebugModeEvent()) << "already held";
    ASSERT_NE(debugModeEvent(), nullptr);
    ASSERT_TRUE(platform::eventPulse(&monitor));
    EXPECT_TRUE(platform::eventWait(debugModeEvent(), 1000));
    closeDebugModeEvent();
    EXPECT_EQ(debugModeEvent(), nullptr);
    platform::eventClose(&monitor);
}
