// Connection table from /proc/net/{tcp,udp}{,6}, written as netstat lines.
#include "platform/nettable.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace platform {

namespace {

const char* tcpState(unsigned code) {
    switch (code) {
        case 0x01: return "ESTABLISHED";
        case 0x02: return "SYN_SENT";
        case 0x03: return "SYN_RECEIVED";
        case 0x04: return "FIN_WAIT_1";
        case 0x05: return "FIN_WAIT_2";
        case 0x06: return "TIME_WAIT";
        case 0x07: return "CLOSED";
        case 0x08: return "CLOSE_WAIT";
        case 0x09: return "LAST_ACK";
        case 0x0A: return "LISTENING";
        case 0x0B: return "CLOSING";
        default: return "UNKNOWN";
    }
}

// The kernel prints each 32-bit word of the address in host byte order as hex.
bool hexAddress(const char* hex, size_t digits, unsigned char* out) {
    for (size_t word = 0; word < digits / 8; ++word) {
        uint32_t value = 0;
        for (size_t i = 0; i < 8; ++i) {
            char c = hex[word * 8 + i];
            int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                     : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            value = value << 4 | static_cast<uint32_t>(d);
        }
        std::memcpy(out + 4 * word, &value, 4);
    }
    return true;
}

// "ADDR:PORT" of a table row to "127.0.0.1:56452" or "[::1]:56452".
bool endpointText(const char* field, bool ipv6, bool foreign, bool udp, std::string* out) {
    const char* colon = std::strchr(field, ':');
    size_t digits = ipv6 ? 32 : 8;
    if (colon == nullptr || static_cast<size_t>(colon - field) != digits) return false;
    unsigned char raw[16];
    if (!hexAddress(field, digits, raw)) return false;
    unsigned port = 0;
    if (std::sscanf(colon + 1, "%x", &port) != 1) return false;
    char text[INET6_ADDRSTRLEN];
    if (inet_ntop(ipv6 ? AF_INET6 : AF_INET, raw, text, sizeof(text)) == nullptr) return false;
    // netstat shows a UDP socket's missing peer as "*:*".
    if (udp && foreign) {
        *out = "*:*";
        return true;
    }
    *out = ipv6 ? "[" + std::string(text) + "]:" : std::string(text) + ":";
    *out += std::to_string(port);
    return true;
}

void appendTable(const char* path, bool ipv6, bool udp, std::string* out, bool* any) {
    std::ifstream in(path);
    if (!in) return;
    *any = true;
    std::string row;
    std::getline(in, row);  // column titles
    while (std::getline(in, row)) {
        std::string line = connectionTableLine(row.c_str(), ipv6, udp);
        if (!line.empty()) *out += line + "\n";
    }
}

}  // namespace

std::string connectionTableLine(const char* procRow, bool ipv6, bool udp) {
    char local[64], remote[64];
    unsigned state = 0;
    if (std::sscanf(procRow, " %*[0-9]: %63s %63s %x", local, remote, &state) != 3) return {};
    std::string localText, remoteText;
    if (!endpointText(local, ipv6, false, udp, &localText) || !endpointText(remote, ipv6, true, udp, &remoteText))
        return {};
    char line[256];
    if (udp)
        std::snprintf(line, sizeof(line), "  UDP    %-22s %s", localText.c_str(), remoteText.c_str());
    else
        std::snprintf(line, sizeof(line), "  TCP    %-22s %-22s %s", localText.c_str(), remoteText.c_str(),
                      tcpState(state));
    return line;
}

bool connectionTable(std::string* out) {
    out->clear();
    bool any = false;
    appendTable("/proc/net/tcp", false, false, out, &any);
    appendTable("/proc/net/udp", false, true, out, &any);
    appendTable("/proc/net/tcp6", true, false, out, &any);
    appendTable("/proc/net/udp6", true, true, out, &any);
    return any;
}

void makeLoopbackAddress(SocketAddress* address, bool ipv6, uint16_t port) {
    std::memset(address, 0, sizeof(*address));
    if (ipv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_flowinfo = 0;
        a.sin6_scope_id = 0;
        a.sin6_addr = in6addr_loopback;
        std::memcpy(address->bytes, &a, sizeof(a));
        address->length = sizeof(a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(address->bytes, &a, sizeof(a));
        address->length = sizeof(a);
    }
}

int familyIPv4() { return AF_INET; }
int familyIPv6() { return AF_INET6; }

int addressFamily(const void* address) {
    sa_family_t family;
    std::memcpy(&family, static_cast<const char*>(address) + offsetof(sockaddr, sa_family), sizeof(family));
    return family;
}

uint16_t addressPort(const void* address) {
    int family = addressFamily(address);
    if (family == AF_INET) {
        sockaddr_in a;
        std::memcpy(&a, address, sizeof(a));
        return ntohs(a.sin_port);
    }
    if (family == AF_INET6) {
        sockaddr_in6 a;
        std::memcpy(&a, address, sizeof(a));
        return ntohs(a.sin6_port);
    }
    return 0;
}

bool isIPv4LocalHost(const void* address, size_t length) {
    if (address == nullptr || length < sizeof(sockaddr_in) || addressFamily(address) != AF_INET) return false;
    sockaddr_in a;
    std::memcpy(&a, address, sizeof(a));
    return a.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
}

void addressDataBytes(const void* address, signed char out[14]) {
    sockaddr a;
    std::memcpy(&a, address, sizeof(a));
    std::memcpy(out, a.sa_data, 14);
}

}  // namespace platform
