// The kernel's cryptographic random source, for random/secure. Raises nothing: the caller decides
// what a refusal means.
#pragma once

#include <cstddef>

namespace zub::platform {

// Fills `size` bytes from getrandom(2), waiting for the pool at boot and retrying interrupted
// calls; false when the system cannot give them.
bool fill_random(void* out, size_t size);

}  // namespace zub::platform
