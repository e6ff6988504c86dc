#pragma once
// A fresh TARVIK_ROOT for one test, removed afterwards; and re-running the test
// binary as a child in a named role inside the same sandbox.
#include <string>
#include <vector>

namespace testsupport {

class Sandbox {
public:
    Sandbox();   // creates a fresh folder and sets TARVIK_ROOT (and HOME, TMPDIR) to it
    ~Sandbox();  // restores the environment and removes the folder
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }
    // Writes the shared log ini file into the sandbox's Windows folder with the given lines.
    void writeLogIni(const std::string& logFile, int level = 5) const;

private:
    std::string root_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

// Whole text of a file; empty when missing.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
std::vector<std::string> listDir(const std::string& path);

// The child role this process was started in ("" in the parent test process).
std::string childRole();
// Starts this test binary again with KESTROVAN_CHILD_ROLE=role, running only the given
// gtest filter; returns the pid. Extra "NAME=value" entries are added to the environment.
int startChild(const std::string& role, const std::string& gtestFilter,
               const std::vector<std::string>& extraEnv = {});
// Waits for a child and returns its exit code (128+signal when killed).
int waitChild(int pid);

}  // namespace testsupport
