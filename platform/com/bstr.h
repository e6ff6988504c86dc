#pragma once
// COM strings: length-prefixed UTF-16. A BSTR points at the first character; the
// 32-bit byte length sits just before it and a NUL character follows the text,
// so a BSTR can also be read as a plain NUL-terminated char16_t string.
#include <cstdint>

using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using UINT = unsigned int;

// New string of length characters copied from text; a null text gives a zero-filled
// string of that length. Null when the allocation fails or the length is absurd.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// New string from a NUL-terminated text; null text gives null.
BSTR SysAllocString(const OLECHAR* text);
// New string holding length bytes (an odd count is allowed); a null data gives zeros.
BSTR SysAllocStringByteLen(const char* data, UINT length);
// Frees a string made by the routines above; null is allowed.
void SysFreeString(BSTR text);
// Length in characters / in bytes; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
