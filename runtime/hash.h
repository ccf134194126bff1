// MurmurHash3 (x86, 32-bit) and its finaliser: the one hash of every table in the runtime.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zub::hash {

// Fixed once at start, before any table is built. Hashes never leave the process.
extern uint32_t g_seed;

inline constexpr uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline constexpr uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

// One 4-byte block mixed into the running hash.
inline constexpr uint32_t murmur3_mix(uint32_t h, uint32_t k) {
    k *= 0xCC9E2D51;
    k = rotl32(k, 15);
    k *= 0x1B873593;
    h ^= k;
    h = rotl32(h, 13);
    return h * 5 + 0xE6546B64;
}

// The finish after the blocks: length in bytes mixed in, then the avalanche.
inline constexpr uint32_t murmur3_finish(uint32_t h, uint32_t length) { return fmix32(h ^ length); }

uint32_t murmur3(const void* bytes, size_t length, uint32_t seed = g_seed);

}  // namespace zub::hash
