// The interpreter walks a block by node and index, re-reading its length after anything that may
// evaluate code (the block may be changed under it) and its buffer once any buffer has moved.
// Every expression pushes exactly one result; a call pushes a copy of its callable (so it stays
// referenced), marks a frame above it, lays its arguments out in the order of its argument block
// and leaves its result over the copy.
//
// Argument caches: natives and actions are described by the loaded signatures; a function! or
// routine! keeps a block built from its spec on its first call, in the second cell of its record:
// a typeset! per argument (the fetch kind in header bits 20-21), a copy of each refinement, and an
// integer! at the end counting the /local slots. Payload 3 of the cache cell holds its Plan.
#include "evaluator/interp.h"

#include <algorithm>
#include <array>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/depth.h"
#include "evaluator/natives.h"
#include "evaluator/signatures.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/hash_index.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub::interp {
namespace {

using stack::g_args;
using stack::g_top;

constexpr uint32_t kNoTail = 0xFFFFFFFF;
// A Source mode bit beside the kApply* ones: the block is evaluated while tracing, so its
// arguments take the general road, where their expressions are reported.
constexpr uint32_t kTraced = 16;
constexpr uint32_t kKindShift = 20;
constexpr uint32_t kKindMask = 3u << kKindShift;
constexpr uint32_t kReturnKind = 3;  // the return: entry of a cache: not an argument
constexpr int kMaxRefinements = 32;  // more than any built-in has

Cell g_position = cell::unset();

// Where a collection may run: between expressions, at function entry and at every block
// evaluation (so a loop whose body is one expression reaches one each round).
inline void safe_point() { collector::safe_point(); }
Cell g_anon = cell::unset();  // the word <anon>, for calls of functions without a name
// The global words of the natives and actions, so a call of one without a name (apply, a
// comparator, a handler) still reports the word a user can look up. Filled at init.
Cell g_native_names[natives::kCount];
Cell g_action_names[kActionCount];
Cell g_set_path = cell::unset();                       // the word set-path, naming a set-path's frame
NodeId g_empty = 0;                                    // an empty block: the source of calls given no block
const Cell g_default_types = typeset::make_default();  // what an argument without a type block takes
const signatures::Shape* g_native_shapes = nullptr;
const signatures::Shape* g_action_shapes = nullptr;

inline Cell* cells_of(NodeId node) { return memory::buffer(node)->cells(); }
inline uint32_t length_of(NodeId node) { return memory::buffer(node)->used() / sizeof(Cell); }

// Where arguments come from: a block from an index, up to its tail or an earlier limit. It keeps
// the block's buffer while no buffer has moved, saving a lookup on every step.
struct Source {
    NodeId node;
    uint32_t index;
    uint32_t tail = kNoTail;
    uint32_t mode = 0;  // kApply* bits

    Source(NodeId n, uint32_t i, uint32_t t = kNoTail, uint32_t m = 0)
        : node(n), index(i), tail(t), mode(m), buffer_(memory::buffer(n)), moves_(memory::g_moves) {}

    SeriesBuffer* buffer() {
        if (moves_ != memory::g_moves) [[unlikely]] {
            buffer_ = memory::buffer(node);
            moves_ = memory::g_moves;
        }
        return buffer_;
    }
    uint32_t end() { return std::min(tail, buffer()->used() / static_cast<uint32_t>(sizeof(Cell))); }
    bool at_end() { return index >= end(); }
    Cell peek() { return buffer()->cells()[index]; }
    Cell take() { return buffer()->cells()[index++]; }

  private:
    SeriesBuffer* buffer_;
    uint32_t moves_;
};

using context::slot_of;
using context::store;

// The value slot of a word, raising no-value or not-in-context when it has none.
inline Cell* lookup(const Cell& word) {
    if (Cell* slot = slot_of(word)) return slot;
    return context::get_in(word, word::context_of(word));
}

// The slot of an operator's word: the cell is a word holding an op!; null for any other cell.
[[gnu::always_inline]] inline const Cell* op_slot(const Cell& c) {
    if (!cell::is(c, TypeId::word)) return nullptr;
    const Cell* slot = slot_of(c);
    return slot && cell::is(*slot, TypeId::op) ? slot : nullptr;
}

// Values a path step changes by giving a new value rather than changing a series in place.
inline bool held_by_value(TypeId t) {
    switch (t) {
        case TypeId::time:
        case TypeId::date:
        case TypeId::pair:
        case TypeId::tuple:
        case TypeId::point2D:
        case TypeId::point3D:
        case TypeId::money:
        case TypeId::event:
        case TypeId::triple: return true;
        default: return false;
    }
}

inline bool is_callable(TypeId t) {
    return t == TypeId::native || t == TypeId::action || t == TypeId::function || t == TypeId::routine;
}

// An op! as the callable it was made from.
inline Cell op_target(const Cell& op) { return op::target(op); }

// Restores the position cell however an evaluation ends.
struct PositionScope {
    Cell saved;
    PositionScope() { cell::copy(saved, g_position); }
    ~PositionScope() { cell::copy(g_position, saved); }
};

Status expression(Source& s, bool infix);
Status traced_expression(Source& s, bool infix);
// An expression where tracing may be in force; the evaluator's own loops test for it once, outside.
inline Status any_expression(Source& s, bool infix) {
    if (trace::g_active) [[unlikely]]
        return traced_expression(s, infix);
    return expression(s, infix);
}
Status apply_operators(Source& s, const Cell* slot);
inline const Cell* operator_at(Source& s);
inline const Cell* object_path_field(const Cell& path);
inline Status operators(Source& s);
Status path_eval(Cell path, Source& s, int mode, Cell set_value);
Status get_path_value(const Cell& path, Source& s);
inline bool read_value(const Cell& block, Cell& out);
inline const Cell* plain_operand(const Cell& at);
enum PathMode { kEvaluate = 0, kGet = 1, kSet = 2 };

// ---- argument caches of functions and routines -------------------------------------------------

// Payload 3 of the record's cache cell, so a call reads it with the body: for a function whose
// argument block holds only evaluated arguments (and perhaps /local), their count, the count of
// /local slots and whether every argument takes the default types, so a plain call lays them out
// without walking the cache; kGeneral for any other function.
struct Plan {
    static constexpr int32_t kGeneral = -1;
    static constexpr uint32_t kMaxArity = 0xFF;
    static constexpr uint32_t kDefaultTypes = 1u << 24;

    static int32_t of(NodeId cache) {
        const uint32_t n = length_of(cache);
        const Cell& any = g_default_types;
        uint32_t arity = 0, locals = 0, defaults = kDefaultTypes;
        for (uint32_t k = 0; k < n; ++k) {
            const Cell entry = cells_of(cache)[k];
            if (cell::is(entry, TypeId::integer)) {
                locals = static_cast<uint32_t>(cell::as_integer(entry));
                break;
            }
            if (!cell::is(entry, TypeId::typeset) || (entry.header & kKindMask) != 0) return kGeneral;
            if (!typeset::same_types(entry, any)) defaults = 0;
            ++arity;
        }
        if (arity > kMaxArity || locals > 0xFFFF) return kGeneral;
        return static_cast<int32_t>(arity | locals << 8 | defaults);
    }
    static uint32_t arity(int32_t plan) { return static_cast<uint32_t>(plan) & kMaxArity; }
    static uint32_t locals(int32_t plan) { return (static_cast<uint32_t>(plan) >> 8) & 0xFFFF; }
    static bool default_types(int32_t plan) { return (static_cast<uint32_t>(plan) & kDefaultTypes) != 0; }
};

// The types a spec's type block names: datatypes and typesets, directly or through words that
// hold them; before the environment defines the standard typeset words, their built-in meaning.
Cell types_of(Cell block) {
    Cell types = typeset::make_empty();
    for (uint32_t k = cell::series_index(block); k < length_of(cell::series_node(block)); ++k) {
        const Cell item = cells_of(cell::series_node(block))[k];
        if (cell::is(item, TypeId::block)) continue;  // a callback's own spec
        if (cell::is(item, TypeId::word)) {
            const Cell* slot = slot_of(item);
            if ((!slot || cell::is(*slot, TypeId::unset)) && signatures::add_named(types, word::symbol_of(item)))
                continue;
        }
        typeset::add_value(types, item);
    }
    return types;
}

Cell argument_cell(Cell types, uint32_t kind) {
    types.header = (types.header & ~kKindMask) | (kind << kKindShift);
    return types;
}

// Builds the cache of a function! or routine! from its spec. May collect.
Cell build_cache(const Cell& fn) {
    const NodeId spec = function::spec_of(fn);
    Cell cache = block::make(length_of(spec) + 1);
    stack::push(cache);  // held while typesets are looked up
    const NodeId out = cell::series_node(cache);
    const uint32_t n = length_of(spec);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell item = cells_of(spec)[i];
        const TypeId t = cell::type(item);
        if (t == TypeId::word || t == TypeId::get_word || t == TypeId::lit_word) {
            Cell types = typeset::make_default();
            if (i + 1 < n && cell::is(cells_of(spec)[i + 1], TypeId::block)) {
                const Cell block = cells_of(spec)[++i];
                if (length_of(cell::series_node(block)) > cell::series_index(block)) types = types_of(block);
            }
            const uint32_t kind = t == TypeId::word ? 0 : t == TypeId::get_word ? 1 : 2;
            block::append(out, argument_cell(types, kind));
        } else if (t == TypeId::set_word) {
            block::append(out, argument_cell(typeset::make_empty(), kReturnKind));
            if (i + 1 < n && cell::is(cells_of(spec)[i + 1], TypeId::block)) ++i;
        } else if (t == TypeId::refinement) {
            if (symbol::resolve(word::symbol_of(item)) == symbol::resolve(words::id(words::Word::local))) {
                int32_t locals = 1;
                for (uint32_t k = i + 1; k < n; ++k)
                    if (cell::is(cells_of(spec)[k], TypeId::word)) ++locals;
                block::append(out, cell::integer(locals));
                break;
            }
            block::append(out, item);
        } else if (t == TypeId::block && i + 1 < n && !cell::is(cells_of(spec)[i + 1], TypeId::block)) {
            // attributes, or a type block already taken
        } else if (t != TypeId::string && t != TypeId::block) {
            error::fire(ErrorId::bad_func_def, item);
        }
    }
    function::set_cache_plan(cache, static_cast<uint32_t>(Plan::of(out)));
    function::set_more_at(fn, function::kArgCache, cache);
    stack::pop(1);
    return cache;
}

