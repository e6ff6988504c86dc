#pragma once
// Wiping of freed heap blocks for a short window. Libraries that parse a secret we
// hand them (the TLS stack reading a PEM key) make scratch copies of it and free
// them without clearing; while the window is open every block the process frees is
// overwritten with zeros first. Only programs that link the heapwipe library get it.

namespace platform {

// True when this build can wipe freed blocks (not in the sanitizer build, whose
// allocator keeps freed blocks in its own quarantine).
bool canWipeFreedBlocks();
// Opens (true) or closes (false) the window; windows may nest.
void wipeFreedBlocks(bool on);

}  // namespace platform
