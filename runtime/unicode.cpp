// UTF-8 and UTF-16LE conversion, in-place widening, case mapping and display widths over the
// generated tables in unicode_tables.cpp. Loaders and converters allocate, so every pointer into
// a series (input bytes, the target string, the conversion buffer) is re-derived afterwards.
#include "runtime/unicode.h"

#include <algorithm>
#include <cstring>

#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/series.h"
#include "runtime/unicode_tables.h"

namespace zub::unicode {
namespace {

// Largest data area a series buffer can have; conversions that would exceed it are out of memory.
constexpr uint64_t kMaxConverted = 0xFFFFFF00u;

void check_unit(uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) lowrt::fatal(lowrt::Fatal::no_switch);
}

using series::load_unit;
using series::store_unit;

uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

[[noreturn]] void fire_invalid_char(uint32_t cp) {
    error::fire(ErrorId::invalid_char, cell::integer(static_cast<int32_t>(cp)));
}

// Raises the error with the bytes as a binary!. They are copied first: they may lie in a series
// that the allocation moves.
[[noreturn]] void fire_with_bytes(ErrorId id, const uint8_t* bytes, uint32_t n) {
    uint8_t copy[4];
    n = std::min<uint32_t>(n, sizeof copy);
    std::memcpy(copy, bytes, n);
    const NodeId node = memory::alloc_bytes(n);
    SeriesBuffer* b = memory::buffer(node);
    std::memcpy(b->data(), copy, n);
    b->tail = n;
    error::fire(id, cell::series(TypeId::binary, node));
}

// The bytes an invalid-utf8 error shows: the lead and the continuation bytes right after it.
[[noreturn]] void fire_invalid_utf8(const uint8_t* p, uint32_t available) {
    uint32_t n = 1;
    while (n < 4 && n < available && (p[n] & 0xC0) == 0x80) ++n;
    fire_with_bytes(ErrorId::invalid_utf8, p, n);
}

enum class Step { ok, cut, bad };

struct Scan {
    Step step;        // well formed, cut short by the end of the input, or ill formed
    uint32_t cp;      // the code point when well formed
    uint32_t length;  // ok: bytes of the sequence; cut: the bytes available; bad: bytes to skip
};

// One checked UTF-8 sequence. The second byte's range excludes overlong forms (lead E0, F0;
// C0 and C1 never lead), surrogates (ED) and code points above U+10FFFF (F4; F5 and up never
// lead), so every accepted sequence is the shortest form of a scalar value.
Scan scan_utf8(const uint8_t* p, uint32_t available) {
    const uint8_t lead = p[0];
    if (lead < 0x80) return {Step::ok, lead, 1};
    uint32_t need;
    uint32_t cp;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead < 0xC2) {
        return {Step::bad, 0, 1};
    } else if (lead < 0xE0) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead < 0xF0) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead < 0xF5) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {Step::bad, 0, 1};
    }
    for (uint32_t i = 1; i <= need; ++i) {
        if (i >= available) return {Step::cut, 0, available};
        const uint8_t c = p[i];
        if (c < low || c > high) return {Step::bad, 0, i};
        low = 0x80;
        high = 0xBF;
        cp = cp << 6 | (c & 0x3F);
    }
    return {Step::ok, cp, need + 1};
}

const uint8_t* input_data(const Input& in) {
    if (!in.node) return reinterpret_cast<const uint8_t*>(in.bytes);
    return reinterpret_cast<const uint8_t*>(memory::buffer(in.node)->head_ptr() + in.offset);
}

// Room for `bytes` more after the tail of a string series, keeping its contents.
SeriesBuffer* reserve_room(NodeId node, uint64_t bytes) {
    SeriesBuffer* b = memory::buffer(node);
    if (b->size - b->tail >= bytes) return b;
    return memory::expand_series_copy(node, uint64_t{b->used()} + bytes);
}

// Undoes a failed load onto a target string: its tail goes back to the old length in units.
// A widening that happened meanwhile stays; it changes no character.
void restore_length(NodeId node, uint32_t length) {
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head + length * b->unit();
}

// The characters of a string value from its head: first unit and count, clipped at the tail.
struct Span {
    uint32_t unit;   // bytes per unit: 1, 2 or 4
    uint32_t index;  // first character, in units from the series head
    uint32_t count;  // characters to convert
};

Span string_span(const Cell& value, uint32_t length) {
    const SeriesBuffer* b = memory::buffer(cell::series_node(value));
    const uint32_t unit = b->unit();
    check_unit(unit);
    const uint32_t total = b->used() / unit;
    const uint32_t index = cell::series_index(value);
    return Span{unit, index, index >= total ? 0 : std::min(length, total - index)};
}

