#pragma once
// The component functions in registration order: an index into this table is the
// function's KestrovanFunctionIndex, and the component method sits at slot 7 + index.
#include "Adapter.h"

constexpr int kComponentFunctionCount = 44;

struct ComponentFunction {
    const char* name;
    KestrovanAdapterFunction function;
};

extern const ComponentFunction componentFunctions[kComponentFunctionCount];