inline NodeId cache_of(const Cell& fn) {
    const Cell& cached = function::arg_cache(fn);
    if (cell::is(cached, TypeId::block)) return cell::series_node(cached);
    return cell::series_node(build_cache(fn));
}

// ---- fetching arguments -------------------------------------------------------------------------

// The word of an argument, for error messages: its symbol, or a function context's word found
// only when an error needs it. One 64-bit value (the context in the high half, else zero), so it
// travels in a register.
class ArgWord {
  public:
    ArgWord(symbol::Id s) : bits_(s) {}
    ArgWord(NodeId c, uint32_t slot) : bits_(uint64_t{c} << 32 | slot) {}
    Cell word() const {
        const auto context = static_cast<NodeId>(bits_ >> 32), low = static_cast<uint32_t>(bits_);
        return words::global(context ? word::symbol_of(context::word_at(context, low)) : low);
    }

  private:
    uint64_t bits_;
};

[[noreturn]] void expect_arg(const Cell& name, const Cell& value, ArgWord word) {
    error::fire(ErrorId::expect_arg, name, cell::datatype_of(value), word.word());
}

inline void check(const Cell& name, const Cell& value, const Cell& types, ArgWord word) {
    if (!typeset::contains(types, cell::type(value))) expect_arg(name, value, word);
}
// The same against a mask of type ids (typeset::low_mask): a built-in's argument.
inline void check(const Cell& name, const Cell& value, uint64_t mask, ArgWord word) {
    const auto id = static_cast<uint32_t>(cell::type(value));
    if (id >= 64 || !((mask >> id) & 1)) expect_arg(name, value, word);
}

// An argument taken as written while tracing: fetched and pushed at once.
[[gnu::noinline]] void report_taken(Source& s) {
    trace::emit_at(trace::event::fetch, s.node, s.index - 1, g_top[-1], cell::none());
    trace::emit_at(trace::event::push, s.node, s.index - 1, g_top[-1], cell::none());
}

// Fetches one argument by its kind and pushes it, checked against its types: every case but an
// expression.
Status fetch_other(Source& s, uint32_t kind, const Cell& types, const Cell& name, ArgWord word, bool operand,
                   bool from_path) {
    if (s.at_end()) {
        if (from_path) {
            // Still checked: a callable must never receive a type it does not take.
            stack::push(cell::none());
            check(name, g_top[-1], types, word);
            return Status::normal;
        }
        if (kind == 2 && typeset::contains(types, TypeId::unset)) {
            stack::push(cell::unset());
            return Status::normal;
        }
        error::fire(ErrorId::no_arg, name, word.word());
    }
    if (kind == 0) {
        if (s.mode & kApplyValues) {
            Source one{s.node, s.index, s.index + 1, s.mode & kTraced};
            ZUB_PASS(any_expression(one, false));
            ++s.index;
        } else {
            ZUB_PASS(any_expression(s, !operand));
        }
    } else if (kind == 1) {
        stack::push(s.take());
        if (trace::g_active) [[unlikely]]
            report_taken(s);
    } else {
        const Cell v = s.take();
        switch (cell::type(v)) {
            case TypeId::paren: ZUB_PASS(eval(v, true)); break;
            case TypeId::get_word: stack::push(*lookup(v)); break;
            case TypeId::get_path: {
                Source none{g_empty, 0};
                ZUB_PASS(get_path_value(v, none));
                break;
            }
            default: stack::push(v);
        }
    }
    check(name, g_top[-1], types, word);
    return Status::normal;
}

// Fetches one argument by its kind and pushes it, checked against its types. The common case, an
// expression, goes straight to the evaluator.
inline Status fetch(Source& s, uint32_t kind, const Cell& types, const Cell& name, ArgWord word, bool operand,
                    bool from_path) {
    if (kind != 0 || (s.mode & (kApplyValues | kTraced)) || s.at_end())
        return fetch_other(s, kind, types, name, word, operand, from_path);
    ZUB_PASS(expression(s, !operand));
    check(name, g_top[-1], types, word);
    return Status::normal;
}

// Skips what an inactive refinement's argument would have been (apply/safer).
inline void skip_argument(Source& s) {
    if (!s.at_end()) ++s.index;
}

// A refinement named in a path or an apply block: its symbol, and whether it is in use. False
// when the element ends the refinements.
bool refinement_element(const Cell& element, bool has_refinements, symbol::Id& symbol, bool& active) {
    switch (cell::type(element)) {
        case TypeId::word:
        case TypeId::refinement:
            symbol = word::symbol_of(element);
            active = true;
            return true;
        case TypeId::get_word:
            symbol = word::symbol_of(element);
            active = cell::truthy(*lookup(element));
            return true;
        default:
            if (!has_refinements) return false;
            error::fire(ErrorId::bad_refine, element);
    }
}

// Walks the refinements a path names after the callable, handing each to `use`.
template <typename Use>
Status path_refinements(const Cell& path, uint32_t from, bool has_refinements, Use use) {
    const NodeId node = cell::series_node(path);
    for (uint32_t k = from; k < length_of(node); ++k) {
        const Cell element = cells_of(node)[k];
        symbol::Id symbol;
        bool active;
        if (!refinement_element(element, has_refinements, symbol, active)) break;
        ZUB_PASS(use(symbol, active, element, path));
    }
    return Status::normal;
}

// Walks the refinements an apply block gives after the arguments: each a refinement! value
// followed by an expression giving its truth, handing each to `use`.
template <typename Use>
Status block_refinements(Source& s, const Cell& name, Use use) {
    while (!s.at_end() && cell::is(s.peek(), TypeId::refinement)) {
        const Cell element = s.take();
        bool active = true;
        if (!s.at_end()) {
            ZUB_PASS(fetch(s, 0, typeset::make_default(), name, word::symbol_of(element), false, false));
            active = cell::truthy(g_top[-1]);
            stack::pop(1);
        }
        ZUB_PASS(use(word::symbol_of(element), active, element, element));
    }
    return Status::normal;
}

// The calling frame: natives and actions one kind, functions another.
inline stack::Frame* mark_call(const Cell& fn, const Cell& name, Cell* args_base) {
    constexpr uint8_t kFlags = stack::frame_flag::interpreted;
    stack::Frame* f = cell::is(fn, TypeId::function) ? stack::mark_function(name, function::context_of(fn), kFlags)
                                                     : stack::mark(stack::FrameType::native, name, kFlags);
    g_args = args_base;
    return f;
}

// Leaves a finished call: its result, at its arguments base, replaces the pushed callable (or,
// for an operator, the left operand at `start`).
inline void finish(Cell* start) {
    stack::unwind();
    cell::copy(*start, g_top[-1]);
    g_top = start + 1;
}

// Leaves a call that an exit passes through.
inline Status abandon(Cell* start, Status status) {
    stack::unwind_drop();
    g_top = start;
    return status;
}

// What a trace reports a call by: the word it was made through, else the callable itself.
Cell traced_name(const Cell& fn, const Cell& name) {
    return cell::is(name, TypeId::word) && word::symbol_of(name) != word::symbol_of(g_anon) ? name : fn;
}

// Natives and actions: arguments in spec order, then every refinement's arguments.
Status call_builtin(const Cell& fn, const Cell& name, Source& s, const Cell* path, uint32_t path_index, Cell* start,
                    bool infix, uint32_t preset) {
    const bool native = cell::is(fn, TypeId::native);
    const signatures::Shape& shape =
        native ? g_native_shapes[native::entry_number(fn) - 1] : g_action_shapes[native::entry_number(fn) - 1];
    int32_t refinements[kMaxRefinements];
    for (uint32_t r = 0; r < shape.refinements; ++r) refinements[r] = -1;

    Cell* base = infix ? start : start + 1;
    mark_call(fn, name, base);
    const bool from_path = path != nullptr;
    for (uint32_t p = 0; p < shape.fixed; ++p) {
        const signatures::Param& param = shape.param[p];
        if (p < preset) {
            check(name, g_args[p], param.mask, param.word);
            continue;
        }
        const Status st = fetch(s, param.kind, param.types, name, param.word, infix && p == 1, from_path);
        if (st != Status::normal) return abandon(start, st);
    }
    for (uint32_t p = shape.fixed; p < shape.params; ++p) stack::push(cell::none());

    // Refinements, from the path or (apply) from the block.
    auto use = [&](symbol::Id symbol, bool active, const Cell& element, const Cell& where) -> Status {
        uint32_t r = 0;
        const symbol::Id wanted = symbol::resolve(symbol);
        while (r < shape.refinements && symbol::resolve(shape.refinement[r].word) != wanted) ++r;
        if (r == shape.refinements) error::fire(ErrorId::no_refine, name, element);
        if (refinements[r] != -1) error::fire(ErrorId::dup_refine, where);
        const signatures::Refinement& ref = shape.refinement[r];
        for (uint32_t k = 0; k < ref.count; ++k) {
            const signatures::Param& param = shape.param[ref.first + k];
            if (!active && (s.mode & kApplySafer)) {
                skip_argument(s);
                continue;
            }
            // An inactive refinement's arguments are still taken, and dropped unchecked.
            ZUB_PASS(fetch(s, param.kind, active ? param.types : typeset::make_default(), name, param.word, false,
                           from_path || !active));
            g_args[ref.first + k] = g_top[-1];
            stack::pop(1);
        }
        if (active) refinements[r] = ref.first;
        else
            for (uint32_t k = 0; k < ref.count; ++k) g_args[ref.first + k] = cell::none();
        return Status::normal;
    };
    if (path) {
        const Status st = path_refinements(*path, path_index, shape.refinements > 0, use);
        if (st != Status::normal) return abandon(start, st);
    } else if (s.mode & kApplyAll) {
        for (uint32_t r = 0; r < shape.refinements; ++r) {
            bool active = false;
            if (!s.at_end()) {
                const Status st = fetch(s, 0, typeset::make_default(), name, shape.refinement[r].word, false, false);
                if (st != Status::normal) return abandon(start, st);
                active = cell::truthy(g_top[-1]);
                stack::pop(1);
            }
            const Status st = use(shape.refinement[r].word, active, cell::none(), cell::none());
            if (st != Status::normal) return abandon(start, st);
        }
    } else if (s.mode & kApplyRefinements) {
        const Status st = block_refinements(s, name, use);
        if (st != Status::normal) return abandon(start, st);
    }

    Status st = Status::normal;
    if (trace::g_active) [[unlikely]]
        trace::emit_at(trace::event::call, s.node, s.index, fn, traced_name(fn, name));
    if (native) {
        st = natives::entry(native::entry_number(fn))(refinements);
    } else {
        actions::entry(static_cast<Slot>(native::entry_number(fn) - 1))(refinements);
    }
    if (st != Status::normal) return abandon(start, st);
    finish(start);
    return Status::normal;
}

