// bitset!: make from specs (integers, chars, strings, ranges, blocks, binaries, `not` blocks),
// membership, the set and bitwise operations and the "make bitset! #{...}" text. One spec walker
// measures, sets, tests or clears the bits a spec names.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {

namespace {

NodeId node_of(const Cell& bits) { return cell::series_node(bits); }
uint32_t size_of(NodeId node) { return memory::buffer(node)->used(); }
bool flag_of(NodeId node) { return (memory::buffer(node)->flags & series_flag::complement) != 0; }
uint8_t fill_of(NodeId node) { return flag_of(node) ? 0xFF : 0x00; }
uint8_t byte_of(NodeId node, uint32_t i) { return static_cast<uint8_t>(memory::buffer(node)->head_ptr()[i]); }

// Bit indexes are 32-bit: a larger one could never be stored.
constexpr int64_t kMaxBit = std::numeric_limits<int32_t>::max();

// A new bitset of n bytes, each the fill byte, complemented or not. May collect.
Cell make_bits(uint32_t n, uint8_t fill, bool complement) {
    const NodeId node = memory::alloc_series(std::max(n, 1u), 1, 0);
    SeriesBuffer* b = memory::buffer(node);
    if (n) std::memset(b->head_ptr(), fill, n);
    b->tail += n;
    if (complement) b->flags |= series_flag::complement;
    return cell::series(TypeId::bitset, node);
}

// Grows the stored bytes to n, the new ones reading as the bits beyond did. May collect.
void grow(NodeId node, uint32_t n) {
    const uint32_t size = size_of(node);
    if (n <= size) return;
    const uint8_t fill = fill_of(node);
    std::byte* at = series::reserve_tail(node, n - size);
    std::memset(at, fill, n - size);
}

enum class Mode : uint8_t { measure, set, test, clear };
enum class Caller : uint8_t { make, to, other };

// ---- Walking what names the bits -------------------------------------------------------------

// What the walker answers: in measure mode the highest bit named (-1 for none), in test mode
// whether every bit named is set.
struct Walk {
    NodeId node;  // the bitset, or 0 when measuring
    Mode mode;
    Caller caller;
    int64_t highest = -1;
};

// One bit; false in test mode when it is not set.
bool one_bit(Walk& w, int64_t n, const Cell& value) {
    if (n < 0 && w.mode != Mode::test) error::fire(ErrorId::out_of_range, value);
    if (n > kMaxBit) {
        if (w.mode == Mode::test) return flag_of(w.node);
        error::fire(ErrorId::no_memory);
    }
    const auto byte = static_cast<uint32_t>(n >> 3);
    const auto mask = static_cast<uint8_t>(0x80 >> (n & 7));
    switch (w.mode) {
        case Mode::measure: w.highest = std::max(w.highest, n); return true;
        case Mode::test:
            return n < 0 || byte >= size_of(w.node) ? flag_of(w.node) : (byte_of(w.node, byte) & mask) != 0;
        case Mode::set:
            if (byte >= size_of(w.node) && flag_of(w.node)) return true;
            grow(w.node, byte + 1);
            memory::buffer(w.node)->head_ptr()[byte] |= static_cast<std::byte>(mask);
            return true;
        case Mode::clear:
            if (byte >= size_of(w.node) && !flag_of(w.node)) return true;
            grow(w.node, byte + 1);
            memory::buffer(w.node)->head_ptr()[byte] &= static_cast<std::byte>(~mask);
            return true;
    }
    return true;
}

// Every bit of lower..upper, whole bytes at a time so that a wide range costs what its bytes do.
// Test mode answers whether all are set.
bool bit_range(Walk& w, int64_t lower, int64_t upper, const Cell& value) {
    if (w.mode == Mode::measure || lower < 0) return one_bit(w, lower, value) && one_bit(w, upper, value);
    if (upper > kMaxBit) {
        if (w.mode != Mode::test) error::fire(ErrorId::no_memory);
        if (!flag_of(w.node)) return false;
        upper = kMaxBit;
    }
    const bool complement = flag_of(w.node);
    const int64_t stored = int64_t{size_of(w.node)} * 8;
    // Bits beyond the stored bytes already read as the flag says.
    if (w.mode == Mode::test || (w.mode == Mode::set) == complement) {
        if (w.mode == Mode::test && upper >= stored && !complement) return false;
        upper = std::min(upper, stored - 1);
        if (lower > upper) return true;
    } else {
        grow(w.node, static_cast<uint32_t>((upper >> 3) + 1));
    }
    std::byte* bytes = memory::buffer(w.node)->head_ptr();
    for (int64_t n = lower; n <= upper;) {
        const auto i = static_cast<uint32_t>(n >> 3);
        const int64_t last = std::min(upper, (n | 7));
        // The bits n..last of byte i.
        const auto mask = static_cast<uint8_t>((0xFF >> (n & 7)) & (0xFF << (7 - (last & 7))));
        const auto byte = static_cast<uint8_t>(bytes[i]);
        switch (w.mode) {
            case Mode::test:
                if ((byte & mask) != mask) return false;
                break;
            case Mode::set: bytes[i] = static_cast<std::byte>(byte | mask); break;
            default: bytes[i] = static_cast<std::byte>(byte & ~mask); break;
        }
        n = last + 1;
    }
    return true;
}

[[noreturn]] void refuse(const Walk& w, const Cell& spec) {
    switch (w.caller) {
        case Caller::make: error::fire(ErrorId::bad_make_arg, cell::datatype_of(TypeId::bitset), spec);
        case Caller::to: error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::bitset), spec);
        default: error::fire(ErrorId::invalid_arg, spec);
    }
}

