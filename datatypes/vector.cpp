// vector!: make and its type-word dialect, the text forms, comparison, append/insert/change of
// elements, find/select/sort over numbers, and element-wise arithmetic. Elements are read and
// written through one pair of routines; the series actions it shares with string! live in
// series.cpp. Every change computes what it writes before touching the buffer, so an error leaves
// the vector as it was.
#include "datatypes/vector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/word.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {

namespace {

constexpr uint64_t kMaxBytes = 0xFFFFFF00u;  // the largest data area a buffer may have

NodeId node_of(const Cell& v) { return cell::series_node(v); }
uint32_t width_of(const Cell& v) { return series_value::checked_unit(memory::buffer(node_of(v))); }
uint32_t length_of(const Cell& v) { return series_value::buffer_length(v); }
// The head clipped to the tail.
uint32_t head_of(const Cell& v) {
    return static_cast<uint32_t>(std::min<int64_t>(series_value::raw_head(v), length_of(v)));
}
std::byte* element_ptr(const Cell& v, uint32_t index) {
    return memory::buffer(node_of(v))->head_ptr() + size_t{index} * width_of(v);
}

bool float_elements(TypeId t) { return t == TypeId::float_ || t == TypeId::percent; }
bool element_type_ok(TypeId t) { return t == TypeId::char_ || t == TypeId::integer || float_elements(t); }
// The width a type's elements take when make is given none.
uint32_t default_width(TypeId t) { return float_elements(t) ? 8 : 4; }

uint32_t checked_bytes(uint64_t bytes) {
    if (bytes > kMaxBytes) error::fire(ErrorId::no_memory);
    return static_cast<uint32_t>(bytes);
}

// ---- Element storage ---------------------------------------------------------------------------

// 8- and 16-bit integers are signed; chars read unsigned, since a negative code point is no char.
int64_t read_int(const std::byte* at, uint32_t width, TypeId t) {
    switch (width) {
        case 1: return t == TypeId::char_ ? int64_t{std::to_integer<uint8_t>(*at)} : static_cast<int8_t>(*at);
        case 2: {
            uint16_t h;
            std::memcpy(&h, at, 2);
            return t == TypeId::char_ ? int64_t{h} : static_cast<int16_t>(h);
        }
        case 4: {
            int32_t v;
            std::memcpy(&v, at, 4);
            return t == TypeId::char_ ? int64_t{static_cast<uint32_t>(v)} : v;
        }
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

double read_float(const std::byte* at, uint32_t width) {
    if (width == 8) {
        double d;
        std::memcpy(&d, at, 8);
        return d;
    }
    if (width != 4) lowrt::fatal(lowrt::Fatal::no_switch);
    float f;
    std::memcpy(&f, at, 4);
    return f;
}

// The low bits of the value.
void write_int(std::byte* at, uint32_t width, int64_t value) {
    const auto bits = static_cast<uint32_t>(value);
    std::memcpy(at, &bits, width);
}

void write_float(std::byte* at, uint32_t width, double d) {
    if (width == 8) {
        std::memcpy(at, &d, 8);
    } else {
        const auto f = static_cast<float>(d);
        std::memcpy(at, &f, 4);
    }
}

// An element as a number, whatever its type: what search, sort and comparison read.
double read_number(const std::byte* at, uint32_t width, TypeId t) {
    return float_elements(t) ? read_float(at, width) : static_cast<double>(read_int(at, width, t));
}

// The bytes of one element of the type and width holding a value of that type.
void encode(std::byte* at, uint32_t width, TypeId t, const Cell& value) {
    if (float_elements(t)) {
        write_float(at, width, cell::as_float(value));
    } else {
        write_int(at, width, static_cast<int32_t>(value.w2));
    }
}

Cell element_cell(const std::byte* at, uint32_t width, TypeId t) {
    if (float_elements(t)) return cell::floating(read_float(at, width), t);
    const int64_t v = read_int(at, width, t);
    return t == TypeId::char_ ? cell::character(static_cast<uint32_t>(v)) : cell::integer(static_cast<int32_t>(v));
}

// The single-element rule: a value of another type than the elements' is refused.
void check_element(TypeId t, const Cell& value) {
    if (cell::type(value) != t) error::fire(ErrorId::invalid_arg, value);
}

// ---- make ----------------------------------------------------------------------------------------

// Appends the values of a block (from index `from`) by the single-element rule; all are checked
// before the first goes in.
void append_values(Cell& v, Cell block) {
    const NodeId b = node_of(block);
    const uint32_t n = series::length(b);
    const uint32_t from = std::min<uint32_t>(series_value::raw_head(block), n);
    const TypeId t = vector::element_type(v);
    for (uint32_t i = from; i < n; ++i) check_element(t, memory::buffer(b)->cells()[i]);
    const uint32_t w = width_of(v);
    if (n == from) return;
    std::byte* at = series::reserve_tail(node_of(v), checked_bytes(uint64_t{n - from} * w));
    for (uint32_t i = from; i < n; ++i) encode(at + size_t{i - from} * w, w, t, memory::buffer(b)->cells()[i]);
}

// Zero elements up to count.
void fill_zeros(const Cell& v, uint32_t count) {
    const uint32_t length = length_of(v);
    if (count <= length) return;
    const uint32_t w = width_of(v);
    std::byte* at = series::reserve_tail(node_of(v), checked_bytes(uint64_t{count - length} * w));
    std::memset(at, 0, size_t{count - length} * w);
}

uint32_t block_count(const Cell& block) {
    const uint32_t n = series::length(node_of(block));
    return n - std::min<uint32_t>(series_value::raw_head(block), n);
}
Cell block_at(const Cell& block, uint32_t i) {
    return memory::buffer(node_of(block))->cells()[series_value::raw_head(block) + i];
}

// The element type a dialect word names, or none.
TypeId dialect_type(const Cell& value) {
    if (cell::is(value, TypeId::datatype)) {
        const auto t = static_cast<TypeId>(value.w1);
        return element_type_ok(t) ? t : TypeId{0};
    }
    if (!cell::is(value, TypeId::word)) return TypeId{0};
    const std::string_view name = symbol::utf8(word::symbol_of(value));
    constexpr TypeId kTypes[] = {TypeId::integer, TypeId::char_, TypeId::float_, TypeId::percent};
    constexpr std::string_view kNames[] = {"integer!", "char!", "float!", "percent!"};
    for (size_t i = 0; i < std::size(kTypes); ++i)
        if (symbol::compare_utf8(name, kNames[i], false) == 0) return kTypes[i];
    return TypeId{0};
}

// [type size count values], with size, count or values left out as the dialect allows.
Cell make_from_dialect(Cell spec) {
    const uint32_t n = block_count(spec);
    const TypeId t = dialect_type(block_at(spec, 0));
    if (t == TypeId{0} || n < 2) error::fire(ErrorId::bad_make_arg, cell::datatype_of(TypeId::vector), spec);
    uint32_t i = 1;
    uint32_t width = 8;
    const Cell size = block_at(spec, i);
    if (cell::is(size, TypeId::integer)) {
        const int32_t bits = cell::as_integer(size);
        if (t == TypeId::percent) {
            width = 8;
        } else if (float_elements(t) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32) {
            width = static_cast<uint32_t>(bits) / 8;
        } else {
            error::fire(ErrorId::bad_make_arg, cell::datatype_of(TypeId::vector), spec);
        }
        ++i;
    } else if (t != TypeId::percent) {
        error::fire(ErrorId::invalid_spec_field, spec);
    }
    int64_t count = 0;
    bool has_values = false;
    Cell values = cell::none();
    if (i < n && cell::is(block_at(spec, i), TypeId::integer)) {
        count = std::max(0, cell::as_integer(block_at(spec, i)));
        ++i;
    } else if (i >= n || !cell::is(block_at(spec, i), TypeId::block)) {
        error::fire(ErrorId::invalid_spec_field, spec);
    }
    if (i < n && cell::is(block_at(spec, i), TypeId::block)) {
        values = block_at(spec, i);
        has_values = true;
        ++i;
    }
    // A value after the parts would be dropped without a word.
    if (i < n) error::fire(ErrorId::invalid_spec_field, spec);
    const uint32_t given = has_values ? block_count(values) : 0;
    checked_bytes(static_cast<uint64_t>(std::max<int64_t>(count, given)) * width);
    stack::Rooted result(vector::make_at(static_cast<uint32_t>(std::max<int64_t>(count, given)), t, width));
    if (has_values) append_values(result.cell(), values);
    fill_zeros(result.cell(), static_cast<uint32_t>(count));
    return result.cell();
}

Cell vector_make(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_: {
            const double n = cell::is(spec, TypeId::integer) ? cell::as_integer(spec) : cell::as_float(spec);
            const uint32_t count = n >= 1 ? (n > 1e10 ? UINT32_MAX : static_cast<uint32_t>(n)) : 0;
            checked_bytes(uint64_t{count} * 4);
            const Cell v = vector::make_at(count, TypeId::integer, 4);
            fill_zeros(v, count);
            return v;
        }
        case TypeId::block: {
            const uint32_t n = block_count(spec);
            if (n == 0) return vector::make_at(0, TypeId::integer, 4);
            const Cell first = block_at(spec, 0);
            if (cell::is(first, TypeId::word) || cell::is(first, TypeId::datatype)) return make_from_dialect(spec);
            const TypeId t = cell::type(first);
            if (!element_type_ok(t)) error::fire(ErrorId::invalid_type, cell::datatype_of(t));
            checked_bytes(uint64_t{n} * default_width(t));
            stack::Rooted result(vector::make_at(n, t, default_width(t)));
            append_values(result.cell(), spec);
            return result.cell();
        }
        default: error::fire(ErrorId::not_done);
    }
}

// ---- form and mold -------------------------------------------------------------------------------

// One element's text: 32-bit floats with the single-precision digits, the rest as their values.
int32_t emit_element(const Cell& v, uint32_t index, NodeId out, const MoldFlags* flags, int32_t limit) {
    const uint32_t w = width_of(v);
    const TypeId t = vector::element_type(v);
    const std::byte* at = element_ptr(v, index);
    if (t == TypeId::float_ && w == 4)
        return mold::emit(out, float_::form(read_float(at, 4), float_::FormKind::float32).view(), limit);
    const Cell e = element_cell(at, w, t);
    const ActionTable& row = registry::actions(t);
    return flags ? row.mold(e, out, *flags, limit) : row.form(e, out, limit);
}

int32_t emit_elements(const Cell& v, NodeId out, const MoldFlags* flags, int32_t limit) {
    const uint32_t length = length_of(v);
    for (uint32_t i = head_of(v); i < length && limit > 0; ++i) {
        if (i > head_of(v)) limit = mold::emit(out, " ", limit);
        limit = emit_element(v, i, out, flags, limit);
    }
    return limit;
}

int32_t vector_form(Cell value, NodeId out, int32_t limit) { return emit_elements(value, out, nullptr, limit); }

// "make vector! [1 2 3]" for elements of the default width, else the dialect with the type and
// width. /only leaves out the outer "make vector! [" and its closing "]".
int32_t vector_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    const TypeId t = vector::element_type(value);
    const uint32_t w = width_of(value);
    const MoldFlags element_flags{false, flags.all, true, 0};
    if (!flags.only) limit = mold::emit(out, "make vector! [", limit);
    const bool plain = head_of(value) < length_of(value) && w == default_width(t);
    if (!plain) {
        limit = mold::emit(out, registry::name(t), limit);
        const integer::Text bits = integer::form_signed(static_cast<int32_t>(w * 8));
        limit = mold::emit(out, " ", limit);
        limit = mold::emit(out, bits.view(), limit);
        limit = mold::emit(out, " [", limit);
    }
    limit = emit_elements(value, out, &element_flags, limit);
    if (!plain) limit = mold::emit(out, "]", limit);
    if (!flags.only) limit = mold::emit(out, "]", limit);
    return limit;
}

// ---- compare -------------------------------------------------------------------------------------

int32_t vector_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::vector)) return kNotComparable;
    const TypeId t = vector::element_type(a);
    if (vector::element_type(b) != t) error::fire(ErrorId::not_same_type);
    if (op == op_same)
        return node_of(a) == node_of(b) && series_value::raw_head(a) == series_value::raw_head(b) ? 0 : -1;
    const uint32_t ha = head_of(a), hb = head_of(b);
    const uint32_t la = length_of(a) - ha, lb = length_of(b) - hb;
    if (equality_op(op) && la != lb) return 1;
    const uint32_t wa = width_of(a), wb = width_of(b);
    for (uint32_t i = 0; i < std::min(la, lb); ++i) {
        const double x = read_number(element_ptr(a, ha + i), wa, t);
        const double y = read_number(element_ptr(b, hb + i), wb, t);
        if (x < y) return -1;
        if (x > y) return 1;
        if (x != y) return 1;  // NaN equals nothing
    }
    return (la > lb) - (la < lb);
}