// function! and routine!: arguments laid out as the function's context words, refinements
// holding their truth, then the /local slots.
Status fetch_function(const Cell& fn, const Cell& name, Source& s, const Cell* path, uint32_t path_index, bool infix,
                      uint32_t preset) {
    const NodeId cache = cache_of(fn);
    const NodeId context = function::context_of(fn);
    const bool from_path = path != nullptr;
    const bool all = (s.mode & kApplyAll) != 0;
    bool fetching = true;   // off once a refinement is met (on again for an active one under apply/all)
    uint32_t argument = 0;  // arguments met, to pass over the preset ones
    g_top = g_args;         // preset arguments already sit in the first slots
    const uint32_t n = length_of(cache);
    for (uint32_t k = 0; k < n; ++k) {
        const Cell entry = cells_of(cache)[k];
        switch (cell::type(entry)) {
            case TypeId::typeset: {
                const uint32_t kind = (entry.header & kKindMask) >> kKindShift;
                if (kind == kReturnKind) break;
                const uint32_t slot = static_cast<uint32_t>(g_top - g_args);
                const ArgWord word{context, slot};
                if (argument++ < preset) {
                    ++g_top;
                    check(name, g_args[slot], entry, word);
                    break;
                }
                if (fetching) {
                    ZUB_PASS(fetch(s, kind, entry, name, word, infix && argument == 2, from_path));
                } else if (all && !(s.mode & kApplySafer)) {
                    ZUB_PASS(fetch(s, kind, typeset::make_default(), name, word, false, true));
                    g_top[-1] = cell::none();
                } else {
                    if (all) skip_argument(s);
                    stack::push(cell::none());
                }
                break;
            }
            case TypeId::refinement:
                if (all && !s.at_end()) {
                    ZUB_PASS(fetch(s, 0, typeset::make_default(), name, word::symbol_of(entry), false, false));
                    g_top[-1] = cell::logic(cell::truthy(g_top[-1]));
                    fetching = cell::as_logic(g_top[-1]);
                    break;
                }
                fetching = false;
                stack::push(cell::logic(false));
                break;
            case TypeId::integer:
                function::push_refinement_defaults(static_cast<uint32_t>(cell::as_integer(entry)));
                break;
            default: break;
        }
    }

    // Refinements from the path or the apply block: set the slot, fetch its arguments in place.
    auto use = [&](symbol::Id symbol, bool active, const Cell& element, const Cell& where) -> Status {
        const symbol::Id wanted = symbol::resolve(symbol);
        uint32_t slot = 0;
        uint32_t k = 0;
        const uint32_t count = length_of(cache);
        for (; k < count; ++k) {
            const Cell entry = cells_of(cache)[k];
            if (cell::is(entry, TypeId::refinement) && symbol::resolve(word::symbol_of(entry)) == wanted) break;
            if (cell::is(entry, TypeId::integer)) {
                k = count;
                break;
            }
            if (!cell::is(entry, TypeId::typeset) || ((entry.header & kKindMask) >> kKindShift) != kReturnKind) ++slot;
        }
        if (k == count) error::fire(ErrorId::no_refine, name, element);
        if (cell::truthy(g_args[slot])) error::fire(ErrorId::dup_refine, where);
        g_args[slot] = cell::logic(active);
        for (uint32_t a = slot + 1, j = k + 1; j < count; ++j) {
            const Cell entry = cells_of(cache)[j];
            if (!cell::is(entry, TypeId::typeset)) break;
            const uint32_t kind = (entry.header & kKindMask) >> kKindShift;
            if (kind == kReturnKind) continue;
            if (!active && (s.mode & kApplySafer)) {
                skip_argument(s);
                ++a;
                continue;
            }
            ZUB_PASS(fetch(s, kind, active ? entry : typeset::make_default(), name, ArgWord{context, a}, false,
                           from_path || !active));
            g_args[a++] = active ? g_top[-1] : cell::none();
            stack::pop(1);
        }
        return Status::normal;
    };
    if (path) return path_refinements(*path, path_index, true, use);
    if (s.mode & kApplyRefinements) return block_refinements(s, name, use);
    return Status::normal;
}

// A block's expressions, one after the other; traced, its entry, each expression completed and its
// exit are reported. Two instances, so the plain one carries no test of tracing. Unguarded, the
// depth check and the safe point are left to the caller: a function's body, where the call has
// made both just before.
template <bool traced, bool guarded = true>
Status run_block(const Cell& block_cell, bool keep) {
    if constexpr (guarded) {
        depth::check();
        safe_point();
    }
    const Cell block = block_cell;  // the cell may be on the stack, where evaluation writes
    PositionScope scope;
    Cell* const base = g_top;
    Source s{cell::series_node(block), cell::series_index(block), kNoTail, traced ? kTraced : 0};
    if constexpr (traced) trace::emit(trace::event::enter, block, s.index, cell::none(), cell::none());
    if (s.at_end()) {
        stack::push(cell::unset());
    } else {
        g_position = block;
        for (;;) {
            cell::set_series_index(g_position, s.index);
            const Status st = traced ? traced_expression(s, true) : expression(s, true);
            if (st != Status::normal) {
                g_top = base;
                return st;
            }
            if constexpr (traced) trace::emit_at(trace::event::expr, s.node, s.index, g_top[-1], cell::none());
            if (s.at_end()) break;
            g_top = base;
            safe_point();
        }
    }
    if constexpr (traced) trace::emit(trace::event::exit, block, s.index, *base, cell::none());
    if (!keep) {
        cell::copy(*g_args, *base);
        g_top = g_args + 1;
    }
    return Status::normal;
}

[[gnu::noinline]] Status traced_eval(const Cell& block_cell, bool keep) { return run_block<true>(block_cell, keep); }

// Runs a function's body over the arguments laid out at the arguments base, its context's values
// already moved there.
[[gnu::always_inline]] inline Status run_body(stack::Frame* frame, const Cell& body) {
    frame->flags |= stack::frame_flag::body;
    safe_point();
    if (!cell::is(body, TypeId::block)) {
        *g_args = cell::unset();
        return Status::normal;
    }
    const Status st = trace::g_active ? traced_eval(body, false) : run_block<false, false>(body, false);
    switch (st) {
        case Status::normal: break;
        case Status::return_: *g_args = exits::value(); break;
        case Status::exit_: *g_args = cell::unset(); break;
        default: return st;
    }
    return Status::normal;
}

// The same, moving the values there first.
[[gnu::always_inline]] inline Status run_function(const Cell& fn, stack::Frame* frame, const Cell& body) {
    stack::set_values_place(function::context_of(fn), stack::index_of(g_args) + 1);
    return run_body(frame, body);
}

// A plain call's frame, marked before its arguments are fetched: a function frame that restores no
// context until enter_values gives it one, so the context's values place is read and moved in one
// look at its cache entry.
inline stack::Frame* mark_plain_function(const Cell& name, Cell* args_base) {
    stack::Frame* f = stack::mark(stack::FrameType::function, name, stack::frame_flag::interpreted);
    g_args = args_base;
    return f;
}

// Moves a function context's values to the arguments base, the frame keeping where they were.
inline void enter_values(stack::Frame* frame, NodeId context) {
    const uint32_t base = stack::index_of(g_args) + 1;
    frame->function_context = context;
    context::ValuesEntry& e = context::cache_place(context);
    if (context::valid(e, context)) [[likely]] {
        frame->saved_values = context::values_of(*e.cell);
        context::set_values_of(*e.cell, base);
        e.values = g_args;
    } else {
        Cell& place = stack::values_place(context);
        frame->saved_values = context::values_of(place);
        context::set_values_of(place, base);
    }
}

// A routine: its C++ entry, found by the index its record keeps.
Status run_routine(const Cell& fn) {
    const Cell code = function::more_at(fn, function::kCode);
    const function::RoutineEntry entry = cell::is(code, TypeId::integer)
                                             ? function::routine_entry(static_cast<uint32_t>(cell::as_integer(code)))
                                             : nullptr;
    if (!entry) error::fire(ErrorId::not_done);
    return entry(nullptr);
}

// Runs a function's body while tracing: the call reported, the body framed by its own reports
// and quiet when the function is the library's own.
[[gnu::noinline]] Status traced_run(const Cell& fn, const Cell& name, stack::Frame* frame, Source& s) {
    trace::emit_at(trace::event::call, s.node, s.index, fn, traced_name(fn, name));
    if (!cell::is(fn, TypeId::function)) return run_routine(fn);
    return trace::run_body(fn, [&] { return run_function(fn, frame, function::more_at(fn, function::kBody)); });
}

// A call while tracing: reported as it opens and as it returns.
[[gnu::noinline]] Status traced_invoke(Cell fn, Cell name, Source& s, const Cell* path, uint32_t path_index, bool infix,
                                       uint32_t preset) {
    trace::emit_at(trace::event::open, s.node, s.index, fn, traced_name(fn, name));
    if (cell::is(fn, TypeId::function) || cell::is(fn, TypeId::routine)) {
        // invoke's steps, with the body run as tracing asks.
        depth::check();
        Cell* const start = infix ? g_top - 1 : g_top - preset;
        if (!infix) {
            stack::push_slot();
            for (uint32_t i = preset; i > 0; --i) start[i] = start[i - 1];
            *start = fn;
        }
        stack::Frame* frame = mark_call(fn, name, infix ? start : start + 1);
        const Status fetched = fetch_function(fn, name, s, path, path_index, infix, preset + infix);
        if (fetched != Status::normal) return abandon(start, fetched);
        const Status st = traced_run(fn, name, frame, s);
        if (st != Status::normal) return abandon(start, st);
        finish(start);
    } else {
        depth::check();
        Cell* const start = infix ? g_top - 1 : g_top - preset;
        if (!infix) {
            stack::push_slot();
            for (uint32_t i = preset; i > 0; --i) start[i] = start[i - 1];
            *start = fn;
        }
        ZUB_PASS(call_builtin(fn, name, s, path, path_index, start, infix, preset + infix));
    }
    trace::emit_at(trace::event::return_, s.node, s.index, g_top[-1], traced_name(fn, name));
    return Status::normal;
}

