// Generic entries turn the stack layout of a call (arguments, then one integer per refinement)
// into the direct entry's typed arguments; the table of them is generated from the list of actions. The direct entries take cells by value, so nothing
// here holds a pointer into a series across the call.
#include "evaluator/actions.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/part_skip.h"
#include "evaluator/refinements.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::actions {
namespace {

using native_args::Args;

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();

const ActionTable& of(const Cell& value) { return registry::actions(cell::type(value)); }

// make and to name their target by a datatype, or by a prototype of it.
TypeId target_of(const Cell& type_or_proto) {
    return cell::is(type_or_proto, TypeId::datatype) ? cell::datatype_type(type_or_proto) : cell::type(type_or_proto);
}

// boot/actions.zub lists the actions in slot order; a line moved in one but not the other is a build
// error here rather than a start-up failure.
constexpr bool spec_follows_slots() {
    if (std::size(generated::kActionWords) != kActionCount) return false;
    for (int i = 0; i < kActionCount; ++i)
        if (generated::kActionWords[i] != kActionWords[i]) return false;
    return true;
}
static_assert(spec_follows_slots(), "boot/actions.zub lists the actions of actions.def, in slot order");

// The direct form of each slot: its type and its member of ActionTable.
template <Slot S>
struct Direct;
#define ZUB_ACTION(member_, word, signature)                              \
    template <>                                                           \
    struct Direct<Slot::member_> {                                        \
        using Fn = signature;                                             \
        static constexpr Fn ActionTable::*member = &ActionTable::member_; \
    };
#include "datatypes/actions.def"

template <Slot>
inline constexpr bool kNeedsOwnEntry = false;

// The generic entry of a slot: the plain forms (one value, two values, a truth) are called
// through the first argument's table; every other form has an entry of its own below, and a slot
// that lacks one does not compile.
template <Slot S>
void entry(const int32_t* r) {
    using Fn = typename Direct<S>::Fn;
    constexpr Fn ActionTable::*member = Direct<S>::member;
    const Args<S> a(r);
    if constexpr (std::is_same_v<Fn, UnaryFn>) a.result((of(a[0]).*member)(a[0]));
    else if constexpr (std::is_same_v<Fn, BinaryFn>) a.result((of(a[0]).*member)(a[0], a[1]));
    else if constexpr (std::is_same_v<Fn, PredicateFn>) a.result(cell::logic((of(a[0]).*member)(a[0])));
    else static_assert(kNeedsOwnEntry<S>, "this action's direct form needs an entry of its own");
}

// ---- Lean roads ---------------------------------------------------------------------------------
// Blocks, parens and strings, the series met most, are served here without the registry's dispatch
// when a call uses no refinement (copy: at most /part by a count) and nothing about it is unusual;
// every other case takes its action, which decides exactly as before. None of these roads runs
// user code, and only copy's allocates (the new series, after every read of the argument's).

// block!, paren! and string!, whose actions are series!'s and block!'s own (paren! takes block!'s).
inline bool lean_series(const Cell& c) {
    static_assert(static_cast<uint32_t>(TypeId::paren) == static_cast<uint32_t>(TypeId::block) + 1 &&
                  static_cast<uint32_t>(TypeId::string) == static_cast<uint32_t>(TypeId::block) + 2);
    return (c.header & 0xFF) - static_cast<uint32_t>(TypeId::block) <= 2;
}

// Units in a lean series' buffer: its unit is 1, 2, 4 or 16 bytes.
inline uint32_t units_in(const SeriesBuffer* b) { return b->used() >> std::countr_zero(b->unit()); }

// The head index as the actions read it: a negative one counts as 0, one past the tail stays.
inline int64_t head_of(const Cell& c) { return std::max<int64_t>(0, static_cast<int32_t>(cell::series_index(c))); }

// The result is the first argument with its head moved: written in place.
inline void result_at(Cell* cells, int64_t index) {
    cells[0].w1 = static_cast<uint32_t>(index);
    stack::g_top = cells + 1;
}

// The part of append and insert limits what is inserted, measured on the value; the part of
// change limits what is replaced, measured on the series.
template <Slot S>
void insert_entry(const int32_t* r) {
    const Args<S> a(r);
    Cell series = a[0];
    Cell value = a[1];
    InsertOptions options{-1, a.template has<"only">(), 1};
    if (const Cell* dup = a.template arg<"dup">()) {
        options.dup = cell::to_int32_checked(*dup);
        if (options.dup < 1) return;  // nothing to insert: the series is the result
    }
    Cell& measured = S == Slot::change ? series : value;
    if (!part_skip::part(measured, a.template arg<"part">(), options.part)) {
        // A part of nothing inserts nothing for append and insert, but change still inserts: it
        // replaces nothing.
        if constexpr (S != Slot::change) return a.result(series);
        options.part = 0;
    }
    a.result((of(series).*Direct<S>::member)(series, value, options));
}
// The commonest call has no refinement: straight to the type's action.
[[gnu::noinline]] void append_by_action(const int32_t* r) {
    const Args<Slot::append> a(r);
    if (!a.has<"part">() && !a.has<"only">() && !a.has<"dup">()) return a.result(of(a[0]).append(a[0], a[1], {}));
    insert_entry<Slot::append>(r);
}
template <>
void entry<Slot::append>(const int32_t* r) {
    const Args<Slot::append> a(r);
    // Done here when one value or a block's values go into the room a block has left, or text
    // into a string's.
    if (!a.has<"part">() && !a.has<"only">() && !a.has<"dup">() && lean_series(a[0])) {
        Cell* cells = a.cells();
        if (cell::is(cells[0], TypeId::string) ? string::append_in_room(cells[0], cells[1])
                                               : block::append_in_room(cells[0], cells[1]))
            return result_at(cells, 0);
    }
    append_by_action(r);
}
template <>
void entry<Slot::insert>(const int32_t* r) {
    const Args<Slot::insert> a(r);
    if (!a.has<"part">() && !a.has<"only">() && !a.has<"dup">()) {
        Cell* cells = a.cells();
        if (!cell::is(cells[0], TypeId::string) && lean_series(cells[0])) {
            const int64_t at = block::insert_in_room(cells[0], cells[1]);
            if (at >= 0) return result_at(cells, at);
        }
    }
    insert_entry<Slot::insert>(r);
}
template <>
void entry<Slot::change>(const int32_t* r) {
    insert_entry<Slot::change>(r);
}

// A string holding what form or mold wrote, cut to the limit when there is one.
template <typename Write>
Cell text_of(const Cell* limit_arg, Write write) {
    const int32_t limit = limit_arg ? cell::to_int32_checked(*limit_arg) : kNoLimit;
    const NodeId out = series::alloc_with_unit(16, 1);
    stack::push(cell::series(TypeId::string, out));  // kept on the stack while it is written
    if (limit >= 1) {
        write(out, limit);
        if (limit_arg && series::length(out) > static_cast<uint32_t>(limit))
            series::set_tail(out, static_cast<uint32_t>(limit) + 1);
    }
    stack::pop(1);
    return cell::series(TypeId::string, out);
}

template <Slot S>
FindOptions find_options(const Args<S>& a) {
    FindOptions o{};
    o.part = a.template arg<"part">();
    o.only = a.template has<"only">();
    o.case_sensitive = a.template has<"case">();
    o.same = a.template has<"same">();
    o.any = a.template has<"any">();
    o.with = a.template arg<"with">();
    o.skip = a.template arg<"skip">();
    o.last = a.template has<"last">();
    o.reverse = a.template has<"reverse">();
    if constexpr (S == Slot::find) {
        o.tail = a.template has<"tail">();
        o.match = a.template has<"match">();
    }
    return o;
}

template <>
void entry<Slot::make>(const int32_t* r) {
    const Args<Slot::make> a(r);
    const TypeId t = target_of(a[0]);
    a.result(registry::actions(t).make(t, a[0], a[1]));
}
template <>
void entry<Slot::to>(const int32_t* r) {
    const Args<Slot::to> a(r);
    const TypeId t = target_of(a[0]);
    a.result(registry::actions(t).to(t, a[0], a[1]));
}
template <>
void entry<Slot::random>(const int32_t* r) {
    const Args<Slot::random> a(r);
    a.result(of(a[0]).random(a[0], a.has<"seed">(), a.has<"secure">(), a.has<"only">()));
}
template <>
void entry<Slot::reflect>(const int32_t* r) {
    const Args<Slot::reflect> a(r);
    a.result(of(a[0]).reflect(a[0], word::symbol_of(a[1])));
}
template <>
void entry<Slot::form>(const int32_t* r) {
    const Args<Slot::form> a(r);
    const Cell value = a[0];
    a.result(text_of(a.arg<"part">(), [&](NodeId out, int32_t limit) { of(value).form(value, out, limit); }));
}
template <>
void entry<Slot::mold>(const int32_t* r) {
    const Args<Slot::mold> a(r);
    const Cell value = a[0];
    const MoldFlags flags{a.has<"only">(), a.has<"all">(), a.has<"flat">(), 0};
    a.result(text_of(a.arg<"part">(), [&](NodeId out, int32_t limit) { of(value).mold(value, out, flags, limit); }));
}

// Path evaluation and comparison are the runtime's own, reached directly; their words only show
// them. A program that calls one gets an error, not a call.
void internal(const int32_t*) {
    error::fire(ErrorId::cannot_use, stack::call_word(), cell::datatype_of(cell::type(stack::args()[0])));
}
template <>
void entry<Slot::eval_path>(const int32_t* r) {
    internal(r);
}
template <>
void entry<Slot::set_path>(const int32_t* r) {
    internal(r);
}
template <>
void entry<Slot::compare>(const int32_t* r) {
    internal(r);
}

template <>
void entry<Slot::round>(const int32_t* r) {
    const Args<Slot::round> a(r);
    const RoundOptions o{a.arg<"to">(),    a.has<"even">(),    a.has<"down">(),        a.has<"half-down">(),
                         a.has<"floor">(), a.has<"ceiling">(), a.has<"half-ceiling">()};
    a.result(of(a[0]).round(a[0], o));
}
template <>
void entry<Slot::copy>(const int32_t* r) {
    const Args<Slot::copy> a(r);
    const Cell* types = a.arg<"types">();
    const Cell* part = a.arg<"part">();
    if (!types && !a.has<"deep">() && (!part || cell::is(*part, TypeId::integer)) && lean_series(a[0])) {
        // The units from the head, or a count of them from there (before it when negative), in a
        // new series of the same type; both ends are kept within the buffer.
        const Cell value = a[0];
        const int64_t head = head_of(value), length = units_in(memory::buffer(cell::series_node(value)));
        int64_t start = std::min(head, length), count = length - start;
        if (part) {
            const int64_t n = cell::as_integer(*part);
            if (n < 0) start = std::min(std::max<int64_t>(0, head + n), length);
            count = std::min(n < 0 ? head - std::max<int64_t>(0, head + n) : n, length - start);
        }
        Cell copy = cell::make(
            cell::type(value), 0,
            series::copy_part(cell::series_node(value), static_cast<uint32_t>(start), static_cast<uint32_t>(count)));
        cell::set_new_line(copy, cell::new_line(value));
        return a.result(copy);
    }
    if (types && !cell::is(*types, TypeId::datatype) && !cell::is(*types, TypeId::typeset))
        raise_expect_arg(Slot::copy, *types, 2);  // the argument of /types
    a.result(of(a[0]).copy(a[0], CopyOptions{part, a.has<"deep">(), types}));
}
// How many refinements the action's argument block has.
template <Slot S>
constexpr int32_t kRefinementCount = [] {
    int32_t n = 0;
    for (const generated::RefinementName& e : generated::kActionRefinements)
        if (e.function == static_cast<uint32_t>(S)) ++n;
    return n;
}();

// find and select without refinements on a block! or paren!, for the values find_plain decides:
// the index of the match, -1 for none, or block::kUndecided.
template <Slot S>
int64_t lean_find(const Args<S>& a, const int32_t* r) {
    if (!cell::is(a[0], TypeId::block) && !cell::is(a[0], TypeId::paren)) return block::kUndecided;
    for (int32_t k = 0; k < kRefinementCount<S>; ++k)
        if (r[k] >= 0) return block::kUndecided;
    return block::find_plain(a[0], a[1]);
}

template <>
void entry<Slot::find>(const int32_t* r) {
    const Args<Slot::find> a(r);
    if (const int64_t at = lean_find(a, r); at != block::kUndecided)
        return at < 0 ? a.result(cell::none()) : result_at(a.cells(), at);
    a.result(of(a[0]).find(a[0], a[1], find_options(a)));
}
template <>
void entry<Slot::select>(const int32_t* r) {
    const Args<Slot::select> a(r);
    if (const int64_t at = lean_find(a, r); at != block::kUndecided) {
        SeriesBuffer* b = memory::buffer(cell::series_node(a[0]));
        const bool found = at >= 0 && static_cast<uint64_t>(at) + 1 < b->used() / sizeof(Cell);
        return a.result(found ? b->cells()[at + 1] : cell::none());
    }
    a.result(of(a[0]).select(a[0], a[1], find_options(a)));
}
template <>
void entry<Slot::length_q>(const int32_t* r) {
    const Args<Slot::length_q> a(r);
    if (lean_series(a[0])) {
        const int64_t left = int64_t{units_in(memory::buffer(cell::series_node(a[0])))} - head_of(a[0]);
        return a.result(cell::integer(static_cast<int32_t>(std::max<int64_t>(0, left))));
    }
    const int32_t n = of(a[0]).length_q(a[0]);
    a.result(n < 0 ? cell::none() : cell::integer(n));
}
template <>
void entry<Slot::move>(const int32_t* r) {
    const Args<Slot::move> a(r);
    a.result(of(a[0]).move(a[0], a[1], a.arg<"part">()));
}
[[gnu::noinline]] void pick_by_action(const int32_t* r) {
    const Args<Slot::pick> a(r);
    a.result(of(a[0]).pick(a[0], pick_poke_index(a[1]), a[1]));
}
template <>
void entry<Slot::pick>(const int32_t* r) {
    const Args<Slot::pick> a(r);
    if (lean_series(a[0]) && cell::is(a[1], TypeId::integer) && cell::as_integer(a[1]) > 0) {
        // Counted from the head; none past the tail.
        SeriesBuffer* b = memory::buffer(cell::series_node(a[0]));
        const uint32_t unit = b->unit();
        const uint64_t at =
            (static_cast<uint64_t>(head_of(a[0])) + static_cast<uint32_t>(cell::as_integer(a[1])) - 1) * unit;
        if (at >= b->used()) return a.result(cell::none());
        const std::byte* p = b->head_ptr() + at;
        if (unit != 16) return a.result(cell::character(series::load_unit(p, unit)));
        std::memcpy(a.cells(), p, sizeof(Cell));
        stack::g_top = a.cells() + 1;
        return;
    }
    pick_by_action(r);
}
// The unit a lean poke writes: its byte offset in the buffer, or -1 when the action must decide
// (an index out of range and its error, a value the series cannot hold or that must widen a
// string, a watched series).
inline int64_t lean_poke_at(const Cell& target, const Cell& index, const Cell& value) {
    if (!cell::is(index, TypeId::integer) || !lean_series(target)) return -1;
    const int32_t k = cell::as_integer(index);
    const SeriesBuffer* b = memory::buffer(cell::series_node(target));
    const int64_t i = head_of(target) + k - (k > 0 ? 1 : 0);
    if (k == 0 || i < 0 || i >= units_in(b) || (b->flags & series_flag::watched)) return -1;
    const uint32_t unit = b->unit();
    if (unit != 16 && (!cell::is(value, TypeId::char_) || string::in_place_unit(value.w2) > unit)) return -1;
    return i * unit;
}

[[gnu::noinline]] void poke_by_action(const int32_t* r) {
    const Args<Slot::poke> a(r);
    const Cell value = a[2];
    (void)of(a[0]).poke(a[0], pick_poke_index(a[1]), a[1], value);
    a.result(value);
}
template <>
void entry<Slot::poke>(const int32_t* r) {
    const Args<Slot::poke> a(r);
    const Cell& value = a[2];
    if (const int64_t at = lean_poke_at(a[0], a[1], value); at >= 0) {
        SeriesBuffer* b = memory::buffer(cell::series_node(a[0]));
        if (b->unit() == 16) std::memcpy(b->head_ptr() + at, &value, sizeof(Cell));
        else series::store_unit(b->head_ptr() + at, b->unit(), value.w2);
        return a.result(value);
    }
    poke_by_action(r);
}
template <>
void entry<Slot::head>(const int32_t* r) {
    const Args<Slot::head> a(r);
    if (lean_series(a[0])) return result_at(a.cells(), 0);
    a.result(of(a[0]).head(a[0]));
}
template <>
void entry<Slot::tail>(const int32_t* r) {
    const Args<Slot::tail> a(r);
    if (lean_series(a[0])) return result_at(a.cells(), units_in(memory::buffer(cell::series_node(a[0]))));
    a.result(of(a[0]).tail(a[0]));
}
// at counts from 1 at the head for a positive offset, skip from 0; both stop at the buffer's ends.
template <Slot S>
void position_entry(const int32_t* r) {
    const Args<S> a(r);
    if (lean_series(a[0]) && cell::is(a[1], TypeId::integer)) {
        const int64_t k = cell::as_integer(a[1]);
        const int64_t target = head_of(a[0]) + (S == Slot::at && k >= 1 ? k - 1 : k);
        return result_at(a.cells(), std::clamp<int64_t>(target, 0, units_in(memory::buffer(cell::series_node(a[0])))));
    }
    a.result((of(a[0]).*Direct<S>::member)(a[0], a[1]));
}
template <>
void entry<Slot::at>(const int32_t* r) {
    position_entry<Slot::at>(r);
}
template <>
void entry<Slot::skip>(const int32_t* r) {
    position_entry<Slot::skip>(r);
}
template <>
void entry<Slot::put>(const int32_t* r) {
    const Args<Slot::put> a(r);
    a.result(of(a[0]).put(a[0], a[1], a[2], a.has<"case">()));
}
template <>
void entry<Slot::modify>(const int32_t* r) {
    const Args<Slot::modify> a(r);
    const Cell target = a[0];
    (void)of(target).modify(target, a[1], a[2], a.has<"case">());
    a.result(target);
}
template <>
void entry<Slot::remove>(const int32_t* r) {
    const Args<Slot::remove> a(r);
    a.result(of(a[0]).remove(a[0], a.arg<"part">(), a.arg<"key">()));
}
template <>
void entry<Slot::reverse>(const int32_t* r) {
    const Args<Slot::reverse> a(r);
    a.result(of(a[0]).reverse(a[0], a.arg<"part">(), a.arg<"skip">()));
}
template <>
void entry<Slot::sort>(const int32_t* r) {
    const Args<Slot::sort> a(r);
    const SortOptions o{a.has<"case">(), a.arg<"skip">(),    a.arg<"compare">(), a.arg<"part">(),
                        a.has<"all">(),  a.has<"reverse">(), a.has<"stable">()};
    a.result(of(a[0]).sort(a[0], o));
}
template <>
void entry<Slot::take>(const int32_t* r) {
    const Args<Slot::take> a(r);
    a.result(of(a[0]).take(a[0], a.arg<"part">(), a.has<"deep">(), a.has<"last">()));
}
template <>
void entry<Slot::trim>(const int32_t* r) {
    const Args<Slot::trim> a(r);
    const TrimOptions o{a.has<"head">(),  a.has<"tail">(), a.has<"auto">(),
                        a.has<"lines">(), a.has<"all">(),  a.arg<"with">()};
    a.result(of(a[0]).trim(a[0], o));
}
template <>
void entry<Slot::open>(const int32_t* r) {
    const Args<Slot::open> a(r);
    a.result(of(a[0]).open(
        a[0], OpenOptions{a.has<"new">(), a.has<"read">(), a.has<"write">(), a.has<"seek">(), a.arg<"allow">()}));
}
template <>
void entry<Slot::read>(const int32_t* r) {
    const Args<Slot::read> a(r);
    const ReadOptions o{a.arg<"part">(),  a.arg<"seek">(), a.has<"binary">(),
                        a.has<"lines">(), a.has<"info">(), a.arg<"as">()};
    a.result(of(a[0]).read(a[0], o));
}
template <>
void entry<Slot::write>(const int32_t* r) {
    const Args<Slot::write> a(r);
    const WriteOptions o{a.has<"binary">(), a.has<"lines">(), a.has<"info">(),  a.has<"append">(),
                         a.arg<"part">(),   a.arg<"seek">(),  a.arg<"allow">(), a.arg<"as">()};
    a.result(of(a[0]).write(a[0], a[1], o));
}

}  // namespace

