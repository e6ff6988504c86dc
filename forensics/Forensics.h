#pragma once
// Arms the service's crash forensics: call first thing at start-up.

// Installs the crash hook and the dump callback (keep 3 dumps named "TarvikKestrovan"
// in the dump folder). Raises std::runtime_error when the hook or the dump writer
// cannot be obtained; the service is not meant to run unarmed.
void armCrashForensics();