const std::byte* span_data(const Cell& value, const Span& s) {
    return memory::buffer(cell::series_node(value))->head_ptr() + size_t{s.index} * s.unit;
}

uint32_t checked_size(uint64_t bytes) {
    if (bytes > kMaxConverted) error::fire(ErrorId::no_memory);
    return static_cast<uint32_t>(bytes);
}

// The code point the text writers write for the unit at i, moving i past what it used: a high
// surrogate and a low one after it make one character; any other surrogate is U+FFFD, so what
// the runtime writes is always UTF-8 it can read back.
uint32_t text_code_point(const std::byte* src, uint32_t unit, uint32_t count, uint32_t& i) {
    const uint32_t cp = load_unit(src + size_t{i} * unit, unit);
    ++i;
    if (cp < 0xD800 || cp > 0xDFFF) return cp;
    if (cp <= 0xDBFF && i < count) {
        const uint32_t low = load_unit(src + size_t{i} * unit, unit);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return 0xFFFD;
}

// Writes the units as UTF-8; the caller has checked every code point and made room (a surrogate
// pair takes less than its two halves would).
std::byte* write_utf8(const std::byte* src, uint32_t unit, uint32_t count, bool crlf, std::byte* out) {
    for (uint32_t i = 0; i < count;) {
        const uint32_t cp = text_code_point(src, unit, count, i);
        if (cp < 0x80) {
            if (cp == '\n' && crlf) *out++ = std::byte{'\r'};
            *out++ = static_cast<std::byte>(cp);
        } else {
            out += encode_utf8(cp, out);
        }
    }
    return out;
}

uint32_t utf16_unit_at(const uint8_t* p, uint32_t i) { return p[2 * i] | uint32_t{p[2 * i + 1]} << 8; }
bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

struct Utf16Shape {
    uint32_t unit;   // narrowest string unit that holds the text
    uint32_t count;  // code points to store
};

// Checks the whole UTF-16LE text before anything is stored, so a failure changes nothing.
Utf16Shape scan_utf16(const uint8_t* p, uint32_t length, bool crlf) {
    if (length % 2) fire_with_bytes(ErrorId::invalid_data, p + length - 1, 1);
    const uint32_t units = length / 2;
    Utf16Shape shape{1, 0};
    for (uint32_t i = 0; i < units; ++i) {
        const uint32_t u = utf16_unit_at(p, i);
        if (crlf && u == '\r' && i + 1 < units && utf16_unit_at(p, i + 1) == '\n') continue;
        if (is_high_surrogate(u)) {
            if (i + 1 >= units || !is_low_surrogate(utf16_unit_at(p, i + 1)))
                fire_with_bytes(ErrorId::invalid_data, p + 2 * i, 2);
            shape.unit = 4;
            ++i;
        } else if (is_low_surrogate(u)) {
            fire_with_bytes(ErrorId::invalid_data, p + 2 * i, 2);
        } else if (u > 0xFF && shape.unit < 2) {
            shape.unit = 2;
        }
        ++shape.count;
    }
    return shape;
}

bool in_ranges(uint32_t cp, const tables::Pair* ranges, uint32_t count) {
    if (count == 0 || cp < ranges[0].first || cp > ranges[count - 1].second) return false;
    // The last range that starts at or before cp is the only one that can hold it.
    const tables::Pair* after =
        std::upper_bound(ranges, ranges + count, cp, [](uint32_t c, const tables::Pair& r) { return c < r.first; });
    return cp <= (after - 1)->second;
}

uint32_t map_above_bmp(uint32_t cp, const tables::Pair* pairs, uint32_t count) {
    if (count == 0 || cp < pairs[0].first || cp > pairs[count - 1].first) return cp;
    const tables::Pair* at =
        std::lower_bound(pairs, pairs + count, cp, [](const tables::Pair& p, uint32_t c) { return p.first < c; });
    return at != pairs + count && at->first == cp ? at->second : cp;
}

}  // namespace

// ---- UTF-8 ------------------------------------------------------------------------------------

Decoded decode_utf8_char(const std::byte* bytes, uint32_t available) {
    if (available == 0) return Decoded{-1, 0};
    const Scan s = scan_utf8(reinterpret_cast<const uint8_t*>(bytes), available);
    if (s.step == Step::ok) return Decoded{static_cast<int32_t>(s.cp), s.length};
    return Decoded{-1, std::max<uint32_t>(s.length, 1)};
}

