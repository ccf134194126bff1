// getrandom(2) without flags: blocks only until the kernel's pool is first seeded.
#include "system/platform/entropy.h"

#include <sys/random.h>

#include <cerrno>

namespace zub::platform {

bool fill_random(void* out, size_t size) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t n = ::getrandom(bytes, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace zub::platform
