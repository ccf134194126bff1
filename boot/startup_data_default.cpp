// No start-up data: what a binary gets when it does not link the data made at build time (the
// tool that makes it, the unit tests). Start-up then loads the environment's text. Kept apart
// from its readers so that the weak empty size is never folded into them.
#include <cstdint>

#include "boot/embedded.h"

namespace zub::embedded {
__attribute__((weak)) extern const unsigned char startup_data[] = {0};
__attribute__((weak)) extern const uint32_t startup_data_size = 0;
}  // namespace zub::embedded
