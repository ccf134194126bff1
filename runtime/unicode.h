// Unicode for the runtime. A string series holds code points in the narrowest unit that fits its
// content (1, 2 or 4 bytes); this module converts between that and UTF-8 (files, the lexer, the
// console) or UTF-16LE, widens a buffer in place when a wider code point arrives, maps case and
// gives display widths. UTF-8 input is checked strictly: overlong forms, surrogates, code points
// above U+10FFFF and cut sequences are errors, never characters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::unicode {

inline constexpr uint32_t kMaxCodePoint = 0x10FFFF;
inline constexpr uint32_t kWhole = 0xFFFFFFFF;  // a length in characters meaning "to the tail"

// ---- UTF-8 -------------------------------------------------------------------------------------

struct Decoded {
    int32_t cp;       // the code point, or -1 for an ill-formed or cut-short sequence
    uint32_t length;  // bytes used; for -1, bytes to skip past the bad part (at least 1)
};

// Decodes the sequence at `bytes`, reading at most `available` (> 0) bytes. Never raises.
Decoded decode_utf8_char(const std::byte* bytes, uint32_t available);

// Decodes a sequence that must be well formed. Returns -1 when it needs more than `available`
// bytes (left unchanged: the rest may arrive later), else the code point with `available` set
// to the bytes used. An ill-formed sequence raises access invalid-utf8 with its bytes as a
// binary!: the lead and the continuation bytes right after it, at most 4. Allocates only then.
int32_t decode_utf8_checked(const std::byte* bytes, uint32_t& available);

// Lead bytes between start and end: the character count of well-formed text. Never reads at end.
uint32_t count_utf8_chars(const std::byte* start, const std::byte* end);
// The address after at most n characters from start, never past end.
const std::byte* skip_utf8_chars(const std::byte* start, const std::byte* end, uint32_t n);
// Bytes of the sequence a lead byte starts: 1 to 4, or 0 for a byte no sequence starts with.
uint32_t utf8_sequence_length(uint8_t lead);

// The following raise script invalid-char with the code point when it is above U+10FFFF.
// Surrogate code points are encoded as they are (three bytes), so no string content is lost.
uint32_t utf8_length(uint32_t cp);                  // 1 to 4
uint32_t encode_utf8(uint32_t cp, std::byte* out);  // bytes written, 1 to 4
// Writes the sequence only if it fits in `room` bytes; returns the bytes written (0 if not).
uint32_t encode_utf8_bounded(uint32_t cp, std::byte* out, uint32_t room);
// UTF-8 bytes for the units of the given width (1, 2 or 4) from `units` up to `end`.
uint64_t utf8_size(const std::byte* units, const std::byte* end, uint32_t unit);

// ---- Strings to UTF-8 and UTF-16LE --------------------------------------------------------------

// Converted text in a string's conversion buffer: valid until the next allocation.
struct Converted {
    std::byte* data;  // NUL-terminated (one byte for UTF-8, two for UTF-16LE)
    uint32_t size;    // bytes before the terminator
};

// The data area of the string value's conversion buffer (node in w3), made or grown to at least
// `size` bytes; its old contents are not kept. May collect, so `value` must not live inside a
// series buffer: pass a copy held on the stack and keep its w3.
std::byte* conversion_buffer(Cell& value, uint32_t size);

// The text writers below write a surrogate pair held as two characters as the one character it
// stands for, and any other surrogate as U+FFFD, so what they write is always valid UTF-8.
// The string value's characters from its head (at most `length`, clipped at the tail) as UTF-8
// in its conversion buffer; with crlf each line feed is written CR LF. Raises invalid-char for
// a code point above U+10FFFF before anything is written. May collect (see conversion_buffer).
Converted string_to_utf8(Cell& value, uint32_t length = kWhole, bool crlf = false);
// The same into a caller's buffer of `room` bytes: writes whole sequences only, stops at the first
// that does not fit, and adds a NUL (inside `room`) when asked. Returns the bytes before the NUL.
// With keep_surrogates every surrogate is encoded as it is, for a reader that refuses it (the
// lexer). Never allocates.
uint32_t string_to_utf8_into(const Cell& value, std::byte* out, uint32_t room, uint32_t length = kWhole,
                             bool nul = true, bool keep_surrogates = false);

