#pragma once
// The machine's connection table in the form of the Windows "netstat -n -a" listing,
// and the loopback socket addresses the service binds to.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// One line per TCP socket ("  TCP    127.0.0.1:56452    0.0.0.0:0    LISTENING") and
// per UDP socket ("  UDP    127.0.0.1:5353    *:*"), IPv4 first, then IPv6 addresses
// in brackets. False when no table can be read at all.
bool connectionTable(std::string* out);

// The netstat line of one /proc/net table row (exposed for tests); empty when the
// row cannot be read. ipv6 and udp say which table the row comes from.
std::string connectionTableLine(const char* procRow, bool ipv6, bool udp);

// A socket address in the system's own layout, owned by the caller.
struct SocketAddress {
    alignas(8) unsigned char bytes[128];
    uint32_t length;
};

// 127.0.0.1 or ::1 (flow information 0, scope 0) with the port (host order).
void makeLoopbackAddress(SocketAddress* address, bool ipv6, uint16_t port);
// The system's family numbers for IPv4 and IPv6.
int familyIPv4();
int familyIPv6();
// Family number of a socket address (anything the system defines).
int addressFamily(const void* address);
// Port of an IPv4 or IPv6 address in host order; 0 for other families.
uint16_t addressPort(const void* address);
// True when the address is IPv4 and exactly 127.0.0.1.
bool isIPv4LocalHost(const void* address, size_t length);
// The fourteen address-data bytes that follow the family (port, address, zero fill).
void addressDataBytes(const void* address, signed char out[14]);

}  // namespace platform