// One entry per slot, in slot order, generated from the list of actions.
const Entry g_entries[] = {
#define ZUB_ACTION(member, word, signature) entry<Slot::member>,
#include "datatypes/actions.def"
};
static_assert(std::size(g_entries) == kActionCount);

int32_t compare_direct(Cell a, Cell b, int32_t op) {
    switch (cell::type(a)) {
        case TypeId::native:
        case TypeId::action:
        case TypeId::op:
        case TypeId::function:
        case TypeId::routine:
            // Callables are equal only to themselves: same type, same entry or record.
            if (cell::type(a) != cell::type(b)) return kNotComparable;
            return cell::payload_order(a, b);
        default: return of(a).compare(a, b, op);
    }
}

bool compare(Cell a, Cell b, int32_t op) {
    const int32_t answer = compare_direct(a, b, op);
    if (answer == kNotComparable && !equality_op(op) && op != op_equal_word && op != op_equal_canonical)
        error::fire(ErrorId::invalid_compare, a, b);
    switch (op) {
        case op_equal:
        case op_strict_equal:
        case op_same:
        case op_equal_word:
        case op_equal_canonical:
        case op_find: return answer == 0;
        case op_not_equal: return answer != 0;
        case op_lesser: return answer < 0;
        case op_lesser_or_equal: return answer < 1;
        case op_greater: return answer >= 1;
        case op_greater_or_equal: return answer >= 0;
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

int32_t pick_poke_index(const Cell& index) {
    switch (cell::type(index)) {
        case TypeId::logic: return cell::as_logic(index) ? 1 : 2;
        case TypeId::integer:
        case TypeId::char_: return cell::as_integer(index);
        default: return 0;
    }
}

}  // namespace zub::actions
