#pragma once
#include <cstddef>

namespace platform {

// Fills the buffer from the kernel's random generator; false on failure.
bool randomFill(void* buffer, size_t length);

}  // namespace platform
