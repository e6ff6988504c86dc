// Small tools of the key routine: the stored-table layout, the spin lock and the
// random-byte wiping of the routine's results.
#include "PelWhiteBoxUtilCore_Tool.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/random.h"

namespace {

std::atomic_flag gResultLock = ATOMIC_FLAG_INIT;

// Cell k of the table sits at a shuffled place, xored with a mask of its own.
int storedIndex(int cell) { return (cell * 34 + 19) % kWhiteBoxCells; }  // 34 is prime to 81

uint16_t cellMask(int cell) {
    uint32_t m = static_cast<uint32_t>(cell) * 0x9E37u + 0x7F4Au;
    m ^= m >> 5;
    m *= 0x2C1Bu;
    return static_cast<uint16_t>(m ^ (m >> 16));
}

}  // namespace

uint16_t** buildWhiteBoxTable(const uint16_t stored[kWhiteBoxCells]) {
    size_t rowsBytes = sizeof(uint16_t*) * kWhiteBoxDimension;
    void* block = std::calloc(1, rowsBytes + sizeof(uint16_t) * kWhiteBoxCells);
    if (block == nullptr) return nullptr;
    uint16_t** rows = static_cast<uint16_t**>(block);
    uint16_t* cells = reinterpret_cast<uint16_t*>(static_cast<char*>(block) + rowsBytes);
    for (int r = 0; r < kWhiteBoxDimension; ++r) rows[r] = cells + r * kWhiteBoxDimension;
    for (int k = 0; k < kWhiteBoxCells; ++k) cells[k] = stored[storedIndex(k)] ^ cellMask(k);
    return rows;
}

void freeWhiteBoxTable(uint16_t** rows) {
    if (rows == nullptr) return;
    whiteBoxWipe(rows, sizeof(uint16_t*) * kWhiteBoxDimension + sizeof(uint16_t) * kWhiteBoxCells);
    std::free(rows);
}

void storeWhiteBoxTable(const uint16_t cells[kWhiteBoxCells], uint16_t stored[kWhiteBoxCells]) {
    for (int k = 0; k < kWhiteBoxCells; ++k) stored[storedIndex(k)] = cells[k] ^ cellMask(k);
}

void whiteBoxLock() {
    while (gResultLock.test_and_set(std::memory_order_acquire)) {
    }
}

void whiteBoxUnlock() { gResultLock.clear(std::memory_order_release); }

void whiteBoxWipe(void* buffer, size_t length) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
    for (size_t i = 0; i < length; ++i) p[i] = 0;
}

bool whiteBoxRandomWipe(char* text, size_t length) {
    if (platform::randomFill(text, length)) return true;
    std::printf("Memory allocate fail\n");
    std::printf("[Safe Line] Safe at %d lines in %s\n", __LINE__, __FILE__);
    return false;
}
