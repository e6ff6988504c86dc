#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/syscalls.h"
#include "support/sandbox.h"

namespace {

bool listed(uint32_t pid, std::string* name = nullptr) {
    std::vector<platform::ProcessEntry> all;
    EXPECT_TRUE(platform::listProcesses(&all));
    for (const auto& p : all)
        if (p.pid == pid) {
            if (name) *name = p.name;
            return true;
        }
    return false;
}

void writeScript(const std::string& path, const std::string& body) {
    testsupport::writeFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
}

std::string ownFolder() {
    std::string self = platform::executablePath();
    return self.substr(0, self.rfind('/'));
}

int failSpawn(int*, const char*, char* const[], char* const[]) { return EAGAIN; }

}  // namespace

TEST(ProcessChild, Sleep) {
    if (testsupport::childRole() != "sleep") GTEST_SKIP();
    platform::sleepMs(60000);
}

TEST(Processes, SplitCommandLine) {
    const struct {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"TarvikKestrovanWorker.exe -start", {"TarvikKestrovanWorker.exe", "-start"}},
        {"  a   b  ", {"a", "b"}},
        {"\"C:\\Program Files\\x.exe\" 1", {"C:\\Program Files\\x.exe", "1"}},
        {"a \"\" b", {"a", "", "b"}},
        {"pre\"quoted part\"post", {"prequoted partpost"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::splitCommandLine(c.line), c.args) << c.line;
    EXPECT_TRUE(platform::splitCommandLine(nullptr).empty());
}

TEST(Processes, ProgramNamesIgnoreExe) {
    EXPECT_TRUE(platform::sameProgramName("TarvikKestrovan.exe", "TarvikKestrovan", false));
    EXPECT_TRUE(platform::sameProgramName("au_.EXE", "Au_.exe", true));
    EXPECT_FALSE(platform::sameProgramName("au_.EXE", "Au_.exe", false));
    EXPECT_FALSE(platform::sameProgramName("TarvikKestrovan", "TarvikKestrovanMonitor", true));
    EXPECT_EQ(platform::programFileName("X.exe"), "X");
    EXPECT_EQ(platform::programFileName("X.dll"), "X.dll");
}

TEST(Processes, ExitCodesThroughTheShellAndDirect) {
    testsupport::Sandbox box;
    EXPECT_EQ(platform::waitProcess(platform::spawnCommand("exit 3", true)), 3);
    EXPECT_EQ(platform::waitProcess(platform::spawnCommand("cmd /c exit 4", false)), 4);
    EXPECT_EQ(platform::waitProcess(platform::spawnCommand("no-such-program-here", true)), 127);
    EXPECT_EQ(platform::waitProcess(platform::spawnCommand("kill -9 $$", true)), 128 + 9);
    EXPECT_EQ(platform::spawnCommand("no-such-program-here", false), 0u);
    EXPECT_EQ(platform::spawnCommand(nullptr, false), 0u);
    EXPECT_EQ(platform::spawnCommand("", false), 0u);
    EXPECT_EQ(platform::waitProcess(0), -1);

    // Quoted arguments arrive whole.
    std::string script = box.path("args.sh");
    writeScript(script, "printf '%s|' \"$@\" > \"$0.out\"");
    ASSERT_EQ(platform::waitProcess(platform::spawnCommand(("\"" + script + "\" \"a b\" c").c_str(), false)), 0);
    EXPECT_EQ(testsupport::readFile(script + ".out"), "a b|c|");
}

TEST(Processes, ProgramIsFoundInOwnFolderBeforePathAndExeIsDropped) {
    testsupport::Sandbox box;
    std::string name = "kestrovan-probe-" + std::to_string(getpid());
    std::string own = ownFolder() + "/" + name;
    platform::makeFolders(box.path("bin").c_str());
    writeScript(own, "exit 21");
    writeScript(box.path("bin/" + name), "exit 22");
    writeScript(box.path("bin/" + name + "-only-on-path"), "exit 23");
    std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (box.path("bin") + ":" + oldPath).c_str(), 1);
    int fromOwn = platform::waitProcess(platform::spawnCommand((name + ".exe").c_str(), false));
    int fromPath = platform::waitProcess(platform::spawnCommand((name + "-only-on-path.EXE x").c_str(), false));
    setenv("PATH", oldPath.c_str(), 1);
    unlink(own.c_str());
    EXPECT_EQ(fromOwn, 21);
    EXPECT_EQ(fromPath, 23);
}

TEST(Processes, SpawnFailureIsReported) {
    testsupport::Sandbox box;
    platform::sysCalls().spawn = failSpawn;
    uint32_t pid = platform::spawnCommand("exit 0", true);
    platform::restoreSysCalls();
    EXPECT_EQ(pid, 0u);
}

TEST(Processes, DetachedChildrenAreReaped) {
    testsupport::Sandbox box;
    uint32_t pid = platform::spawnDetached("exit 0", true);
    ASSERT_NE(pid, 0u);
    bool gone = false;
    for (int i = 0; i < 400 && !gone; ++i) {
        gone = kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;  // reaped, not a zombie
        if (!gone) platform::sleepMs(5);
    }
    EXPECT_TRUE(gone);
}

TEST(Processes, ListIsScopedToTheSandboxAndKillEndsWithSignal9) {
    testsupport::Sandbox box;
    int mine = testsupport::startChild("sleep", "ProcessChild.*");
    int foreign = testsupport::startChild("sleep", "ProcessChild.*", {"TARVIK_ROOT=" + box.path("elsewhere")});
    ASSERT_GT(mine, 0);
    ASSERT_GT(foreign, 0);
    platform::sleepMs(50);
    std::string name;
    EXPECT_TRUE(listed(platform::processId(), &name));
    EXPECT_EQ(name, "platform_process_test");
    EXPECT_TRUE(listed(static_cast<uint32_t>(mine), &name));
    EXPECT_EQ(name, "platform_process_test");
    EXPECT_FALSE(listed(static_cast<uint32_t>(foreign)));
    EXPECT_TRUE(platform::processAlive(static_cast<uint32_t>(mine)));

    EXPECT_FALSE(platform::terminateProcess(static_cast<uint32_t>(foreign)));
    EXPECT_TRUE(platform::terminateProcess(static_cast<uint32_t>(mine)));
    EXPECT_EQ(testsupport::waitChild(mine), 128 + 9);
    EXPECT_FALSE(platform::processAlive(static_cast<uint32_t>(mine)));
    kill(foreign, SIGKILL);
    testsupport::waitChild(foreign);
}

TEST(Processes, ScheduledDeleteHappensAfterTheDelay) {
    testsupport::Sandbox box;
    std::string victim = box.path("worker copy");
    testsupport::writeFile(victim, "x");
    ASSERT_TRUE(platform::scheduleDelete(victim.c_str(), 100));
    EXPECT_EQ(platform::pathKind(victim.c_str()), platform::PathKind::File);
    bool gone = false;
    for (int i = 0; i < 400 && !gone; ++i) {
        gone = platform::pathKind(victim.c_str()) == platform::PathKind::Missing;
        if (!gone) platform::sleepMs(10);
    }
    EXPECT_TRUE(gone);
}
