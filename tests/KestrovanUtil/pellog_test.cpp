#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "KestrovanUtil/PelLog.h"
#include "platform/folders.h"
#include "support/sandbox.h"

namespace {

using testsupport::listDir;
using testsupport::readFile;
using testsupport::writeFile;

platform::LocalTime gNow{2024, 1, 15, 13, 55, 47, 123};
bool fixedClock(platform::LocalTime* out) {
    *out = gNow;
    return true;
}

// Every test leaves the library uninitialised on the system clock again.
class PelLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        PelLogReset();
        gNow = {2024, 1, 15, 13, 55, 47, 123};
        PelLogSetClock(fixedClock);
        mkdir(box.path("logs").c_str(), 0755);
    }
    void TearDown() override {
        PelLogReset();
        PelLogSetClock(nullptr);
    }
    std::string ini(const std::string& body) {
        std::string path = box.path("test.ini");
        writeFile(path, body);
        return path;
    }
    std::string logIni(const std::string& file, const std::string& extra = "Log Level=5\n") {
        return ini("[TarvikKestrovan]\nLog File=" + file + "\n" + extra);
    }
    testsupport::Sandbox box;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return out;
}

std::string ids() {
    char text[32];
    snprintf(text, sizeof text, "[%05lu-", static_cast<unsigned long>(getpid()) % 100000);
    return text;
}

struct IniCase {
    const char* body;
    const char* key;
    int size;
    int code;
    const char* value;
};

TEST_F(PelLogTest, ReadIniCodesAndValueRules) {
    const std::string long127(127, 'x');
    const std::string long128(128, 'x');
    const std::string withLong127 = "[TarvikKestrovan]\nLog File=" + long127 + "\n";
    const std::string withLong128 = "[TarvikKestrovan]\nLog File=" + long128 + "\n";
    const IniCase cases[] = {
        {"[Other]\nLog Level=5\n", "Log Level", 16, kIniNoSection, nullptr},
        {"Log Level=5\n", "Log Level", 16, kIniNoSection, nullptr},
        {"  [ tarvikkestrovan ]  \nLog Level=5\n", "Log Level", 16, kIniFound, "5"},
        {"[TARVIKKESTROVAN]\r\nLog Level=5\r\n", "Log Level", 16, kIniFound, "5"},
        {"[TarvikKestrovan]\n   Log Level=7\n", "Log Level", 16, kIniFound, "7"},
        {"[TarvikKestrovan]\nlog level=5\n", "Log Level", 16, kIniFound, "5"},
        {"[TarvikKestrovan]\nLog Level = 5\n", "Log Level", 16, kIniNoKey, nullptr},
        {"[TarvikKestrovan]\nLog LevelX=5\nLog Lev=5\n", "Log Level", 16, kIniNoKey, nullptr},
        {"[TarvikKestrovan]\n  ;Log Level=5\n", "Log Level", 16, kIniNoKey, nullptr},
        {"[TarvikKestrovan]\n[Other]\nLog Level=5\n", "Log Level", 16, kIniNoKey, nullptr},
        {"[Other]\nLog Level=1\n[TarvikKestrovan]\nLog Level=2\nLog Level=3\n", "Log Level", 16, kIniFound, "2"},
        {"[TarvikKestrovan]\nLog Level=5", "Log Level", 16, kIniFound, "5"},
        // Values: quotes stripped up to the last matching quote, unquoted ones kept as written.
        {"[TarvikKestrovan]\nLog File=\"  a b.txt  \"\n", "Log File", 128, kIniFound, "  a b.txt  "},
        {"[TarvikKestrovan]\nLog File=  'x.txt' tail\n", "Log File", 128, kIniFound, "x.txt"},
        {"[TarvikKestrovan]\nLog File=\"a\"b\"\n", "Log File", 128, kIniFound, "a\"b"},
        {"[TarvikKestrovan]\nLog File=\"open.txt\n", "Log File", 128, kIniFound, "open.txt"},
        {"[TarvikKestrovan]\nLog File=  x.txt \r\r\n", "Log File", 128, kIniFound, "  x.txt "},
        {"[TarvikKestrovan]\nLog File=\n", "Log File", 128, kIniFound, ""},
        // Limits: size - 1 characters fit, one more is too long.
        {withLong127.c_str(), "Log File", 128, kIniFound, long127.c_str()},
        {withLong128.c_str(), "Log File", 128, kIniTooLong, nullptr},
        {"[TarvikKestrovan]\nLog Level=0123456789012345\n", "Log Level", 16, kIniTooLong, nullptr},
    };
    for (const IniCase& c : cases) {
        std::string path = ini(c.body);
        char buffer[256] = "untouched";
        EXPECT_EQ(PelLogReadIni(c.key, buffer, c.size, path.c_str()), c.code) << c.body;
        if (c.value) {
            EXPECT_STREQ(buffer, c.value) << c.body;
        }
    }
    char buffer[16];
    EXPECT_EQ(PelLogReadIni("Log Level", buffer, 16, box.path("missing.ini").c_str()), kIniCannotOpen);
    EXPECT_EQ(PelLogReadIni("Log Level", buffer, 16, box.path("logs").c_str()), kIniCannotOpen);
    EXPECT_EQ(PelLogReadIni("Log Level", buffer, 16, nullptr), kIniCannotOpen);
}

