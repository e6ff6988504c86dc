// The key derivation of the key routine and its watchdog.
//
// The 32-byte key comes out of eight 32-bit lanes that walk the table in a
// parameter-dependent order. No constant of the walk is the key or a part of it:
// without the table and the parameter of the build the key cannot be had.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>

#include "PelWhiteBoxUtilCore_Tool.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longer than this for a derivation, or between two watchdog ticks while one runs,
// means someone held the process (a breakpoint or single-stepping): no key then.
constexpr auto kStallLimit = std::chrono::seconds(5);
constexpr auto kTick = std::chrono::milliseconds(20);

struct Watchdog {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
};

Watchdog* gWatchdog = nullptr;  // owned by the routine: created by the derivation, ended by Final
std::atomic<bool> gDeriving{false};
std::atomic<bool> gStalled{false};

void watchdogBody(Watchdog* dog) {
    std::unique_lock<std::mutex> lock(dog->mutex);
    auto last = Clock::now();
    while (!dog->stop) {
        dog->wake.wait_for(lock, kTick);
        auto now = Clock::now();
        if (gDeriving.load() && now - last > kStallLimit) gStalled.store(true);
        last = now;
    }
}

void startWatchdog() {
    if (gWatchdog != nullptr) return;
    Watchdog* dog = new (std::nothrow) Watchdog;
    if (dog == nullptr) return;
    try {
        dog->thread = std::thread(watchdogBody, dog);
    } catch (...) {
        delete dog;
        return;
    }
    gWatchdog = dog;
}

void stopWatchdog() {
    Watchdog* dog = gWatchdog;
    if (dog == nullptr) return;
    gWatchdog = nullptr;
    {
        std::lock_guard<std::mutex> lock(dog->mutex);
        dog->stop = true;
    }
    dog->wake.notify_all();
    if (dog->thread.joinable()) dog->thread.join();
    delete dog;
}

inline uint32_t rotl(uint32_t v, unsigned n) { return (v << (n & 31)) | (v >> ((32 - n) & 31)); }

// A 32-bit finaliser; its constants are assembled so that they do not stand in the
// image as the well-known words.
inline uint32_t fold(uint32_t v) {
    static const uint32_t k1 = (0x7FEBu << 16 | 0x352Du);
    static const uint32_t k2 = (0x846Cu << 16 | 0xA68Bu);
    v ^= v >> 16;
    v *= k1;
    v ^= v >> 15;
    v *= k2;
    v ^= v >> 16;
    return v;
}

void derive(uint16_t** table, int dimension, uint32_t parameter, uint8_t key[32]) {
    uint32_t lane[8];
    const uint32_t golden = (0x9E37u << 16) | 0x79B9u;
    for (int i = 0; i < 8; ++i) lane[i] = fold(parameter + golden * static_cast<uint32_t>(i + 1));

    const int cells = dimension * dimension;
    // The walk's step is odd and prime to the cell count for every table size that
    // is not a multiple of it; a few rounds make every cell reach every lane.
    uint32_t position = parameter % static_cast<uint32_t>(cells);
    uint32_t step = 2 * (fold(parameter) % 16) + 1;
    while (std::gcd(step, static_cast<uint32_t>(cells)) != 1) step += 2;
    for (int round = 0; round < 6; ++round) {
        for (int n = 0; n < cells; ++n) {
            uint32_t value = table[position / dimension][position % dimension];
            int a = (n + round) & 7;
            lane[a] = rotl(lane[a] ^ (value * 0x045D9F3Bu + static_cast<uint32_t>(round)), (value & 15) + 5) +
                      lane[(a + 3) & 7];
            lane[(a + 5) & 7] ^= fold(lane[a] + parameter);
            position = (position + step) % static_cast<uint32_t>(cells);
        }
    }
    for (int i = 0; i < 8; ++i) {
        uint32_t w = fold(lane[i] ^ rotl(lane[(i + 1) & 7], 11) ^ parameter);
        key[4 * i] = static_cast<uint8_t>(w);
        key[4 * i + 1] = static_cast<uint8_t>(w >> 8);
        key[4 * i + 2] = static_cast<uint8_t>(w >> 16);
        key[4 * i + 3] = static_cast<uint8_t>(w >> 24);
    }
    whiteBoxWipe(lane, sizeof(lane));
}

}  // namespace

extern "C" char* getPelWhiteboxResult(uint16_t** table, int dimension, uint32_t parameter) {
    if (table == nullptr || dimension < 1 || dimension > 64) return nullptr;
    for (int r = 0; r < dimension; ++r)
        if (table[r] == nullptr) return nullptr;
    startWatchdog();

    uint8_t key[32];
    gStalled.store(false);
    gDeriving.store(true);
    auto started = Clock::now();
    derive(table, dimension, parameter, key);
    bool held = Clock::now() - started > kStallLimit;
    gDeriving.store(false);
    if (held || gStalled.load()) {
        whiteBoxWipe(key, sizeof(key));
        return nullptr;
    }

    static const char digits[] = "0123456789ABCDEF";
    char* text = static_cast<char*>(std::malloc(2 * sizeof(key) + 1));
    if (text != nullptr) {
        for (size_t i = 0; i < sizeof(key); ++i) {
            text[2 * i] = digits[key[i] >> 4];
            text[2 * i + 1] = digits[key[i] & 15];
        }
        text[2 * sizeof(key)] = '\0';
    }
    whiteBoxWipe(key, sizeof(key));
    return text;
}

extern "C" void PelWhiteBoxResultFinal(char** text) {
    whiteBoxLock();
    if (text != nullptr && *text != nullptr) {
        whiteBoxRandomWipe(*text, std::strlen(*text));
        *text = nullptr;
    }
    whiteBoxUnlock();
    stopWatchdog();
}