int32_t decode_utf8_checked(const std::byte* bytes, uint32_t& available) {
    if (available == 0) return -1;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    const Scan s = scan_utf8(p, available);
    switch (s.step) {
        case Step::ok: available = s.length; return static_cast<int32_t>(s.cp);
        case Step::cut: return -1;
        default: fire_invalid_utf8(p, available);
    }
}

uint32_t count_utf8_chars(const std::byte* start, const std::byte* end) {
    uint32_t n = 0;
    for (const std::byte* p = start; p < end; ++p)
        if ((static_cast<uint8_t>(*p) & 0xC0) != 0x80) ++n;
    return n;
}

const std::byte* skip_utf8_chars(const std::byte* start, const std::byte* end, uint32_t n) {
    const std::byte* p = start;
    for (; n > 0 && p < end; --n) {
        ++p;
        while (p < end && (static_cast<uint8_t>(*p) & 0xC0) == 0x80) ++p;
    }
    return p;
}

uint32_t utf8_sequence_length(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF5) return 4;
    return 0;
}

uint32_t utf8_length(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= kMaxCodePoint) return 4;
    fire_invalid_char(cp);
}

uint32_t encode_utf8(uint32_t cp, std::byte* out) {
    const uint32_t n = utf8_length(cp);
    switch (n) {
        case 1: out[0] = static_cast<std::byte>(cp); break;
        case 2:
            out[0] = static_cast<std::byte>(0xC0 | cp >> 6);
            out[1] = static_cast<std::byte>(0x80 | (cp & 0x3F));
            break;
        case 3:
            out[0] = static_cast<std::byte>(0xE0 | cp >> 12);
            out[1] = static_cast<std::byte>(0x80 | (cp >> 6 & 0x3F));
            out[2] = static_cast<std::byte>(0x80 | (cp & 0x3F));
            break;
        default:
            out[0] = static_cast<std::byte>(0xF0 | cp >> 18);
            out[1] = static_cast<std::byte>(0x80 | (cp >> 12 & 0x3F));
            out[2] = static_cast<std::byte>(0x80 | (cp >> 6 & 0x3F));
            out[3] = static_cast<std::byte>(0x80 | (cp & 0x3F));
            break;
    }
    return n;
}

uint32_t encode_utf8_bounded(uint32_t cp, std::byte* out, uint32_t room) {
    if (utf8_length(cp) > room) return 0;
    return encode_utf8(cp, out);
}

uint64_t utf8_size(const std::byte* units, const std::byte* end, uint32_t unit) {
    check_unit(unit);
    uint64_t size = 0;
    for (const std::byte* p = units; p + unit <= end; p += unit) size += utf8_length(load_unit(p, unit));
    return size;
}

// ---- Strings to UTF-8 and UTF-16LE ------------------------------------------------------------

std::byte* conversion_buffer(Cell& value, uint32_t size) {
    if (cell::series_extra(value) == 0) {
        const NodeId node = memory::alloc_bytes(size);
        cell::set_series_extra(value, node);
    } else if (memory::buffer(cell::series_extra(value))->size < size) {
        memory::buffer(cell::series_extra(value))->tail = 0;  // nothing worth copying
        memory::expand_series(cell::series_extra(value), size);
    }
    SeriesBuffer* b = memory::buffer(cell::series_extra(value));
    b->head = 0;
    b->tail = 0;
    return b->data();
}

Converted string_to_utf8(Cell& value, uint32_t length, bool crlf) {
    const Span s = string_span(value, length);
    uint64_t size = 0;
    {
        const std::byte* src = span_data(value, s);
        for (uint32_t i = 0; i < s.count; ++i) {
            const uint32_t cp = load_unit(src + size_t{i} * s.unit, s.unit);
            size += utf8_length(cp) + (crlf && cp == '\n');
        }
    }
    (void)checked_size(size);
    std::byte* out = conversion_buffer(value, checked_size(size + 1));
    std::byte* end = write_utf8(span_data(value, s), s.unit, s.count, crlf, out);  // re-derived
    *end = std::byte{0};
    const auto bytes = static_cast<uint32_t>(end - out);
    memory::buffer(cell::series_extra(value))->tail = bytes + 1;
    return Converted{out, bytes};
}

uint32_t string_to_utf8_into(const Cell& value, std::byte* out, uint32_t room, uint32_t length, bool nul,
                             bool keep_surrogates) {
    const Span s = string_span(value, length);
    if (nul) {
        if (room == 0) return 0;
        --room;
    }
    const std::byte* src = span_data(value, s);
    uint32_t written = 0;
    for (uint32_t i = 0; i < s.count;) {
        const uint32_t cp =
            keep_surrogates ? load_unit(src + size_t{i++} * s.unit, s.unit) : text_code_point(src, s.unit, s.count, i);
        const uint32_t n = encode_utf8_bounded(cp, out + written, room - written);
        if (n == 0) break;
        written += n;
    }
    if (nul) out[written] = std::byte{0};
    return written;
}