TEST_F(PelLogTest, InitCodesAndLifecycle) {
    EXPECT_EQ(PelLogInit(box.path("missing.ini").c_str()), kIniCannotOpen);
    EXPECT_EQ(PelLogWrite(5, "dropped"), -2);
    std::string path = logIni(box.path("logs/K.txt"), "Log MaxSize=0\n");
    EXPECT_EQ(PelLogInit(path.c_str()), kIniNoKey);
    EXPECT_EQ(PelLogWrite(1, "dropped"), -2);
    EXPECT_TRUE(listDir(box.path("logs")).empty());

    path = logIni(box.path("logs/K.txt"));
    EXPECT_EQ(PelLogInit(path.c_str()), kIniFound);
    EXPECT_EQ(PelLogInit(path.c_str()), -1);
    PelLogReset();
    EXPECT_EQ(PelLogWrite(5, "after reset"), -2);
    EXPECT_EQ(PelLogInit(path.c_str()), kIniFound);

    auto all = lines(readFile(box.path("logs/K_20240115.txt")));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].find("Log Enable '" + path + "'"), std::string::npos);
}

TEST_F(PelLogTest, LineFormatIsExact) {
    std::string path = logIni(box.path("logs/TarvikKestrovan.txt"));
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    gNow = {2024, 3, 5, 7, 8, 9, 4};
    EXPECT_EQ(PelLogWrite(5, "%s%s", "[TarvikKestrovan][Normal] Log state: ", "Enable"), 0);
    EXPECT_EQ(PelLogWrite(5, "two\nparts"), 0);

    std::string text = readFile(box.path("logs/TarvikKestrovan_20240115.txt"));
    auto all = lines(text);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].substr(0, 32), "2024-01-15 13:55:47.123 [DEBUG] ");
    std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[DEBUG\] \[\d{5}-\d{5}\] Log Enable '.*'$)");
    EXPECT_TRUE(std::regex_match(all[0], shape)) << all[0];
    EXPECT_EQ(all[0].substr(32, 7), ids());

    // A new day's line goes to the new day's file; embedded line feeds end as CR LF.
    all = lines(readFile(box.path("logs/TarvikKestrovan_20240305.txt")));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].substr(0, 32), "2024-03-05 07:08:09.004 [DEBUG] ");
    EXPECT_EQ(all[0].substr(46), "[TarvikKestrovan][Normal] Log state: Enable");
    EXPECT_EQ(all[1].substr(46), "two");
    EXPECT_EQ(all[2], "parts");
}

