// Start-up steps of later modules (see Seams.h); each is a no-op until its module lands.
#include "Seams.h"

void armCrashForensics() {}

void startServiceChannel(const char*, void (*)()) {}
