#include <cstdio>

int main() {
    std::puts("TarvikKestrovanMonitor: not built yet");
    return 0;
}