bool is_word(const Cell& value, words::Word w) {
    return cell::is(value, TypeId::word) && symbol::resolve(word::symbol_of(value)) == symbol::resolve(words::id(w));
}

// A float names the bit of its value truncated toward zero.
int64_t float_bit(const Cell& value) {
    const double d = std::trunc(cell::as_float(value));
    if (std::isnan(d)) error::fire(ErrorId::invalid_arg, value);
    if (d > static_cast<double>(kMaxBit)) return kMaxBit + 1;
    if (d < -1) return -1;
    return static_cast<int64_t>(d);
}

bool walk(Walk& w, const Cell& spec);

bool walk_block(Walk& w, const Cell& block) {
    const NodeId node = node_of(block);
    if (cycles::find(node)) error::fire(ErrorId::invalid_arg, block);
    cycles::Guard walking(node);
    const auto count = [&] { return memory::buffer(node)->used() / sizeof(Cell); };
    const auto at = [&](uint32_t i) { return memory::buffer(node)->cells()[i]; };
    for (uint32_t i = cell::series_index(block); i < count(); ++i) {
        const Cell value = at(i);
        const TypeId t = cell::type(value);
        if ((t == TypeId::char_ || t == TypeId::integer) && i + 1 < count() && is_word(at(i + 1), words::Word::minus)) {
            if (i + 2 >= count()) error::fire(ErrorId::past_end);
            const Cell upper = at(i + 2);
            if (!cell::is(upper, t)) error::fire(ErrorId::invalid_arg, upper);
            const int64_t lo = cell::as_integer(value), hi = cell::as_integer(upper);
            if (hi < lo) error::fire(ErrorId::past_end);
            i += 2;
            if (!bit_range(w, lo, hi, upper)) return false;
            continue;
        }
        if (t == TypeId::binary) error::fire(ErrorId::not_done);
        if (!walk(w, value)) return false;
    }
    return true;
}

