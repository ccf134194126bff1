// binary!: the byte series, and the byte encodings of text (base 2, 16, 58 and 64) that enbase,
// debase and the lexer's binary literals share. A binary holds unit-width-1 bytes from its head
// to the tail; the series actions it does not define come from string! and series!.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace zub::binary {

// A new empty binary! with room for capacity bytes. May collect.
Cell make(uint32_t capacity);

// A new binary! holding a copy of the bytes, which must not lie in a series. May collect.
Cell from_bytes(std::string_view bytes);

// The bytes of a binary! from its head (a head past the tail gives none). Valid until the next
// allocation. Never allocates.
std::string_view bytes_of(const Cell& value);

// ---- Encodings ----------------------------------------------------------------------------------

// Whether the base is one of 2, 16, 58 and 64.
inline bool known_base(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

// Appends the text of the bytes in the base: base 2 as eight "0"/"1" per byte, most significant
// bit first; base 16 as two upper-case digits per byte; base 58 with a "1" per leading zero byte
// and the rest as one big-endian number; base 64 in the standard alphabet with "=" padding, or
// with url set in the URL-safe alphabet ("-" and "_" for "+" and "/") without padding. No line
// breaks. Allocates only in `out`.
void encode(int32_t base, std::string_view bytes, std::string& out, bool url = false);

// Text to decode: count code points stored in units of 1, 2 or 4 bytes.
struct Text {
    const std::byte* data;
    uint32_t unit;
    uint32_t count;
};

// Appends the bytes the text encodes in the base to `out`; false for a bad character or a bad
// length. In every base ";" starts a comment that runs to the line feed, and a code point above
// 127 fails. Base 2 skips spaces and controls and needs whole bytes; base 16 skips spaces and
// controls and drops a final unpaired digit; base 58 and 64 skip tab, line feed, form feed,
// carriage return, backspace, space and "'". Base 64 takes "=" as the end of a group of two or
// three digits and drops digits left unpadded at the end. With url set base 64 reads the URL-safe
// alphabet, where a final unpadded group of two or three digits gives its bytes. Strict decoding
// (binary literals) refuses an unpaired base-16 digit and a base-64 group left incomplete. Reads
// nothing past the count. Allocates only in `out`.
bool decode(int32_t base, Text text, std::string& out, bool strict = false, bool url = false);

}  // namespace zub::binary
