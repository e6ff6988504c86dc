#pragma once
// Internal tools of the key routine.
#include <cstddef>

#include "PelWhiteBoxUtil.h"

// The routine's spin lock, held while a result is wiped.
void whiteBoxLock();
void whiteBoxUnlock();
// Zeros that the compiler cannot drop.
void whiteBoxWipe(void* buffer, size_t length);
// Overwrites length bytes with random bytes; false (and the texts on standard output)
// when the random source gives nothing, leaving the bytes as they were.
bool whiteBoxRandomWipe(char* text, size_t length);
