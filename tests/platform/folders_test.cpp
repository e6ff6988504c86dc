#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fs.h"
#include "support/sandbox.h"

using platform::KnownFolder;

TEST(KnownFolders, LiveBelowTheSandboxRootAndAreCreated) {
    testsupport::Sandbox box;
    const std::string user = box.root() + "/Users/" + platform::userName();
    const struct {
        KnownFolder folder;
        std::string expected;
    } cases[] = {
        {KnownFolder::CommonAppData, box.root() + "/ProgramData"},
        {KnownFolder::Windows, box.root() + "/Windows"},
        {KnownFolder::System, box.root() + "/System"},
        {KnownFolder::UserTemp, user + "/Temp"},
        {KnownFolder::Desktop, user + "/Desktop"},
        {KnownFolder::Home, user},
        {KnownFolder::Runtime, box.root() + "/run"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::knownFolder(c.folder), c.expected);
        EXPECT_EQ(platform::pathKind(c.expected.c_str()), platform::PathKind::Folder) << c.expected;
    }
}

TEST(KnownFolders, DumpFolderIsNotCreated) {
    testsupport::Sandbox box;
    EXPECT_EQ(platform::knownFolder(KnownFolder::DriveTmp), box.root() + "/tmp");
    EXPECT_EQ(platform::pathKind((box.root() + "/tmp").c_str()), platform::PathKind::Missing);
}

TEST(KnownFolders, TrailingSeparatorOfTheRootIsIgnored) {
    testsupport::Sandbox box;
    setenv("TARVIK_ROOT", (box.root() + "//").c_str(), 1);
    EXPECT_EQ(platform::sandboxRoot(), box.root());
    EXPECT_EQ(platform::knownFolder(KnownFolder::Windows), box.root() + "/Windows");
}

TEST(KnownFolders, UserNameIsKnown) { EXPECT_FALSE(platform::userName().empty()); }
