// Growable arrays over series buffers. Every path that may grow a buffer re-derives the buffer
// from its node afterwards: growth may collect, and a collection moves buffers.
#include "runtime/series.h"

#include <algorithm>
#include <cstring>

#include "runtime/hash.h"
#include "runtime/unicode.h"

namespace zub::series {

std::byte* reserve_tail(NodeId node, uint32_t n) {
    SeriesBuffer* b = memory::buffer(node);
    if (uint64_t{b->tail} + n > b->size) {
        const uint64_t size = b->size < n ? uint64_t{n} * 2 : uint64_t{b->size} * 2;
        b = memory::expand_series_copy(node, size);
    }
    std::byte* old_tail = b->tail_ptr();
    b->tail += n;
    return old_tail;
}

void append_byte(NodeId node, uint8_t byte) { *reserve_tail(node, 1) = static_cast<std::byte>(byte); }

std::byte* append_bytes(NodeId node, const void* bytes, uint32_t n) {
    std::byte* at = reserve_tail(node, n);
    if (n) std::memcpy(at, bytes, n);
    return at;
}

void append_int32(NodeId node, uint32_t value) { std::memcpy(reserve_tail(node, 4), &value, 4); }

uint32_t int32_at(NodeId node, uint32_t index) {
    uint32_t value;
    std::memcpy(&value, memory::buffer(node)->head_ptr() + 4 * (index - 1), 4);
    return value;
}

void set_int32_at(NodeId node, uint32_t index, uint32_t value) {
    std::memcpy(memory::buffer(node)->head_ptr() + 4 * (index - 1), &value, 4);
}

int64_t find_int32(NodeId node, uint32_t value) {
    SeriesBuffer* b = memory::buffer(node);
    const std::byte* p = b->head_ptr();
    for (uint32_t offset = 0; offset + 4 <= b->used(); offset += 4) {
        uint32_t v;
        std::memcpy(&v, p + offset, 4);
        if (v == value) return offset;
    }
    return -1;
}

int64_t remove_int32(NodeId node, uint32_t value) {
    const int64_t offset = find_int32(node, value);
    if (offset >= 0) remove_bytes(node, static_cast<uint32_t>(offset), 4);
    return offset;
}

void insert_unit(NodeId node, uint32_t value, uint32_t offset) {
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = b->unit();
    if (b->size - b->tail < 4) b = memory::expand_series_copy(node, std::max(uint64_t{b->size} * 2, uint64_t{16}));
    std::byte* at = b->head_ptr() + offset * unit;
    std::memmove(at + unit, at, static_cast<size_t>(b->tail_ptr() - at));
    store_unit(at, unit, value);
    b->tail += unit;
}

void remove_bytes(NodeId node, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = memory::buffer(node);
    std::byte* at = b->head_ptr() + offset;
    std::memmove(at, at + n, static_cast<size_t>(b->tail_ptr() - (at + n)));
    b->tail -= n;
}

Cell* alloc_tail_cell(NodeId node) {
    auto* c = reinterpret_cast<Cell*>(reserve_tail(node, sizeof(Cell)));
    *c = cell::unset();
    return c;
}

void append_cell(NodeId node, Cell value) { *alloc_tail_cell(node) = value; }

NodeId copy_part(NodeId source, uint32_t start, uint32_t count) {
    const uint32_t unit = memory::buffer(source)->unit();
    const NodeId copy = memory::alloc_series(count, unit, 0);
    SeriesBuffer* from = memory::buffer(source);  // re-derived: the allocation may collect
    SeriesBuffer* to = memory::buffer(copy);
    to->flags = (to->flags & series_flag::big) |
                (from->flags & ~(series_flag::owned | series_flag::big | series_flag::unmanaged | series_flag::marked));
    std::memcpy(to->data(), from->head_ptr() + start * unit, size_t{count} * unit);
    to->tail = count * unit;
    return copy;
}

std::byte* repeat_bytes(std::byte* start, uint32_t n, uint32_t count) {
    if (count == 0) return start;
    const uint64_t total = uint64_t{n} * count;
    uint64_t done = n;
    while (done * 2 <= total) {
        std::memcpy(start + done, start, done);
        done *= 2;
    }
    std::memcpy(start + done, start, total - done);
    return start + total;
}

void append_ascii(NodeId node, std::string_view text) {
    const uint32_t unit = memory::buffer(node)->unit();
    const auto n = static_cast<uint32_t>(text.size());
    std::byte* at = reserve_tail(node, n * unit);
    if (unit == 1) {
        if (n) std::memcpy(at, text.data(), n);
        return;
    }
    for (uint32_t i = 0; i < n; ++i) store_unit(at + i * unit, unit, static_cast<uint8_t>(text[i]));
}

namespace {

// The text hash reads the folded code points as a stream of bytes: one byte for a code point
// below FFh, else FFh and its three low bytes. Text of one-byte units is mostly that stream
// itself, hashed four bytes at a time; wider units give the same stream for the same text.
struct TextHash {
    uint32_t h = hash::g_seed;
    uint32_t word = 0;
    uint32_t fill = 0;  // bits of `word` taken
    uint32_t bytes = 0;

