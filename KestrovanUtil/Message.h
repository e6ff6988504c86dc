#pragma once
// The sealed IPC message the programs command each other with: sender, receiver,
// instruction and a time value, sealed with SHA-512 over the fields and a constant
// only the system's programs carry.
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

constexpr const char* kInstructionStart = "KestrovanInstruction_Start";
constexpr const char* kInstructionStop = "KestrovanInstruction_Stop";
constexpr const char* kInstructionRestart = "KestrovanInstruction_Restart";
constexpr const char* kInstructionSuicide = "KestrovanInstruction_Suicide";
constexpr const char* kInstructionMonitorStart = "KestrovanInstruction_MonitorStart";

constexpr size_t kKestrovanMessageKeyLength = 71;
// Enters the hash only; never written anywhere.
extern const char kestrovanMessageKey[kKestrovanMessageKeyLength + 1];

// One heap record, zero-filled; every field is an owned text or absent (null).
// TimeValue is kept cut into characters 0-2, 3-6, 7-10 and 11-15 of its hex text.
struct KestrovanMessage {
    char* From;
    char* To;
    char* Instruction;
    char* Message;
    char* TimeValue[4];
    char* HashValue;
};

// Years since 2015 times the current year's length in seconds, plus the seconds of
// (day of month, hour, minute, second), from the local calendar time. The month does
// not enter, so the value falls back when a month begins.
uint64_t kestrovanTimeValue();

// Sealed message of now with an empty Message; none when from or to is null.
KestrovanMessage* newKestrovanMessage(const char* from, const char* to, const char* instruction);
// 128 upper-case hex digits over the message's current fields; absent fields count as empty.
char* hashKestrovanMessage(const KestrovanMessage* message);
// Fields read by key in any letter case; a missing key leaves its field absent.
KestrovanMessage* parseKestrovanMessage(const char* text);
// True when the time value lies 0 to 2 seconds back and the HashValue matches exactly.
bool verifyKestrovanMessage(const KestrovanMessage* message);
void freeKestrovanMessage(KestrovanMessage* message);

// The text form sent between programs; none when From, To, Message or HashValue is
// absent or a field holds a quotation mark (the form has no escaping). An absent
// Instruction is written as the empty text.
char* kestrovanMessageText(const KestrovanMessage* message);

// Test hook: the local calendar clock behind kestrovanTimeValue; null restores the real one.
using KestrovanClock = bool (*)(platform::LocalTime* out);
void setKestrovanClock(KestrovanClock clock);
