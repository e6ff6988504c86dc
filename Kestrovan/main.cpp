#include <cstdio>

int main() {
    std::puts("TarvikKestrovan: not built yet");
    return 0;
}
