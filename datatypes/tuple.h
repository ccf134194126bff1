// The payload of tuple!: up to 12 bytes from w1 on, their count in header bits 19-22. Bytes past
// the count are kept zero.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace zub::tuple {

inline constexpr uint32_t kMaxBytes = 12;
inline constexpr uint32_t kCountShift = 19;

inline uint32_t count(const Cell& t) { return (t.header >> kCountShift) & 0xF; }
inline void bytes(const Cell& t, uint8_t (&out)[kMaxBytes]) { std::memcpy(out, &t.w1, kMaxBytes); }
inline void set_bytes(Cell& t, const uint8_t (&in)[kMaxBytes]) { std::memcpy(&t.w1, in, kMaxBytes); }

// A tuple of the first `n` bytes (3 to 12; fewer are padded with zeros, the rest cleared).
inline Cell make(const uint8_t* in, uint32_t n) {
    Cell t = cell::make(TypeId::tuple);
    uint8_t b[kMaxBytes] = {};
    std::memcpy(b, in, n < kMaxBytes ? n : kMaxBytes);
    set_bytes(t, b);
    t.header |= (n < 3 ? 3 : n > kMaxBytes ? kMaxBytes : n) << kCountShift;
    return t;
}

}  // namespace zub::tuple