bool walk(Walk& w, const Cell& spec) {
    switch (cell::type(spec)) {
        case TypeId::char_: return one_bit(w, cell::as_char(spec), spec);
        case TypeId::integer: return one_bit(w, cell::as_integer(spec), spec);
        case TypeId::float_: return one_bit(w, float_bit(spec), spec);
        case TypeId::string: {
            const NodeId node = node_of(spec);
            const uint32_t length = series::length(node);
            for (uint32_t i = std::min(cell::series_index(spec), length); i < length; ++i)
                if (!one_bit(w, string::char_at(node, i), spec)) return false;
            return true;
        }
        case TypeId::block: return walk_block(w, spec);
        default: refuse(w, spec);
    }
}

// ---- make and to --------------------------------------------------------------------------------

Cell from_binary(const Cell& spec, bool complement) {
    const NodeId from = node_of(spec);
    const uint32_t size = series::length(from);
    const uint32_t head = std::min(cell::series_index(spec), size);
    const Cell bits = make_bits(size - head, 0, complement);
    const std::byte* source = memory::buffer(from)->head_ptr() + head;
    std::byte* out = memory::buffer(node_of(bits))->head_ptr();
    for (uint32_t i = 0; i < size - head; ++i) out[i] = complement ? ~source[i] : source[i];
    return bits;
}

Cell copy_bits(const Cell& bits) {
    const NodeId node = memory::copy_series(node_of(bits));
    memory::buffer(node)->flags &= ~series_flag::owned;
    return cell::series(TypeId::bitset, node);
}

Cell make_from(Cell spec, Caller caller) {
    bool complement = false;
    if (cell::is(spec, TypeId::block) && !series_value::at_tail(spec) &&
        is_word(series_value::element_at(spec, cell::series_index(spec)), words::Word::not_)) {
        complement = true;
        cell::set_series_index(spec, cell::series_index(spec) + 1);
        if (!series_value::at_tail(spec)) {
            const Cell next = series_value::element_at(spec, cell::series_index(spec));
            if (cell::is(next, TypeId::binary)) spec = next;
        }
    }
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_: {
            if (caller == Caller::to) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::bitset), spec);
            const int64_t n = cell::is(spec, TypeId::integer) ? cell::as_integer(spec) : float_bit(spec);
            if (n < 0) error::fire(ErrorId::out_of_range, spec);
            if (n > kMaxBit) error::fire(ErrorId::no_memory);
            return make_bits(static_cast<uint32_t>((n + 7) >> 3), 0, false);
        }
        case TypeId::bitset: return copy_bits(spec);
        case TypeId::binary: return from_binary(spec, complement);
        default: break;
    }
    Walk measure{0, Mode::measure, caller};
    walk(measure, spec);
    const auto bytes = static_cast<uint32_t>(std::max<int64_t>((measure.highest >> 3) + 1, 1));
    const Cell bits = make_bits(bytes, complement ? 0xFF : 0x00, complement);
    Walk fill{node_of(bits), complement ? Mode::clear : Mode::set, caller};
    Cell* const kept = stack::push(bits);
    walk(fill, spec);
    stack::g_top = kept;
    return bits;
}

Cell bitset_make(TypeId, Cell, Cell spec) { return make_from(spec, Caller::make); }
Cell bitset_to(TypeId, Cell, Cell spec) { return make_from(spec, Caller::to); }

// ---- mold ---------------------------------------------------------------------------------------

// A complemented bitset writes its bytes inverted, under `not`: the block make takes back.
int32_t bitset_mold(Cell bits, NodeId out, MoldFlags, int32_t limit) {
    const NodeId node = node_of(bits);
    const bool complement = flag_of(node);
    limit = mold::emit(out, complement ? "make bitset! [not #{" : "make bitset! #{", limit);
    for (uint32_t i = 0; i < size_of(node); ++i) {
        if (limit <= 0) return limit;
        char digits[2];
        string::byte_to_hex(static_cast<uint8_t>(complement ? ~byte_of(node, i) : byte_of(node, i)), digits);
        limit = mold::emit(out, {digits, 2}, limit);
    }
    return mold::emit(out, complement ? "}]" : "}", limit);
}

