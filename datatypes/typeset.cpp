// typeset!: sets of datatypes in one cell. make and to read a block of datatypes and words naming
// them; the bitwise actions are shared with the set natives; find asks about one datatype.
#include "datatypes/typeset.h"

#include <bit>

#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace typeset {

Cell make_of(std::initializer_list<TypeId> types) {
    Cell set = make_empty();
    for (const TypeId t : types) add(set, t);
    return set;
}

Cell make_default() {
    Cell set = make_raw(~0u, ~0u, ~0u);
    payload_word(set, static_cast<uint32_t>(TypeId::unset)) &= ~word_mask(static_cast<uint32_t>(TypeId::unset));
    return set;
}

uint32_t count(const Cell& set) {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id) n += contains(set, static_cast<TypeId>(id));
    return n;
}

namespace {

void or_in(Cell& set, const Cell& other) {
    set.w1 |= other.w1;
    set.w2 |= other.w2;
    set.w3 |= other.w3;
}

// A word names a datatype or a typeset through its value.
Cell resolved(const Cell& value) { return cell::is(value, TypeId::word) ? *context::get(value) : value; }

TypeId denoted(const Cell& datatype) { return static_cast<TypeId>(datatype.w1); }

}  // namespace

void add_value(Cell& set, Cell value) {
    value = resolved(value);
    switch (cell::type(value)) {
        case TypeId::typeset: or_in(set, value); break;
        case TypeId::datatype: add(set, denoted(value)); break;
        default: error::fire(ErrorId::invalid_arg, value);
    }
}

Cell make_from_block(Cell block) {
    Cell set = make_empty();
    const NodeId node = cell::series_node(block);
    // Nothing here allocates, but an error leaves by way of one: read each cell afresh.
    for (uint32_t i = cell::series_index(block); i < series::length(node); ++i) {
        const Cell value = resolved(memory::buffer(node)->cells()[i]);
        switch (cell::type(value)) {
            case TypeId::typeset: or_in(set, value); break;
            case TypeId::datatype: add(set, denoted(value)); break;
            case TypeId::block: break;
            default: error::fire(ErrorId::invalid_type_spec, value);
        }
    }
    return set;
}

void to_block(Cell set, NodeId block) {
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id)
        if (contains(set, static_cast<TypeId>(id))) series::append_cell(block, cell::make(TypeId::datatype, id));
}

Cell combine(Cell a, Cell b, int32_t op) {
    const auto as_set = [](const Cell& v) {
        if (cell::is(v, TypeId::typeset)) return make_raw(v.w1, v.w2, v.w3);
        if (cell::is(v, TypeId::datatype)) return make_of({denoted(v)});
        error::fire(ErrorId::invalid_arg, v);
    };
    const Cell x = as_set(a), y = as_set(b);
    const auto apply = [op](uint32_t p, uint32_t q) -> uint32_t {
        switch (op) {
            case kOr:
            case kUnion: return p | q;
            case kAnd:
            case kIntersect: return p & q;
            case kXor:
            case kDifference: return p ^ q;
            case kExclude: return p & ~q;
            default: error::fire(ErrorId::invalid_arg, cell::integer(op));
        }
    };
    return make_raw(apply(x.w1, y.w1), apply(x.w2, y.w2), apply(x.w3, y.w3));
}

}  // namespace typeset

namespace {

// make and to are one entry: a typeset is taken as it is, a block read element by element.
Cell typeset_make(TypeId, Cell, Cell spec) {
    if (cell::is(spec, TypeId::typeset)) return spec;
    if (!cell::is(spec, TypeId::block)) error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::typeset), spec);
    Cell set = typeset::make_empty();
    const NodeId node = cell::series_node(spec);
    for (uint32_t i = cell::series_index(spec); i < series::length(node); ++i)
        typeset::add_value(set, memory::buffer(node)->cells()[i]);
    return set;
}

// The names of the set's types in id order, one space after each; /only leaves out the frame and
// the last space. Form writes the same text.
int32_t typeset_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.only) limit = mold::emit(out, "make typeset! [", limit);
    bool named = false;
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount) && limit > 0; ++id) {
        if (!typeset::contains(value, static_cast<TypeId>(id))) continue;
        limit = mold::emit(out, registry::name(static_cast<TypeId>(id)), limit);
        limit = mold::emit(out, " ", limit);
        named = true;
    }
    if (named) {
        SeriesBuffer* b = memory::buffer(out);
        b->tail -= b->unit();
        ++limit;
    }
    if (!flags.only) limit = mold::emit(out, "]", limit);
    return limit;
}

int32_t typeset_form(Cell value, NodeId out, int32_t limit) { return typeset_mold(value, out, MoldFlags{}, limit); }

// Equal or not; sorts go by size; there is no lesser or greater.
int32_t typeset_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::typeset)) return kNotComparable;
    if (op == op_sort || op == op_sort_case) {
        const uint32_t m = typeset::count(a), n = typeset::count(b);
        return m < n ? -1 : m > n ? 1 : 0;
    }
    if (op >= op_lesser && op <= op_greater_or_equal) return kNotComparable;
    return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
}

template <int32_t op>
Cell typeset_bitwise(Cell a, Cell b) {
    return typeset::combine(a, b, op);
}

Cell typeset_complement(Cell value) {
    value.w1 = ~value.w1;
    value.w2 = ~value.w2;
    value.w3 = ~value.w3;
    return value;
}

Cell typeset_find(Cell set, Cell value, const FindOptions&) {
    if (!cell::is(value, TypeId::datatype)) error::fire(ErrorId::invalid_arg, value);
    return cell::logic(typeset::contains(set, static_cast<TypeId>(value.w1)));
}

}  // namespace

extern const ActionTable typeset_actions = {
    .make = typeset_make,
    .to = typeset_make,
    .form = typeset_form,
    .mold = typeset_mold,
    .compare = typeset_compare,
    .and_ = typeset_bitwise<typeset::kAnd>,
    .complement = typeset_complement,
    .or_ = typeset_bitwise<typeset::kOr>,
    .xor_ = typeset_bitwise<typeset::kXor>,
    .find = typeset_find,
};

extern const type_traits::Traits typeset_traits = {.hash = type_traits::hash_w1_w2_w3};

}  // namespace zub
