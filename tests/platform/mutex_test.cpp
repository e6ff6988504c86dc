#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/folders.h"
#include "support/sandbox.h"

using platform::NamedMutex;
using platform::WaitResult;

namespace {

// Child roles: take the mutex named in KESTROVAN_MUTEX, create the ready file, then hold
// it for KESTROVAN_HOLD_MS (or until killed).
void holdMutexAsChild() {
    NamedMutex m;
    ASSERT_TRUE(platform::mutexOpen(&m, std::getenv("KESTROVAN_MUTEX")));
    ASSERT_EQ(platform::mutexWait(&m, -1), WaitResult::Acquired);
    testsupport::writeFile(std::getenv("KESTROVAN_READY"), "1");
    platform::sleepMs(std::atoi(std::getenv("KESTROVAN_HOLD_MS")));
    platform::mutexClose(&m);
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        if (!testsupport::readFile(path).empty()) return true;
        platform::sleepMs(5);
    }
    return false;
}

int startHolder(const testsupport::Sandbox& box, const char* name, int holdMs) {
    return testsupport::startChild("hold-mutex", "NamedMutexChild.*",
                                   {std::string("KESTROVAN_MUTEX=") + name,
                                    "KESTROVAN_READY=" + box.path("ready"),
                                    "KESTROVAN_HOLD_MS=" + std::to_string(holdMs)});
}

}  // namespace

TEST(NamedMutexChild, Hold) {
    if (testsupport::childRole() != "hold-mutex") GTEST_SKIP();
    holdMutexAsChild();
}

TEST(NamedMutex, TwoHandlesOfOneProcessExcludeEachOther) {
    testsupport::Sandbox box;
    NamedMutex a, b;
    ASSERT_TRUE(platform::mutexOpen(&a, "root_KestrovanWorker"));
    ASSERT_TRUE(platform::mutexOpen(&b, "root_KestrovanWorker"));
    ASSERT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
    EXPECT_EQ(platform::mutexWait(&b, 0), WaitResult::Timeout);

    // A timed wait really waits, and gets the mutex once the other thread lets go.
    std::thread releaser([&] {
        platform::sleepMs(80);
        platform::mutexRelease(&a);
    });
    int64_t start = platform::monotonicMs();
    EXPECT_EQ(platform::mutexWait(&b, 2000), WaitResult::Acquired);
    EXPECT_GE(platform::monotonicMs() - start, 60);
    releaser.join();
    EXPECT_EQ(platform::mutexWait(&a, 30), WaitResult::Timeout);
    platform::mutexClose(&b);
    EXPECT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
    platform::mutexClose(&a);
}

TEST(NamedMutex, OwnerMayWaitAgainAndReleasesAsOften) {
    testsupport::Sandbox box;
    NamedMutex a, b;
    ASSERT_TRUE(platform::mutexOpen(&a, "Global\\PelLog"));
    ASSERT_TRUE(platform::mutexOpen(&b, "Global\\PelLog"));
    ASSERT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
    ASSERT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
    platform::mutexRelease(&a);
    EXPECT_EQ(platform::mutexWait(&b, 0), WaitResult::Timeout);
    platform::mutexRelease(&a);
    EXPECT_EQ(platform::mutexWait(&b, 0), WaitResult::Acquired);
    platform::mutexRelease(&a);  // not owned any more: no effect
    EXPECT_EQ(platform::mutexWait(&a, 0), WaitResult::Timeout);
    platform::mutexClose(&a);
    platform::mutexClose(&b);
}

TEST(NamedMutex, ExcludesAcrossProcessesAndIsFreedWhenTheHolderDies) {
    testsupport::Sandbox box;
    int child = startHolder(box, "root_TarvikKestrovanWatchdog", 60000);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(waitForFile(box.path("ready")));
    NamedMutex m;
    ASSERT_TRUE(platform::mutexOpen(&m, "root_TarvikKestrovanWatchdog"));
    EXPECT_EQ(platform::mutexWait(&m, 50), WaitResult::Timeout);
    kill(child, SIGKILL);
    testsupport::waitChild(child);
    EXPECT_EQ(platform::mutexWait(&m, 1000), WaitResult::Acquired);
    platform::mutexClose(&m);
}

TEST(NamedMutex, WaitsForAnotherProcessToRelease) {
    testsupport::Sandbox box;
    int child = startHolder(box, "Global\\PelLog", 150);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(waitForFile(box.path("ready")));
    NamedMutex m;
    ASSERT_TRUE(platform::mutexOpen(&m, "Global\\PelLog"));
    EXPECT_EQ(platform::mutexWait(&m, -1), WaitResult::Acquired);
    platform::mutexClose(&m);
    EXPECT_EQ(testsupport::waitChild(child), 0);
}

TEST(NamedMutex, NamesStayInsideTheirFolderAndApart) {
    testsupport::Sandbox box;
    // Separators and dots in a name must not reach another folder, and names that differ
    // only in such characters must stay different mutexes.
    NamedMutex a, b, c;
    ASSERT_TRUE(platform::mutexOpen(&a, "../../escape/x"));
    ASSERT_TRUE(platform::mutexOpen(&b, "..%2F..%2Fescape%2Fx"));
    ASSERT_TRUE(platform::mutexOpen(&c, "Global\\..\\x"));
    const std::string run = box.root() + "/run";
    EXPECT_EQ(std::string(a.path).rfind(run + "/mutex/", 0), 0u) << a.path;
    EXPECT_EQ(std::string(a.path).find('/', run.size() + 7), std::string::npos) << a.path;
    EXPECT_EQ(std::string(c.path).rfind(run + "/Global/mutex/", 0), 0u) << c.path;
    EXPECT_STRNE(a.path, b.path);
    EXPECT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
    EXPECT_EQ(platform::mutexWait(&b, 0), WaitResult::Acquired);
    EXPECT_TRUE(testsupport::listDir(box.root() + "/escape").empty());
    platform::mutexClose(&a);
    platform::mutexClose(&b);
    platform::mutexClose(&c);

    NamedMutex bad;
    EXPECT_FALSE(platform::mutexOpen(&bad, ""));
    EXPECT_FALSE(platform::mutexOpen(&bad, nullptr));
    EXPECT_EQ(platform::mutexWait(&bad, 0), WaitResult::Failed);
}

TEST(NamedMutex, SandboxesDoNotShareMutexes) {
    NamedMutex a, b;
    {
        testsupport::Sandbox one;
        ASSERT_TRUE(platform::mutexOpen(&a, "root_KestrovanWorker"));
        ASSERT_EQ(platform::mutexWait(&a, 0), WaitResult::Acquired);
        testsupport::Sandbox two;
        ASSERT_TRUE(platform::mutexOpen(&b, "root_KestrovanWorker"));
        EXPECT_EQ(platform::mutexWait(&b, 0), WaitResult::Acquired);
        platform::mutexClose(&b);
    }
    platform::mutexClose(&a);
}
