// binary!: conversion of values to bytes, the #{...} text form, byte-wise comparison and bitwise
// actions, and append, insert, change and trim by bytes. Navigation, pick, poke, copy and remove
// are series!'s; find, select and sort are string!'s, which compare bytes as stored.
#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {

namespace binary {

Cell make(uint32_t capacity) {
    return cell::series(TypeId::binary, memory::alloc_series(std::max(capacity, 1u), 1, 0));
}

Cell from_bytes(std::string_view bytes) {
    const Cell value = make(static_cast<uint32_t>(bytes.size()));
    SeriesBuffer* b = memory::buffer(cell::series_node(value));
    if (!bytes.empty()) std::memcpy(b->tail_ptr(), bytes.data(), bytes.size());
    b->tail += static_cast<uint32_t>(bytes.size());
    return value;
}

std::string_view bytes_of(const Cell& value) {
    SeriesBuffer* b = memory::buffer(cell::series_node(value));
    const uint32_t used = b->used();
    const uint32_t at = std::min(cell::series_index(value), used);
    return {reinterpret_cast<const char*>(b->head_ptr() + at), used - at};
}

}  // namespace binary

namespace {

// Sizes beyond this are refused as internal no-memory: heads are signed 32-bit.
constexpr uint64_t kMaxLength = std::numeric_limits<int32_t>::max();

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();

NodeId node_of(const Cell& value) { return cell::series_node(value); }

uint32_t length_of(NodeId node) { return memory::buffer(node)->used(); }

// The head clamped to the tail.
uint32_t head_of(const Cell& value) { return std::min(cell::series_index(value), length_of(node_of(value))); }

Cell at_index(Cell value, uint32_t index) {
    cell::set_series_index(value, index);
    return value;
}

// ---- Bytes of a value ---------------------------------------------------------------------------

bool is_block(TypeId t) { return t == TypeId::block || t == TypeId::paren || t == TypeId::hash; }

void put_utf8(std::string& out, uint32_t cp) {
    std::byte bytes[4];
    const uint32_t n = unicode::encode_utf8(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), n);
}

// UTF-8 of at most limit code points of a text from its head. Never allocates in the heap.
void put_text(std::string& out, const Cell& text, uint32_t limit) {
    const NodeId node = node_of(text);
    const SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = b->unit();
    const uint32_t length = b->used() / unit;
    const uint32_t head = std::min(cell::series_index(text), length);
    const uint32_t count = std::min(length - head, limit);
    const std::byte* data = memory::buffer(node)->head_ptr() + size_t{head} * unit;
    for (uint32_t i = 0; i < count; ++i) put_utf8(out, series::code_point_at(data, unit, i));
}

enum class Unsupported : uint8_t {
    refuse,  // script bad-to-arg
    form,    // change writes the formed text
};

// Appends the bytes of a value to `out`. limit counts bytes, or characters of a text, or
// elements of a block (nested blocks are taken whole). May collect only to form a value.
void gather(const Cell& value, std::string& out, uint32_t limit, Unsupported other) {
    const TypeId t = cell::type(value);
    switch (t) {
        case TypeId::char_:
            if (limit > 0) put_utf8(out, cell::as_char(value));
            return;
        case TypeId::integer: {
            const int32_t n = cell::as_integer(value);
            if (n < -128 || n > 255) error::fire(ErrorId::invalid_arg, value);
            if (limit > 0) out.push_back(static_cast<char>(n & 0xFF));
            return;
        }
        case TypeId::binary: {
            const std::string_view bytes = binary::bytes_of(value);
            out.append(bytes.substr(0, limit));
            return;
        }
        case TypeId::tuple: {
            uint8_t bytes[tuple::kMaxBytes];
            tuple::bytes(value, bytes);
            out.append(reinterpret_cast<const char*>(bytes), std::min(tuple::count(value), limit));
            return;
        }
        default: break;
    }
    if (string::is_text(t)) return put_text(out, value, limit);
    if (is_block(t)) {
        const NodeId node = node_of(value);
        // A block holding itself would be walked for ever.
        if (cycles::find(node)) error::fire(ErrorId::invalid_arg, value);
        cycles::Guard walking(node);
        // Forming an element may move the block: each cell is read afresh, by value.
        uint32_t budget = limit;
        for (uint32_t i = cell::series_index(value); i < memory::buffer(node)->used() / sizeof(Cell) && budget > 0;
             ++i, --budget)
            gather(memory::buffer(node)->cells()[i], out, kNoLimit, other);
        return;
    }
    if (other == Unsupported::refuse) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::binary), value);
    const Cell text = string::make(16);
    const stack::Rooted root(text);
    registry::actions(t).form(value, node_of(text), kNoLimit);
    put_text(out, text, limit);
}