int32_t bitset_form(Cell bits, NodeId out, int32_t limit) { return bitset_mold(bits, out, MoldFlags{}, limit); }

// ---- compare ------------------------------------------------------------------------------------

int32_t bitset_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::bitset)) return kNotComparable;
    const NodeId x = node_of(a), y = node_of(b);
    if (op == op_same) return x == y ? 0 : 1;
    if (size_of(x) != size_of(y)) return size_of(x) < size_of(y) ? -1 : 1;
    if (x == y) return 0;
    if (flag_of(x) != flag_of(y)) return flag_of(x) ? 1 : -1;
    for (uint32_t i = size_of(x); i-- > 0;) {
        const uint8_t p = byte_of(x, i), q = byte_of(y, i);
        if (p != q) return p < q ? -1 : 1;
    }
    return 0;
}

// ---- Actions on bits ----------------------------------------------------------------------------

Cell bitset_complement(Cell bits) {
    const Cell copy = copy_bits(bits);
    SeriesBuffer* b = memory::buffer(node_of(copy));
    b->flags ^= series_flag::complement;
    for (std::byte* p = b->head_ptr(); p < b->tail_ptr(); ++p) *p = ~*p;
    return copy;
}

template <int32_t op>
Cell bitset_bitwise(Cell a, Cell b) {
    return bitset::combine(a, b, op);
}

// Sets or clears the bits a spec names, telling the owner before and after.
void change_bits(const Cell& bits, const Cell& spec, Mode mode, words::Word before, words::Word after) {
    series_value::notify_owner(bits, before, 0, 0);
    Walk w{node_of(bits), mode, Caller::other};
    walk(w, spec);
    series_value::notify_owner(bits, after, 0, 0);
}

Cell bitset_append(Cell bits, Cell value, const InsertOptions&) {
    change_bits(bits, value, Mode::set, words::Word::append, words::Word::appended);
    return bits;
}

Cell bitset_insert(Cell bits, Cell value, const InsertOptions&) {
    change_bits(bits, value, Mode::set, words::Word::insert, words::Word::inserted);
    return bits;
}

bool test_spec(const Cell& bits, const Cell& spec) {
    Walk w{node_of(bits), Mode::test, Caller::other};
    return walk(w, spec);
}

Cell bitset_pick(Cell bits, int32_t, Cell index) { return cell::logic(test_spec(bits, index)); }

Cell bitset_find(Cell bits, Cell value, const FindOptions&) {
    return test_spec(bits, value) ? cell::logic(true) : cell::none();
}

Cell bitset_poke(Cell bits, int32_t, Cell index, Cell value) {
    const TypeId t = cell::type(value);
    const bool clear = !cell::truthy(value) || (t == TypeId::integer && cell::as_integer(value) == 0) ||
                       (t == TypeId::float_ && cell::as_float(value) == 0.0);
    change_bits(bits, index, clear ? Mode::clear : Mode::set, words::Word::poke, words::Word::poked);
    return value;
}

// Only /part names what goes. The stored bytes hold the bits as they are in a complemented set
// too, so its bits are cleared like any other's (setting them would add them to the set).
Cell bitset_remove(Cell bits, const Cell* part, const Cell*) {
    if (!part) error::fire(ErrorId::missing_arg);
    change_bits(bits, *part, Mode::clear, words::Word::remove, words::Word::removed);
    return bits;
}

Cell bitset_clear(Cell bits) {
    series_value::notify_owner(bits, words::Word::clear, 0, 0);
    SeriesBuffer* b = memory::buffer(node_of(bits));
    std::memset(b->head_ptr(), fill_of(node_of(bits)), b->used());
    series_value::notify_owner(bits, words::Word::cleared, 0, 0);
    return bits;
}

Cell bitset_copy(Cell bits, const CopyOptions&) { return copy_bits(bits); }