// Calls a callable fetching its arguments from `s` (and its refinements from the path). Pushes
// the result, or, for an operator, puts it in place of the left operand on top of the stack.
// `preset` arguments are already on the stack above the callable's copy.
Status invoke(const Cell& fn, const Cell& name, Source& s, const Cell* path, uint32_t path_index, bool infix,
              uint32_t preset = 0) {
    if (trace::g_active) [[unlikely]]
        return traced_invoke(fn, name, s, path, path_index, infix, preset);
    depth::check();
    Cell* const start = infix ? g_top - 1 : g_top - preset;
    if (!infix) {
        // The callable's copy goes below the preset arguments.
        stack::push_slot();
        for (uint32_t i = preset; i > 0; --i) start[i] = start[i - 1];
        *start = fn;
    }
    switch (cell::type(fn)) {
        case TypeId::native:
        case TypeId::action: return call_builtin(fn, name, s, path, path_index, start, infix, preset + infix);
        case TypeId::function:
        case TypeId::routine: {
            stack::Frame* frame = mark_call(fn, name, infix ? start : start + 1);
            const Status fetched = fetch_function(fn, name, s, path, path_index, infix, preset + infix);
            if (fetched != Status::normal) return abandon(start, fetched);
            const Status st = cell::is(fn, TypeId::function)
                                  ? run_function(fn, frame, function::more_at(fn, function::kBody))
                                  : run_routine(fn);
            if (st != Status::normal) return abandon(start, st);
            finish(start);
            return Status::normal;
        }
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

// ---- integer operators ---------------------------------------------------------------------------

// The operators that integer arithmetic and comparison answer directly, by their callable.
enum class Fast : uint8_t {
    none,
    add,
    subtract,
    multiply,
    remainder,
    lesser,
    greater,
    lesser_or_equal,
    greater_or_equal,
    equal,
    not_equal
};

// The fast operator of each action and native, by index: tables, so the test is one load.
constexpr auto kFastActions = [] {
    std::array<Fast, kActionCount> table{};
    table[static_cast<size_t>(Slot::add)] = Fast::add;
    table[static_cast<size_t>(Slot::subtract)] = Fast::subtract;
    table[static_cast<size_t>(Slot::multiply)] = Fast::multiply;
    table[static_cast<size_t>(Slot::remainder)] = Fast::remainder;
    return table;
}();
constexpr auto kFastNatives = [] {
    using natives::Native;
    std::array<Fast, natives::kCount> table{};
    table[static_cast<size_t>(Native::lesser_q)] = Fast::lesser;
    table[static_cast<size_t>(Native::greater_q)] = Fast::greater;
    table[static_cast<size_t>(Native::lesser_or_equal_q)] = Fast::lesser_or_equal;
    table[static_cast<size_t>(Native::greater_or_equal_q)] = Fast::greater_or_equal;
    table[static_cast<size_t>(Native::equal_q)] = Fast::equal;
    table[static_cast<size_t>(Native::strict_equal_q)] = Fast::equal;
    table[static_cast<size_t>(Native::not_equal_q)] = Fast::not_equal;
    return table;
}();

// `number` is the callable's payload: its place in its table, from 1.
inline Fast fast_kind(TypeId type, uint32_t number) {
    const uint32_t index = number - 1;
    if (type == TypeId::action) return index < kFastActions.size() ? kFastActions[index] : Fast::none;
    if (type == TypeId::native) return index < kFastNatives.size() ? kFastNatives[index] : Fast::none;
    return Fast::none;
}
inline Fast fast_kind(const Cell& fn) { return fast_kind(cell::type(fn), native::entry_number(fn)); }
// The same for an op! cell, read from the type it was made from.
inline Fast op_fast_kind(const Cell& op) { return fast_kind(op::source_type(op), native::entry_number(op)); }

// The result of an operator between two integers, in `out`; false for an overflow, whose
// promotion the action itself makes, and for what the action raises an error for.
[[gnu::always_inline]] inline bool integer_result(Fast kind, int32_t a, int32_t b, Cell& out) {
    int32_t r;
    switch (kind) {
        case Fast::add:
            if (__builtin_add_overflow(a, b, &r)) return false;
            out = cell::integer(r);
            break;
        case Fast::subtract:
            if (__builtin_sub_overflow(a, b, &r)) return false;
            out = cell::integer(r);
            break;
        case Fast::multiply:
            if (__builtin_mul_overflow(a, b, &r)) return false;
            out = cell::integer(r);
            break;
        case Fast::remainder:
            // Zero and the one quotient that overflows raise their errors in the action.
            if (b == 0 || (b == -1 && a == INT32_MIN)) return false;
            out = cell::integer(a % b);
            break;
        case Fast::lesser: out = cell::logic(a < b); break;
        case Fast::greater: out = cell::logic(a > b); break;
        case Fast::lesser_or_equal: out = cell::logic(a <= b); break;
        case Fast::greater_or_equal: out = cell::logic(a >= b); break;
        case Fast::equal: out = cell::logic(a == b); break;
        case Fast::not_equal: out = cell::logic(a != b); break;
        case Fast::none: return false;
    }
    return true;
}

// An operator between two integers, when its right operand is an integer written as it is, a word
// holding one or an object's field through a path: the result replaces the left operand, as the
// operator's call would leave it, without a frame. `op` is the op! cell, its word at the
// source's position; `cells` and `end` are the source's. Answers false (nothing consumed) when the
// call must go the general way: other operands, other operators, or an overflow.
inline bool integer_operation(const Cell& op, Source& s, const Cell* cells, uint32_t end) {
    Cell& left = g_top[-1];
    if (!cell::is(left, TypeId::integer)) return false;
    const Fast kind = op_fast_kind(op);
    const uint32_t at = s.index + 1;  // the right operand
    if (kind == Fast::none || at >= end) return false;
    const Cell* right = cells + at;
    Cell read;
    if (cell::is(*right, TypeId::word)) {
        if (!(right = slot_of(*right))) return false;
    } else if (cell::is(*right, TypeId::path)) {
        if (!(right = object_path_field(*right))) return false;
    } else if (cell::is(*right, TypeId::paren)) {
        if (!read_value(*right, read)) return false;
        right = &read;
    }
    // A word after the right operand may be another operator; it is taken by the caller's loop.
    if (!cell::is(*right, TypeId::integer) ||
        !integer_result(kind, cell::as_integer(left), cell::as_integer(*right), left))
        return false;
    s.index = at + 1;
    return true;
}

// ---- plain calls ---------------------------------------------------------------------------------
// The common call: a word (or an operator) in a block evaluated plainly, not apply, no refinements
// from a path. The same steps as invoke's, with what cannot occur left out.

constexpr auto kNoRefinements = [] {
    std::array<int32_t, kMaxRefinements> none{};
    none.fill(-1);
    return none;
}();

// Values a word may hold and give as they are.
constexpr uint64_t kPlainValue =
    ~(type_group::bit(TypeId::unset) | type_group::bit(TypeId::native) | type_group::bit(TypeId::action) |
      type_group::bit(TypeId::function) | type_group::bit(TypeId::routine) | type_group::bit(TypeId::op));

// An argument that takes the default types: every value but unset.
struct AnyValue {};
constexpr AnyValue kAnyValue{};
inline void check(const Cell& name, const Cell& value, AnyValue, ArgWord word) {
    if (cell::is(value, TypeId::unset)) expect_arg(name, value, word);
}
// The typeset! the general road checks against.
inline const Cell& full_types(const Cell& types) { return types; }
inline Cell full_types(AnyValue) { return g_default_types; }
inline Cell full_types(uint64_t mask) {
    Cell set = typeset::make_empty();
    for (uint32_t id = 0; id < 64; ++id)
        if ((mask >> id) & 1) typeset::add(set, static_cast<TypeId>(id));
    return set;
}

// The commonest expression, a value or a word holding one, pushed with the operators after it
// (when infix); anything else goes to the evaluator. `buffer` and `end` are the source's, read
// once by the caller: nothing here allocates before an operator runs.
[[gnu::always_inline]] inline Status plain_expression(Source& s, SeriesBuffer* buffer, uint32_t end, bool infix) {
    const Cell* const at = buffer->cells() + s.index;
    const Cell* value = at;
    if (cell::is(*at, TypeId::word)) value = slot_of(*at);
    else if (!type_group::in(type_traits::g_self_evaluating, cell::type(*at))) value = nullptr;
    if (!value || !type_group::in(kPlainValue, cell::type(*value))) return expression(s, infix);
    const uint32_t next = ++s.index;
    stack::push(*value);
    if (infix && next < end) {
        // An operator after the value takes it as its left operand.
        if (const Cell* slot = op_slot(at[1])) return apply_operators(s, slot);
    }
    return Status::normal;
}

// Fetches an evaluated argument. Most arguments are a value or a word holding one, with no operator
// after it: those are pushed here; the rest go to the evaluator. `types` is a typeset! cell, a mask
// of type ids (typeset::low_mask) or kAnyValue.
template <typename Types>
inline Status fetch_plain(Source& s, const Types& types, const Cell& name, ArgWord word, bool operand,
                          bool from_path = false) {
    SeriesBuffer* const buffer = s.buffer();
    const uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    if (s.index >= end) return fetch_other(s, 0, full_types(types), name, word, operand, from_path);
    ZUB_PASS(plain_expression(s, buffer, end, !operand));
    check(name, g_top[-1], types, word);
    return Status::normal;
}

// if, unless, either, any, all and return: their own road (the conditionals' section below).
constexpr uint32_t kLastConditional = natives::index_of(natives::Native::all);
constexpr uint32_t kReturn = natives::index_of(natives::Native::return_);
Status conditional_call(const Cell& fn, const Cell& name, Source& s, Cell* start, uint32_t number);
Status return_call(const Cell& fn, const Cell& name, Source& s, Cell* start);

Status call_builtin_plain(const Cell& fn, const Cell& name, Source& s, Cell* start, bool infix) {
    const bool native = cell::is(fn, TypeId::native);
    if (native && !infix) {
        const uint32_t number = native::entry_number(fn);
        if (number <= kLastConditional) return conditional_call(fn, name, s, start, number);
        if (number == kReturn) return return_call(fn, name, s, start);
    }
    const signatures::Shape& shape =
        native ? g_native_shapes[native::entry_number(fn) - 1] : g_action_shapes[native::entry_number(fn) - 1];
    mark_call(fn, name, infix ? start : start + 1);
    uint32_t p = 0;
    if (infix) {
        check(name, g_args[0], shape.param[0].mask, shape.param[0].word);
        p = 1;
    }
    for (; p < shape.fixed; ++p) {
        const signatures::Param& param = shape.param[p];
        const Status st = param.kind == 0 ? fetch_plain(s, param.mask, name, param.word, infix && p == 1)
                                          : fetch_other(s, param.kind, param.types, name, param.word, false, false);
        if (st != Status::normal) return abandon(start, st);
    }
    for (p = shape.fixed; p < shape.params; ++p) stack::push(cell::none());
    if (infix && cell::is(g_args[0], TypeId::integer) && cell::is(g_args[1], TypeId::integer) &&
        integer_result(fast_kind(fn), cell::as_integer(g_args[0]), cell::as_integer(g_args[1]), g_args[0])) {
        // An operator between integers whose right operand took an evaluation of its own.
        finish(start);
        return Status::normal;
    }
    if (native) {
        const Status st = natives::g_entries[native::entry_number(fn) - 1](kNoRefinements.data());
        if (st != Status::normal) return abandon(start, st);
    } else {
        actions::g_entries[native::entry_number(fn) - 1](kNoRefinements.data());
    }
    finish(start);
    return Status::normal;
}

// `path`: the path the function was reached through, with no refinements after it (a method);
// a separate instance, so the plain call carries no test of it.
template <bool method = false>
Status call_function_plain(const Cell& fn, const Cell& name, Source& s, Cell* start, bool infix,
                           const Cell* path = nullptr) {
    stack::Frame* frame = mark_plain_function(name, infix ? start : start + 1);
    // Values both: fetching the arguments cannot move them.
    const Cell body = function::more_at(fn, function::kBody);
    Cell cached = function::arg_cache(fn);
    if (!cell::is(cached, TypeId::block)) cached = build_cache(fn);
    const NodeId cache = cell::series_node(cached);
    const auto plan = static_cast<int32_t>(function::cache_plan(cached));
    if (plan == Plan::kGeneral || (infix && Plan::arity(plan) == 0)) {
        const Status st = fetch_function(fn, name, s, method ? path : nullptr,
                                         method ? length_of(cell::series_node(*path)) : 0, infix, infix);
        if (st != Status::normal) return abandon(start, st);
    } else {
        const NodeId context = function::context_of(fn);
        const uint32_t arity = Plan::arity(plan);
        uint32_t k = 0;
        if (infix) {
            check(name, g_args[0], cells_of(cache)[0], ArgWord{context, 0});
            k = 1;
        }
        if (Plan::default_types(plan)) {
            for (; k < arity; ++k) {
                const Status st = fetch_plain(s, kAnyValue, name, ArgWord{context, k}, infix && k == 1, method);
                if (st != Status::normal) return abandon(start, st);
            }
        }
        for (; k < arity; ++k) {
            // A copy, read again for each argument: evaluating one may move the cache.
            const Cell types = cells_of(cache)[k];
            const Status st = fetch_plain(s, types, name, ArgWord{context, k}, infix && k == 1, method);
            if (st != Status::normal) return abandon(start, st);
        }
        if (const uint32_t locals = Plan::locals(plan)) function::push_refinement_defaults(locals);
    }
    enter_values(frame, function::context_of(fn));
    const Status st = run_body(frame, body);
    if (st != Status::normal) return abandon(start, st);
    finish(start);
    return Status::normal;
}

// Calls `fn` named `name`, its arguments from `s`; for an operator (infix), the left operand is on
// top of the stack and the result takes its place.
inline Status call_plain(const Cell& fn, const Cell& name, Source& s, bool infix) {
    if (s.mode != 0 || cell::is(fn, TypeId::routine)) return invoke(fn, name, s, nullptr, 0, infix);
    depth::check();
    Cell* const start = infix ? g_top - 1 : stack::push(fn);
    if (cell::is(fn, TypeId::function)) return call_function_plain(fn, name, s, start, infix);
    return call_builtin_plain(fn, name, s, start, infix);
}

// ---- conditionals ------------------------------------------------------------------------------
// if, unless, either, any, all and return called plainly. Their frame is marked as any native's
// (but by a return that cannot fail, see return_call), so errors (where, near) and the call's word
// see the same call; their arguments are taken here and the code they evaluate is walked here,
// without the native's entry between. Never entered while tracing (calls then go through invoke);
// should tracing start in an argument, the branch takes the general road.

static_assert(natives::index_of(natives::Native::if_) == 1 && natives::index_of(natives::Native::unless) == 2 &&
                  natives::index_of(natives::Native::either) == 3 && natives::index_of(natives::Native::any) == 4 &&
                  natives::index_of(natives::Native::all) == 5,
              "the conditionals are the first natives, in this order");

// A block argument that is not a block written in place: the plain way, checked against its types.
[[gnu::noinline]] Status fetch_other_block(Source& s, const signatures::Param& param, const Cell& name) {
    return fetch_plain(s, param.mask, name, param.word, false);
}

// Fetches a block argument: one written in place, no operator after it, is pushed as it is.
[[gnu::always_inline]] inline Status fetch_block(Source& s, const signatures::Param& param, const Cell& name) {
    SeriesBuffer* const buffer = s.buffer();
    const uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    const Cell* const at = buffer->cells() + s.index;
    if (s.index < end && cell::is(*at, TypeId::block)) {
        if (s.index + 1 >= end || !op_slot(at[1])) {
            stack::push(*at);
            ++s.index;
            return Status::normal;
        }
    }
    return fetch_other_block(s, param, name);
}

// Fetches an any-type! argument (a condition, return's value): nothing to check.
[[gnu::always_inline]] inline Status fetch_any_type(Source& s, const signatures::Param& param, const Cell& name) {
    SeriesBuffer* const buffer = s.buffer();
    const uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    if (s.index >= end) return fetch_other(s, 0, param.types, name, param.word, false, false);
    return plain_expression(s, buffer, end, true);
}

// Leaves a conditional's call with its result over the pushed callable at `start`: the native
// frame popped, as finish does.
inline void leave_conditional(Cell* start, const Cell& result) {
    const stack::Frame* const f = --stack::g_frame_top;
    g_args = stack::g_cells + f->saved_args;
    *start = result;
    g_top = start + 1;
}

// Evaluates a branch, the conditional's frame on top, its value put over the pushed callable:
// run_block's steps, the common expression (a value or a word holding one) taken in place. The
// frame was marked after a depth check; the safe point on entry is the one every block evaluation
// makes, so a loop whose body is a conditional still reaches one each round.
[[gnu::always_inline]] inline Status run_branch(const Cell& block_cell, Cell* start) {
    if (trace::g_active) [[unlikely]] {
        ZUB_PASS(traced_eval(block_cell, false));
        leave_conditional(start, *g_args);
        return Status::normal;
    }
    safe_point();
    const Cell block = block_cell;
    PositionScope scope;
    Cell* const base = g_top;
    Source s{cell::series_node(block), cell::series_index(block)};
    SeriesBuffer* buffer = s.buffer();
    uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    if (s.index >= end) {
        leave_conditional(start, cell::unset());
        return Status::normal;
    }
    g_position = block;
    for (;;) {
        cell::set_series_index(g_position, s.index);
        ZUB_PASS(plain_expression(s, buffer, end, true));
        buffer = s.buffer();
        end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
        if (s.index >= end) break;
        g_top = base;
        safe_point();
        buffer = s.buffer();
        end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    }
    leave_conditional(start, *base);
    return Status::normal;
}

// any and all: the block's expressions in turn, each as an expression of its own (no safe point
// between them), until one decides; its value, the last one or none in the frame's result cell.
Status run_any_all(bool any) {
    const Cell block = g_args[0];
    Cell* const base = g_args + 1;
    PositionScope scope;
    g_position = block;
    Source s{cell::series_node(block), cell::series_index(block)};
    Cell result = cell::none();
    while (!s.at_end()) {
        depth::check();
        cell::set_series_index(g_position, s.index);
        s.mode = trace::g_active ? kTraced : 0;
        ZUB_PASS(any_expression(s, true));
        const Cell value = g_top[-1];
        g_top = base;
        if (cell::truthy(value) == any) {
            result = any ? value : cell::none();
            break;
        }
        if (!any) result = value;
    }
    *g_args = result;
    g_top = g_args + 1;
    return Status::normal;
}

// A plain call of a conditional, its callable pushed at `start`: the native's frame marked, the
// arguments fetched and checked in order, then what the native does.
[[gnu::noinline]] Status conditional_call(const Cell& fn, const Cell& name, Source& s, Cell* start, uint32_t number) {
    using natives::Native;
    mark_call(fn, name, start + 1);
    const signatures::Param* const param = g_native_shapes[number - 1].param;
    Status st;
    if (number >= natives::index_of(Native::any)) {
        st = fetch_plain(s, param[0].mask, name, param[0].word, false);
        if (st == Status::normal) st = run_any_all(number == natives::index_of(Native::any));
        if (st != Status::normal) return abandon(start, st);
        finish(start);
        return Status::normal;
    }
    st = fetch_any_type(s, param[0], name);
    if (st == Status::normal) st = fetch_block(s, param[1], name);
    const Cell* branch = g_args + 1;
    if (number == natives::index_of(Native::either)) {
        if (st == Status::normal) st = fetch_block(s, param[2], name);
        if (st == Status::normal && !cell::truthy_checked(g_args[0])) branch = g_args + 2;
    } else if (st == Status::normal && cell::truthy(g_args[0]) != (number == natives::index_of(Native::if_))) {
        leave_conditional(start, cell::none());
        return Status::normal;
    }
    if (st == Status::normal) st = run_branch(*branch, start);
    if (st != Status::normal) return abandon(start, st);
    return Status::normal;
}

// A plain call of return, its callable pushed at `start`: its value taken, the exit started with the frame still marked, so a
// return with no function to leave is an error of the return's call. The commonest return, of a
// value, a word holding one or an object's field, with no operator after it, evaluates nothing and cannot fail when it
// has a function to leave: it starts the exit without marking the frame no one would see.
[[gnu::noinline]] Status return_call(const Cell& fn, const Cell& name, Source& s, Cell* start) {
    SeriesBuffer* const buffer = s.buffer();
    const uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    if (s.index < end) {
        const Cell* const at = buffer->cells() + s.index;
        const Cell* const value = plain_operand(*at);
        if (value && (s.index + 1 >= end || !op_slot(at[1])) && exits::return_reaches(stack::g_frame_top - 1)) {
            ++s.index;
            exits::value() = *value;
            g_top = start;
            return Status::return_;
        }
    }
    mark_call(fn, name, start + 1);
    const signatures::Param& param = g_native_shapes[kReturn - 1].param[0];
    const Status st = fetch_any_type(s, param, name);
    return abandon(start, st == Status::normal ? exits::raise_return() : st);
}

// ---- expressions -------------------------------------------------------------------------------

// The word a call reports: the one it was made through, else a native's or an action's own word.
Cell name_of(const Cell& fn, const Cell& name) {
    if (cell::is(name, TypeId::word)) return name;
    if (cell::is(fn, TypeId::native)) return g_native_names[native::entry_number(fn) - 1];
    if (cell::is(fn, TypeId::action)) return g_action_names[native::entry_number(fn) - 1];
    return g_anon;
}

// The common step of a path, reading an object's field by a word, straight from the context: the
// field's slot, or null when the step must go through the object's path action (a set, another
// kind of element, a missing or unset field and its error).
inline const Cell* object_field(const Cell& parent, const Cell& element, bool setting) {
    if (setting || !cell::is(parent, TypeId::object) || !cell::is(element, TypeId::word)) return nullptr;
    const object::Field* field = object::field_of(parent.w1, element.w2);
    return field && !cell::is(*field->value, TypeId::unset) ? field->value : nullptr;
}

// object_chain for a path of more than two words: `steps` are its words, `n` their count.
[[gnu::noinline]] object::Field* deeper_chain(const Cell* steps, uint32_t n) {
    if (!cell::is(steps[0], TypeId::word)) return nullptr;
    const Cell* object = slot_of(steps[0]);
    for (uint32_t k = 1;; ++k) {
        if (!object || !cell::is(*object, TypeId::object) || !cell::is(steps[k], TypeId::word)) return nullptr;
        object::Field* const field = object::field_of(object->w1, steps[k].w2);
        if (!field || k + 1 == n) return field;
        object = field->value;
    }
}

// The field a path of words names through objects: a word holding an object, then words, each
// but the last naming a field that holds an object (o/x, o/inner/x ...). Null for any other path.
[[gnu::always_inline]] inline object::Field* object_chain(const Cell& path) {
    SeriesBuffer* const buffer = memory::buffer(cell::series_node(path));
    const uint32_t head = cell::series_index(path);
    const uint32_t end = buffer->used() / sizeof(Cell);
    const Cell* const steps = buffer->cells() + head;
    if (end != head + 2) [[unlikely]]
        return end > head + 2 ? deeper_chain(steps, end - head) : nullptr;
    if (!cell::is(steps[0], TypeId::word) || !cell::is(steps[1], TypeId::word)) return nullptr;
    const Cell* object = slot_of(steps[0]);
    if (!object || !cell::is(*object, TypeId::object)) return nullptr;
    return object::field_of(object->w1, steps[1].w2);
}

// The commonest paths, a word holding an object then words naming fields: the last field's slot,
// read straight from the objects' contexts; null for anything else (a missing or unset field
// too), which path_eval takes.
inline const Cell* object_path_field(const Cell& path) {
    const object::Field* field = object_chain(path);
    return field && !cell::is(*field->value, TypeId::unset) ? field->value : nullptr;
}

// A method: the function `field` holds, reached through an object path, called.
[[gnu::noinline]] Status method_call(const Cell& path, Source& s, const Cell* field) {
    const Cell fn = *field;
    const uint32_t end = length_of(cell::series_node(path));
    const Cell name = cells_of(cell::series_node(path))[end - 1];
    if (!cell::is(fn, TypeId::function) || s.mode != 0 || trace::g_active)
        return invoke(fn, name, s, &path, end, false);
    depth::check();
    Cell* const start = stack::push(fn);
    return call_function_plain<true>(fn, name, s, start, false, &path);
}

// A path's value, an object path first; a function it reaches (a method) is called.
// Out of line, as is the set below: inlined, they cost other_expression's parens and the rest
// two more saved registers on every entry; the call, out of line too, costs the read none.
[[gnu::noinline]] Status evaluate_path(const Cell& path, Source& s) {
    const Cell* field = object_path_field(path);
    if (!field) return path_eval(path, s, kEvaluate, cell::unset());
    if (is_callable(cell::type(*field))) [[unlikely]]
        return method_call(path, s, field);
    stack::push(*field);
    return Status::normal;
}

// A path's value got, not evaluated: an object path's field as it is (a function too), read
// straight; any other path the general road.
Status get_path_value(const Cell& path, Source& s) {
    if (const Cell* field = object_path_field(path)) {
        stack::push(*field);
        return Status::normal;
    }
    return path_eval(path, s, kGet, cell::unset());
}

// Sets a field through an object path as the object's path action does (the set mark,
// on-change*), the value pushed as the result; false, nothing done, for anything else.
bool set_object_path(const Cell& path, const Cell& value) {
    const object::Field* field = object_chain(path);
    if (!field || !field->settable) return false;
    // An object without event handlers takes the value and its field's set mark here; one with
    // handlers goes through set_field, the object (its context's owner) held on the stack while
    // they run.
    if (object::store_field(*field, value)) {
        stack::push(value);
        return true;
    }
    const uint32_t index = field->index;
    Cell* const kept = stack::push(*field->owner);
    object::set_field(*kept, index, value);
    *kept = value;
    return true;
}

// A value an expression may start with that is read without evaluating anything: a value of its
// own, a word holding a plain value or an object's field through a path; null for any other.
// Valid until the next allocation.
inline const Cell* plain_operand(const Cell& at) {
    const Cell* value;
    if (cell::is(at, TypeId::word)) value = slot_of(at);
    else if (cell::is(at, TypeId::path)) value = object_path_field(at);
    else return type_group::in(type_traits::g_self_evaluating, cell::type(at)) ? &at : nullptr;
    return value && type_group::in(kPlainValue, cell::type(*value)) ? value : nullptr;
}

// The value of cells from `at` to `end` that are one expression only reading values: a plain
// operand and integer operators after it, each with a plain integer right operand, none
// overflowing. Such an expression calls nothing, allocates nothing and raises nothing, so its
// value read in place is the block's evaluation with nothing anyone could see (a frame, the
// position, an error) left out. False, nothing done, for any other cells.
[[gnu::noinline]] bool read_cells(const Cell* cells, uint32_t at, uint32_t end, Cell& out) {
    const Cell* const first = plain_operand(cells[at]);
    if (!first) return false;
    Cell value = *first;
    for (++at; at < end; at += 2) {
        const Cell* const op = op_slot(cells[at]);
        if (!op || at + 1 >= end || !cell::is(value, TypeId::integer)) return false;
        const Cell* right = cells + at + 1;
        if (cell::is(*right, TypeId::word)) right = slot_of(*right);
        else if (cell::is(*right, TypeId::path)) right = object_path_field(*right);
        if (!right || !cell::is(*right, TypeId::integer) ||
            !integer_result(op_fast_kind(*op), cell::as_integer(value), cell::as_integer(*right), value))
            return false;
    }
    cell::copy(out, value);
    return true;
}

// The same for a block or paren from its index to its tail. An operand and pairs of an operator
// and an operand make an odd count of values: any other count (a call with its argument, most
// often) is told at once.
inline bool read_value(const Cell& block, Cell& out) {
    SeriesBuffer* const buffer = memory::buffer(cell::series_node(block));
    const uint32_t end = buffer->used() / static_cast<uint32_t>(sizeof(Cell));
    const uint32_t at = cell::series_index(block);
    return at < end && ((end - at) & 1) != 0 && read_cells(buffer->cells(), at, end, out);
}

// The frame of a set-path, as if marked before `start`, where its value sits when it is marked
// after taking it.
inline void mark_set_path(Cell* start) {
    stack::mark(stack::FrameType::native, g_set_path, stack::frame_flag::interpreted);
    g_args = start;
}

// Sets the path to the value at the frame's arguments base and leaves it there, the frame popped.
Status store_set_path(const Cell& path, Source& s, Cell* start) {
    Status st = Status::normal;
    if (trace::g_active) [[unlikely]]
        trace::emit_at(trace::event::set, s.node, s.index, g_args[0], path);
    if (!set_object_path(path, g_args[0])) st = path_eval(path, s, kSet, g_args[0]);
    if (st != Status::normal) return abandon(start, st);
    g_args[0] = g_top[-1];
    g_top = g_args + 1;
    stack::unwind();
    return Status::normal;
}

// A set-path and the expression after it, whose value it takes and leaves pushed. Its frame (named
// set-path, as errors and handlers see it) is marked once something may be called: a plain value,
// the integer operators after it and a field stored where no handler is told take none. Marked
// later, it is the frame marking it first would have made: nothing before it changed the stacks.
[[gnu::noinline]] Status set_path_expression(const Cell& path, Source& s) {
    const bool traced = trace::g_active;
    if (traced) [[unlikely]]
        trace::emit_at(trace::event::push, s.node, s.index - 1, path, cell::none());
    if (s.at_end()) error::fire(ErrorId::need_value, path);
    Cell* const start = g_top;
    const Cell* first = traced ? nullptr : plain_operand(s.buffer()->cells()[s.index]);
    if (!first) {
        mark_set_path(start);
        const Status st = any_expression(s, true);
        if (st != Status::normal) return abandon(start, st);
        return store_set_path(path, s, start);
    }
    stack::push(*first);
    ++s.index;
    while (const Cell* op = operator_at(s)) {
        SeriesBuffer* const buffer = s.buffer();
        if (integer_operation(*op, s, buffer->cells(), std::min(s.tail, buffer->used() / uint32_t{sizeof(Cell)})))
            continue;
        mark_set_path(start);
        const Status st = apply_operators(s, op);
        if (st != Status::normal) return abandon(start, st);
        return store_set_path(path, s, start);
    }
    const object::Field* field = object_chain(path);
    if (field && object::store_field(*field, *start)) return Status::normal;
    mark_set_path(start);
    return store_set_path(path, s, start);
}

// A paren's value: read in place when it only reads values, else evaluated (always while
// tracing, where its steps are reported).
[[gnu::noinline]] Status paren_expression(const Cell& paren) {
    Cell read;
    if (trace::g_active || !read_value(paren, read)) return eval(paren, true);
    stack::push(read);
    return Status::normal;
}

// The values that are neither words, set-words nor values of their own. Out of line, so the common
// path keeps few registers.
[[gnu::noinline]] Status other_expression(const Cell& value, Source& s) {
    switch (cell::type(value)) {
        case TypeId::get_word: stack::push(*lookup(value)); break;
        case TypeId::lit_word: {
            Cell w = value;
            cell::set_type(w, TypeId::word);
            stack::push(w);
            break;
        }
        case TypeId::paren: ZUB_PASS(paren_expression(value)); break;
        case TypeId::path: ZUB_PASS(evaluate_path(value, s)); break;
        case TypeId::get_path: ZUB_PASS(get_path_value(value, s)); break;
        case TypeId::set_path: ZUB_PASS(set_path_expression(value, s)); break;
        case TypeId::lit_path: {
            Cell p = value;
            cell::set_type(p, TypeId::path);
            cell::set_series_extra(p, 0);
            stack::push(p);
            break;
        }
        case TypeId::native:
        case TypeId::action:
        case TypeId::function:
        case TypeId::routine: ZUB_PASS(invoke(value, name_of(value, g_anon), s, nullptr, 0, false)); break;
        case TypeId::op: error::fire(ErrorId::not_done);
        case TypeId::issue: {
            if (!s.at_end() && cell::is(s.peek(), TypeId::block)) {
                const symbol::Id sym = symbol::resolve(word::symbol_of(value));
                if (sym == symbol::resolve(words::id(words::Word::system)) ||
                    sym == symbol::resolve(words::id(words::Word::system_global)))
                    error::fire(ErrorId::zub_system);
            }
            stack::push(value);
            break;
        }
        default: stack::push(value);
    }
    return Status::normal;
}

// A set-word and the expression after it, whose value it takes and leaves pushed. Out of line, so
// the common path keeps few registers.
[[gnu::noinline]] Status set_word_expression(Cell word, Source& s) {
    SeriesBuffer* const buffer = s.buffer();
    const uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
    if (s.index >= end) error::fire(ErrorId::need_value, word);
    Cell* const start = g_top;
    const Status st = plain_expression(s, buffer, end, true);
    if (st != Status::normal) {
        g_top = start;
        return st;
    }
    context::store_any(word, *start);
    g_top = start + 1;
    return Status::normal;
}

// One expression: its value pushed, then (infix) the operators that follow it applied. The common
// cases are tested in order rather than through a jump table, which predicts them worse.
// Never entered while tracing: the traced roads take traced_expression instead (any_expression),
// so the plain calls below need not test for it.
Status expression(Source& s, bool infix) {
    const Cell value = s.take();
    if (cell::is(value, TypeId::word)) {
        // The type is read in the slot: a copy first puts a store and a reload before the test.
        const Cell* slot = lookup(value);
        const TypeId t = cell::type(*slot);
        if (type_group::in(kPlainValue, t)) {
            stack::push(*slot);
        } else if (is_callable(t)) {
            const Cell v = *slot;
            ZUB_PASS(call_plain(v, value, s, false));
        } else {
            error::fire(t == TypeId::op ? ErrorId::no_op_arg : ErrorId::no_value, value);
        }
    } else if (type_group::in(type_traits::g_self_evaluating, cell::type(value))) {
        stack::push(value);
    } else if (cell::is(value, TypeId::set_word)) {
        // Its expression has taken every operator after it.
        return set_word_expression(value, s);
    } else if (cell::is(value, TypeId::path)) {
        ZUB_PASS(evaluate_path(value, s));
    } else if (cell::is(value, TypeId::paren)) {
        ZUB_PASS(paren_expression(value));
    } else if (cell::is(value, TypeId::set_path)) {
        return set_path_expression(value, s);  // as a set-word's, its expression took the operators
    } else {
        ZUB_PASS(other_expression(value, s));
    }
    return infix ? operators(s) : Status::normal;
}

// A word's call and the operators after it, for a caller that has read the word's slot: the road
// of expression. Out of line, so that caller keeps few registers.
[[gnu::noinline]] Status word_call(Cell fn, const Cell& name, Source& s) {
    ZUB_PASS(call_plain(fn, name, s, false));
    return operators(s);
}

// The operator at the source's position: the slot of the word there when it holds an op!.
inline const Cell* operator_at(Source& s) {
    SeriesBuffer* const buffer = s.buffer();
    if (s.index >= std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)))) return nullptr;
    return op_slot(buffer->cells()[s.index]);
}