// ---- arithmetic ----------------------------------------------------------------------------------

// Integer element arithmetic: add, subtract and multiply wrap in 32 bits; divide and remainder
// raise integer!'s errors; the bitwise operations work on the bits.
int64_t int_op(int64_t x, int64_t y, MathOp op) {
    const auto a = static_cast<int32_t>(x), b = static_cast<int32_t>(y);
    switch (op) {
        case math_add: return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
        case math_subtract: return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
        case math_multiply: return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
        case math_divide:
        case math_remainder:
            if (b == 0) error::fire(ErrorId::zero_divide);
            if (a == INT32_MIN && b == -1) error::fire(ErrorId::overflow);
            return op == math_divide ? a / b : a % b;
        case math_or: return a | b;
        case math_and: return a & b;
        case math_xor: return a ^ b;
    }
    lowrt::fatal(lowrt::Fatal::no_switch);
}

// A new vector of the shorter length and the wider width, element by element.
Cell vector_with_vector(Cell a, Cell b, MathOp op) {
    const TypeId t = vector::element_type(a);
    if (vector::element_type(b) != t) error::fire(ErrorId::not_same_type);
    const uint32_t ha = head_of(a), hb = head_of(b);
    const uint32_t n = std::min(length_of(a) - ha, length_of(b) - hb);
    const uint32_t wa = width_of(a), wb = width_of(b), w = std::max(wa, wb);
    std::vector<std::byte> out(size_t{n} * w);
    for (uint32_t i = 0; i < n; ++i) {
        const std::byte* x = element_ptr(a, ha + i);
        const std::byte* y = element_ptr(b, hb + i);
        if (float_elements(t)) {
            write_float(&out[size_t{i} * w], w, float_::math_op(read_float(x, wa), read_float(y, wb), op));
        } else {
            write_int(&out[size_t{i} * w], w, int_op(read_int(x, wa, t), read_int(y, wb, t), op));
        }
    }
    const Cell result = vector::make_at(n, t, w);
    if (n) std::memcpy(series::reserve_tail(node_of(result), checked_bytes(out.size())), out.data(), out.size());
    return result;
}