// As string_to_utf8, as UTF-16LE: code points above U+FFFF become surrogate pairs.
Converted string_to_utf16(Cell& value, uint32_t length = kWhole, bool crlf = false);
// One code point as UTF-16LE: 2 bytes, or 4 for a surrogate pair. Raises invalid-char above
// U+10FFFF.
uint32_t encode_utf16(uint32_t cp, std::byte* out);

// ---- Loading into string series -----------------------------------------------------------------

// Bytes for a loader to read: memory outside the series heap, or a range of a byte series, which
// the loader re-derives from its node after each of its allocations (they may move it).
struct Input {
    const std::byte* bytes;  // memory outside any series; null when `node` is set
    NodeId node;             // or a series, read from `offset` bytes past its head
    uint32_t offset;
    uint32_t length;  // bytes to read
};
inline Input bytes_input(const void* bytes, uint32_t length) {
    return Input{static_cast<const std::byte*>(bytes), 0, 0, length};
}
inline Input series_input(NodeId node, uint32_t offset, uint32_t length) {
    return Input{nullptr, node, offset, length};
}

// Loads UTF-8 into a new string (target 0) or onto the tail of the target string, which must not
// be the input series. A leading byte order mark is skipped. Units are the narrowest that hold
// what was read, widened as wider code points arrive. With crlf, CR LF and a lone CR become LF.
// Without `consumed`, a sequence cut by the end of the input is an error like any ill-formed
// one; with it, loading stops before a cut sequence (or a final CR when crlf, whose LF may be
// in the next piece) and `consumed` tells the bytes used. An ill-formed sequence raises access
// invalid-utf8 (see decode_utf8_checked) and leaves the target's content as it was.
// Returns the string's node. May collect.
NodeId load_utf8(Input input, NodeId target = 0, bool crlf = false, uint32_t* consumed = nullptr);

// Loads UTF-16LE (an even number of bytes) as load_utf8 does; surrogate pairs combine into one
// code point; with crlf a CR before LF is dropped. An unpaired surrogate or an odd byte at the end
// raises script invalid-data with the offending bytes (a binary!) before anything is written.
// Returns the string's node. May collect.
NodeId load_utf16(Input input, NodeId target = 0, bool crlf = false);

// Widens every unit of a 1- or 2-byte string series in place to `unit` (2 or 4), keeping the
// head and tail positions in units, and leaves at least `extra` bytes free after the tail;
// a unit no wider than the present one changes nothing. Returns the (possibly new) buffer.
// May collect.
SeriesBuffer* widen(NodeId node, uint32_t unit, uint64_t extra = 0);

// ---- Case ---------------------------------------------------------------------------------------

// The simple upper- or lower-case mapping of a code point; itself when unmapped. O(1) in the BMP.
uint32_t change_char_case(uint32_t cp, bool upper);
// ASCII, the common case, maps without the tables.
inline uint32_t to_upper(uint32_t cp) {
    if (cp < 0x80) return cp - 'a' < 26u ? cp - 0x20 : cp;
    return change_char_case(cp, true);
}
inline uint32_t to_lower(uint32_t cp) {
    if (cp < 0x80) return cp - 'A' < 26u ? cp + 0x20 : cp;
    return change_char_case(cp, false);
}
// Upper case, unless that changes nothing; then lower case.
inline uint32_t toggle_case(uint32_t cp) {
    const uint32_t up = to_upper(cp);
    return up != cp ? up : to_lower(cp);
}

// Maps `count` characters of a string series from the 0-based unit index (clipped at the tail)
// in place, widening the buffer when a mapped code point needs a wider unit. May collect.
void change_case(NodeId node, uint32_t index, uint32_t count, bool upper);

// ---- Display width ------------------------------------------------------------------------------

// Terminal cells a code point takes: 0 for NUL and zero-width (combining, format) characters,
// 1 for the other controls and most characters, 2 for East Asian wide and fullwidth ones.
int char_width(uint32_t cp);
// The same for CJK contexts, where East Asian ambiguous-width characters take 2.
int char_width_cjk(uint32_t cp);

}  // namespace zub::unicode
