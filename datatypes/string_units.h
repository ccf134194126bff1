// Unit-width plumbing shared by the text sources (string.cpp, string_search.cpp): loads and
// stores of 1-, 2- and 4-byte code units, and dispatch on the width as a compile-time constant so
// text loops are instantiated once per width. Private to datatypes/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "runtime/lowrt.h"
#include "runtime/unicode.h"

namespace zub::string::units {

template <uint32_t U>
using Unit = std::integral_constant<uint32_t, U>;

// Calls f with the unit width as a compile-time constant.
template <typename F>
decltype(auto) with_unit(uint32_t unit, F&& f) {
    switch (unit) {
        case 1: return f(Unit<1>{});
        case 2: return f(Unit<2>{});
        case 4: return f(Unit<4>{});
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

template <uint32_t U>
inline uint32_t load(const std::byte* data, size_t i) {
    if constexpr (U == 1) {
        return static_cast<uint8_t>(data[i]);
    } else if constexpr (U == 2) {
        uint16_t v;
        std::memcpy(&v, data + i * 2, 2);
        return v;
    } else {
        uint32_t v;
        std::memcpy(&v, data + i * 4, 4);
        return v;
    }
}

template <uint32_t U>
inline void store(std::byte* data, size_t i, uint32_t cp) {
    if constexpr (U == 1) {
        data[i] = static_cast<std::byte>(cp);
    } else if constexpr (U == 2) {
        const auto v = static_cast<uint16_t>(cp);
        std::memcpy(data + i * 2, &v, 2);
    } else {
        std::memcpy(data + i * 4, &cp, 4);
    }
}

// Case folding for comparison: ASCII by hand, the rest through the Unicode tables.
inline uint32_t fold(uint32_t cp) {
    if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 0x20 : cp;
    return unicode::to_lower(cp);
}

}  // namespace zub::string::units
