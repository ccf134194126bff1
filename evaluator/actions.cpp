// Generic entries turn the stack layout of a call (arguments, then one integer per refinement)
// into the direct entry's typed arguments. The direct entries take cells by value, so nothing
// here holds a pointer into a series across the call.
#include "evaluator/actions.h"

#include <limits>

#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "evaluator/words.h"

namespace zub::actions {
namespace {

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();

Cell* args() { return stack::args(); }
const Cell* ref(const int32_t* refinements, int i) { return refinements[i] < 0 ? nullptr : args() + refinements[i]; }
bool flag(const int32_t* refinements, int i) { return refinements[i] >= 0; }
const ActionTable& of(const Cell& value) { return registry::actions(cell::type(value)); }
void result(Cell value) { *args() = value; }

// make and to name their target by a datatype, or by a prototype of it.
TypeId target_of(const Cell& type_or_proto) {
    return cell::is(type_or_proto, TypeId::datatype) ? static_cast<TypeId>(type_or_proto.w1) : cell::type(type_or_proto);
}

bool takes_part(TypeId t) { return type_group::in(type_group::series | type_group::bit(TypeId::map), t); }

Cell word_of(words::Word w) { return words::global(words::id(w)); }

// The length a part argument gives for a series value, moving the value's start back for a
// negative one. False when the call has nothing to do.
bool normalise_part(Cell& series, const Cell* part, int32_t* length) {
    if (!part) {
        *length = -1;
        return true;
    }
    if (!takes_part(cell::type(series))) error::fire(ErrorId::invalid_part, *part);
    const uint32_t tail = series::length(cell::series_node(series));
    if (series.w1 > tail) series.w1 = tail;
    int32_t n;
    if (cell::is(*part, TypeId::integer)) {
        n = cell::as_integer(*part);
    } else if (cell::type(*part) == cell::type(series) && part->w2 == series.w2) {
        n = static_cast<int32_t>(part->w1) - static_cast<int32_t>(series.w1);
    } else {
        error::fire(ErrorId::invalid_refine_arg, word_of(words::Word::part), *part);
    }
    if (n == 0) return false;
    if (n < 0) {
        if (series.w1 == 0) return false;
        const uint32_t back = std::min(static_cast<uint32_t>(-static_cast<int64_t>(n)), series.w1);
        series.w1 -= back;
        n = static_cast<int32_t>(back);
    }
    *length = n;
    return true;
}

// The part of append and insert limits what is inserted, measured on the value; the part of
// change limits what is replaced, measured on the series.
template <Slot slot>
void insert_entry(const int32_t* r) {
    Cell series = args()[0];
    Cell value = args()[1];
    InsertOptions options{-1, flag(r, 1), 1};
    if (const Cell* dup = ref(r, 2)) {
        options.dup = cell::to_int32_checked(*dup);
        if (options.dup < 1) return;  // nothing to insert: the series is the result
    }
    Cell& measured = slot == Slot::change ? series : value;
    if (!normalise_part(measured, ref(r, 0), &options.part)) return result(series);
    const ActionTable& table = of(series);
    InsertFn fn = slot == Slot::append ? table.append : slot == Slot::insert ? table.insert : table.change;
    result(fn(series, value, options));
}

// A string holding what form or mold wrote, cut to the limit when there is one.
template <typename Write>
void text_entry(const Cell* limit_arg, Write write) {
    const int32_t limit = limit_arg ? cell::to_int32_checked(*limit_arg) : kNoLimit;
    const NodeId out = series::alloc_with_unit(16, 1);
    stack::push(cell::series(TypeId::string, out));  // kept on the stack while it is written
    if (limit >= 1) {
        write(out, limit);
        if (limit_arg && series::length(out) > static_cast<uint32_t>(limit))
            series::set_tail(out, static_cast<uint32_t>(limit) + 1);
    }
    result(cell::series(TypeId::string, out));
    stack::pop(1);
}

FindOptions find_options(const int32_t* r, bool select) {
    FindOptions o{};
    o.part = ref(r, 0);
    o.only = flag(r, 1);
    o.case_sensitive = flag(r, 2);
    o.same = flag(r, 3);
    o.any = flag(r, 4);
    o.with = ref(r, 5);
    o.skip = ref(r, 6);
    o.last = flag(r, 7);
    o.reverse = flag(r, 8);
    if (!select) {
        o.tail = flag(r, 9);
        o.match = flag(r, 10);
    }
    return o;
}

void e_make(const int32_t*) {
    const TypeId t = target_of(args()[0]);
    result(registry::actions(t).make(t, args()[0], args()[1]));
}
void e_to(const int32_t*) {
    const TypeId t = target_of(args()[0]);
    result(registry::actions(t).to(t, args()[0], args()[1]));
}
void e_random(const int32_t* r) { result(of(args()[0]).random(args()[0], flag(r, 0), flag(r, 1), flag(r, 2))); }
void e_reflect(const int32_t*) { result(of(args()[0]).reflect(args()[0], args()[1].w2)); }
void e_form(const int32_t* r) {
    const Cell value = args()[0];
    text_entry(ref(r, 0), [&](NodeId out, int32_t limit) { of(value).form(value, out, limit); });
}
void e_mold(const int32_t* r) {
    const Cell value = args()[0];
    const MoldFlags flags{flag(r, 0), flag(r, 1), flag(r, 2), 0};
    text_entry(ref(r, 3), [&](NodeId out, int32_t limit) { of(value).mold(value, out, flags, limit); });
}

template <Slot slot, UnaryFn ActionTable::*member>
void e_unary(const int32_t*) { result((of(args()[0]).*member)(args()[0])); }
template <Slot slot, BinaryFn ActionTable::*member>
void e_binary(const int32_t*) { result((of(args()[0]).*member)(args()[0], args()[1])); }
template <Slot slot, PredicateFn ActionTable::*member>
void e_predicate(const int32_t*) { result(cell::logic((of(args()[0]).*member)(args()[0]))); }

void e_round(const int32_t* r) {
    const RoundOptions o{ref(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)};
    result(of(args()[0]).round(args()[0], o));
}
void e_copy(const int32_t* r) {
    const Cell* types = ref(r, 2);
    if (types && !cell::is(*types, TypeId::datatype) && !cell::is(*types, TypeId::typeset))
        raise_expect_arg(Slot::copy, *types, 2);  // the argument of /types
    result(of(args()[0]).copy(args()[0], CopyOptions{ref(r, 0), flag(r, 1), types}));
}
void e_find(const int32_t* r) { result(of(args()[0]).find(args()[0], args()[1], find_options(r, false))); }
void e_select(const int32_t* r) { result(of(args()[0]).select(args()[0], args()[1], find_options(r, true))); }
void e_length(const int32_t*) {
    const int32_t n = of(args()[0]).length_q(args()[0]);
    result(n < 0 ? cell::none() : cell::integer(n));
}
void e_move(const int32_t* r) { result(of(args()[0]).move(args()[0], args()[1], ref(r, 0))); }
void e_pick(const int32_t*) { result(of(args()[0]).pick(args()[0], pick_poke_index(args()[1]), args()[1])); }
void e_poke(const int32_t*) {
    const Cell value = args()[2];
    (void)of(args()[0]).poke(args()[0], pick_poke_index(args()[1]), args()[1], value);
    result(value);
}
void e_put(const int32_t* r) { result(of(args()[0]).put(args()[0], args()[1], args()[2], flag(r, 0))); }
void e_modify(const int32_t* r) {
    const Cell target = args()[0];
    (void)of(target).modify(target, args()[1], args()[2], flag(r, 0));
    result(target);
}
void e_remove(const int32_t* r) { result(of(args()[0]).remove(args()[0], ref(r, 0), ref(r, 1))); }
void e_reverse(const int32_t* r) { result(of(args()[0]).reverse(args()[0], ref(r, 0), ref(r, 1))); }
void e_sort(const int32_t* r) {
    const SortOptions o{flag(r, 0), ref(r, 1), ref(r, 2), ref(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)};
    result(of(args()[0]).sort(args()[0], o));
}
void e_take(const int32_t* r) { result(of(args()[0]).take(args()[0], ref(r, 0), flag(r, 1), flag(r, 2))); }
void e_trim(const int32_t* r) {
    const TrimOptions o{flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5)};
    result(of(args()[0]).trim(args()[0], o));
}
void e_open(const int32_t* r) {
    result(of(args()[0]).open(args()[0], OpenOptions{flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref(r, 4)}));
}
void e_read(const int32_t* r) {
    const ReadOptions o{ref(r, 0), ref(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5)};
    result(of(args()[0]).read(args()[0], o));
}
void e_write(const int32_t* r) {
    const WriteOptions o{flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref(r, 4), ref(r, 5), ref(r, 6), ref(r, 7)};
    result(of(args()[0]).write(args()[0], args()[1], o));
}
// Path evaluation and comparison are the runtime's own, reached directly; their words only show
// them. A program that calls one gets an error, not a call.
void e_internal(const int32_t*) {
    error::fire(ErrorId::cannot_use, stack::call_word(), cell::datatype_of(cell::type(args()[0])));
}

}  // namespace

