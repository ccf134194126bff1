#include "runtime/hash.h"

#include <cstring>

namespace zub::hash {

uint32_t g_seed = 0x5EED2B0B;

uint32_t murmur3(const void* bytes, size_t length, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    const size_t blocks = length / 4;
    uint32_t h = seed;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k;
        std::memcpy(&k, p + 4 * i, 4);
        h = murmur3_mix(h, k);
    }
    const uint8_t* tail = p + 4 * blocks;
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t{tail[2]} << 16; [[fallthrough]];
        case 2: k ^= uint32_t{tail[1]} << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= 0xCC9E2D51;
            k = rotl32(k, 15);
            k *= 0x1B873593;
            h ^= k;
    }
    return murmur3_finish(h, static_cast<uint32_t>(length));
}

}  // namespace zub::hash
