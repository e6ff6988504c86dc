// Building, sealing, reading and checking IPC messages.
#include "Message.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AES.h"
#include "Holder.h"
#include "Log.h"
#include "Text.h"

namespace {

std::atomic<KestrovanClock> clockSource{nullptr};

constexpr uint64_t kReplayWindow = 2;  // seconds a message stays acceptable
constexpr size_t kPieceStart[4] = {0, 3, 7, 11};
constexpr size_t kPieceEnd[4] = {3, 7, 11, 16};

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// Cuts a time value text into its four pieces; a short text gives short or empty pieces.
bool cutTimeValue(const char* text, char* pieces[4]) {
    const size_t length = std::strlen(text);
    for (int i = 0; i < 4; ++i) {
        const size_t start = kPieceStart[i] < length ? kPieceStart[i] : length;
        const size_t end = kPieceEnd[i] < length ? kPieceEnd[i] : length;
        pieces[i] = static_cast<char*>(allocZero(end - start + 1));
        if (pieces[i] == nullptr) {
            REPORT_ALLOC();
            return false;
        }
        std::memcpy(pieces[i], text + start, end - start);
    }
    return true;
}

}  // namespace

void setKestrovanClock(KestrovanClock clock) { clockSource.store(clock); }

uint64_t kestrovanTimeValue() {
    platform::LocalTime now{};
    const KestrovanClock clock = clockSource.load();
    const bool ok = clock != nullptr ? clock(&now) : platform::localTime(&now);
    if (!ok) return 0;
    const int64_t yearsSince1900 = now.year - 1900;
    const bool leap = (yearsSince1900 % 4 == 0 && yearsSince1900 % 100 != 0) || yearsSince1900 % 400 == 0;
    const int64_t yearLength = leap ? 31622400 : 31536000;
    const int64_t value = (yearsSince1900 - 115) * yearLength +
                          ((static_cast<int64_t>(now.day) * 24 + now.hour) * 60 + now.minute) * 60 + now.second;
    return static_cast<uint64_t>(value);
}

void freeKestrovanMessage(KestrovanMessage* message) {
    if (message == nullptr) return;
    std::free(message->From);
    std::free(message->To);
    std::free(message->Instruction);
    std::free(message->Message);
    for (char* piece : message->TimeValue) std::free(piece);
    std::free(message->HashValue);
    std::free(message);
}

char* hashKestrovanMessage(const KestrovanMessage* message) {
    if (message == nullptr) {
        REPORT_NULL("inputMessage");
        return nullptr;
    }
    // Fed piece by piece, the digest covers exactly the bytes of the nine texts
    // written one after another, without a buffer that would hold the key.
    const char* parts[] = {orEmpty(message->From),         orEmpty(message->To),
                           orEmpty(message->TimeValue[0]), orEmpty(message->TimeValue[1]),
                           orEmpty(message->TimeValue[2]), orEmpty(message->TimeValue[3]),
                           kestrovanMessageKey,            orEmpty(message->Instruction),
                           orEmpty(message->Message)};
    Sha512Context context;
    sha512Init(&context);
    for (const char* part : parts) {
        sha512Update(&context, reinterpret_cast<const uint8_t*>(part), std::strlen(part));
    }
    uint8_t digest[kSha512DigestSize];
    sha512Final(&context, digest);  // also overwrites the hash state
    char* hex = hexEncode(digest, sizeof(digest));
    secureZero(digest, sizeof(digest));
    return hex;
}

KestrovanMessage* newKestrovanMessage(const char* from, const char* to, const char* instruction) {
    if (from == nullptr) {
        REPORT_NULL("kcstrInputFrom");
        return nullptr;
    }
    if (to == nullptr) {
        REPORT_NULL("kcstrInputTo");
        return nullptr;
    }
    KestrovanMessage* message = static_cast<KestrovanMessage*>(allocZero(sizeof(KestrovanMessage)));
    if (message == nullptr) {
        REPORT_ALLOC();
        return nullptr;
    }
    // A failed copy leaves its field absent; the sender then builds no text from it.
    message->From = duplicateText(from);
    message->To = duplicateText(to);
    if (instruction != nullptr) message->Instruction = duplicateText(instruction);
    message->Message = duplicateText("");
    if (message->From == nullptr || message->To == nullptr || message->Message == nullptr ||
        (instruction != nullptr && message->Instruction == nullptr)) {
        REPORT_ALLOC();
    }

    char timeText[32];
    std::snprintf(timeText, sizeof(timeText), "%llx", static_cast<unsigned long long>(kestrovanTimeValue()));
    cutTimeValue(timeText, message->TimeValue);

    message->HashValue = hashKestrovanMessage(message);
    if (message->HashValue == nullptr) REPORT_ALLOC();
    return message;
}

