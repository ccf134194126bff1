// The report of a failed internal assertion.
#include "runtime/assert.h"

#include <cstdio>
#include <cstdlib>

namespace zub {

void assert_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "internal assertion failed: %s at %s:%d\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace zub
