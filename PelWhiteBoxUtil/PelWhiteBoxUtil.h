#pragma once
// The key routine behind the service's TLS private keys. The AES key that deciphers
// a stored key blob is derived at run time from a 9 x 9 table and a parameter, under
// a watchdog thread that refuses to answer when the derivation was held up (a debugger).
#include <cstdint>

extern "C" {
// Hexadecimal text (64 upper-case digits) of the 32-byte key, or null. Starts the
// routine's watchdog; the next PelWhiteBoxResultFinal stops it.
__attribute__((visibility("default"))) char* getPelWhiteboxResult(uint16_t** table, int dimension,
                                                                  uint32_t parameter);
// Overwrites the text with random bytes and clears the pointer (the memory is not
// freed), then stops the watchdog. A null pointer or text only stops the watchdog.
__attribute__((visibility("default"))) void PelWhiteBoxResultFinal(char** text);
}

constexpr int kWhiteBoxDimension = 9;
constexpr int kWhiteBoxCells = kWhiteBoxDimension * kWhiteBoxDimension;

// Rows of the table rebuilt from its stored (masked and shuffled) form: one block
// holding the row pointers and the cells, released with freeWhiteBoxTable. Null when
// memory cannot be had.
uint16_t** buildWhiteBoxTable(const uint16_t stored[kWhiteBoxCells]);
void freeWhiteBoxTable(uint16_t** rows);
// The inverse of buildWhiteBoxTable, for the build step that seals the keys.
void storeWhiteBoxTable(const uint16_t cells[kWhiteBoxCells], uint16_t stored[kWhiteBoxCells]);
