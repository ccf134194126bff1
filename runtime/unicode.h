// Unicode case mapping and character classes for the runtime.
#pragma once

#include <cstdint>

namespace zub::unicode {

// The simple upper- or lower-case mapping of a code point; itself when unmapped.
uint32_t change_char_case(uint32_t cp, bool upper);
inline uint32_t to_upper(uint32_t cp) { return change_char_case(cp, true); }
inline uint32_t to_lower(uint32_t cp) { return change_char_case(cp, false); }

}  // namespace zub::unicode