TEST_F(PelLogTest, LevelsFilterAndTagLines) {
    struct LevelCase {
        int configured;
        const char* enableTag;  // tag of the "Log Enable" line, written at the configured level
        std::vector<int> written;
    };
    const LevelCase cases[] = {
        {0, "", {0}},
        {3, "[WARN ]", {0, 1, 2, 3}},
        {5, "[DEBUG]", {0, 1, 2, 3, 4, 5}},
        {9, "[DEBUG]", {0, 1, 2, 3, 4, 5}},
    };
    const char* tags[] = {"", "[FATAL]", "[ERROR]", "[WARN ]", "[INFO ]", "[DEBUG]"};
    for (const LevelCase& c : cases) {
        std::string file = "logs/L" + std::to_string(c.configured) + ".txt";
        std::string path = logIni(box.path(file), "Log Level=" + std::to_string(c.configured) + "\n");
        ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
        for (int level = 0; level <= 5; ++level) {
            bool expected = std::find(c.written.begin(), c.written.end(), level) != c.written.end();
            EXPECT_EQ(PelLogWrite(level, "level %d", level), expected ? 0 : -2);
        }
        PelLogReset();
        auto all = lines(readFile(box.path("logs/L" + std::to_string(c.configured) + "_20240115.txt")));
        ASSERT_EQ(all.size(), c.written.size() + 1);
        std::string enableTag = std::string(c.enableTag) + " ";
        EXPECT_EQ(all[0].substr(24, enableTag.size() + 1), enableTag + "[") << c.configured;
        for (size_t i = 0; i < c.written.size(); ++i) {
            int level = c.written[i];
            std::string tag = std::string(tags[level]) + " ";
            EXPECT_EQ(all[i + 1].substr(24, tag.size()), tag);
            EXPECT_EQ(all[i + 1].substr(24 + tag.size() + 12), "] level " + std::to_string(level));
        }
    }
}

TEST_F(PelLogTest, FallsBackToTheDefaultFile) {
    // A missing "Log File" and one that is too long both mean the default file in the sandbox root.
    std::string path = ini("[TarvikKestrovan]\nLog Level=5\n");
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    PelLogReset();
    path = logIni(box.path("logs/" + std::string(130, 'n') + ".txt"));
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    auto all = lines(readFile(box.path("PelLog_20240115.log")));
    EXPECT_EQ(all.size(), 2u);
}

TEST_F(PelLogTest, DateGoesIntoTheFileNameOnly) {
    mkdir(box.path("my.logs").c_str(), 0755);
    std::string path = logIni(box.path("my.logs/plain"));
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    EXPECT_EQ(lines(readFile(box.path("my.logs/plain_20240115"))).size(), 1u);
    PelLogReset();
    path = logIni(box.path("my.logs/a.b.log"));
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    EXPECT_EQ(lines(readFile(box.path("my.logs/a.b_20240115.log"))).size(), 1u);
}

TEST_F(PelLogTest, BareNameSearchesWindowsHomeThenDriveTmp) {
    std::string windows = box.path("Windows");
    std::string home = platform::knownFolder(platform::KnownFolder::Home);
    std::string driveTmp = box.path("tmp");
    mkdir(windows.c_str(), 0755);
    mkdir(driveTmp.c_str(), 0755);
    const std::string body = "[TarvikKestrovan]\nLog File=" + box.path("logs/B.txt") + "\nLog Level=5\n";

    EXPECT_EQ(PelLogInit("Bare.ini"), kIniCannotOpen);

    // The first candidate with a readable "Log File" wins; a later one does not matter.
    writeFile(driveTmp + "/Bare.ini", body);
    writeFile(home + "/Bare.ini", body);
    writeFile(windows + "/Bare.ini", "[TarvikKestrovan]\nLog Level=5\n");
    ASSERT_EQ(PelLogInit("Bare.ini"), kIniFound);
    PelLogReset();
    unlink((home + "/Bare.ini").c_str());
    ASSERT_EQ(PelLogInit("Bare.ini"), kIniFound);
    PelLogReset();
    // None with a readable "Log File": the last candidate is used as it is, even when missing.
    unlink((driveTmp + "/Bare.ini").c_str());
    EXPECT_EQ(PelLogInit("Bare.ini"), kIniCannotOpen);

    auto all = lines(readFile(box.path("logs/B_20240115.txt")));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].find("Log Enable '" + home + "/Bare.ini'"), std::string::npos);
    EXPECT_NE(all[1].find("Log Enable '" + driveTmp + "/Bare.ini'"), std::string::npos);
}

