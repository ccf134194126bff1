// function! and routine!: spec validation, local collection, construction and the actions. The
// context of a function has its values on the evaluation stack: a call points it at its argument
// cells, so the function value itself holds no values.
#include "datatypes/function.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub {

namespace function {
namespace {

constexpr uint32_t kUnbound = 0xFFFFFFFF;  // a word's index when it is bound to nothing
uint32_t g_library_flag = 0;               // kSystem while start-up builds the library

Cell item_at(NodeId node, uint32_t i) { return memory::buffer(node)->cells()[i]; }
symbol::Id canon(symbol::Id s) { return symbol::resolve(s); }
symbol::Id canon_word(words::Word w) { return symbol::resolve(words::id(w)); }
bool is_name(TypeId t) {
    return t == TypeId::word || t == TypeId::lit_word || t == TypeId::get_word || t == TypeId::refinement;
}
bool is_argument(TypeId t) { return t == TypeId::word || t == TypeId::lit_word || t == TypeId::get_word; }
Cell unbound(TypeId type, symbol::Id s) { return cell::make(type, 0, s, kUnbound); }

[[noreturn]] void bad_def(Cell spec) { error::fire(ErrorId::bad_func_def, spec); }

// A type block names datatypes and typesets, directly or through words that hold them.
void check_type_block(Cell types) {
    const NodeId node = cell::series_node(types);
    for (uint32_t i = block::head_index(types); i < series::length(node); ++i) {
        const Cell item = item_at(node, i);
        Cell value = item;
        if (cell::is(item, TypeId::word)) {
            value = *context::get(item);
            if (cell::is(value, TypeId::unset)) error::fire(ErrorId::no_value, item);
        }
        const TypeId t = cell::type(value);
        if (t != TypeId::datatype && t != TypeId::typeset && t != TypeId::word)
            error::fire(ErrorId::invalid_type_spec, item);
    }
}

}  // namespace

void set_more_at(const Cell& fn, uint32_t i, Cell value) { memory::buffer(fn.w3)->cells()[i] = value; }

uint32_t validate_spec(Cell spec) {
    const NodeId node = cell::series_node(spec);
    const uint32_t n = series::length(node);
    uint32_t i = block::head_index(spec);
    uint32_t flags = 0;
    if (i < n && cell::is(item_at(node, i), TypeId::block)) {
        const Cell attributes = item_at(node, i);
        const NodeId a = cell::series_node(attributes);
        for (uint32_t k = block::head_index(attributes); k < series::length(a); ++k) {
            const Cell word = item_at(a, k);
            if (!cell::is(word, TypeId::word)) bad_def(spec);
            if (canon(word.w2) == canon_word(words::Word::trace)) flags |= cell_flag::function_trace;
            if (canon(word.w2) == canon_word(words::Word::no_trace)) flags |= cell_flag::function_no_trace;
        }
        ++i;
    }
    bool locals = false, returns = false;
    std::vector<symbol::Id> names;  // canonical, for duplicates
    for (; i < n; ++i) {
        const Cell item = item_at(node, i);
        const TypeId t = cell::type(item);
        switch (t) {
            case TypeId::word:
            case TypeId::lit_word:
            case TypeId::get_word:
                if (locals && t != TypeId::word) bad_def(spec);
                if (returns && !locals) bad_def(spec);
                // The type block comes before the doc string.
                if (i + 2 < n && cell::is(item_at(node, i + 1), TypeId::string) &&
                    cell::is(item_at(node, i + 2), TypeId::block))
                    bad_def(spec);
                if (i + 1 < n && cell::is(item_at(node, i + 1), TypeId::block)) check_type_block(item_at(node, ++i));
                break;
            case TypeId::string: break;
            case TypeId::set_word:
                if (canon(item.w2) != canon_word(words::Word::return_) || returns || locals) bad_def(spec);
                returns = true;
                if (i + 1 >= n || !cell::is(item_at(node, i + 1), TypeId::block)) bad_def(spec);
                check_type_block(item_at(node, ++i));
                if (i + 1 < n && !cell::is(item_at(node, i + 1), TypeId::refinement) &&
                    !cell::is(item_at(node, i + 1), TypeId::string))
                    bad_def(spec);
                break;
            case TypeId::refinement:
                if (canon(item.w2) == canon_word(words::Word::local)) {
                    locals = true;
                } else if (locals || returns) {
                    bad_def(spec);
                }
                if (i + 1 < n) {
                    const TypeId next = cell::type(item_at(node, i + 1));
                    if (!is_name(next) && next != TypeId::set_word && next != TypeId::string) bad_def(spec);
                }
                break;
            default: bad_def(spec);
        }
        if (is_name(t)) {
            const symbol::Id s = canon(item.w2);
            for (symbol::Id seen : names)
                if (seen == s) error::fire(ErrorId::dup_vars, item);
            names.push_back(s);
        }
    }
    return flags;
}

namespace {

struct Names {
    std::vector<symbol::Id> list;  // canonical
    bool has(symbol::Id s) const {
        for (symbol::Id x : list)
            if (x == canon(s)) return true;
        return false;
    }
    void add(symbol::Id s) { list.push_back(canon(s)); }
};

void collect_word(Cell item, std::vector<symbol::Id>& collected, Names& known) {
    if (known.has(item.w2)) return;
    known.add(item.w2);
    collected.push_back(item.w2);
}

void walk_body(Cell body, std::vector<symbol::Id>& collected, Names& known, uint32_t depth) {
    if (depth > 512) error::fire(ErrorId::bad_func_def, body);  // a body that holds itself
    const NodeId node = cell::series_node(body);
    for (uint32_t i = block::head_index(body); i < series::length(node); ++i) {
        const Cell item = item_at(node, i);
        switch (cell::type(item)) {
            case TypeId::set_word: collect_word(item, collected, known); break;
            case TypeId::block:
            case TypeId::paren: walk_body(item, collected, known, depth + 1); break;
            case TypeId::word: {
                const symbol::Id s = canon(item.w2);
                const bool each = s == canon_word(words::Word::foreach) || s == canon_word(words::Word::remove_each);
                if (!each && s != canon_word(words::Word::repeat)) break;
                if (i + 1 >= series::length(node)) break;
                const Cell next = item_at(node, i + 1);
                if (cell::is(next, TypeId::word) || cell::is(next, TypeId::set_word)) {
                    collect_word(next, collected, known);
                    ++i;
                } else if (each && cell::is(next, TypeId::block)) {
                    const NodeId words = cell::series_node(next);
                    for (uint32_t k = block::head_index(next); k < series::length(words); ++k)
                        if (is_argument(cell::type(item_at(words, k))))
                            collect_word(item_at(words, k), collected, known);
                    ++i;
                }
                break;
            }
            default: break;
        }
    }
}

}  // namespace

void collect_locals(Cell spec, Cell body) {
    const NodeId node = cell::series_node(spec);
    const symbol::Id local = canon_word(words::Word::local);
    const symbol::Id extern_ = canon_word(words::Word::extern_);
    Names known;
    std::vector<symbol::Id> kept;  // locals written after the /extern section
    bool has_local = false;
    for (uint32_t i = 0; i < series::length(node); ++i) {
        const Cell item = item_at(node, i);
        if (!cell::is(item, TypeId::refinement) || canon(item.w2) != extern_) continue;
        bool after_local = false;
        for (uint32_t k = i + 1; k < series::length(node); ++k) {
            const Cell e = item_at(node, k);
            const TypeId t = cell::type(e);
            if (t == TypeId::refinement && canon(e.w2) == local) {
                after_local = true;
                continue;
            }
            if (after_local) {
                if (t == TypeId::word) kept.push_back(e.w2);
                continue;
            }
            if (!is_name(t) && t != TypeId::set_word && t != TypeId::block && t != TypeId::string)
                error::fire(ErrorId::bad_func_extern, e);
            if (t != TypeId::block && t != TypeId::string) known.add(e.w2);
        }
        block::clear_from(node, i);
        break;
    }
    for (uint32_t i = 0; i < series::length(node); ++i) {
        const Cell item = item_at(node, i);
        if (is_name(cell::type(item))) known.add(item.w2);
        if (cell::is(item, TypeId::refinement) && canon(item.w2) == local) has_local = true;
    }
    if (!kept.empty()) {
        block::append(node, unbound(TypeId::refinement, words::id(words::Word::local)));
        has_local = true;
        for (symbol::Id s : kept) {
            block::append(node, unbound(TypeId::word, s));
            known.add(s);
        }
    }
    std::vector<symbol::Id> collected;
    walk_body(body, collected, known, 0);
    std::erase_if(collected, [&](symbol::Id s) { return canon(s) == local; });
    if (collected.empty()) return;
    if (!has_local) block::append(node, unbound(TypeId::refinement, words::id(words::Word::local)));
    for (symbol::Id s : collected) block::append(node, unbound(TypeId::word, s));
}

int32_t count_local_slots(NodeId spec, uint32_t start, bool must_exist) {
    const symbol::Id local = canon_word(words::Word::local);
    for (uint32_t i = start; i < series::length(spec); ++i) {
        const Cell item = item_at(spec, i);
        if (!cell::is(item, TypeId::refinement) || canon(item.w2) != local) continue;
        int32_t count = 1;
        for (uint32_t k = i + 1; k < series::length(spec); ++k)
            if (cell::is(item_at(spec, k), TypeId::word)) ++count;
        return count;
    }
    return must_exist ? -1 : 0;
}

void push_refinement_defaults(uint32_t n) {
    if (n == 0) return;
    stack::push(cell::logic(false));
    for (uint32_t i = 1; i < n; ++i) stack::push(cell::none());
}

namespace {

// The parts function! and routine! share: the function spec at head 0, the more-series, the context.
struct Built {
    Cell spec;
    NodeId more;
    NodeId context;
};

Built build(Cell spec, Cell body, NodeId context, uint32_t code, uint32_t code2) {
    if (block::head_index(spec) > 0)
        spec = block::clone(cell::series(TypeId::block, cell::series_node(spec)), false, false);
    const NodeId more = memory::alloc_cells(kMoreCells);
    Cell copied = cell::none();
    if (cell::is(body, TypeId::block)) {
        body.w1 = block::head_index(body);
        copied = block::clone(body, true, true);
    }
    series::append_cell(more, copied);
    series::append_cell(more, cell::unset());
    series::append_cell(more, code ? cell::integer(static_cast<int32_t>(code)) : cell::unset());
    series::append_cell(more, cell::unset());
    series::append_cell(more, code2 ? cell::integer(static_cast<int32_t>(code2)) : cell::unset());
    if (!context) context = context::make_from_spec(spec, true, false, context::Kind::function);
    return {spec, more, context};
}

}  // namespace

void set_library_code(bool on) { g_library_flag = on ? kSystem : 0; }

NodeId push(Cell spec, Cell body, NodeId context, uint32_t code, uint32_t code2, uint32_t flags) {
    collector::Guard guard;  // the new series are held only in locals until the value is pushed
    const Built b = build(spec, body, context, code, code2);
    stack::push(Cell{static_cast<uint32_t>(TypeId::function) | flags | g_library_flag, b.context,
                     cell::series_node(b.spec), b.more});
    context::owner_of(b.context) = stack::top_cell();
    const Cell copied = item_at(b.more, kBody);
    if (!context && cell::is(copied, TypeId::block)) context::bind_block(copied, b.context, false);
    return b.context;
}

Cell make(Cell value) {
    if (!cell::is(value, TypeId::block) || block::length(value) < 2) bad_def(value);
    const Cell spec = block::abs_at(value, block::head_index(value));
    const Cell body = block::abs_at(value, block::head_index(value) + 1);
    if (!cell::is(spec, TypeId::block) || !cell::is(body, TypeId::block)) bad_def(value);
    const uint32_t flags = validate_spec(spec);
    stack::push(block::clone(spec, true, false));  // its own spec, as with func
    (void)push(stack::top_cell(), body, 0, 0, 0, flags);
    const Cell fn = stack::top_cell();
    stack::pop(2);
    return fn;
}

NodeId push_routine(Cell spec, Cell body, uint32_t code, uint32_t code2, bool flag) {
    collector::Guard guard;
    const Built b = build(spec, body, 0, code, code2);
    uint32_t arity = 0;
    const NodeId node = cell::series_node(b.spec);
    for (uint32_t i = 0; i < series::length(node); ++i)
        if (cell::is(item_at(node, i), TypeId::word)) ++arity;
    if (arity > 31) arity = 31;
    const uint32_t header =
        static_cast<uint32_t>(TypeId::routine) | (flag ? kRoutineFlag : 0) | g_library_flag | arity << kArityShift;
    stack::push(Cell{header, b.context, node, b.more});
    context::owner_of(b.context) = stack::top_cell();
    return b.context;
}

uint32_t routine_arity(const Cell& routine) { return (routine.header & kArityMask) >> kArityShift; }

namespace {

struct Routine {
    std::string name;
    RoutineEntry entry;
};
std::vector<Routine> g_routines;

}  // namespace

uint32_t add_routine(std::string_view name, RoutineEntry entry) {
    if (const uint32_t found = find_routine(name)) {
        g_routines[found - 1].entry = entry;
        return found;
    }
    g_routines.push_back({std::string(name), entry});
    return static_cast<uint32_t>(g_routines.size());
}

uint32_t find_routine(std::string_view name) {
    for (size_t i = 0; i < g_routines.size(); ++i)
        if (g_routines[i].name == name) return static_cast<uint32_t>(i + 1);
    return 0;
}

RoutineEntry routine_entry(uint32_t index) {
    return index >= 1 && index <= g_routines.size() ? g_routines[index - 1].entry : nullptr;
}
void reset_routines() { g_routines.clear(); }

}  // namespace function

