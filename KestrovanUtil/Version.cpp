#include "Version.h"

const char* buildDate() { return __DATE__; }
const char* buildTime() { return __TIME__; }