// An operator's call: the op at the source's position takes the value on top of the stack as its
// left operand. Out of line, so the loop over integer operators keeps few registers.
[[gnu::noinline]] Status operator_call(Source& s, Cell op) {
    op = op_target(op);
    const Cell name = s.take();
    return call_plain(op, name, s, true);
}

// Operators apply strictly from left to right: each takes the value so far, on top of the stack,
// as its left operand. Those between integers are taken in place, the block's cells and end read
// once (they allocate nothing); any other operator is a call, after which both are read again.
Status apply_operators(Source& s, const Cell* slot) {
    SeriesBuffer* buffer = s.buffer();
    for (;;) {
        uint32_t end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
        if (!integer_operation(*slot, s, buffer->cells(), end)) {
            ZUB_PASS(operator_call(s, *slot));
            buffer = s.buffer();
            end = std::min(s.tail, buffer->used() / static_cast<uint32_t>(sizeof(Cell)));
        }
        if (s.index >= end || !(slot = op_slot(buffer->cells()[s.index]))) return Status::normal;
    }
}

inline Status operators(Source& s) {
    const Cell* slot = operator_at(s);
    return slot ? apply_operators(s, slot) : Status::normal;
}

// One expression while tracing: the general road of every step, each reported. Values fetched
// and pushed, words set, paths entered and left; calls report themselves (invoke). Operators
// take no shortcut, so each is a reported call.
[[gnu::noinline]] Status traced_expression(Source& s, bool infix) {
    namespace ev = trace::event;
    const uint32_t at = s.index;
    const Cell value = s.take();
    trace::emit_at(ev::fetch, s.node, at, value, cell::none());
    switch (cell::type(value)) {
        case TypeId::word: {
            const Cell v = *lookup(value);
            if (is_callable(cell::type(v))) {
                ZUB_PASS(invoke(v, value, s, nullptr, 0, false));
            } else if (cell::is(v, TypeId::unset) || cell::is(v, TypeId::op)) {
                error::fire(cell::is(v, TypeId::op) ? ErrorId::no_op_arg : ErrorId::no_value, value);
            } else {
                stack::push(v);
                trace::emit_at(ev::push, s.node, at, v, cell::none());
            }
            break;
        }
        case TypeId::set_word: {
            if (s.at_end()) error::fire(ErrorId::need_value, value);
            Cell* const start = g_top;
            const Status st = traced_expression(s, true);
            if (st != Status::normal) {
                g_top = start;
                return st;
            }
            trace::emit_at(ev::set, s.node, at, *start, value);
            store(value, *start);
            g_top = start + 1;
            break;
        }
        case TypeId::path:
        case TypeId::get_path:
            trace::emit(ev::enter, value, cell::series_index(value), value, cell::none());
            ZUB_PASS(other_expression(value, s));
            trace::emit(ev::exit, value, cell::series_index(value), g_top[-1], cell::none());
            break;
        case TypeId::native:
        case TypeId::action:
        case TypeId::function:
        case TypeId::routine:
        case TypeId::set_path:
        case TypeId::paren: ZUB_PASS(other_expression(value, s)); break;
        default: ZUB_PASS(other_expression(value, s)); trace::emit_at(ev::push, s.node, at, g_top[-1], cell::none());
    }
    if (!infix) return Status::normal;
    while (const Cell* slot = operator_at(s)) {
        trace::emit_at(ev::fetch, s.node, s.index, s.peek(), cell::none());
        const Cell op = op_target(*slot);
        const Cell name = s.take();
        ZUB_PASS(invoke(op, name, s, nullptr, 0, true));
    }
    return Status::normal;
}