uint32_t part_limit(int32_t part) { return part < 0 ? kNoLimit : static_cast<uint32_t>(part); }

// ---- Writing bytes into a binary ----------------------------------------------------------------

// Writes `bytes` dup times at the index, over `removed` bytes there; returns the bytes written.
// The total is checked before anything moves. May collect.
uint32_t splice(NodeId node, uint32_t at, uint32_t removed, std::string_view bytes, int32_t dup) {
    const uint64_t written = uint64_t{bytes.size()} * static_cast<uint64_t>(std::max(dup, 1));
    const uint32_t length = length_of(node);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    if (written > kMaxLength || length - removed + written > kMaxLength) error::fire(ErrorId::no_memory);
    if (written > removed) series::reserve_tail(node, static_cast<uint32_t>(written - removed));
    SeriesBuffer* b = memory::buffer(node);
    std::byte* p = b->head_ptr() + at;
    const uint32_t after = length - at - removed;
    std::memmove(p + written, p + removed, after);
    if (written < removed) b->tail -= removed - static_cast<uint32_t>(written);
    if (written) {
        std::memcpy(p, bytes.data(), bytes.size());
        series::repeat_bytes(p, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(std::max(dup, 1)));
    }
    return static_cast<uint32_t>(written);
}

Cell binary_append(Cell series, Cell value, const InsertOptions& options) {
    std::string bytes;
    gather(value, bytes, part_limit(options.part), Unsupported::refuse);
    const NodeId node = node_of(series);
    series_value::notify_owner(series, words::Word::append, length_of(node), 0);
    const uint32_t at = length_of(node);
    const uint32_t written = splice(node, at, 0, bytes, options.dup);
    series_value::notify_owner(series, words::Word::appended, at, written);
    return at_index(series, 0);
}

Cell binary_insert(Cell series, Cell value, const InsertOptions& options) {
    std::string bytes;
    gather(value, bytes, part_limit(options.part), Unsupported::refuse);
    const NodeId node = node_of(series);
    const uint32_t at = head_of(series);
    series_value::notify_owner(series, words::Word::insert, at, 0);
    // The owner's handler may have cut the series.
    const uint32_t where = std::min(at, length_of(node));
    const uint32_t written = splice(node, where, 0, bytes, options.dup);
    series_value::notify_owner(series, words::Word::inserted, where, written);
    return at_index(series, where + written);
}

// /part names the bytes replaced; without it the new bytes replace as many as they are.
Cell binary_change(Cell series, Cell value, const InsertOptions& options) {
    std::string bytes;
    gather(value, bytes, kNoLimit, Unsupported::form);
    const NodeId node = node_of(series);
    const uint32_t at = head_of(series);
    series_value::notify_owner(series, words::Word::change, at, 0);
    const uint32_t where = std::min(at, length_of(node));
    const uint64_t total = uint64_t{bytes.size()} * static_cast<uint64_t>(std::max(options.dup, 1));
    const uint64_t replaced = options.part >= 0 ? static_cast<uint64_t>(options.part) : total;
    const uint32_t removed = static_cast<uint32_t>(std::min<uint64_t>(replaced, length_of(node) - where));
    const uint32_t written = splice(node, where, removed, bytes, options.dup);
    series_value::notify_owner(series, words::Word::changed, where, written);
    return at_index(series, std::min(where + written, length_of(node)));
}

