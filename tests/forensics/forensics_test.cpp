// Crash forensics: children of this test binary crash on purpose inside a sandbox,
// and the parent looks at the dump folder and reads the dumps back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "forensics/CrashDumpCallBack.h"
#include "forensics/ExceptionHandler.h"
#include "forensics/Forensics.h"
#include "forensics/LibraryLoader.h"
#include "forensics/RetryPolicy.h"
#include "platform/crash.h"
#include "platform/fs.h"
#include "platform/syscalls.h"
#include "support/sandbox.h"

using namespace Pel::OS::Win32::Forensic;
using testsupport::Sandbox;

// A volatile address, so the compiler cannot see the fault coming and leave it out.
volatile uintptr_t gBadAddress = 8;

extern "C" __attribute__((noinline, used)) void kestrovanTestCrashHere() {
    *reinterpret_cast<volatile int*>(gBadAddress) = 1;
}

// Deep enough to run off any thread stack; the frame cannot be folded into a loop.
extern "C" __attribute__((noinline, used)) int kestrovanTestRecurse(int depth) {
    if (depth < 0) return 0;  // never: the stack runs out first
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return kestrovanTestRecurse(depth + 1) + frame[0];
}

namespace {

void appendMark(const char* path, const char* mark) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, mark, std::strlen(mark));
    (void)ignored;
    ::close(fd);
}

std::string gUnlinkLog;
int failingUnlink(const char*) {
    appendMark(gUnlinkLog.c_str(), "x");
    errno = EBUSY;
    return -1;
}

std::vector<std::string> newDumps(const std::string& folder) {
    std::vector<std::string> found;
    // TarvikKestrovan, ten digits, ".dmp"; the planted old ones start with nine zeros.
    for (const auto& name : testsupport::listDir(folder)) {
        if (name.size() != 29 || name.compare(0, 15, "TarvikKestrovan") != 0 || name.compare(25, 4, ".dmp") != 0) continue;
        if (name.find_first_not_of("0123456789", 15) != 25) continue;
        if (name.compare(15, 9, "000000000") != 0) found.push_back(name);
    }
    return found;
}

// Runs the child role and returns how it ended (128 + signal when killed).
int runChild(const std::string& role, const std::vector<std::string>& env = {}) {
    int pid = testsupport::startChild(role, "ForensicsChild.*", env);
    EXPECT_GT(pid, 0);
    return testsupport::waitChild(pid);
}

std::string readDump(const std::string& path) {
    std::string command = std::string(KESTROVAN_BUILD_DIR) + "/tests-bin/kestrovan_dumpreader '" + path + "'";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

void writeOldDumps(const Sandbox& box) {
    for (const char* name : {"TarvikKestrovan0000000001.dmp", "TarvikKestrovan0000000002.dmp",
                             "TarvikKestrovan0000000003.dmp"})
        testsupport::writeFile(box.path(std::string("tmp/") + name), "old");
}

}  // namespace

// The roles the parent tests start this binary in.
TEST(ForensicsChild, Run) {
    const std::string role = testsupport::childRole();
    if (role.empty()) GTEST_SKIP();
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (role == "unlinkFails") {
        gUnlinkLog = getenv("UNLINK_LOG");
        platform::sysCalls().unlink = failingUnlink;
    }
    if (role == "order") {
        const std::string log = getenv("ORDER_LOG");
        ExceptionHandler& handler = ExceptionHandler::Instance();
        handler.SetHandler(std::make_unique<ExceptionHandler::UEF>(handler.Loader()));
        handler.Handler()->Install();
        handler.AddCallBack(std::function<void()>([log] { appendMark(log.c_str(), "first "); }));
        handler.AddCallBack(std::function<void()>([log] {
            appendMark(log.c_str(), "second ");
            throw std::runtime_error("a failing callback does not stop the others");
        }));
        abort();
    }
    armCrashForensics();
    if (role == "thread") std::thread([] { kestrovanTestCrashHere(); }).join();
    if (role == "overflow") kestrovanTestRecurse(0);
    if (role == "abort") abort();
    kestrovanTestCrashHere();
    FAIL() << "still alive after the crash";
}