KestrovanMessage* parseKestrovanMessage(const char* text) {
    if (text == nullptr) {
        REPORT_NULL("inputJsonStr");
        return nullptr;
    }
    KestrovanMessage* message = static_cast<KestrovanMessage*>(allocZero(sizeof(KestrovanMessage)));
    if (message == nullptr) {
        REPORT_ALLOC();
        return nullptr;
    }
    message->From = getJsonValue(text, "From");
    message->To = getJsonValue(text, "To");
    message->Instruction = getJsonValue(text, "Instruction");
    message->Message = getJsonValue(text, "Message");
    message->HashValue = getJsonValue(text, "HashValue");

    TextHolder timeValue(getJsonValue(text, "TimeValue"));
    if (timeValue) {
        char kept[20];  // a time value has at most 16 digits; the rest is dropped
        std::snprintf(kept, sizeof(kept), "%s", timeValue.get());
        if (!cutTimeValue(kept, message->TimeValue)) {
            for (char*& piece : message->TimeValue) {
                std::free(piece);
                piece = nullptr;
            }
        }
    }
    return message;
}

bool verifyKestrovanMessage(const KestrovanMessage* message) {
    if (message == nullptr) return false;
    const uint64_t now = kestrovanTimeValue();

    char joined[17];
    std::snprintf(joined, sizeof(joined), "%s%s%s%s", orEmpty(message->TimeValue[0]), orEmpty(message->TimeValue[1]),
                  orEmpty(message->TimeValue[2]), orEmpty(message->TimeValue[3]));
    TextHolder aligned(padLeft(joined, 16, ' '));
    if (!aligned) {
        REPORT_ALLOC();
        return false;
    }
    uint64_t parts[4];
    for (int i = 0; i < 4; ++i) {
        char piece[8] = {};
        std::memcpy(piece, aligned.get() + kPieceStart[i], kPieceEnd[i] - kPieceStart[i]);
        // A piece of blanks or of other characters converts to 0; a signed piece
        // is taken by its 32 bits so the time stays a plain unsigned number.
        parts[i] = static_cast<uint32_t>(hexToInt(piece));
    }
    const uint64_t messageTime = (parts[0] << 52) + (parts[1] << 36) + (parts[2] << 20) + parts[3];

    if (now - messageTime > kReplayWindow) {
        char nowText[32];
        char messageText[32];
        std::snprintf(nowText, sizeof(nowText), "%llx", static_cast<unsigned long long>(now));
        std::snprintf(messageText, sizeof(messageText), "%llx", static_cast<unsigned long long>(messageTime));
        logWarning("KestrovanMessage now time value: ", nowText);
        logWarning("KestrovanMessage message time value: ", messageText);
        logWarning("KestrovanMessage verify fail: ", "Replay attack");
        return false;
    }

    TextHolder expected(hashKestrovanMessage(message));
    if (!expected) {
        REPORT_ALLOC();
        return false;
    }
    bool match = false;
    if (message->HashValue != nullptr && std::strlen(message->HashValue) == std::strlen(expected.get())) {
        // Every byte is looked at, so the time taken tells nothing about where a
        // forged hash first differs.
        unsigned char difference = 0;
        for (size_t i = 0; expected.get()[i] != 0; ++i) {
            difference |= static_cast<unsigned char>(message->HashValue[i] ^ expected.get()[i]);
        }
        match = difference == 0;
    }
    if (match) {
        logNormal("KestrovanMessage verify state: ", "Success");
    } else {
        logWarning("KestrovanMessage verify state: ", "Fail");
    }
    return match;
}

char* kestrovanMessageText(const KestrovanMessage* message) {
    if (message == nullptr) {
        REPORT_NULL("inputMessage");
        return nullptr;
    }
    if (message->From == nullptr || message->To == nullptr || message->Message == nullptr ||
        message->HashValue == nullptr) {
        return nullptr;
    }
    const char* fields[] = {message->From,         message->To,           orEmpty(message->Instruction),
                            message->Message,      message->TimeValue[0], message->TimeValue[1],
                            message->TimeValue[2], message->TimeValue[3], message->HashValue};
    for (const char* field : fields) {
        // A quotation mark would end the field early and the receiver would read
        // something else than what was sealed.
        if (field != nullptr && std::strchr(field, '"') != nullptr) {
            logWarning("KestrovanMessage field with quotation mark: ", field);
            return nullptr;
        }
    }
    static const char kForm[] =
        "{\"From\":\"%s\", \"To\":\"%s\", \"Instruction\":\"%s\", \"Message\":\"%s\", \"TimeValue\":\"%s%s%s%s\", "
        "\"HashValue\":\"%s\"}";
    const char* t[4] = {orEmpty(message->TimeValue[0]), orEmpty(message->TimeValue[1]),
                        orEmpty(message->TimeValue[2]), orEmpty(message->TimeValue[3])};
    const int length = std::snprintf(nullptr, 0, kForm, fields[0], fields[1], fields[2], fields[3], t[0], t[1], t[2],
                                     t[3], fields[8]);
    if (length < 0) return nullptr;
    char* text = static_cast<char*>(allocZero(static_cast<size_t>(length) + 1));
    if (text == nullptr) {
        REPORT_ALLOC();
        return nullptr;
    }
    std::snprintf(text, static_cast<size_t>(length) + 1, kForm, fields[0], fields[1], fields[2], fields[3], t[0], t[1],
                  t[2], t[3], fields[8]);
    return text;
}