struct Span {
    uint32_t head;   // first element
    uint32_t count;  // elements from there to the tail
};
// Tells the owner that the elements from the head are about to change, then measures them again:
// its handler may have changed the vector.
Span tell_change(const Cell& v) {
    series_value::notify_owner(v, words::Word::change, head_of(v), length_of(v) - head_of(v));
    return {head_of(v), length_of(v) - head_of(v)};
}

// The vector changed in place by the scalar, element by element from its head (the scalar on the
// left when it came first). All results are computed before the first is stored.
Cell vector_with_scalar(Cell v, Cell scalar, MathOp op, bool scalar_first) {
    const TypeId t = vector::element_type(v);
    const TypeId st = cell::type(scalar);
    const uint32_t w = width_of(v);
    if (float_elements(t)) {
        if (st != TypeId::integer && st != TypeId::float_ && st != TypeId::percent) error::fire(ErrorId::not_done);
        const double s = st == TypeId::integer ? cell::as_integer(scalar) : cell::as_float(scalar);
        if (!scalar_first && (((op == math_add || op == math_subtract) && s == 0) ||
                              ((op == math_multiply || op == math_divide) && s == 1)))
            return v;
        const Span span = tell_change(v);
        std::vector<double> results(span.count);
        for (uint32_t i = 0; i < span.count; ++i) {
            const double e = read_float(element_ptr(v, span.head + i), w);
            results[i] = scalar_first ? float_::math_op(s, e, op) : float_::math_op(e, s, op);
        }
        for (uint32_t i = 0; i < span.count; ++i) write_float(element_ptr(v, span.head + i), w, results[i]);
        series_value::notify_owner(v, words::Word::changed, span.head, span.count);
        return v;
    }
    int64_t s;
    if (st == TypeId::integer) {
        s = cell::as_integer(scalar);
    } else if (st == TypeId::float_) {
        const double d = std::trunc(cell::as_float(scalar));
        // A float that no 32-bit integer holds (NaN and the infinities among them) has no truncation.
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) error::fire(ErrorId::overflow);
        s = static_cast<int64_t>(d);
    } else {
        error::fire(ErrorId::not_done);
    }
    if (!scalar_first &&
        (((op == math_add || op == math_subtract) && s == 0) || ((op == math_multiply || op == math_divide) && s == 1)))
        return v;
    const Span span = tell_change(v);
    std::vector<int64_t> results(span.count);
    for (uint32_t i = 0; i < span.count; ++i) {
        const int64_t e = read_int(element_ptr(v, span.head + i), w, t);
        results[i] = scalar_first ? int_op(s, e, op) : int_op(e, s, op);
    }
    for (uint32_t i = 0; i < span.count; ++i) write_int(element_ptr(v, span.head + i), w, results[i]);
    series_value::notify_owner(v, words::Word::changed, span.head, span.count);
    return v;
}