int32_t bitset_length(Cell bits) {
    return static_cast<int32_t>(std::min<uint64_t>(uint64_t{size_of(node_of(bits))} * 8, kMaxBit));
}

// The owner of the bytes is the one field, as for the series.
Cell bitset_reflect(Cell bits, uint32_t field) { return registry::actions(TypeId::series).reflect(bits, field); }
Cell bitset_modify(Cell bits, Cell field, Cell spec, bool case_sensitive) {
    return registry::actions(TypeId::series).modify(bits, field, spec, case_sensitive);
}

// Path access by a char! or integer! index: a read picks, a write pokes.
Cell bitset_eval_path(Cell bits, Cell element, const PathStep& step) {
    if (!cell::is(element, TypeId::char_) && !cell::is(element, TypeId::integer))
        error::fire(ErrorId::invalid_path, step.path, element);
    if (step.set_value) return bitset_poke(bits, 0, element, *step.set_value);
    return bitset_pick(bits, 0, element);
}

}  // namespace

namespace bitset {

bool complemented(const Cell& bits) { return flag_of(node_of(bits)); }

bool test(const Cell& bits, int64_t n) {
    const NodeId node = node_of(bits);
    if (n < 0 || (n >> 3) >= size_of(node)) return flag_of(node);
    return (byte_of(node, static_cast<uint32_t>(n >> 3)) & (0x80 >> (n & 7))) != 0;
}

Cell combine(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::bitset)) error::fire(ErrorId::invalid_type, cell::datatype_of(b));
    const auto apply = [op](uint8_t p, uint8_t q) -> uint8_t {
        switch (op) {
            case kOr:
            case kUnion: return p | q;
            case kAnd:
            case kIntersect: return p & q;
            case kXor:
            case kDifference: return p ^ q;
            case kExclude: return p & static_cast<uint8_t>(~q);
            default: error::fire(ErrorId::invalid_arg, cell::integer(op));
        }
    };
    const NodeId x = node_of(a), y = node_of(b);
    const uint32_t m = size_of(x), n = size_of(y);
    const uint8_t fx = fill_of(x), fy = fill_of(y);
    const uint8_t fill = apply(fx, fy);
    // and~ of plain sets ends where the shorter one does: nothing beyond it can be set.
    uint32_t size = std::max(m, n);
    if ((op == kAnd || op == kIntersect) && fill == 0 && (m < n ? fx : fy) == 0) size = std::min(m, n);
    const Cell result = make_bits(size, 0, fill != 0);
    std::byte* out = memory::buffer(node_of(result))->head_ptr();
    const std::byte* p = memory::buffer(x)->head_ptr();
    const std::byte* q = memory::buffer(y)->head_ptr();
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t u = i < m ? static_cast<uint8_t>(p[i]) : fx;
        const uint8_t v = i < n ? static_cast<uint8_t>(q[i]) : fy;
        out[i] = static_cast<std::byte>(apply(u, v));
    }
    return result;
}

}  // namespace bitset

extern const ActionTable bitset_actions = {
    .make = bitset_make,
    .reflect = bitset_reflect,
    .to = bitset_to,
    .form = bitset_form,
    .mold = bitset_mold,
    .eval_path = bitset_eval_path,
    .compare = bitset_compare,
    .negate = bitset_complement,
    .and_ = bitset_bitwise<bitset::kAnd>,
    .complement = bitset_complement,
    .or_ = bitset_bitwise<bitset::kOr>,
    .xor_ = bitset_bitwise<bitset::kXor>,
    .append = bitset_append,
    .clear = bitset_clear,
    .copy = bitset_copy,
    .find = bitset_find,
    .insert = bitset_insert,
    .length_q = bitset_length,
    .pick = bitset_pick,
    .poke = bitset_poke,
    .remove = bitset_remove,
    .modify = bitset_modify,
};

extern const type_traits::Traits bitset_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::none},
    .same_words = type_traits::kW2,
    .copies = true,
};

}  // namespace zub