uint32_t encode_utf16(uint32_t cp, std::byte* out) {
    if (cp > kMaxCodePoint) fire_invalid_char(cp);
    if (cp < 0x10000) {
        out[0] = static_cast<std::byte>(cp);
        out[1] = static_cast<std::byte>(cp >> 8);
        return 2;
    }
    const uint32_t high = 0xD800 | (cp - 0x10000) >> 10;
    const uint32_t low = 0xDC00 | (cp & 0x3FF);
    out[0] = static_cast<std::byte>(high);
    out[1] = static_cast<std::byte>(high >> 8);
    out[2] = static_cast<std::byte>(low);
    out[3] = static_cast<std::byte>(low >> 8);
    return 4;
}

Converted string_to_utf16(Cell& value, uint32_t length, bool crlf) {
    const Span s = string_span(value, length);
    uint64_t size = 0;
    {
        const std::byte* src = span_data(value, s);
        for (uint32_t i = 0; i < s.count; ++i) {
            const uint32_t cp = load_unit(src + size_t{i} * s.unit, s.unit);
            if (cp > kMaxCodePoint) fire_invalid_char(cp);
            size += (cp >= 0x10000 || (crlf && cp == '\n')) ? 4 : 2;
        }
    }
    const uint32_t bytes = checked_size(size);
    std::byte* out = conversion_buffer(value, checked_size(size + 2));
    const std::byte* src = span_data(value, s);
    std::byte* at = out;
    for (uint32_t i = 0; i < s.count; ++i) {
        const uint32_t cp = load_unit(src + size_t{i} * s.unit, s.unit);
        if (crlf && cp == '\n') at += encode_utf16('\r', at);
        at += encode_utf16(cp, at);
    }
    at[0] = at[1] = std::byte{0};
    memory::buffer(cell::series_extra(value))->tail = bytes + 2;
    return Converted{out, bytes};
}

// ---- Loading into string series ---------------------------------------------------------------

SeriesBuffer* widen(NodeId node, uint32_t unit, uint64_t extra) {
    if (unit != 2 && unit != 4) lowrt::fatal(lowrt::Fatal::no_switch);
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t old = b->unit();
    check_unit(old);
    if (unit <= old) return b;
    uint32_t first = b->head / old;
    const uint32_t count = b->used() / old;
    if (uint64_t{first + count} * unit + extra > b->size) {
        b = memory::expand_series_copy(node, uint64_t{count} * unit + extra);
        first = 0;
    }
    // Back to front: each unit's new place is at or after its old one.
    std::byte* data = b->data();
    for (uint32_t i = first + count; i-- > first;)
        store_unit(data + size_t{i} * unit, unit, load_unit(data + size_t{i} * old, old));
    b->flags = (b->flags & ~series_flag::unit_mask) | unit;
    b->head = first * unit;
    b->tail = (first + count) * unit;
    return b;
}

NodeId load_utf8(Input input, NodeId target, bool crlf, uint32_t* consumed) {
    const uint32_t length = input.length;
    uint32_t pos = 0;
    {
        const uint8_t* p = input_data(input);
        if (length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) pos = 3;
    }
    // Each character takes at least one input byte, so room for the rest of the input in the
    // current unit lasts until the next widening, which makes room in the new unit.
    NodeId node = target;
    uint32_t old_length = 0;
    SeriesBuffer* b;
    if (node) {
        b = memory::buffer(node);
        check_unit(b->unit());
        old_length = b->used() / b->unit();
        b = reserve_room(node, uint64_t{length - pos} * b->unit());
    } else {
        node = memory::alloc_series(std::max<uint32_t>(length - pos, 1), 1, 0);
        b = memory::buffer(node);
    }
    uint32_t unit = b->unit();
    const uint8_t* p = input_data(input);  // re-derived: the allocations above may have moved it

    while (pos < length) {
        if (unit == 1) {
            // A run of plain ASCII (without CR when CR LF folds) goes over in one copy, eight bytes
            // tested at a time.
            uint32_t run = pos;
            for (uint64_t w; run + 8 <= length; run += 8) {
                std::memcpy(&w, p + run, 8);
                constexpr uint64_t kHigh = 0x8080808080808080u, kOnes = 0x0101010101010101u;
                const uint64_t cr = w ^ (kOnes * '\r');
                if ((w & kHigh) || (crlf && ((cr - kOnes) & ~cr & kHigh))) break;
            }
            while (run < length && p[run] < 0x80 && !(crlf && p[run] == '\r')) ++run;
            if (run > pos) {
                std::memcpy(b->tail_ptr(), p + pos, run - pos);
                b->tail += run - pos;
                pos = run;
                continue;
            }
        }
        uint32_t cp = p[pos];
        if (cp < 0x80) {
            ++pos;
            if (cp == '\r' && crlf) {
                if (pos < length) {
                    if (p[pos] == '\n') continue;  // the LF is stored next
                } else if (consumed) {
                    --pos;
                    break;
                }
                cp = '\n';
            }
        } else {
            const Scan s = scan_utf8(p + pos, length - pos);
            if (s.step != Step::ok) {
                if (s.step == Step::cut && consumed) break;
                if (target) restore_length(node, old_length);
                fire_invalid_utf8(p + pos, length - pos);
            }
            cp = s.cp;
            pos += s.length;
            if (unit_for(cp) > unit) {
                unit = unit_for(cp);
                b = widen(node, unit, (uint64_t{length} - pos + 1) * unit);
                p = input_data(input);
            }
        }
        store_unit(b->tail_ptr(), unit, cp);
        b->tail += unit;
    }
    if (consumed) *consumed = pos;
    return node;
}