const Entry g_entries[] = {  // sized by its declaration: a missing entry does not compile
    e_make, e_random, e_reflect, e_to, e_form, e_mold, e_internal, e_internal, e_internal,
    e_unary<Slot::absolute, &ActionTable::absolute>,
    e_binary<Slot::add, &ActionTable::add>,
    e_binary<Slot::divide, &ActionTable::divide>,
    e_binary<Slot::multiply, &ActionTable::multiply>,
    e_unary<Slot::negate, &ActionTable::negate>,
    e_binary<Slot::power, &ActionTable::power>,
    e_binary<Slot::remainder, &ActionTable::remainder>,
    e_round,
    e_binary<Slot::subtract, &ActionTable::subtract>,
    e_predicate<Slot::even_q, &ActionTable::even_q>,
    e_predicate<Slot::odd_q, &ActionTable::odd_q>,
    e_binary<Slot::and_, &ActionTable::and_>,
    e_unary<Slot::complement, &ActionTable::complement>,
    e_binary<Slot::or_, &ActionTable::or_>,
    e_binary<Slot::xor_, &ActionTable::xor_>,
    insert_entry<Slot::append>,
    e_binary<Slot::at, &ActionTable::at>,
    e_unary<Slot::back, &ActionTable::back>,
    insert_entry<Slot::change>,
    e_unary<Slot::clear, &ActionTable::clear>,
    e_copy,
    e_find,
    e_unary<Slot::head, &ActionTable::head>,
    e_predicate<Slot::head_q, &ActionTable::head_q>,
    e_unary<Slot::index_q, &ActionTable::index_q>,
    insert_entry<Slot::insert>,
    e_length,
    e_move,
    e_unary<Slot::next, &ActionTable::next>,
    e_pick,
    e_poke,
    e_put,
    e_remove,
    e_reverse,
    e_select,
    e_sort,
    e_binary<Slot::skip, &ActionTable::skip>,
    e_binary<Slot::swap, &ActionTable::swap>,
    e_unary<Slot::tail, &ActionTable::tail>,
    e_predicate<Slot::tail_q, &ActionTable::tail_q>,
    e_take,
    e_trim,
    e_unary<Slot::create, &ActionTable::create>,
    e_unary<Slot::close, &ActionTable::close>,
    e_unary<Slot::delete_, &ActionTable::delete_>,
    e_modify,
    e_open,
    e_unary<Slot::open_q, &ActionTable::open_q>,
    e_unary<Slot::query, &ActionTable::query>,
    e_read,
    e_binary<Slot::rename, &ActionTable::rename>,
    e_unary<Slot::update, &ActionTable::update>,
    e_write,
};

int32_t compare_direct(Cell a, Cell b, int32_t op) {
    switch (cell::type(a)) {
        case TypeId::native:
        case TypeId::action:
        case TypeId::op:
        case TypeId::function:
        case TypeId::routine:
            // Callables are equal only to themselves: same type, same entry or record.
            if (cell::type(a) != cell::type(b)) return kNotComparable;
            return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : (a.w1 < b.w1 ? -1 : 1);
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
