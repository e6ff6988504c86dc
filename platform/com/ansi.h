#pragma once
// Text in the system's ANSI code page, which here is the character set of the
// process locale (LC_CTYPE), as COM strings.
#include "platform/com/bstr.h"

// New COM string from text in the locale's character set; an empty one when the text
// is not valid in it; null when the allocation fails or text is null.
BSTR SysAllocStringFromAnsi(const char* text);