// ---- paths -------------------------------------------------------------------------------------

Status path_eval(Cell path, Source& s, int mode, Cell set_value) {
    const NodeId node = cell::series_node(path);
    const uint32_t head = cell::series_index(path);
    if (head >= length_of(node)) error::fire(ErrorId::empty_path);
    const Cell first = cells_of(node)[head];
    if (!cell::is(first, TypeId::word)) error::fire(ErrorId::word_first, path);
    const Cell value = *lookup(first);
    if (cell::is(value, TypeId::unset)) error::fire(ErrorId::unset_path, path, first);
    if (is_callable(cell::type(value)) || cell::is(value, TypeId::op)) {
        if (mode == kSet) error::fire(ErrorId::invalid_path_set, path);
        if (mode == kGet) error::fire(ErrorId::invalid_path_get, path);
        const Cell fn = cell::is(value, TypeId::op) ? op_target(value) : value;
        return invoke(fn, first, s, &path, head + 1, false);
    }
    // The value reached so far lives on the stack, its container below it: parens in the path
    // may collect.
    stack::push(cell::none());
    Cell* const parent = stack::push(value);
    Cell previous = first;
    for (uint32_t k = head + 1; k < length_of(node); ++k) {
        Cell element = cells_of(node)[k];
        if (cell::is(element, TypeId::get_word)) {
            element = *lookup(element);
        } else if (cell::is(element, TypeId::paren)) {
            const Status st = eval(element, true);
            if (st != Status::normal) {
                g_top = parent - 1;
                return st;
            }
            element = g_top[-1];
            stack::pop(1);
        }
        if (cell::is(element, TypeId::unset)) error::fire(ErrorId::invalid_path, path, element);
        const bool last = k + 1 >= length_of(node);
        Cell next;
        if (const Cell* field = object_field(*parent, element, mode == kSet && last)) {
            next = *field;
        } else {
            const PathStep step{mode == kSet && last ? &set_value : nullptr, path, previous, k, false};
            next = registry::actions(cell::type(*parent)).eval_path(*parent, element, step);
        }
        if (mode == kSet && last && held_by_value(cell::type(*parent))) {
            // The new value of a time, a pair ... goes back where the old one was taken from.
            if (k == head + 1) {
                store(first, next);
            } else {
                const PathStep back{&next, path, cell::none(), k - 1, false};
                registry::actions(cell::type(parent[-1])).eval_path(parent[-1], previous, back);
            }
        }
        if (mode == kEvaluate && is_callable(cell::type(next))) {
            g_top = parent - 1;
            const Cell name = cell::is(element, TypeId::word) ? element : g_anon;
            return invoke(next, name, s, &path, k + 1, false);
        }
        parent[-1] = *parent;  // the container of the next step's parent, for writing back
        *parent = mode == kSet && last ? set_value : next;
        previous = element;
    }
    parent[-1] = *parent;
    g_top = parent;
    return Status::normal;
}

}  // namespace

