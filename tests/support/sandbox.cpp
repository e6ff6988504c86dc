#include "support/sandbox.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {
void saveAndSet(std::vector<std::pair<std::string, std::string>>& saved, const char* name,
                const std::string& value) {
    const char* old = std::getenv(name);
    saved.emplace_back(name, old ? std::string("=") + old : std::string());
    setenv(name, value.c_str(), 1);
}
}  // namespace

Sandbox::Sandbox() {
    char templ[] = "/tmp/kestrovan-test-XXXXXX";
    const char* base = std::getenv("KESTROVAN_TEST_TMP");
    std::string pattern = base ? std::string(base) + "/kestrovan-test-XXXXXX" : templ;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
    saveAndSet(saved_, "TARVIK_ROOT", root_);
    saveAndSet(saved_, "HOME", root_ + "/Users/tester");
    saveAndSet(saved_, "TMPDIR", root_ + "/Users/tester/Temp");
}

Sandbox::~Sandbox() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second.empty()) unsetenv(it->first.c_str());
        else setenv(it->first.c_str(), it->second.c_str() + 1, 1);
    }
    if (!std::getenv("KESTROVAN_KEEP_SANDBOX")) {
        std::string command = "rm -rf '" + root_ + "'";
        if (std::system(command.c_str()) != 0) {
            // A leftover folder in /tmp is harmless; the next test makes its own.
        }
    }
}

void Sandbox::writeLogIni(const std::string& logFile, int level) const {
    std::string folder = root_ + "/Windows";
    mkdir(folder.c_str(), 0755);
    writeFile(folder + "/TarvikKestrovan.ini",
              "[TarvikKestrovan]\nLog File=" + logFile + "\nLog Level=" + std::to_string(level) + "\n");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

std::string childRole() {
    const char* role = std::getenv("KESTROVAN_CHILD_ROLE");
    return role ? role : "";
}

int startChild(const std::string& role, const std::string& gtestFilter,
               const std::vector<std::string>& extraEnv) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -1;
    self[n] = '\0';
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "KESTROVAN_CHILD_ROLE=", 21) != 0) env.emplace_back(*e);
    }
    env.push_back("KESTROVAN_CHILD_ROLE=" + role);
    for (const auto& e : extraEnv) env.push_back(e);
    std::string filter = "--gtest_filter=" + gtestFilter;
    std::vector<char*> argv{self, filter.data(), nullptr};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

int waitChild(int pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace testsupport