NodeId load_utf16(Input input, NodeId target, bool crlf) {
    const Utf16Shape shape = scan_utf16(input_data(input), input.length, crlf);
    NodeId node = target;
    SeriesBuffer* b;
    if (node) {
        check_unit(memory::buffer(node)->unit());
        const uint32_t unit = std::max(memory::buffer(node)->unit(), shape.unit);
        widen(node, unit, uint64_t{shape.count} * unit);
        b = reserve_room(node, uint64_t{shape.count} * unit);
    } else {
        node = memory::alloc_series(std::max<uint32_t>(shape.count, 1), shape.unit, 0);
        b = memory::buffer(node);
    }
    const uint32_t unit = b->unit();
    const uint8_t* p = input_data(input);
    const uint32_t units = input.length / 2;
    std::byte* out = b->tail_ptr();
    for (uint32_t i = 0; i < units; ++i) {
        uint32_t cp = utf16_unit_at(p, i);
        if (crlf && cp == '\r' && i + 1 < units && utf16_unit_at(p, i + 1) == '\n') continue;
        if (is_high_surrogate(cp)) cp = (((cp & 0x3FF) << 10) | (utf16_unit_at(p, ++i) & 0x3FF)) + 0x10000;
        store_unit(out, unit, cp);
        out += unit;
    }
    b->tail += shape.count * unit;
    return node;
}

// ---- Case -------------------------------------------------------------------------------------

uint32_t change_char_case(uint32_t cp, bool upper) {
    if (cp <= 0xFFFF) {
        const uint8_t* index = upper ? tables::kUpperIndex : tables::kLowerIndex;
        const uint32_t block = index[cp >> tables::kCaseBlockShift];
        const uint16_t mapped =
            tables::kCaseBlocks[block * tables::kCaseBlockSize + (cp & (tables::kCaseBlockSize - 1))];
        return mapped ? mapped : cp;
    }
    return upper ? map_above_bmp(cp, tables::kUpperPairs, tables::kUpperPairsCount)
                 : map_above_bmp(cp, tables::kLowerPairs, tables::kLowerPairsCount);
}

void change_case(NodeId node, uint32_t index, uint32_t count, bool upper) {
    SeriesBuffer* b = memory::buffer(node);
    uint32_t unit = b->unit();
    check_unit(unit);
    const uint32_t total = b->used() / unit;
    if (index >= total) return;
    const uint32_t end = index + std::min(count, total - index);
    for (uint32_t i = index; i < end; ++i) {
        const uint32_t cp = load_unit(b->head_ptr() + size_t{i} * unit, unit);
        const uint32_t mapped = change_char_case(cp, upper);
        if (mapped == cp) continue;
        if (unit_for(mapped) > unit) {
            unit = unit_for(mapped);
            b = widen(node, unit);
        }
        store_unit(b->head_ptr() + size_t{i} * unit, unit, mapped);
    }
}

// ---- Display width ----------------------------------------------------------------------------

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_ranges(cp, tables::kZeroWidth, tables::kZeroWidthCount)) return 0;
    if (in_ranges(cp, tables::kWide, tables::kWideCount)) return 2;
    return 1;
}

int char_width_cjk(uint32_t cp) {
    if (in_ranges(cp, tables::kAmbiguous, tables::kAmbiguousCount)) return 2;
    return char_width(cp);
}

}  // namespace zub::unicode
