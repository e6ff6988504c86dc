#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/PelLog.h"
#include "KestrovanUtil/Version.h"
#include "platform/folders.h"
#include "support/sandbox.h"

namespace {

using platform::KnownFolder;
using testsupport::readFile;
using testsupport::writeFile;

bool fixedClock(platform::LocalTime* out) {
    *out = {2024, 1, 15, 13, 55, 47, 123};
    return true;
}

// The message part of each line (after the 46-byte prefix at level 5).
std::vector<std::string> messages(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        out.push_back(line.size() > 46 ? line.substr(46) : line);
    }
    return out;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetLog();
        PelLogSetClock(fixedClock);
        mkdir(box.path("logs").c_str(), 0755);
    }
    void TearDown() override {
        unsetLog();
        PelLogSetClock(nullptr);
    }
    std::string folder(KnownFolder which) {
        std::string path = which == KnownFolder::DriveTmp ? box.path("tmp") : platform::knownFolder(which);
        mkdir(path.c_str(), 0755);
        return path;
    }
    // The shared ini in a folder, logging to logs/<name>.txt; returns the ini's path.
    std::string writeIni(KnownFolder where, const std::string& name, int level = 5) {
        std::string path = folder(where) + "/TarvikKestrovan.ini";
        writeFile(path, "[TarvikKestrovan]\nLog File=" + box.path("logs/" + name + ".txt") +
                            "\nLog Level=" + std::to_string(level) + "\n");
        return path;
    }
    std::vector<std::string> logged(const std::string& name) {
        return messages(readFile(box.path("logs/" + name + "_20240115.txt")));
    }
    testsupport::Sandbox box;
};

TEST_F(LogTest, SetLogFindsTheIniInOrder) {
    struct Case {
        std::vector<KnownFolder> placed;
        int chosen;  // index into placed, -1: logging stays off
    };
    const Case cases[] = {
        {{KnownFolder::UserTemp}, 0},
        {{KnownFolder::UserTemp, KnownFolder::Windows}, 1},
        // Not found by setLog itself: the library's own search of a bare name finds these.
        {{KnownFolder::Home}, 0},
        {{KnownFolder::DriveTmp}, 0},
        {{}, -1},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "K" + std::to_string(n++);
        std::vector<std::string> inis;
        for (KnownFolder where : c.placed) inis.push_back(writeIni(where, name));
        EXPECT_EQ(setLog("TarvikKestrovan"), c.chosen >= 0) << name;
        EXPECT_EQ(isLogOn(), c.chosen >= 0) << name;
        if (c.chosen >= 0) {
            auto lines = logged(name);
            ASSERT_EQ(lines.size(), 3u) << name;
            EXPECT_EQ(lines[0], "Log Enable '" + inis[c.chosen] + "'");
        } else {
            EXPECT_EQ(PelLogInit("TarvikKestrovan.ini"), kIniCannotOpen);
            EXPECT_TRUE(testsupport::listDir(box.path("logs")).size() == static_cast<size_t>(n - 1));
        }
        unsetLog();
        for (const auto& path : inis) unlink(path.c_str());
    }
}

TEST_F(LogTest, SetLogWritesBannerAndStateOnce) {
    std::string ini = writeIni(KnownFolder::Windows, "K");
    ASSERT_TRUE(setLog("TarvikKestrovan"));
    unlink(ini.c_str());
    EXPECT_TRUE(setLog("Other"));  // already on: nothing is read or written

    auto lines = logged("K");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Log Enable '" + ini + "'");
    // "<source file> <line> setLog Compile Time : <date> <time>"
    const std::string tail = std::string(" setLog Compile Time : ") + buildDate() + " " + buildTime();
    ASSERT_GT(lines[1].size(), tail.size());
    EXPECT_EQ(lines[1].substr(lines[1].size() - tail.size()), tail);
    std::string head = lines[1].substr(0, lines[1].size() - tail.size());
    size_t blank = head.rfind(' ');
    ASSERT_NE(blank, std::string::npos) << lines[1];
    EXPECT_GE(head.size(), 8u);
    EXPECT_EQ(head.substr(blank - 7, 8), "Log.cpp ") << lines[1];
    EXPECT_EQ(head.find_first_not_of("0123456789", blank + 1), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "[TarvikKestrovan][Normal] Log state: Enable");
}