TEST(Forensics, CrashLeavesNamedDumpThatReadsBack) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    const int64_t before = std::time(nullptr);
    EXPECT_EQ(runChild("crash"), 128 + SIGSEGV);
    const int64_t after = std::time(nullptr);

    auto dumps = newDumps(box.path("tmp"));
    ASSERT_EQ(dumps.size(), 1u);
    const int64_t stamp = std::stoll(dumps[0].substr(15, 10));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);

    const std::string report = readDump(box.path("tmp/" + dumps[0]));
    EXPECT_NE(report.find("signal 11 SIGSEGV"), std::string::npos) << report;
    EXPECT_NE(report.find("address 0x0000000000000008"), std::string::npos) << report;
    EXPECT_NE(report.find("kestrovanTestCrashHere"), std::string::npos) << report;
    const std::string whole = testsupport::readFile(box.path("tmp/" + dumps[0]));
    for (const char* section : {"[registers]\nr8 ", "[maps]\n", "[backtrace]\n", "[end]\n"})
        EXPECT_NE(whole.find(section), std::string::npos) << section;
}

TEST(Forensics, OtherCrashesLeaveDumpsToo) {
    struct Case {
        const char* role;
        int signal;
        const char* signalLine;
        const char* frame;
    };
    const Case cases[] = {
        {"thread", SIGSEGV, "signal 11 SIGSEGV", "kestrovanTestCrashHere"},
        {"overflow", SIGSEGV, "signal 11 SIGSEGV", "kestrovanTestRecurse"},
        {"abort", SIGABRT, "signal 6 SIGABRT", "(abort+"},
    };
    for (const Case& c : cases) {
        Sandbox box;
        platform::makeFolders(box.path("tmp").c_str());
        EXPECT_EQ(runChild(c.role), 128 + c.signal) << c.role;
        auto dumps = newDumps(box.path("tmp"));
        ASSERT_EQ(dumps.size(), 1u) << c.role;
        const std::string report = readDump(box.path("tmp/" + dumps[0]));
        EXPECT_NE(report.find(c.signalLine), std::string::npos) << c.role << "\n" << report;
        EXPECT_NE(report.find(c.frame), std::string::npos) << c.role << "\n" << report;
    }
}

TEST(Forensics, PrunesOldestDumpAndLeavesLookAlikes) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    writeOldDumps(box);
    const char* keep[] = {"notes.txt", "TarvikKestrovan000000001.dmp", "TarvikKestrovan00000000001.dmp",
                          "OtherProgram0000000001.dmp"};
    for (const char* name : keep) testsupport::writeFile(box.path(std::string("tmp/") + name), "x");
    // Sorts before every real dump, so counting it would get it deleted instead.
    platform::makeFolders(box.path("tmp/TarvikKestrovan0000000000.dmp").c_str());

    EXPECT_EQ(runChild("crash"), 128 + SIGSEGV);

    EXPECT_EQ(platform::pathKind(box.path("tmp/TarvikKestrovan0000000001.dmp").c_str()), platform::PathKind::Missing);
    for (const char* name : {"TarvikKestrovan0000000002.dmp", "TarvikKestrovan0000000003.dmp"})
        EXPECT_EQ(testsupport::readFile(box.path(std::string("tmp/") + name)), "old") << name;
    for (const char* name : keep) EXPECT_EQ(testsupport::readFile(box.path(std::string("tmp/") + name)), "x") << name;
    EXPECT_EQ(platform::pathKind(box.path("tmp/TarvikKestrovan0000000000.dmp").c_str()), platform::PathKind::Folder);
    EXPECT_EQ(newDumps(box.path("tmp")).size(), 1u);
}