template <MathOp op>
Cell vector_math(Cell a, Cell b) {
    const bool va = cell::is(a, TypeId::vector), vb = cell::is(b, TypeId::vector);
    if (va && vb) return vector_with_vector(a, b, op);
    return va ? vector_with_scalar(a, b, op, false) : vector_with_scalar(b, a, op, true);
}

// ---- append, insert, change ----------------------------------------------------------------------

// The encoded elements a value gives: a block's (or paren's, hash's; for change also a vector's or
// a path's) values from its head, else the value itself, each checked by the single-element rule.
std::vector<std::byte> encode_source(const Cell& v, Cell value, int32_t part, bool change) {
    const TypeId t = vector::element_type(v);
    const uint32_t w = width_of(v);
    const TypeId vt = cell::type(value);
    std::vector<std::byte> bytes;
    auto limit = [&](uint32_t n) { return part < 0 ? n : std::min(n, static_cast<uint32_t>(part)); };
    if (vt == TypeId::vector && change) {
        if (vector::element_type(value) != t) error::fire(ErrorId::invalid_arg, value);
        const uint32_t head = head_of(value), n = limit(length_of(value) - head), vw = width_of(value);
        bytes.resize(size_t{n} * w);
        for (uint32_t i = 0; i < n; ++i) {
            const std::byte* at = element_ptr(value, head + i);
            if (float_elements(t)) {
                write_float(&bytes[size_t{i} * w], w, read_float(at, vw));
            } else {
                write_int(&bytes[size_t{i} * w], w, read_int(at, vw, t));
            }
        }
        return bytes;
    }
    const bool many =
        vt == TypeId::block || vt == TypeId::paren || vt == TypeId::hash ||
        (change && (vt == TypeId::path || vt == TypeId::lit_path || vt == TypeId::set_path || vt == TypeId::get_path));
    if (!many) {
        check_element(t, value);
        if (part == 0) return bytes;
        bytes.resize(w);
        encode(bytes.data(), w, t, value);
        return bytes;
    }
    const uint32_t n = limit(block_count(value));
    for (uint32_t i = 0; i < n; ++i) check_element(t, block_at(value, i));
    bytes.resize(size_t{n} * w);
    for (uint32_t i = 0; i < n; ++i) encode(&bytes[size_t{i} * w], w, t, block_at(value, i));
    return bytes;
}

