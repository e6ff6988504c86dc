#pragma once
// Small owning holders for the heap texts the utility routines return, so that no
// path of a function leaks them. SecretHolder overwrites its text before freeing.
#include <cstdlib>
#include <memory>

#include "Text.h"

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
struct SecretDeleter {
    void operator()(char* p) const { freeSecret(p); }
};
struct TextListDeleter {
    void operator()(char** p) const { freeTextList(p); }
};

using TextHolder = std::unique_ptr<char, FreeDeleter>;
using WideHolder = std::unique_ptr<char16_t, FreeDeleter>;
using SecretHolder = std::unique_ptr<char, SecretDeleter>;
using TextListHolder = std::unique_ptr<char*, TextListDeleter>;
