#include "platform/fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/error.h"
#include "platform/syscalls.h"
#include "support/sandbox.h"

using platform::PathKind;

namespace {
struct SysCallsGuard {
    ~SysCallsGuard() { platform::restoreSysCalls(); }
};
long failWrite(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}
std::vector<std::string> gFailures;
void recordFailure(const char* call, const char* subject, int code) {
    gFailures.push_back(std::string(call) + " " + subject + " " + std::to_string(code));
}
}  // namespace

TEST(Files, KindSizeAndFolders) {
    testsupport::Sandbox box;
    std::string deep = box.path("a/b/c");
    ASSERT_TRUE(platform::makeFolders(deep.c_str()));
    ASSERT_TRUE(platform::makeFolders((deep + "/").c_str()));
    testsupport::writeFile(deep + "/f", "12345");
    int64_t size = -1;
    EXPECT_TRUE(platform::fileSize((deep + "/f").c_str(), &size));
    EXPECT_EQ(size, 5);
    EXPECT_FALSE(platform::fileSize(deep.c_str(), &size));
    EXPECT_EQ(platform::pathKind((deep + "/f").c_str()), PathKind::File);
    EXPECT_EQ(platform::pathKind(deep.c_str()), PathKind::Folder);
    EXPECT_EQ(platform::pathKind(box.path("nope").c_str()), PathKind::Missing);
    EXPECT_EQ(platform::pathKind((deep + "/f/under-a-file").c_str()), PathKind::Missing);
    EXPECT_EQ(platform::pathKind("/dev/null"), PathKind::Other);
    EXPECT_FALSE(platform::makeFolders((deep + "/f/x").c_str())) << "a file is in the way";
}

TEST(Files, UnreadableWhenTheFolderCannotBeSearched) {
    if (geteuid() == 0) GTEST_SKIP() << "root searches every folder";
    testsupport::Sandbox box;
    platform::makeFolders(box.path("closed").c_str());
    testsupport::writeFile(box.path("closed/f"), "x");
    chmod(box.path("closed").c_str(), 0);
    EXPECT_EQ(platform::pathKind(box.path("closed/f").c_str()), PathKind::Unreadable);
    chmod(box.path("closed").c_str(), 0755);
}

TEST(Files, DeleteMatchingTakesHiddenFilesAndLeavesTheRest) {
    testsupport::Sandbox box;
    std::string dir = box.path("copies");
    platform::makeFolders((dir + "/sub.so").c_str());
    for (const char* name : {"a.so", ".hidden.so", "keep.txt", "b.so.txt"}) testsupport::writeFile(dir + "/" + name, "x");
    EXPECT_EQ(platform::deleteMatching(dir.c_str(), "*.so"), 2);
    auto left = testsupport::listDir(dir);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"b.so.txt", "keep.txt", "sub.so"}));
    EXPECT_EQ(platform::deleteMatching(box.path("missing").c_str(), "*"), -1);
}

TEST(Files, RemoveTreeDoesNotFollowLinks) {
    testsupport::Sandbox box;
    platform::makeFolders(box.path("outside").c_str());
    testsupport::writeFile(box.path("outside/precious"), "x");
    platform::makeFolders(box.path("tree/a/b").c_str());
    testsupport::writeFile(box.path("tree/a/b/.f"), "x");
    ASSERT_EQ(symlink(box.path("outside").c_str(), box.path("tree/a/link").c_str()), 0);
    EXPECT_TRUE(platform::removeTree(box.path("tree").c_str()));
    EXPECT_EQ(platform::pathKind(box.path("tree").c_str()), PathKind::Missing);
    EXPECT_EQ(testsupport::readFile(box.path("outside/precious")), "x");
    EXPECT_TRUE(platform::removeTree(box.path("tree").c_str())) << "already gone counts as done";
}

TEST(Files, FailedWritesLeaveNoBrokenFile) {
    testsupport::Sandbox box;
    SysCallsGuard guard;
    std::string target = box.path("config");
    ASSERT_TRUE(platform::replaceFileContent(target.c_str(), "old", 3));
    std::string src = box.path("lib.so");
    testsupport::writeFile(src, std::string(200000, 'z'));

    platform::sysCalls().write = failWrite;
    EXPECT_FALSE(platform::replaceFileContent(target.c_str(), "new text", 8));
    EXPECT_FALSE(platform::copyFile(src.c_str(), box.path("copy.so").c_str()));
    platform::restoreSysCalls();

    EXPECT_EQ(testsupport::readFile(target), "old");
    EXPECT_EQ(platform::pathKind(box.path("copy.so").c_str()), PathKind::Missing);
    auto names = testsupport::listDir(box.root());
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.find(".part") != std::string::npos; }),
              0);

    ASSERT_TRUE(platform::copyFile(src.c_str(), box.path("copy.so").c_str()));
    EXPECT_EQ(testsupport::readFile(box.path("copy.so")), testsupport::readFile(src));
    // Copying over an existing file replaces it whole, or not at all.
    testsupport::writeFile(src, "second version");
    platform::sysCalls().write = failWrite;
    EXPECT_FALSE(platform::copyFile(src.c_str(), box.path("copy.so").c_str()));
    platform::restoreSysCalls();
    EXPECT_EQ(testsupport::readFile(box.path("copy.so")), std::string(200000, 'z'));
    ASSERT_TRUE(platform::copyFile(src.c_str(), box.path("copy.so").c_str()));
    EXPECT_EQ(testsupport::readFile(box.path("copy.so")), "second version");
    ASSERT_TRUE(platform::replaceFileContent(target.c_str(), "new", 3));
    std::string content;
    ASSERT_TRUE(platform::readWholeFile(target.c_str(), &content));
    EXPECT_EQ(content, "new");
    EXPECT_FALSE(platform::readWholeFile(box.path("missing").c_str(), &content));
}

TEST(Files, HiddenNamesAndTheExecutable) {
    EXPECT_TRUE(platform::isHiddenName("/a/b/.x"));
    EXPECT_FALSE(platform::isHiddenName("/a/.b/x"));
    std::string self = platform::executablePath();
    EXPECT_NE(self.find("platform_fs_test"), std::string::npos) << self;
}

TEST(Files, FailuresAreNamedToTheSink) {
    testsupport::Sandbox box;
    SysCallsGuard guard;
    gFailures.clear();
    platform::FailureSink previous = platform::setFailureSink(recordFailure);
    std::string target = box.path("config");
    platform::sysCalls().write = failWrite;
    EXPECT_FALSE(platform::replaceFileContent(target.c_str(), "x", 1));
    platform::restoreSysCalls();
    platform::setFailureSink(previous);
    ASSERT_FALSE(gFailures.empty());
    EXPECT_EQ(gFailures[0], "write " + target + " " + std::to_string(ENOSPC));
}