void init() {
    g_position = cell::unset();
    g_anon = words::global(words::id(words::Word::anon_tag));
    g_set_path = words::global(words::id(words::Word::set_path));
    g_empty = memory::alloc_cells(1);
    g_native_shapes = natives::native_shapes();
    g_action_shapes = natives::action_shapes();
    for (uint32_t i = 0; i < natives::kCount; ++i) g_native_names[i] = words::global(symbol::make(natives::kWords[i]));
    for (int slot = 0; slot < kActionCount; ++slot)
        g_action_names[slot] = words::global(symbol::make(registry::action_word(static_cast<Slot>(slot))));
    collector::add_cell_root(&g_position);
    collector::add_root(&g_empty);
    hash_index::set_compare(actions::compare_direct);
}

const Cell& position() { return g_position; }

Body::Body(const Cell& block) : block_(block), saved_(g_position) { depth::check(); }

Body::~Body() { cell::copy(g_position, saved_); }

// run_block's walk for a loop's round: the block and the position are the Body's, so the round
// makes no copies of its own.
Status Body::run() {
    if (trace::g_active) [[unlikely]]
        return traced_eval(block_, true);
    safe_point();
    Cell* const base = g_top;
    Source s{cell::series_node(block_), cell::series_index(block_)};
    if (s.at_end()) {
        stack::push(cell::unset());
        return Status::normal;
    }
    g_position = block_;
    for (;;) {
        cell::set_series_index(g_position, s.index);
        // Set-words, words, paths, set-paths and parens that only read values are taken here,
        // skipping the dispatch of expression.
        const Cell at = s.peek();
        Status st;
        if (cell::is(at, TypeId::set_word)) {
            ++s.index;
            st = set_word_expression(at, s);
        } else if (cell::is(at, TypeId::word)) {
            ++s.index;
            const Cell* const slot = lookup(at);
            const TypeId t = cell::type(*slot);
            if (type_group::in(kPlainValue, t)) {
                stack::push(*slot);
                st = operators(s);
            } else if (is_callable(t)) {
                st = word_call(*slot, at, s);
            } else {
                error::fire(t == TypeId::op ? ErrorId::no_op_arg : ErrorId::no_value, at);
            }
        } else if (Cell read; cell::is(at, TypeId::paren) && read_value(at, read)) {
            ++s.index;
            stack::push(read);
            st = operators(s);
        } else if (cell::is(at, TypeId::set_path)) {
            ++s.index;
            st = set_path_expression(at, s);
        } else if (cell::is(at, TypeId::path)) {
            ++s.index;
            st = evaluate_path(at, s);
            if (st == Status::normal) st = operators(s);
        } else {
            st = expression(s, true);
        }
        if (st != Status::normal) [[unlikely]] {
            g_top = base;
            cell::copy(g_position, saved_);
            return st;
        }
        if (s.at_end()) break;
        g_top = base;
        safe_point();
    }
    cell::copy(g_position, saved_);
    return Status::normal;
}

