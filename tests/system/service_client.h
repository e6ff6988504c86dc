#pragma once
// Whole-program test support: the real service in the test's sandbox, and a real
// HTTPS client (libcurl) that talks to it.
#include <map>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace servicetest {

// The service started in the current sandbox (TARVIK_ROOT) with a log ini.
class RunningService {
public:
    // Starts build/bin/TarvikKestrovan with the argument (none when null) and waits until
    // its start-up is over ("TarvikKestrovan initialization: " logged, or it ended).
    explicit RunningService(const testsupport::Sandbox& sandbox, const char* argument = "0");
    ~RunningService();  // SIGTERM and wait, when still running
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    int pid() const { return pid_; }
    bool running() const;
    // SIGTERM, then the exit code (-1 when it did not end within the time).
    int stop();
    // Exit code once the process ends by itself within the time, -1 otherwise.
    int waitExit(int timeoutMs);
    std::string log() const;
    // Waits until the log holds the text.
    bool waitLog(const std::string& text, int timeoutMs = 5000) const;

private:
    const testsupport::Sandbox& sandbox_;
    int pid_ = -1;
    int exitCode_ = -1;
};

struct Reply {
    int curlCode = -1;  // 0: a response came; 52: closed without one
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    bool hasHeader(const std::string& name) const { return headers.count(name) != 0; }
};

struct Request {
    std::string url = "https://127.0.0.1:56452/";
    std::string method = "POST";
    std::string body;                  // sent as is
    std::vector<std::string> headers;  // "Name: value"
    int tls = 13;                      // 12 or 13: the only version offered
    std::string sourceAddress;         // local address to connect from, when set
    bool ipv6 = false;                 // resolve the host name to ::1 only
};

// A form body with "Parameter" carrying the base64 of the JSON text, url-encoded.
std::string formBody(const std::string& json);
Reply send(const Request& request);
// The reply body's keys with their base64 values decoded.
std::map<std::string, std::string> decodeReply(const std::string& body);

// Root certificate of this build, which the client trusts.
std::string rootCertificatePath();
// The service's private key files made by the build.
std::string serverKeyPath(bool rsa);

// What a look through the memory of a process of ours found (for secrets left behind):
// the bytes read, and for each text whether it was seen.
struct MemoryScan {
    size_t scanned = 0;
    std::vector<bool> found;
};
MemoryScan scanProcessMemory(int pid, const std::vector<std::string>& texts);

// True inside the private network namespace, where the fixed ports are the test's.
bool inPrivateNetwork();

}  // namespace servicetest
