#include "platform/random.h"

#include "platform/error.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

bool randomFill(void* buffer, size_t length) {
    if (!buffer && length) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = getrandom(out + done, length - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (done == length) return true;
    // Kernels without getrandom still have the device.
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reportFailure("getrandom", "", errno);
        return false;
    }
    while (done < length) {
        ssize_t n = ::read(fd, out + done, length - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
    ::close(fd);
    if (done != length) reportFailure("read", "/dev/urandom", errno);
    return done == length;
}

}  // namespace platform
