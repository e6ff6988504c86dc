// Port selection and daemon start.
#include "Daemon.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Gate.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/PelLog.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "platform/folders.h"
#include "platform/nettable.h"

namespace {

bool sameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
        char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

std::string probeFilePath() {
    const char* copy = copyPath();
    std::string path = copy != nullptr ? copy : "";
    return path + platform::kPathSeparator + "Tempfile" + platform::kPathSeparator + "KestrovanTemp";
}

// The lines of the connection table that mention the address, as "find" picks them:
// false when there is none (find's exit code 1) or no table at all.
bool filterTable(const char* address, std::string* out) {
    std::string table;
    if (!platform::connectionTable(&table)) return false;
    out->clear();
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        std::string line = table.substr(start, end - start);
        if (line.find(address) != std::string::npos) *out += line + "\n";
        start = end + 1;
    }
    return !out->empty();
}

}  // namespace

void DaemonLogger(void*, const char* format, va_list args) {
    // The logging library checks the configured level and holds "Global\PelLog" for the write.
    PelLogWriteV(5, format, args);
}

bool IsPortInUse(uint16_t port, bool ipv6) {
    std::string probeFile = probeFilePath();
    char needle[32];
    std::snprintf(needle, sizeof(needle), ipv6 ? "[::1]:%d" : "127.0.0.1:%d", static_cast<int>(port));

    std::string lines;
    if (!filterTable(ipv6 ? "[::1]" : "127.0.0.1", &lines)) return false;
    if (!writeTextFile(probeFile.c_str(), lines.c_str())) return false;

    TextHolder text(readTextFile(probeFile.c_str()));
    if (!text) return false;
    TextListHolder rows(splitText(text.get(), "\n"));
    if (!rows) {
        REPORT_ALLOC();
        return false;
    }
    for (char** row = rows.get(); *row != nullptr; ++row) {
        char words[4][512];
        if (std::sscanf(*row, "%511s %511s %511s %511s", words[0], words[1], words[2], words[3]) != 4) continue;
        if (!sameIgnoringCase(words[3], "LISTENING") && !sameIgnoringCase(words[3], "ESTABLISHED")) continue;
        if (sameIgnoringCase(needle, words[1]) || sameIgnoringCase(needle, words[2])) return true;
    }
    return false;
}

MHD_Daemon* StartDaemonOnAddress(unsigned int flags, const void* address, const char* certificate,
                                 const char* key, const char* priorities) {
    int family = platform::addressFamily(address);
    bool ipv4 = family == platform::familyIPv4();
    if (!ipv4 && family != platform::familyIPv6()) {
        logErrorNumber("Unknow address family: ", family);
        return nullptr;
    }
    uint16_t port = platform::addressPort(address);
    std::string label = "Detect port " + std::to_string(port) + " state: ";
    if (IsPortInUse(port, !ipv4)) {
        logNormal(label.c_str(), "In use, try next port");
        return nullptr;
    }
    logNormal(label.c_str(), "Free");

    MHD_Daemon* daemon = MHD_start_daemon(
        flags, port, ipv4 ? AcceptPolicy : nullptr, nullptr, AccessHandler, nullptr, MHD_OPTION_EXTERNAL_LOGGER,
        DaemonLogger, nullptr, MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_HTTPS_MEM_CERT, certificate,
        MHD_OPTION_HTTPS_MEM_KEY, key, MHD_OPTION_HTTPS_PRIORITIES, priorities, MHD_OPTION_NOTIFY_COMPLETED,
        RequestCompleted, nullptr, MHD_OPTION_END);

    std::string launch = std::string("TarvikKestrovan at ") + (ipv4 ? "127.0.0.1:" : "[::1]:") +
                         std::to_string(port) + " launch state: ";
    if (daemon != nullptr)
        logNormal(launch.c_str(), "Success");
    else
        logWarning(launch.c_str(), "Fail");
    return daemon;
}
