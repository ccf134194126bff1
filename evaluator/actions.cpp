// Generic entries turn the stack layout of a call (arguments, then one integer per refinement)
// into the direct entry's typed arguments; the table of them is generated from the list of actions. The direct entries take cells by value, so nothing
// here holds a pointer into a series across the call.
#include "evaluator/actions.h"

#include <iterator>
#include <limits>
#include <type_traits>

#include "datatypes/registry.h"
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
template <>
void entry<Slot::append>(const int32_t* r) {
    const Args<Slot::append> a(r);
    // The commonest call has no refinement: straight to the type's action.
    if (!a.has<"part">() && !a.has<"only">() && !a.has<"dup">()) return a.result(of(a[0]).append(a[0], a[1], {}));
    insert_entry<Slot::append>(r);
}
template <>
void entry<Slot::insert>(const int32_t* r) {
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
    if (types && !cell::is(*types, TypeId::datatype) && !cell::is(*types, TypeId::typeset))
        raise_expect_arg(Slot::copy, *types, 2);  // the argument of /types
    a.result(of(a[0]).copy(a[0], CopyOptions{a.arg<"part">(), a.has<"deep">(), types}));
}
template <>
void entry<Slot::find>(const int32_t* r) {
    const Args<Slot::find> a(r);
    a.result(of(a[0]).find(a[0], a[1], find_options(a)));
}
template <>
void entry<Slot::select>(const int32_t* r) {
    const Args<Slot::select> a(r);
    a.result(of(a[0]).select(a[0], a[1], find_options(a)));
}
template <>
void entry<Slot::length_q>(const int32_t* r) {
    const Args<Slot::length_q> a(r);
    const int32_t n = of(a[0]).length_q(a[0]);
    a.result(n < 0 ? cell::none() : cell::integer(n));
}
template <>
void entry<Slot::move>(const int32_t* r) {
    const Args<Slot::move> a(r);
    a.result(of(a[0]).move(a[0], a[1], a.arg<"part">()));
}
template <>
void entry<Slot::pick>(const int32_t* r) {
    const Args<Slot::pick> a(r);
    a.result(of(a[0]).pick(a[0], pick_poke_index(a[1]), a[1]));
}
template <>
void entry<Slot::poke>(const int32_t* r) {
    const Args<Slot::poke> a(r);
    const Cell value = a[2];
    (void)of(a[0]).poke(a[0], pick_poke_index(a[1]), a[1], value);
    a.result(value);
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