namespace {

using namespace function;

Cell function_make(TypeId, Cell, Cell spec) { return function::make(spec); }

Cell function_reflect(Cell value, uint32_t field) {
    const symbol::Id f = symbol::resolve(field);
    // A copy: the function's own spec must not change under it.
    if (f == symbol::resolve(words::id(words::Word::spec)))
        return block::clone(cell::series(TypeId::block, spec_of(value)), true, false);
    if (f == symbol::resolve(words::id(words::Word::body))) return more_at(value, kBody);
    if (f == symbol::resolve(words::id(words::Word::words))) {
        const NodeId context = context_of(value);
        const Cell copy = block::clone(cell::series(TypeId::block, context::words_block(context)), false, false);
        const NodeId node = cell::series_node(copy);
        for (uint32_t i = 0; i < series::length(node); ++i) {
            Cell& word = memory::buffer(node)->cells()[i];
            word.w1 = context;
            word.w3 = i;
        }
        return copy;
    }
    error::fire(ErrorId::not_done);
}

template <TypeId type>
int32_t function_form(Cell, NodeId out, int32_t limit) {
    return mold::emit(out, type == TypeId::function ? "?function?" : "?routine?", limit);
}

int32_t function_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    limit = mold::emit(out, "func ", limit);
    limit = block::mold(cell::series(TypeId::block, spec_of(value)), out, flags, limit);
    const Cell body = more_at(value, kBody);
    if (!cell::is(body, TypeId::block)) return mold::emit(out, " none", limit);
    return block::mold(body, out, flags, limit);
}

