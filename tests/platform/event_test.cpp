#include "platform/event.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "support/sandbox.h"

using platform::NamedEvent;

namespace {
bool waitForFile(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        if (!testsupport::readFile(path).empty()) return true;
        platform::sleepMs(5);
    }
    return false;
}
}  // namespace

// Child roles. "event-owner": create the event, announce it, pulse when asked, stay until
// killed. "event-waiter": open the event, announce, report whether a pulse came.
TEST(NamedEventChild, Role) {
    std::string role = testsupport::childRole();
    if (role == "event-owner") {
        NamedEvent e;
        ASSERT_TRUE(platform::eventCreate(&e, "TarvikKestrovan_DEBUG_MODE"));
        testsupport::writeFile(std::getenv("KESTROVAN_READY"), "1");
        ASSERT_TRUE(waitForFile(std::getenv("KESTROVAN_GO")));
        ASSERT_TRUE(platform::eventPulse(&e));
        platform::sleepMs(60000);
    } else if (role == "event-waiter") {
        NamedEvent e;
        ASSERT_TRUE(platform::eventOpen(&e, "TarvikKestrovan_DEBUG_MODE"));
        testsupport::writeFile(std::getenv("KESTROVAN_READY"), "1");
        bool pulsed = platform::eventWait(&e, 5000);
        platform::eventClose(&e);
        std::exit(pulsed ? 0 : 3);
    } else {
        GTEST_SKIP();
    }
}

TEST(NamedEvent, OpenNeedsALiveHandle) {
    testsupport::Sandbox box;
    NamedEvent e, other;
    EXPECT_FALSE(platform::eventOpen(&e, "TarvikKestrovan_DEBUG_MODE"));
    ASSERT_TRUE(platform::eventCreate(&e, "TarvikKestrovan_DEBUG_MODE"));
    ASSERT_TRUE(platform::eventOpen(&other, "TarvikKestrovan_DEBUG_MODE"));
    // The event lives while any handle is open, like the object it stands for.
    platform::eventClose(&e);
    NamedEvent third;
    ASSERT_TRUE(platform::eventOpen(&third, "TarvikKestrovan_DEBUG_MODE"));
    platform::eventClose(&other);
    platform::eventClose(&third);
    EXPECT_FALSE(platform::eventOpen(&e, "TarvikKestrovan_DEBUG_MODE"));
}

TEST(NamedEvent, PulsesReachWaitersOfThisProcessOnceEach) {
    testsupport::Sandbox box;
    NamedEvent owner, waiter;
    ASSERT_TRUE(platform::eventCreate(&owner, "ev"));
    ASSERT_TRUE(platform::eventOpen(&waiter, "ev"));
    EXPECT_FALSE(platform::eventWait(&waiter, 20));
    // A pulse between two waits is not lost; one pulse satisfies one wait.
    ASSERT_TRUE(platform::eventPulse(&owner));
    EXPECT_TRUE(platform::eventWait(&waiter, 0));
    EXPECT_FALSE(platform::eventWait(&waiter, 20));
    std::thread pulser([&] {
        platform::sleepMs(50);
        platform::eventPulse(&owner);
    });
    int64_t start = platform::monotonicMs();
    EXPECT_TRUE(platform::eventWait(&waiter, -1));
    EXPECT_GE(platform::monotonicMs() - start, 40);
    pulser.join();
    EXPECT_FALSE(platform::eventWait(&owner, 0)) << "the pulser is not woken by its own pulse";
    platform::eventClose(&owner);
    platform::eventClose(&waiter);
    EXPECT_FALSE(platform::eventPulse(&owner));
    EXPECT_FALSE(platform::eventWait(&owner, 0));
}

TEST(NamedEvent, PulseOfAnotherProcessIsSeen) {
    testsupport::Sandbox box;
    int owner = testsupport::startChild("event-owner", "NamedEventChild.*",
                                        {"KESTROVAN_READY=" + box.path("owner-ready"),
                                         "KESTROVAN_GO=" + box.path("go")});
    ASSERT_GT(owner, 0);
    ASSERT_TRUE(waitForFile(box.path("owner-ready")));
    NamedEvent e;
    ASSERT_TRUE(platform::eventOpen(&e, "TarvikKestrovan_DEBUG_MODE"));
    int waiter = testsupport::startChild("event-waiter", "NamedEventChild.*",
                                         {"KESTROVAN_READY=" + box.path("waiter-ready")});
    ASSERT_TRUE(waitForFile(box.path("waiter-ready")));
    testsupport::writeFile(box.path("go"), "1");
    EXPECT_TRUE(platform::eventWait(&e, 5000));
    EXPECT_EQ(testsupport::waitChild(waiter), 0);
    kill(owner, SIGKILL);
    testsupport::waitChild(owner);
    // Our handle keeps the event alive after its creator died.
    NamedEvent again;
    EXPECT_TRUE(platform::eventOpen(&again, "TarvikKestrovan_DEBUG_MODE"));
    platform::eventClose(&again);
    platform::eventClose(&e);
}

TEST(NamedEvent, EndsTheWaitWhenTheEventFileIsRemoved) {
    testsupport::Sandbox box;
    NamedEvent e;
    ASSERT_TRUE(platform::eventCreate(&e, "ev"));
    std::string command = "rm -rf '" + box.root() + "/run'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(platform::eventWait(&e, -1));
    platform::eventClose(&e);
}