Status eval(const Cell& block_cell, bool keep) {
    if (trace::g_active) [[unlikely]]
        return traced_eval(block_cell, keep);
    return run_block<false>(block_cell, keep);
}

// `block` is read before anything is evaluated, so it may lie on the stack.
Status eval_next(const Cell& block, uint32_t& index) {
    depth::check();
    Source s{cell::series_node(block), index, kNoTail, trace::g_active ? kTraced : 0};
    if (s.at_end()) {
        stack::push(cell::unset());
        return Status::normal;
    }
    PositionScope scope;
    g_position = block;
    cell::set_series_index(g_position, index);
    ZUB_PASS(any_expression(s, true));
    index = s.index;
    return Status::normal;
}

bool plain_value(const Cell& block, Cell& value) { return !trace::g_active && read_value(block, value); }

Status eval_value(Cell value) {
    Source none{g_empty, 0};
    switch (cell::type(value)) {
        case TypeId::word: {
            const Cell v = *lookup(value);
            if (cell::is(v, TypeId::unset)) error::fire(ErrorId::no_value, value);
            if (cell::is(v, TypeId::op)) error::fire(ErrorId::no_op_arg, value);
            if (is_callable(cell::type(v))) return invoke(v, value, none, nullptr, 0, false);
            stack::push(v);
            return Status::normal;
        }
        case TypeId::native:
        case TypeId::action:
        case TypeId::function:
        case TypeId::routine: return invoke(value, name_of(value, g_anon), none, nullptr, 0, false);
        case TypeId::paren: return eval(value, true);
        case TypeId::path: return path_eval(value, none, kEvaluate, cell::unset());
        case TypeId::get_path: return get_path_value(value, none);
        case TypeId::get_word: stack::push(*lookup(value)); return Status::normal;
        case TypeId::lit_word: cell::set_type(value, TypeId::word); break;
        case TypeId::lit_path: cell::set_type(value, TypeId::path); break;
        default: break;
    }
    stack::push(value);
    return Status::normal;
}

Status call(Cell callable, const Cell* values, uint32_t n, Cell name, Callback kind) {
    if (cell::is(callable, TypeId::op)) callable = op_target(callable);
    if (!is_callable(cell::type(callable))) error::fire(ErrorId::invalid_arg, callable);
    for (uint32_t i = 0; i < n; ++i) stack::push(values[i]);  // copied before anything allocates
    Source none{g_empty, 0};
    // The runtime's callbacks (comparators, handlers ...) are not the traced program's steps,
    // unless the script asks for their kind.
    if (trace::g_active) [[unlikely]] {
        std::optional<trace::Quiet> quiet;
        if (!trace::callback_traced(static_cast<uint32_t>(kind))) quiet.emplace();
        return traced_invoke(callable, name_of(callable, name), none, nullptr, 0, false, n);
    }
    return invoke(callable, name_of(callable, name), none, nullptr, 0, false, n);
}

Status call_reading_back(Cell callable, Cell* values, uint32_t n, Cell name, Callback kind) {
    if (!cell::is(callable, TypeId::function)) return call(callable, values, n, name, kind);
    name = name_of(callable, name);
    // As in call: while tracing, the traced road, quiet unless the script asks for this kind.
    const bool traced = trace::g_active;
    std::optional<trace::Quiet> quiet;
    if (traced && !trace::callback_traced(static_cast<uint32_t>(kind))) quiet.emplace();
    depth::check();
    Cell* const start = g_top;
    stack::push(callable);
    for (uint32_t i = 0; i < n; ++i) stack::push(values[i]);
    Source none{g_empty, 0};
    if (traced) trace::emit_at(trace::event::open, none.node, none.index, callable, traced_name(callable, name));
    stack::Frame* frame = mark_call(callable, name, start + 1);
    const Status fetched = fetch_function(callable, name, none, nullptr, 0, false, n);
    if (fetched != Status::normal) return abandon(start, fetched);
    const Status st = traced ? traced_run(callable, name, frame, none)
                             : run_function(callable, frame, function::more_at(callable, function::kBody));
    if (st != Status::normal) return abandon(start, st);
    // The arguments' cells still hold what the body left in them; the first also receives a
    // `return`'s value, so it is not read.
    for (uint32_t i = 1; i < n; ++i) values[i] = start[1 + i];
    finish(start);
    if (traced) trace::emit_at(trace::event::return_, none.node, none.index, g_top[-1], traced_name(callable, name));
    return Status::normal;
}

Status apply(Cell callable, Cell name, Cell args, uint32_t mode, const Cell* path, std::optional<Callback> callback) {
    if (cell::is(callable, TypeId::op)) callable = op_target(callable);
    const bool traced = trace::g_active && (!callback || trace::callback_traced(static_cast<uint32_t>(*callback)));
    Source s{cell::series_node(args), cell::series_index(args), kNoTail, mode | (traced ? kTraced : 0)};
    std::optional<trace::Quiet> quiet;
    if (trace::g_active && !traced) quiet.emplace();
    return invoke(callable, name_of(callable, name), s, path, path ? cell::series_index(*path) + 1 : 0, false);
}

Status get_path(Cell path) {
    Source none{g_empty, 0};
    return get_path_value(path, none);
}

Status set_path(Cell path, Cell value) {
    Source none{g_empty, 0};
    stack::push(value);
    const Status st = path_eval(path, none, kSet, value);
    if (st == Status::normal) {
        g_top[-2] = g_top[-1];
        stack::pop(1);
    }
    return st;
}

}  // namespace zub::interp