// Replaces `removed` elements at the index with the bytes repeated dup times; returns the elements
// written. May collect.
uint32_t splice(const Cell& v, uint32_t at, uint32_t removed, const std::vector<std::byte>& bytes, int32_t dup) {
    const NodeId node = node_of(v);
    const uint32_t w = width_of(v);
    const uint64_t total = uint64_t{bytes.size()} * static_cast<uint64_t>(std::max(dup, 1));
    const uint32_t length = length_of(v);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    checked_bytes(uint64_t{length - removed} * w + total);
    const auto written = static_cast<uint32_t>(total / w);
    if (written > removed) {
        series::reserve_tail(node, static_cast<uint32_t>(size_t{written - removed} * w));
    }
    std::byte* base = memory::buffer(node)->head_ptr();
    const size_t rest = size_t{length - at - removed} * w;
    std::memmove(base + size_t{at + written} * w, base + size_t{at + removed} * w, rest);
    if (written < removed) series::set_tail(node, length - removed + written + 1);
    for (uint64_t off = 0; off < total; off += bytes.size())
        std::memcpy(base + size_t{at} * w + off, bytes.data(), bytes.size());
    return written;
}

Cell with_head(Cell v, uint32_t index) {
    cell::set_series_index(v, index);
    return v;
}

Cell vector_append(Cell series, Cell value, const InsertOptions& options) {
    const std::vector<std::byte> bytes = encode_source(series, value, options.part, false);
    const uint32_t at = length_of(series);
    series_value::notify_owner(series, words::Word::append, at, 0);
    const uint32_t written = splice(series, length_of(series), 0, bytes, options.dup);
    series_value::notify_owner(series, words::Word::appended, at, written);
    return series;
}

