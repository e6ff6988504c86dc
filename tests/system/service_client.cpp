#include "service_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "KestrovanUtil/Text.h"

extern char** environ;

namespace servicetest {

namespace {

std::string buildDir() {
    const char* dir = std::getenv("KESTROVAN_BUILD_DIR");
    return dir != nullptr ? dir : KESTROVAN_BUILD_DIR;
}

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
        (*static_cast<std::map<std::string, std::string>*>(user))[name] = value;
    }
    return size * count;
}

}  // namespace

bool inPrivateNetwork() {
    const char* flag = std::getenv("KESTROVAN_IN_NETNS");
    return flag != nullptr && std::strcmp(flag, "1") == 0;
}

std::string rootCertificatePath() { return buildDir() + "/generated/root-ecc.pem"; }
std::string serverKeyPath(bool rsa) {
    return buildDir() + (rsa ? "/generated/private/server-rsa.key" : "/generated/private/server-ecc.key");
}

RunningService::RunningService(const testsupport::Sandbox& sandbox, const char* argument) : sandbox_(sandbox) {
    sandbox_.writeLogIni(sandbox_.path("log/Kestrovan.log"));
    std::string dir = sandbox_.path("log");
    std::string command = "mkdir -p '" + dir + "'";
    if (std::system(command.c_str()) != 0) return;
    std::string program = buildDir() + "/bin/TarvikKestrovan";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    if (argument != nullptr) argv.push_back(const_cast<char*>(argument));
    argv.push_back(nullptr);
    // A sandbox may hold the log of an earlier run: only what follows counts here.
    size_t mark = log().size();
    // The service dies with the test process: a test that aborts must not leave a
    // service holding the fixed ports (and the test runner's output pipe) behind it.
    pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execve(program.c_str(), argv.data(), environ);
        _exit(127);
    }
    pid_ = pid;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (log().find("TarvikKestrovan initialization: ", mark) != std::string::npos) break;
        if (!running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The separator line closes start-up, after the initialization line.
    for (int i = 0; i < 100 && running(); ++i) {
        std::string text = log();
        size_t at = text.find("TarvikKestrovan initialization: ", mark);
        if (at == std::string::npos ||
            text.find("==============================================================================", at) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

RunningService::~RunningService() {
    if (pid_ > 0 && exitCode_ < 0) stop();
}

bool RunningService::running() const {
    if (pid_ <= 0 || exitCode_ >= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    if (r == pid_) {
        auto* self = const_cast<RunningService*>(this);
        self->exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return false;
}

int RunningService::waitExit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return exitCode_;
}

int RunningService::stop() {
    if (running()) kill(pid_, SIGTERM);
    int code = waitExit(20000);
    if (code < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitExit(5000);
        return -1;
    }
    return code;
}

std::string RunningService::log() const {
    std::string text;
    for (const auto& name : testsupport::listDir(sandbox_.path("log")))
        text += testsupport::readFile(sandbox_.path("log/" + name));
    return text;
}

bool RunningService::waitLog(const std::string& text, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (log().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string formBody(const std::string& json) {
    char* encoded = base64Encode(json.c_str());
    std::string b64 = encoded != nullptr ? encoded : "";
    std::free(encoded);
    CURL* curl = curl_easy_init();
    char* escaped = curl_easy_escape(curl, b64.c_str(), static_cast<int>(b64.size()));
    std::string body = std::string("Parameter=") + (escaped != nullptr ? escaped : "");
    curl_free(escaped);
    curl_easy_cleanup(curl);
    return body;
}

Reply send(const Request& request) {
    Reply reply;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return reply;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, rootCertificatePath().c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                     request.tls == 12 ? (long{CURL_SSLVERSION_TLSv1_2} | long{CURL_SSLVERSION_MAX_TLSv1_2})
                                       : (long{CURL_SSLVERSION_TLSv1_3} | long{CURL_SSLVERSION_MAX_TLSv1_3}));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (request.ipv6) curl_easy_setopt(curl, CURLOPT_IPRESOLVE, long{CURL_IPRESOLVE_V6});
    if (!request.sourceAddress.empty()) curl_easy_setopt(curl, CURLOPT_INTERFACE, request.sourceAddress.c_str());
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    } else if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    for (const auto& h : request.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    reply.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

std::map<std::string, std::string> decodeReply(const std::string& body) {
    // The reply is a flat object of "key": "base64" pairs.
    std::map<std::string, std::string> values;
    size_t pos = 0;
    for (;;) {
        size_t k1 = body.find('"', pos);
        if (k1 == std::string::npos) break;
        size_t k2 = body.find('"', k1 + 1);
        size_t v1 = body.find('"', k2 + 1);
        size_t v2 = v1 == std::string::npos ? v1 : body.find('"', v1 + 1);
        if (k2 == std::string::npos || v2 == std::string::npos) break;
        std::string value = body.substr(v1 + 1, v2 - v1 - 1);
        char* decoded = base64Decode(value.c_str());
        values[body.substr(k1 + 1, k2 - k1 - 1)] = decoded != nullptr ? decoded : "";
        std::free(decoded);
        pos = v2 + 1;
    }
    return values;
}

// Reads every readable mapping of the process piece by piece and looks for each text.
// Mappings larger than kMaxMapping are the sanitizers' shadow and reserve areas: they
// hold no data of ours and would take minutes to read.
MemoryScan scanProcessMemory(int pid, const std::vector<std::string>& texts) {
    constexpr unsigned long kMaxMapping = 1ul << 30;
    constexpr size_t kChunk = 4u << 20;
    MemoryScan scan;
    scan.found.assign(texts.size(), false);
    size_t overlap = 0;
    for (const auto& text : texts) overlap = std::max(overlap, text.size());
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    std::string window;
    std::string line;
    while (mem >= 0 && std::getline(maps, line)) {
        unsigned long from = 0, to = 0;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %7s", &from, &to, perms) != 3 || perms[0] != 'r') continue;
        if (line.find("[vvar]") != std::string::npos || line.find("[vsyscall]") != std::string::npos) continue;
        if (to - from > kMaxMapping) continue;
        // Each chunk is searched together with the tail of the one before it, so a text
        // split across two chunks of one mapping is still found.
        window.clear();
        for (unsigned long at = from; at < to; at += kChunk) {
            size_t want = static_cast<size_t>(std::min<unsigned long>(kChunk, to - at));
            size_t kept = window.size();
            window.resize(kept + want);
            ssize_t got = pread(mem, window.data() + kept, want, static_cast<off_t>(at));
            if (got <= 0) { window.resize(kept); break; }
            window.resize(kept + static_cast<size_t>(got));
            scan.scanned += static_cast<size_t>(got);
            for (size_t i = 0; i < texts.size(); ++i)
                if (!scan.found[i] && window.find(texts[i]) != std::string::npos) scan.found[i] = true;
            if (window.size() > overlap) window.erase(0, window.size() - overlap);
        }
    }
    if (mem >= 0) close(mem);
    return scan;
}

}  // namespace servicetest