// ---- to -----------------------------------------------------------------------------------------

Cell big_endian(uint64_t value, uint32_t n) {
    char bytes[8];
    for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(value >> (8 * (n - 1 - i)) & 0xFF);
    return binary::from_bytes({bytes, n});
}

Cell binary_to(TypeId, Cell, Cell spec) {
    const TypeId t = cell::type(spec);
    switch (t) {
        case TypeId::integer: return big_endian(static_cast<uint32_t>(cell::as_integer(spec)), 4);
        case TypeId::float_:
        case TypeId::percent: return big_endian(std::bit_cast<uint64_t>(cell::as_float(spec)), 8);
        case TypeId::bitset: {
            const SeriesBuffer* b = memory::buffer(node_of(spec));
            return cell::series(TypeId::binary, series::copy_part(node_of(spec), 0, b->used()));
        }
        case TypeId::issue: {
            const std::string_view name = symbol::utf8(spec.w2);
            std::string bytes;
            const binary::Text text{reinterpret_cast<const std::byte*>(name.data()), 1,
                                    static_cast<uint32_t>(name.size())};
            if (!binary::decode(16, text, bytes)) error::fire(ErrorId::invalid_data, spec);
            return binary::from_bytes(bytes);
        }
        case TypeId::binary: {
            const uint32_t head = head_of(spec);
            return cell::series(TypeId::binary,
                                series::copy_part(node_of(spec), head, length_of(node_of(spec)) - head));
        }
        case TypeId::char_:
        case TypeId::tuple:
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: break;
        default:
            if (!string::is_text(t)) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::binary), spec);
    }
    std::string bytes;
    gather(spec, bytes, kNoLimit, Unsupported::refuse);
    return binary::from_bytes(bytes);
}

// ---- form and mold ------------------------------------------------------------------------------

constexpr uint32_t kBytesPerLine = 32;
constexpr uint32_t kOneLine = 30;  // more bytes than this begin on a line of their own

int32_t binary_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.only) limit = mold::emit(out, "#{", limit);
    const NodeId node = node_of(value);
    const uint32_t count = length_of(node) - head_of(value);
    const bool lines = count > kOneLine && !flags.flat;
    if (lines) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, flags.indent + 1, limit);
    }
    for (uint32_t done = 0; done < count;) {
        // Each byte spends two of the limit; writing stops as soon as it is spent.
        if (limit <= 0) return limit;
        const uint32_t allowed = static_cast<uint32_t>((int64_t{limit} + 1) / 2);
        const uint32_t n = std::min({kBytesPerLine - done % kBytesPerLine, count - done, allowed});
        char digits[2 * kBytesPerLine];
        // Emitting allocates and may move the value's buffer: the bytes are read afresh.
        const std::byte* data = memory::buffer(node)->head_ptr() + head_of(value) + done;
        for (uint32_t i = 0; i < n; ++i) string::byte_to_hex(static_cast<uint8_t>(data[i]), digits + 2 * i);
        limit = mold::emit(out, {digits, 2 * size_t{n}}, limit);
        done += n;
        if (done % kBytesPerLine == 0 && !flags.flat) {
            limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, flags.indent + 1, limit);
        }
    }
    if (lines && count % kBytesPerLine != 0) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, flags.indent, limit);
    }
    if (!flags.only) limit = mold::emit(out, "}", limit);
    return limit;
}

int32_t binary_form(Cell value, NodeId out, int32_t limit) { return binary_mold(value, out, MoldFlags{}, limit); }

// ---- compare ------------------------------------------------------------------------------------

int32_t binary_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::binary)) return kNotComparable;
    const bool same = node_of(a) == node_of(b) && head_of(a) == head_of(b);
    if (op == op_same) return same ? 0 : -1;
    const std::string_view x = binary::bytes_of(a), y = binary::bytes_of(b);
    const bool equality = op <= op_strict_equal || op == op_find;
    if (equality) {
        if (same) return 0;
        if (x.size() != y.size()) return 1;
    }
    const size_t n = std::min(x.size(), y.size());
    const int order = n ? std::memcmp(x.data(), y.data(), n) : 0;
    if (order) return order < 0 ? -1 : 1;
    return x.size() == y.size() ? 0 : x.size() < y.size() ? -1 : 1;
}