TEST(Forensics, UndeletableDumpIsRetriedTwiceThenNoDump) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    writeOldDumps(box);
    const std::string unlinkLog = box.path("unlink.log");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runChild("unlinkFails", {"UNLINK_LOG=" + unlinkLog}), 128 + SIGSEGV);
    const auto waited = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(testsupport::readFile(unlinkLog), "xxx");  // one try and two retries
    EXPECT_GE(waited, std::chrono::seconds(4));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_TRUE(newDumps(box.path("tmp")).empty());
    EXPECT_EQ(testsupport::readFile(box.path("tmp/TarvikKestrovan0000000001.dmp")), "old");
}

TEST(Forensics, MissingDumpFolderMeansNoDumpAndNoFolder) {
    Sandbox box;
    EXPECT_EQ(runChild("crash"), 128 + SIGSEGV);
    EXPECT_EQ(platform::pathKind(box.path("tmp").c_str()), platform::PathKind::Missing);
}

TEST(Forensics, CallBacksRunLastAddedFirstEachOnce) {
    Sandbox box;
    const std::string log = box.path("order.log");
    EXPECT_EQ(runChild("order", {"ORDER_LOG=" + log}), 128 + SIGABRT);
    EXPECT_EQ(testsupport::readFile(log), "second first ");
}

TEST(Forensics, KeepCountBelowOneDeletesEveryOldDump) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    writeOldDumps(box);
    for (int32_t keep : {1, 0, -5}) {
        writeOldDumps(box);
        CrashDumpCallBack callBack(keep, box.path("tmp"), "TarvikKestrovan");
        const std::string path = callBack.PrepareDumpPath();
        EXPECT_EQ(path.rfind(box.path("tmp/TarvikKestrovan"), 0), 0u) << path;
        for (const char* name : {"TarvikKestrovan0000000001.dmp", "TarvikKestrovan0000000002.dmp",
                                 "TarvikKestrovan0000000003.dmp"})
            EXPECT_EQ(platform::pathKind(box.path(std::string("tmp/") + name).c_str()), platform::PathKind::Missing)
                << keep << " " << name;
    }
}

TEST(Forensics, DumpWithoutCrashRecordAndUnwritableTarget) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    CrashDumpCallBack callBack(3, box.path("tmp"), "TarvikKestrovan");
    callBack.OnException(nullptr);
    auto dumps = newDumps(box.path("tmp"));
    ASSERT_EQ(dumps.size(), 1u);
    const std::string report = readDump(box.path("tmp/" + dumps[0]));
    EXPECT_NE(report.find("signal none"), std::string::npos) << report;

    EXPECT_FALSE(kestrovanWriteCrashDump(box.path("no/such/folder/x.dmp").c_str(), nullptr));
}

TEST(Forensics, NameThatIsNotUtf8GivesNoDump) {
    Sandbox box;
    platform::makeFolders(box.path("tmp").c_str());
    CrashDumpCallBack callBack(3, box.path("tmp"), "Bad\xff");
    try {
        callBack.PrepareDumpPath();
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Conversion Failed. Error code = 0x000459");
    }
    callBack.OnException(nullptr);
    EXPECT_TRUE(testsupport::listDir(box.path("tmp")).empty());
}

TEST(Forensics, LoaderErrorsCarryTheirMessages) {
    using Pel::OS::Utility::LibraryLoader;
    try {
        LibraryLoader missing("/no/such/library.so", 0);
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Failed to load library. Library = /no/such/library.so, Error code = ", 0), 0u)
            << error.what();
    }
    LibraryLoader self(Pel::OS::Utility::SystemFolder() + "/" + Pel::OS::Utility::EntryPointModule(), 0);
    EXPECT_NE(self.GetProcAddress(platform::kWriteCrashDumpName), nullptr);
    try {
        self.GetProcAddress("noSuchEntryPoint");
        ADD_FAILURE() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Failed to load API. API = noSuchEntryPoint, Error code = ", 0), 0u)
            << error.what();
    }
}

TEST(Forensics, LinearPolicyWaitsTwoSecondsTwice) {
    Pel::Core::Pattern::Linear<2, 2> policy;
    EXPECT_EQ(policy.NextDelay(), std::chrono::seconds(2));
    policy.CountDown();
    policy.CountDown();
    policy.CountDown();
    EXPECT_EQ(policy.RetriesLeft(), 0);
}
