#include "AdapterAnswer.h"

#include <cinttypes>
#include <cstdio>

#include "Log.h"
#include "Text.h"

namespace {
char* adapterAnswer = nullptr;

// The last answer stays with the library until the next call; when the library is
// unloaded instead, it goes with it.
struct AnswerAtUnload {
    ~AnswerAtUnload() { clearAdapterAnswer(); }
} answerAtUnload;
}  // namespace

void clearAdapterAnswer() {
    freeSecret(adapterAnswer);
    adapterAnswer = nullptr;
}

void setAdapterAnswer(char* text) {
    clearAdapterAnswer();
    adapterAnswer = text;
}

void answerCopy(const char* text) {
    char* copy = duplicateText(text != nullptr ? text : "");
    if (copy == nullptr) REPORT_ALLOC();
    setAdapterAnswer(copy);
}

void answerNumber(int64_t value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%" PRId64, value);
    answerCopy(digits);
}

const char* finishAdapterAnswer() {
    if (adapterAnswer == nullptr) {
        adapterAnswer = duplicateText("");
        if (adapterAnswer == nullptr) {
            REPORT_ALLOC();
            // Even with no heap left the export must not return null.
            static char empty[1] = "";
            return empty;
        }
    }
    return adapterAnswer;
}
