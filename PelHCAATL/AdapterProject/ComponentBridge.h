#pragma once
// The connection to the card component and the conversion of its results.
#include "PelHCAATL/PelHCAATLInterface.h"
#include "platform/com/error.h"

// Enters COM on this thread and creates the component; false when it cannot be had.
bool connectComponent();
// Releases the component and leaves COM; raises E_POINTER when not connected.
void disconnectComponent();
// The connected interface; raises E_POINTER when there is none.
IPelHCAATL* componentInterface();

// The text of a list result by the VARIANT rule, as UTF-8 (heap, caller frees); null
// when it cannot be allocated.
char* variantAnswerText(const VARIANT* value);
// The guard's report of a caught COM error: answer 61011 and the safe line.
void reportComponentException(const char* logName, int line);
