// Reads a crash dump and prints what a person looks at first: the crashing signal,
// the faulting address and the backtrace of the crashing thread.
// Usage: kestrovan_dumpreader <dump file> [--all]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <dump file> [--all]\n", argv[0]);
        return 2;
    }
    const bool all = argc > 2 && std::strcmp(argv[2], "--all") == 0;
    std::ifstream in(argv[1]);
    std::string line;
    if (!std::getline(in, line) || line != "KestrovanCrashDump 1") {
        std::fprintf(stderr, "%s: not a crash dump\n", argv[1]);
        return 1;
    }
    std::string section;
    bool ended = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[') {
            section = line;
            if (section == "[end]") {
                ended = true;
                break;
            }
            if (all || section == "[backtrace]") std::cout << line << "\n";
            continue;
        }
        if (section.empty() || all || section == "[backtrace]") std::cout << line << "\n";
    }
    if (!ended) std::cout << "(dump is cut short)\n";
    return ended ? 0 : 1;
}