int32_t routine_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    limit = mold::emit(out, "routine ", limit);
    limit = block::mold(cell::series(TypeId::block, spec_of(value)), out, flags, limit);
    const Cell body = more_at(value, kBody);
    if (cell::is(body, TypeId::block)) return block::mold(body, out, flags, limit);
    limit = mold::emit(out, " ", limit);
    return registry::actions(cell::type(body)).mold(body, out, flags, limit);
}

// A function equals only itself: the more-series is its identity.
int32_t function_compare(Cell a, Cell b, int32_t op) {
    if (cell::type(a) != cell::type(b) || !unordered_op(op)) return kNotComparable;
    return a.w3 == b.w3 ? 0 : (a.w3 < b.w3 ? -1 : 1);
}

}  // namespace

extern const ActionTable function_actions = {
    .make = function_make,
    .reflect = function_reflect,
    .form = function_form<TypeId::function>,
    .mold = function_mold,
    .compare = function_compare,
};
extern const ActionTable routine_actions = {
    .make = unsupported::make,  // routines come from the registry, never from make
    .form = function_form<TypeId::routine>,
    .mold = routine_mold,
    .compare = function_compare,
};

// A function's context, spec and more-series; the values of a running call's context are on the
// evaluation stack, which the collector marks on its own.
extern const type_traits::Traits function_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::cells, type_traits::Ref::cells},
    .hash = type_traits::hash_w1_w2_w3,
    .self_evaluating = false,
};
extern const type_traits::Traits routine_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::cells, type_traits::Ref::cells},
    .self_evaluating = false,
};

}  // namespace zub