// ---- Bitwise ------------------------------------------------------------------------------------

enum class Bitwise : uint8_t { and_, or_, xor_ };

template <Bitwise op>
Cell binary_bitwise(Cell a, Cell b) {
    if (!cell::is(b, TypeId::binary)) error::fire(ErrorId::invalid_arg, b);
    const uint32_t m = static_cast<uint32_t>(binary::bytes_of(a).size());
    const uint32_t n = static_cast<uint32_t>(binary::bytes_of(b).size());
    Cell result = binary::make(std::max(m, n));
    SeriesBuffer* r = memory::buffer(node_of(result));
    r->tail += std::max(m, n);
    const std::string_view x = binary::bytes_of(a), y = binary::bytes_of(b);
    std::byte* out = r->head_ptr();
    const std::string_view& longer = m >= n ? x : y;
    for (uint32_t i = 0; i < std::max(m, n); ++i) {
        uint8_t v;
        if (i < std::min(m, n)) {
            const auto p = static_cast<uint8_t>(x[i]), q = static_cast<uint8_t>(y[i]);
            v = op == Bitwise::and_ ? p & q : op == Bitwise::or_ ? p | q : p ^ q;
        } else {
            v = op == Bitwise::and_ ? 0 : static_cast<uint8_t>(longer[i]);
        }
        out[i] = static_cast<std::byte>(v);
    }
    return result;
}

// In place, from the head: the argument itself comes back.
Cell binary_complement(Cell value) {
    SeriesBuffer* b = memory::buffer(node_of(value));
    for (std::byte* p = b->head_ptr() + head_of(value); p < b->tail_ptr(); ++p) *p = ~*p;
    return value;
}

// ---- trim ---------------------------------------------------------------------------------------

// Zero bytes: at both ends, at one with /head or /tail, all with /all; /with names the bytes.
Cell binary_trim(Cell series, const TrimOptions& options) {
    if (options.automatic || options.lines) error::fire(ErrorId::not_done);
    if (options.with) return string::trim(series, options);
    if (options.all) {
        TrimOptions zeros = options;
        const Cell zero = cell::integer(0);
        zeros.with = &zero;
        return string::trim(series, zeros);
    }
    const NodeId node = node_of(series);
    const uint32_t head = head_of(series);
    const std::string_view bytes = binary::bytes_of(series);
    const bool both = !options.head && !options.tail;
    size_t from = 0, to = bytes.size();
    if (both || options.head)
        while (from < to && bytes[from] == 0) ++from;
    if (both || options.tail)
        while (to > from && bytes[to - 1] == 0) --to;
    SeriesBuffer* b = memory::buffer(node);
    std::memmove(b->head_ptr() + head, b->head_ptr() + head + from, to - from);
    b->tail = b->head + head + static_cast<uint32_t>(to - from);
    series_value::notify_owner(series, words::Word::trimmed, head, static_cast<int64_t>(to - from));
    return series;
}

}  // namespace

extern const ActionTable binary_actions = {
    .to = binary_to,
    .form = binary_form,
    .mold = binary_mold,
    .compare = binary_compare,
    .and_ = binary_bitwise<Bitwise::and_>,
    .complement = binary_complement,
    .or_ = binary_bitwise<Bitwise::or_>,
    .xor_ = binary_bitwise<Bitwise::xor_>,
    .append = binary_append,
    .change = binary_change,
    .insert = binary_insert,
    .trim = binary_trim,
};

namespace {
// The bytes from the head.
uint32_t binary_hash(const Cell& c) {
    const std::string_view bytes = binary::bytes_of(c);
    return hash::murmur3(bytes.data(), static_cast<uint32_t>(bytes.size()));
}
}  // namespace

extern const type_traits::Traits binary_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::none},
    .hash = binary_hash,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .copies = true};

}  // namespace zub
