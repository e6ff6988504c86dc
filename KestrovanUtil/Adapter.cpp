#include "Adapter.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Log.h"
#include "Text.h"

namespace {

bool sameName(const char* a, const char* b) {
    size_t i = 0;
    for (; a[i] != 0 && b[i] != 0; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return a[i] == b[i];
}

int compareEntries(const void* a, const void* b) {
    return CompareKestrovanAdapterName(static_cast<const KestrovanAdapterEntry*>(a)->name,
                                       static_cast<const KestrovanAdapterEntry*>(b)->name);
}

}  // namespace

void AddKestrovanAdapterFunction(KestrovanAdapterMap* inputAdapterMap, KestrovanAdapterFunction entry,
                                 const char* inputFunctionName) {
    if (inputAdapterMap == nullptr) {
        REPORT_NULL("inputAdapterMap");
        return;
    }
    if (inputFunctionName == nullptr) {
        REPORT_NULL("inputFunctionName");
        return;
    }
    uint32_t count = inputAdapterMap->count;
    for (uint32_t i = 0; i < count && i < kKestrovanAdapterCapacity; ++i) {
        if (sameName(inputAdapterMap->entries[i].name, inputFunctionName)) {
            logWarning("Function name already exist: ", inputFunctionName);
            return;
        }
    }
    // The table is fixed; writing past its end would overwrite the count.
    if (count >= kKestrovanAdapterCapacity) {
        logWarning("Adapter map is full: ", inputFunctionName);
        return;
    }
    KestrovanAdapterEntry& slot = inputAdapterMap->entries[count];
    std::memset(slot.name, 0, sizeof slot.name);
    std::strncpy(slot.name, inputFunctionName, kKestrovanAdapterNameSize - 1);
    slot.function = entry;
    inputAdapterMap->count = count + 1;
    logNormal("Enable adapter func: ", inputFunctionName);
}

int CompareKestrovanAdapterName(const char* inputA, const char* inputB) {
    if (inputA == nullptr) {
        REPORT_NULL("inputA");
        return 100;
    }
    if (inputB == nullptr) {
        REPORT_NULL("inputB");
        return 100;
    }
    size_t lengthA = std::strlen(inputA), lengthB = std::strlen(inputB);
    size_t shorter = lengthA < lengthB ? lengthA : lengthB;
    for (size_t i = 0; i < shorter; ++i) {
        int a = std::tolower(static_cast<unsigned char>(inputA[i]));
        int b = std::tolower(static_cast<unsigned char>(inputB[i]));
        if (a != b) return a < b ? -1 : 1;
    }
    if (lengthA == lengthB) return 0;
    return lengthA < lengthB ? -1 : 1;
}

void SortKestrovanAdapterMap(KestrovanAdapterMap* map) {
    if (map == nullptr) {
        REPORT_NULL("inputAdapterMap");
        return;
    }
    uint32_t count = map->count < kKestrovanAdapterCapacity ? map->count : kKestrovanAdapterCapacity;
    std::qsort(map->entries, count, sizeof(KestrovanAdapterEntry), compareEntries);
}

KestrovanAdapterFunction BinarySearchKestrovanAdapterMap(const KestrovanAdapterMap* map, const char* name, int64_t low,
                                                         int64_t high) {
    if (map == nullptr) {
        REPORT_NULL("inputA");
        return nullptr;
    }
    if (name == nullptr) {
        REPORT_NULL("inputB");
        return nullptr;
    }
    // An empty map (high -1) or a range outside the table has nothing to find.
    int64_t count = map->count < kKestrovanAdapterCapacity ? map->count : kKestrovanAdapterCapacity;
    if (low < 0 || high < 0 || low >= count || high >= count) return nullptr;
    int64_t mid = (low + high) / 2;
    const KestrovanAdapterEntry& entry = map->entries[mid];
    if (sameName(entry.name, name)) return entry.function;
    if (low >= high) return nullptr;
    char* bounded = static_cast<char*>(allocZero(132));
    if (bounded == nullptr) {
        REPORT_ALLOC();
        return nullptr;
    }
    std::strncpy(bounded, name, 126);
    int order = CompareKestrovanAdapterName(entry.name, bounded);
    std::free(bounded);
    if (order == -1) return mid + 1 < count ? BinarySearchKestrovanAdapterMap(map, name, mid + 1, high) : nullptr;
    if (order == 1) return low + high < 2 ? nullptr : BinarySearchKestrovanAdapterMap(map, name, low, mid - 1);
    logWarning("BinarySearchKestrovanAdapterMap Compare_Same!", "");
    return nullptr;
}