Cell vector_insert(Cell series, Cell value, const InsertOptions& options) {
    const std::vector<std::byte> bytes = encode_source(series, value, options.part, false);
    const uint32_t at = head_of(series);
    series_value::notify_owner(series, words::Word::insert, at, 0);
    // The owner's handler may have cut the series.
    const uint32_t where = std::min(at, length_of(series));
    const uint32_t written = splice(series, where, 0, bytes, options.dup);
    series_value::notify_owner(series, words::Word::inserted, where, written);
    return with_head(series, where + written);
}

// Overwrites from the head; /part names how many elements the new ones replace.
Cell vector_change(Cell series, Cell value, const InsertOptions& options) {
    const std::vector<std::byte> bytes = encode_source(series, value, -1, true);
    const uint32_t at = head_of(series);
    series_value::notify_owner(series, words::Word::change, at, 0);
    const uint32_t where = std::min(at, length_of(series));
    const uint32_t w = width_of(series);
    const auto count = static_cast<uint32_t>(bytes.size() / w * static_cast<uint64_t>(std::max(options.dup, 1)));
    const uint32_t removed = options.part >= 0 ? static_cast<uint32_t>(options.part) : count;
    const uint32_t written = splice(series, where, removed, bytes, options.dup);
    series_value::notify_owner(series, words::Word::changed, where, written);
    return with_head(series, where + written);
}

// ---- find, select, path access -------------------------------------------------------------------

bool is_number(TypeId t) { return element_type_ok(t); }

double number_of(const Cell& value) {
    return cell::is(value, TypeId::float_) || cell::is(value, TypeId::percent)
               ? cell::as_float(value)
               : static_cast<double>(cell::is(value, TypeId::char_) ? value.w2 : cell::as_integer(value));
}

