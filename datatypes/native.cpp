// native!, action! and op!: the built-in functions and the infix operators. A native! or action!
// holds the 1-based index of its entry (natives table or generic action entries), its spec block
// and a two-cell series (its function context, none). An op! is the cell it was made from,
// retyped, with the source type kept in header bits 16-23.
#include "datatypes/native.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

using op::from_function;
using op::source_type;
Cell spec_block(const Cell& value) { return cell::series(TypeId::block, value.w2); }

[[noreturn]] void bad_make(TypeId type, Cell spec) {
    error::fire(ErrorId::bad_make_arg, cell::datatype_of(type), spec);
}

// make native! [spec index] and make action! [spec index]. Only filled natives are accepted: an
// index past the last native names no entry.
Cell native_make(TypeId type, Cell, Cell spec) {
    if (!cell::is(spec, TypeId::block) || block::length(spec) != 2) bad_make(type, spec);
    const Cell fn_spec = block::abs_at(spec, block::head_index(spec));
    const Cell index = block::abs_at(spec, block::head_index(spec) + 1);
    if (!cell::is(fn_spec, TypeId::block) || !cell::is(index, TypeId::integer)) bad_make(type, spec);
    const int32_t i = cell::as_integer(index);
    const bool in_range =
        type == TypeId::native ? natives::filled(static_cast<uint32_t>(i)) : i >= 1 && i <= kActionCount;
    if (!in_range) bad_make(type, spec);

    collector::Guard guard;  // the new series are held only here until the value is returned
    const NodeId context = context::make_from_spec(spec, true, false, context::Kind::function);
    const NodeId extra = memory::alloc_cells(2);
    series::append_cell(extra, context::cell_of(context));
    series::append_cell(extra, cell::none());
    // A block the caller keeps may change later, so it is copied; the table's own block, which
    // start-up hands over for every built-in and nothing else can reach, is kept as it is.
    const Cell table_spec = type == TypeId::native ? natives::spec(static_cast<uint32_t>(i))
                                                   : natives::action_spec(static_cast<Slot>(i - 1));
    const bool own = cell::series_node(fn_spec) == cell::series_node(table_spec) && block::head_index(fn_spec) == 0;
    const NodeId spec_node = own ? cell::series_node(fn_spec) : cell::series_node(block::clone(fn_spec, true, false));
    return cell::make(type, static_cast<uint32_t>(i), spec_node, extra);
}

// The arguments an operator would take: two, with no lit-word or get-word before a plain word.
bool two_argument_spec(NodeId spec) {
    const uint32_t n = series::length(spec);
    int arguments = 0;
    bool plain_seen = false;
    for (uint32_t i = 0; i < n; ++i) {
        const Cell item = memory::buffer(spec)->cells()[i];
        switch (cell::type(item)) {
            case TypeId::word:
                plain_seen = true;
                ++arguments;
                break;
            case TypeId::lit_word:
            case TypeId::get_word:
                if (!plain_seen) return false;
                ++arguments;
                break;
            case TypeId::set_word: return arguments == 2;
            case TypeId::refinement: {
                const symbol::Id s = symbol::resolve(item.w2);
                if (s != symbol::resolve(words::id(words::Word::local)) &&
                    s != symbol::resolve(words::id(words::Word::extern_)))
                    return false;
                return arguments == 2;
            }
            default: break;
        }
    }
    return arguments == 2;
}

Cell op_make(TypeId, Cell, Cell spec) {
    const TypeId source = cell::type(spec);
    if (source != TypeId::native && source != TypeId::action && source != TypeId::function && source != TypeId::routine)
        error::fire(ErrorId::invalid_type, cell::datatype_of(source));
    if (!two_argument_spec(spec.w2)) error::fire(ErrorId::bad_op_spec);
    const Cell made = op::from(spec);
    if (source == TypeId::function || source == TypeId::routine) function::set_more_at(spec, function::kOpSelf, spec);
    return made;
}

Cell native_reflect(Cell value, uint32_t field) {
    const symbol::Id f = symbol::resolve(field);
    // A copy: what a program does to it must not change the arguments the callable takes.
    if (f == symbol::resolve(words::id(words::Word::spec))) return block::clone(spec_block(value), true, false);
    if (f == symbol::resolve(words::id(words::Word::body))) {
        if (cell::is(value, TypeId::op) && from_function(value)) return function::more_at(value, function::kBody);
        return cell::integer(static_cast<int32_t>(value.w1));
    }
    error::fire(ErrorId::not_done);
}

template <TypeId type>
int32_t callable_form(Cell, NodeId out, int32_t limit) {
    switch (type) {
        case TypeId::native: return mold::emit(out, "?native?", limit);
        case TypeId::action: return mold::emit(out, "?action?", limit);
        default: return mold::emit(out, "?op?", limit);
    }
}

template <TypeId type>
int32_t native_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    limit = mold::emit(out, type == TypeId::native ? "make native! [" : "make action! [", limit);
    limit = block::mold(spec_block(value), out, flags, limit);
    return mold::emit(out, "]", limit);
}

int32_t op_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    // Errors raised while the function spec and body mold are reported as the operator's.
    stack::Call call(stack::FrameType::native, words::global(symbol::make(registry::action_word(Slot::mold))));
    const bool is_function = source_type(value) == TypeId::function;
    limit = mold::emit(out, is_function ? "make op! func " : "make op! [", limit);
    limit = block::mold(spec_block(value), out, flags, limit);
    if (!is_function) return mold::emit(out, "]", limit);
    const Cell body = function::more_at(value, function::kBody);
    if (cell::is(body, TypeId::block)) limit = block::mold(body, out, flags, limit);
    return limit;
}

// Built-in functions are equal when they call the same entry; an op! made from a function
// compares by the function's context.
int32_t native_compare(Cell a, Cell b, int32_t op) {
    if (cell::type(a) != cell::type(b) || !unordered_op(op)) return kNotComparable;
    return a.w1 == b.w1 ? 0 : (a.w1 < b.w1 ? -1 : 1);
}

}  // namespace

extern const ActionTable native_actions = {
    .make = native_make,
    .reflect = native_reflect,
    .form = callable_form<TypeId::native>,
    .mold = native_mold<TypeId::native>,
    .compare = native_compare,
};
extern const ActionTable action_actions = {
    .make = native_make,
    .form = callable_form<TypeId::action>,
    .mold = native_mold<TypeId::action>,
    .compare = native_compare,
};
extern const ActionTable op_actions = {
    .make = op_make,
    .form = callable_form<TypeId::op>,
    .mold = op_mold,
    .compare = native_compare,
};

// A built-in function's spec block (w2) and its context series (w3); w1 is an entry index.
constexpr type_traits::Traits kBuiltinTraits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::cells},
    .hash = type_traits::hash_w3,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .self_evaluating = false,
};
extern const type_traits::Traits native_traits = kBuiltinTraits;
extern const type_traits::Traits action_traits = kBuiltinTraits;
// An op! holds the payload of what it was made from: w1 is a context only for a function or routine.
extern const type_traits::Traits op_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::cells, type_traits::Ref::cells},
    .gate = type_traits::Gate::header_type,
    .gated = type_traits::kW1,
    .gate_shift = op::kSourceShift,
    .gate_types = type_group::bit(TypeId::function) | type_group::bit(TypeId::routine),
    .hash = type_traits::hash_w1_w2_w3,
    .same_words = type_traits::kW2 | type_traits::kW3,
    .self_evaluating = false,
};

}  // namespace zub