    void byte(uint32_t b) {
        word |= b << fill;
        fill += 8;
        ++bytes;
        if (fill < 32) return;
        h = hash::murmur3_mix(h, word);
        word = fill = 0;
    }
    void code_point(uint32_t cp) {
        if (cp < 0xFF) return byte(cp);
        byte(0xFF);
        byte(cp & 0xFF);
        byte((cp >> 8) & 0xFF);
        byte(cp >> 16);
    }
    uint32_t finish() {
        if (fill) {
            uint32_t k = word * 0xCC9E2D51;
            k = hash::rotl32(k, 15) * 0x1B873593;
            h ^= k;
        }
        return hash::murmur3_finish(h, bytes);
    }
};

// Four ASCII bytes with the lower-case letters made upper case.
inline uint32_t upper_ascii4(uint32_t w) {
    const uint32_t from_a = w + 0x1F1F1F1F;  // high bit set in each byte at or above 'a'
    const uint32_t past_z = w + 0x05050505;  // ... and in each byte above 'z'
    return w - (((from_a & ~past_z) & 0x80808080) >> 2);
}

}  // namespace

uint32_t hash_text(NodeId node, uint32_t index, uint32_t count, bool case_sensitive) {
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = b->unit();
    const uint32_t length = b->used() / unit;
    const uint32_t n = index >= length ? 0 : std::min(count, length - index);
    const std::byte* data = b->head_ptr();
    TextHash t;
    if (unit == 1) {  // most text: one byte a character, no unit to decode
        const auto* bytes = reinterpret_cast<const uint8_t*>(data) + index;
        uint32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            uint32_t w;
            std::memcpy(&w, bytes + i, 4);
            if (w & 0x80808080) break;  // from here the stream may differ from the text
            t.h = hash::murmur3_mix(t.h, case_sensitive ? w : upper_ascii4(w));
            t.bytes += 4;
        }
        if (i < n && n - i < 4) {  // the last one to three bytes, when ASCII, as one partial word
            uint32_t w = 0;
            for (uint32_t j = i; j < n; ++j) w |= uint32_t{bytes[j]} << 8 * (j - i);
            if (!(w & 0x80808080)) {
                t.word = case_sensitive ? w : upper_ascii4(w);
                t.fill = 8 * (n - i);
                t.bytes += n - i;
                i = n;
            }
        }
        for (; i < n; ++i) t.code_point(case_sensitive ? bytes[i] : unicode::to_upper(bytes[i]));
    } else {
        for (uint32_t i = index; i < index + n; ++i) {
            const uint32_t cp = code_point_at(data, unit, i);
            t.code_point(case_sensitive ? cp : unicode::to_upper(cp));
        }
    }
    return t.finish();
}

}  // namespace zub::series
