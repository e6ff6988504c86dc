#include <cstdio>

int main() {
    std::puts("TarvikKestrovanWorker: not built yet");
    return 0;
}
