// The connection table and the port probe on this machine's real sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Daemon.h"
#include "KestrovanUtil/Tool.h"
#include "platform/fs.h"
#include "platform/nettable.h"
#include "support/sandbox.h"

namespace {

TEST(ConnectionTable, RowsBecomeNetstatLines) {
    struct Case {
        const char* row;
        bool ipv6, udp;
        const char* line;
    } cases[] = {
        {"   0: 0100007F:DC84 00000000:0000 0A 00000000:00000000 00:00000000 00000000  0 0 1 1", false, false,
         "  TCP    127.0.0.1:56452        0.0.0.0:0              LISTENING"},
        {"   1: 0100007F:9A1C 0100007F:DC84 01 00000000:00000000 00:00000000 00000000  0 0 1 1", false, false,
         "  TCP    127.0.0.1:39452        127.0.0.1:56452        ESTABLISHED"},
        {"   2: 0100007F:DC84 0100007F:9A1C 06 00000000:00000000 00:00000000 00000000  0 0 1 1", false, false,
         "  TCP    127.0.0.1:56452        127.0.0.1:39452        TIME_WAIT"},
        {"   0: 00000000000000000000000001000000:DCE8 00000000000000000000000000000000:0000 0A 0:0 0:0 0 0 0 1",
         true, false, "  TCP    [::1]:56552            [::]:0                 LISTENING"},
        {"  5: 0100007F:14E9 00000000:0000 07 00000000:00000000 00:00000000 00000000 0 0 1 2", false, true,
         "  UDP    127.0.0.1:5353         *:*"},
        {"garbage", false, false, ""},
        {"   0: 0100007F:DC84 00000000:0000 0A", true, false, ""},  // an IPv4 row read as IPv6
    };
    for (const auto& c : cases) EXPECT_EQ(platform::connectionTableLine(c.row, c.ipv6, c.udp), c.line) << c.row;
}

int listenOn(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(a);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return fd;
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override {
        char* copy = getCopyPath("TarvikKestrovan");
        ASSERT_NE(copy, nullptr);
        std::string tempfile = std::string(copy) + "/Tempfile";
        std::free(copy);
        ASSERT_TRUE(platform::makeFolders(tempfile.c_str()));
    }
    testsupport::Sandbox sandbox_;
};

TEST_F(Probe, SeesListenersAndConnectionsOnItsOwnFamilyOnly) {
    int port = 0;
    int listener = listenOn(&port);
    EXPECT_TRUE(IsPortInUse(static_cast<uint16_t>(port), false));
    EXPECT_FALSE(IsPortInUse(static_cast<uint16_t>(port), true));
    EXPECT_NE(testsupport::readFile(sandbox_.path("ProgramData/TarvikKestrovan/Tempfile/KestrovanTemp"))
                  .find("127.0.0.1:" + std::to_string(port)),
              std::string::npos);

    // A connection whose server side closed first leaves only TIME_WAIT: free.
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    int accepted = accept(listener, nullptr, nullptr);
    close(listener);
    EXPECT_TRUE(IsPortInUse(static_cast<uint16_t>(port), false));  // still ESTABLISHED
    close(accepted);
    usleep(50000);
    close(client);
    usleep(50000);
    EXPECT_FALSE(IsPortInUse(static_cast<uint16_t>(port), false));
}

TEST_F(Probe, UnknownAddressFamilyStartsNothing) {
    platform::SocketAddress address;
    platform::makeLoopbackAddress(&address, false, 1);
    address.bytes[0] = 1;  // AF_UNIX on Linux, little-endian family field
    address.bytes[1] = 0;
    EXPECT_EQ(StartDaemonOnAddress(0, address.bytes, "", "", ""), nullptr);
}

}  // namespace
