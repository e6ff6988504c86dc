#pragma once
// The adapter's answer text: owned by the library, valid until the next call.
#include <cstdint>

// Frees the current answer (it may hold a decrypted value, so it is wiped first).
void clearAdapterAnswer();
// Takes ownership of a heap text as the answer, replacing any earlier one.
void setAdapterAnswer(char* text);
void answerCopy(const char* text);
void answerNumber(int64_t value);
// The answer to hand out: never null (an empty text when none was set).
const char* finishAdapterAnswer();