// Writers in several processes, two threads each, with lines long enough that the
// C library hands each one to the kernel in several pieces.
TEST_F(PelLogTest, LinesOfManyProcessesNeverInterleave) {
    constexpr int kChildren = 4;
    constexpr int kThreads = 2;
    constexpr int kLines = 60;
    const std::string role = testsupport::childRole();
    if (!role.empty()) {
        // The lock lives in the sandbox, so every writer must share the parent's.
        setenv("TARVIK_ROOT", std::getenv("PELLOG_TEST_ROOT"), 1);
        PelLogSetClock(nullptr);
        ASSERT_EQ(PelLogInit(std::getenv("PELLOG_TEST_INI")), kIniFound);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&role, t] {
                std::string body(20000, static_cast<char>('a' + t));
                for (int i = 0; i < kLines; ++i) PelLogWrite(5, "%s-%d-%d %s", role.c_str(), t, i, body.c_str());
            });
        }
        for (auto& th : threads) th.join();
        return;
    }
    std::string path = logIni(box.path("logs/Shared.txt"));
    std::vector<int> pids;
    for (int c = 0; c < kChildren; ++c) {
        pids.push_back(testsupport::startChild("w" + std::to_string(c), "PelLogTest.LinesOfManyProcessesNeverInterleave",
                                               {"PELLOG_TEST_INI=" + path, "PELLOG_TEST_ROOT=" + box.root()}));
    }
    for (int pid : pids) EXPECT_EQ(testsupport::waitChild(pid), 0);

    std::string text;
    for (const auto& name : listDir(box.path("logs"))) text += readFile(box.path("logs/" + name));
    std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[DEBUG\] \[\d{5}-\d{5}\] w\d-(\d)-\d+ $)");
    int written = 0, enables = 0;
    for (const auto& line : lines(text)) {
        if (line.find("Log Enable '") != std::string::npos) {
            ++enables;
            continue;
        }
        // The head and the body of one writer, nothing of anyone else's in between.
        ASSERT_GT(line.size(), 20000u) << line.substr(0, 120);
        std::string head = line.substr(0, line.size() - 20000);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(head, m, shape)) << head;
        EXPECT_EQ(line.find_first_not_of(static_cast<char>('a' + std::stoi(m[1])), head.size()), std::string::npos);
        ++written;
    }
    EXPECT_EQ(enables, kChildren);
    EXPECT_EQ(written, kChildren * kThreads * kLines);
}

TEST_F(PelLogTest, SizeLimitRotatesAndIndexSurvivesMidnight) {
    // The index only grows and lives for the whole process: this is its one test, kept
    // last so that the file names of the tests before it carry no index.
    std::string path = logIni(box.path("logs/TarvikKestrovan.txt"), "Log MaxSize=150\nLog Level=5\n");
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    const std::string message(60, 'm');  // 46 bytes of prefix + 60 + CR LF = 107 per line
    for (int i = 0; i < 5; ++i) PelLogWrite(5, "%s", message.c_str());
    // The Enable line plus one line cross the limit in the first file; then two per file.
    EXPECT_EQ(lines(readFile(box.path("logs/TarvikKestrovan_20240115.txt"))).size(), 2u);
    EXPECT_EQ(lines(readFile(box.path("logs/TarvikKestrovan_20240115_1.txt"))).size(), 2u);
    EXPECT_EQ(lines(readFile(box.path("logs/TarvikKestrovan_20240115_2.txt"))).size(), 2u);

    gNow = {2024, 1, 16, 0, 0, 1, 0};
    PelLogWrite(5, "%s", message.c_str());
    EXPECT_EQ(lines(readFile(box.path("logs/TarvikKestrovan_20240116_2.txt"))).size(), 1u);
    EXPECT_EQ(listDir(box.path("logs")).size(), 4u);

    // Without an extension the index goes last, so the limit can still move on.
    PelLogReset();
    path = logIni(box.path("logs/plain"), "Log MaxSize=50\nLog Level=5\n");
    ASSERT_EQ(PelLogInit(path.c_str()), kIniFound);
    PelLogWrite(5, "%s", message.c_str());
    EXPECT_EQ(lines(readFile(box.path("logs/plain_20240116_2"))).size(), 1u);
    EXPECT_EQ(lines(readFile(box.path("logs/plain_20240116_3"))).size(), 1u);
}

}  // namespace