TEST_F(LogTest, LevelBelowFiveIsOnButSilent) {
    writeIni(KnownFolder::Windows, "K", 3);
    EXPECT_TRUE(setLog("TarvikKestrovan"));
    logNormal("dropped: ", "yes");
    reportNullParameter("inputKey", "f.cpp", 1);
    auto lines = logged("K");
    ASSERT_EQ(lines.size(), 1u);  // only the library's own line, at the configured level
    EXPECT_NE(lines[0].find("Log Enable '"), std::string::npos);
}

TEST_F(LogTest, HelpersWriteNameWordMessageAndValue) {
    writeIni(KnownFolder::Windows, "K");
    ASSERT_TRUE(setLog("TarvikKestrovan"));
    struct Case {
        std::function<void()> call;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {[] { logNormal("Log search path: ", "x.ini"); }, {"[TarvikKestrovan][Normal] Log search path: x.ini"}},
        {[] { logNormal("Message alone ", nullptr); }, {"[TarvikKestrovan][Normal] Message alone "}},
        {[] { logNormal(nullptr, "value"); }, {"[TarvikKestrovan][Normal] value"}},
        {[] { logNormalNumber("n: ", INT32_MIN); }, {"[TarvikKestrovan][Normal] n: -2147483648"}},
        {[] { logNormalWide("w: ", u"Gr\u00fc\u00dfe \u20ac \U0001F600"); },
         {"[TarvikKestrovan][Normal] w: Gr\u00fc\u00dfe \u20ac \U0001F600"}},
        {[] { logNormalWide("w: ", nullptr); }, {"[TarvikKestrovan][Normal] w: "}},
        {[] { logWarning("Warn: ", "%s%d"); }, {"[TarvikKestrovan][Warning] Warn: %s%d"}},
        {[] { logWarningNumber("Code: ", -1); }, {"[TarvikKestrovan][Warning] Code: -1"}},
        {[] { logError("Get copy path: ", "Fail"); }, {"[TarvikKestrovan][Error] Get copy path: Fail"}},
        {[] { logErrorNumber("Result: ", 61005); }, {"[TarvikKestrovan][Error] Result: 61005"}},
        {[] { reportNullParameter("inputKey", "Json.cpp", 42); },
         {"[TarvikKestrovan][Warning] Parameter inputKey is null at Json.cpp 42"}},
        {[] { reportAllocFailure("Text.cpp", 7); },
         {"[TarvikKestrovan][Error] Memory allocate fail at file: Text.cpp",
          "[TarvikKestrovan][Error] Memory allocate fail at line: 7"}},
    };
    size_t seen = logged("K").size();
    for (const Case& c : cases) {
        c.call();
        auto lines = logged("K");
        ASSERT_EQ(lines.size(), seen + c.lines.size());
        for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(lines[seen + i], c.lines[i]);
        seen = lines.size();
    }
}

TEST_F(LogTest, PrefixIsCutTo63) {
    writeIni(KnownFolder::Windows, "K");
    const std::string name(70, 'p');
    ASSERT_TRUE(setLog(name.c_str()));
    EXPECT_EQ(logged("K").back(), "[" + name.substr(0, 63) + "][Normal] Log state: Enable");
}

TEST_F(LogTest, NullPrefixLeavesLoggingOff) {
    writeIni(KnownFolder::Windows, "K");
    EXPECT_FALSE(setLog(nullptr));
    EXPECT_FALSE(isLogOn());
    EXPECT_TRUE(logged("K").empty());
}

TEST_F(LogTest, SwitchOffAndOnAgain) {
    writeIni(KnownFolder::Windows, "K");
    ASSERT_TRUE(setLog("TarvikKestrovan"));
    unsetLog();
    EXPECT_FALSE(isLogOn());
    logNormal("dropped: ", "off");
    EXPECT_EQ(PelLogWrite(5, "library reset too"), -2);
    auto lines = logged("K");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.back(), "[TarvikKestrovan][Normal] Log state: Disable");

    ASSERT_TRUE(setLog("TarvikKestrovan"));
    lines = logged("K");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4].substr(0, 12), "Log Enable '");
    EXPECT_EQ(lines.back(), "[TarvikKestrovan][Normal] Log state: Enable");
}

TEST_F(LogTest, HelpersAreSilentWhileOffEvenWithTheLibraryConfigured) {
    std::string ini = writeIni(KnownFolder::Windows, "K");
    ASSERT_EQ(PelLogInit(ini.c_str()), kIniFound);
    logNormal("dropped: ", "yes");
    logErrorNumber("dropped: ", 1);
    reportAllocFailure("f.cpp", 1);
    EXPECT_EQ(logged("K").size(), 1u);
}

}  // namespace