// The index of the element equal (as a number) to the value, or -1.
int64_t find_index(const Cell& v, const Cell& value, const FindOptions& options) {
    if (!is_number(cell::type(value))) return -1;
    const double target = number_of(value);
    const TypeId t = vector::element_type(v);
    const uint32_t w = width_of(v), length = length_of(v);
    const int64_t head = head_of(v);
    int64_t end = length;
    if (options.part) end = std::clamp<int64_t>(head + part_skip::length(v, *options.part), head, length);
    const int64_t step = part_skip::step(options.skip);
    auto match = [&](int64_t i) { return read_number(element_ptr(v, static_cast<uint32_t>(i)), w, t) == target; };
    if (options.match) return head < end && match(head) ? head : -1;
    if (options.reverse) {
        for (int64_t i = head - 1; i >= 0; i -= step)
            if (match(i)) return i;
        return -1;
    }
    if (options.last) {
        const int64_t records = (end - head + step - 1) / step;
        for (int64_t i = head + (records - 1) * step; i >= head; i -= step)
            if (match(i)) return i;
        return -1;
    }
    for (int64_t i = head; i < end; i += step)
        if (match(i)) return i;
    return -1;
}

Cell vector_find(Cell series, Cell value, const FindOptions& options) {
    const int64_t i = find_index(series, value, options);
    if (i < 0) return cell::none();
    return with_head(series, static_cast<uint32_t>(i + (options.tail || options.match ? 1 : 0)));
}

Cell vector_select(Cell series, Cell value, const FindOptions& options) {
    FindOptions plain = options;
    plain.tail = plain.match = false;
    const int64_t i = find_index(series, value, plain);
    if (i < 0 || i + 1 >= length_of(series)) return cell::none();
    return element_cell(element_ptr(series, static_cast<uint32_t>(i + 1)), width_of(series),
                        vector::element_type(series));
}

// An integer element picks or pokes; a number reads the element after it; anything else is no path.
Cell vector_eval_path(Cell parent, Cell element, const PathStep& step) {
    const ActionTable& row = registry::actions(TypeId::vector);
    if (cell::is(element, TypeId::integer)) {
        const int32_t index = cell::as_integer(element);
        if (step.set_value) return row.poke(parent, index, element, *step.set_value);
        return row.pick(parent, index, element);
    }
    if (!is_number(cell::type(element))) error::fire(ErrorId::invalid_path, step.path, element);
    const FindOptions none{};
    if (!step.set_value) return vector_select(parent, element, none);
    const Cell found = vector_find(parent, element, none);
    if (cell::is(found, TypeId::none)) error::fire(ErrorId::bad_path_set, step.path, element);
    return row.poke(found, 2, cell::integer(2), *step.set_value);
}

// ---- sort ----------------------------------------------------------------------------------------

// Numbers in order, NaN after every number.
int order(double x, double y) {
    const bool nx = std::isnan(x), ny = std::isnan(y);
    if (nx || ny) return nx - ny;
    return (x > y) - (x < y);
}

