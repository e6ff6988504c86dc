#pragma once
// The adapter's function map: a fixed table of named functions, sorted by name
// without regard to case and searched by halving.
#include <cstdint>

#include "Json.h"

constexpr uint32_t kKestrovanAdapterCapacity = 1024;
constexpr int kKestrovanAdapterNameSize = 128;

// A function of the adapter: reads the call's map, answers through the adapter's answer.
using KestrovanAdapterFunction = void (*)(const KestrovanJsonMap* map);

struct KestrovanAdapterEntry {
    char name[kKestrovanAdapterNameSize];  // NUL-terminated, at most 127 characters
    KestrovanAdapterFunction function;
};

struct KestrovanAdapterMap {
    KestrovanAdapterEntry entries[kKestrovanAdapterCapacity];
    uint32_t count;
};

// Appends the function under name unless a function of that name (any case) is there.
// A full map refuses the entry with a warning.
void AddKestrovanAdapterFunction(KestrovanAdapterMap* inputAdapterMap, KestrovanAdapterFunction entry,
                                 const char* inputFunctionName);
// -1, 0 or 1 comparing lower-cased characters over the shorter length, then the
// shorter name first; 100 when either name is null.
int CompareKestrovanAdapterName(const char* inputA, const char* inputB);
// Sorts slots 0 .. count-1 by name.
void SortKestrovanAdapterMap(KestrovanAdapterMap* map);
// The function named name (any case) within slots low .. high; null when not found.
KestrovanAdapterFunction BinarySearchKestrovanAdapterMap(const KestrovanAdapterMap* map, const char* name, int64_t low,
                                                         int64_t high);