// Records of /skip elements, compared by one element (/compare n) or all of them (/all).
// A /compare function is not taken: elements carry no values for it to receive.
Cell vector_sort(Cell series, const SortOptions& options) {
    const uint32_t length = length_of(series);
    uint32_t head = head_of(series);
    const uint32_t from = head;
    const int64_t count = part_skip::part_range(series, options.part, length, head);
    if (head != from) series = with_head(series, head);  // a part reaching back
    if (count == 0) return series;
    int64_t n = 1;
    if (options.skip) {
        n = part_skip::records(*options.skip, count);
    } else if (options.all) {
        error::fire(ErrorId::bad_refines);
    }
    int64_t key = 0;
    if (options.compare) {
        const Cell& compare = *options.compare;
        if (!cell::is(compare, TypeId::integer)) error::fire(ErrorId::not_done);
        if (!options.skip || options.all) error::fire(ErrorId::bad_refines);
        key = cell::as_integer(compare) - 1;
        if (key < 0 || key >= n) error::fire(ErrorId::out_of_range, compare);
    }
    series_value::notify_owner(series, words::Word::sort, head, 0);
    const uint32_t now = length_of(series);
    if (head < now) {
        const TypeId t = vector::element_type(series);
        const uint32_t w = width_of(series);
        const auto records = static_cast<size_t>(std::min<int64_t>(count, now - head) / n);
        const size_t record_bytes = static_cast<size_t>(n) * w;
        const std::byte* base = element_ptr(series, head);
        auto number = [&](size_t r, int64_t k) { return read_number(base + r * record_bytes + k * w, w, t); };
        std::vector<size_t> index(records);
        std::iota(index.begin(), index.end(), size_t{0});
        auto less = [&](size_t a, size_t b) {
            int c = 0;
            if (options.all) {
                for (int64_t k = 0; k < n && c == 0; ++k) c = order(number(a, k), number(b, k));
            } else {
                c = order(number(a, key), number(b, key));
            }
            return options.reverse ? c > 0 : c < 0;
        };
        std::stable_sort(index.begin(), index.end(), less);
        std::vector<std::byte> sorted(records * record_bytes);
        for (size_t r = 0; r < records; ++r)
            std::memcpy(&sorted[r * record_bytes], base + index[r] * record_bytes, record_bytes);
        if (!sorted.empty()) std::memcpy(element_ptr(series, head), sorted.data(), sorted.size());
    }
    series_value::notify_owner(series, words::Word::sorted, head, 0);
    return series;
}

// ---- hashing -------------------------------------------------------------------------------------

// The length and the leading elements as numbers, so that equal vectors of different widths or
// heads meet in one probe sequence. Never allocates.
uint32_t vector_hash(const Cell& c) {
    const TypeId t = vector::element_type(c);
    const uint32_t w = width_of(c), head = head_of(c), n = length_of(c) - head;
    uint64_t h = n;
    for (uint32_t i = 0; i < std::min<uint32_t>(n, 32); ++i) {
        double d = read_number(element_ptr(c, head + i), w, t);
        if (d == 0) d = 0;  // -0.0 equals 0.0
        h = (h ^ std::bit_cast<uint64_t>(d)) * 0x100000001B3u;
    }
    return hash::murmur3(&h, sizeof h);
}

}  // namespace

namespace vector {

Cell make_at(uint32_t count, TypeId element, uint32_t width) {
    checked_bytes(uint64_t{count} * width);
    const NodeId node = series::alloc_with_unit(std::max<uint32_t>(count, 1), width);
    return cell::make(TypeId::vector, 0, node, static_cast<uint32_t>(element));
}

Cell to_block(Cell value) {
    const uint32_t head = head_of(value), n = length_of(value) - head;
    stack::Rooted kept(value);
    const NodeId block = memory::alloc_cells(std::max<uint32_t>(n, 1));
    stack::Rooted result(cell::series(TypeId::block, block));
    const TypeId t = element_type(value);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell e = element_cell(element_ptr(kept.cell(), head + i), width_of(kept.cell()), t);
        series::append_cell(block, e);
    }
    return result.cell();
}

}  // namespace vector

extern const ActionTable vector_actions = {
    .make = vector_make,
    .to = unsupported::to,
    .form = vector_form,
    .mold = vector_mold,
    .eval_path = vector_eval_path,
    .compare = vector_compare,
    .add = vector_math<math_add>,
    .divide = vector_math<math_divide>,
    .multiply = vector_math<math_multiply>,
    .negate = unsupported::negate,
    .remainder = vector_math<math_remainder>,
    .subtract = vector_math<math_subtract>,
    .and_ = vector_math<math_and>,
    .complement = unsupported::complement,
    .or_ = vector_math<math_or>,
    .xor_ = vector_math<math_xor>,
    .append = vector_append,
    .change = vector_change,
    .find = vector_find,
    .insert = vector_insert,
    .select = vector_select,
    .sort = vector_sort,
    .swap = unsupported::swap,
    .trim = unsupported::trim,
};

extern const type_traits::Traits vector_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::none},
    .hash = vector_hash,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .copies = true,
};

}  // namespace zub
