// Evaluation, binding and exit natives: do, reduce, compose, the word and context natives, the
// function makers, try and catch, and the exits. Values that live across an evaluation are kept
// on the evaluation stack, never only in C++ locals.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace zub::natives {
namespace {

using stack::g_top;

using native_args::Args;

Cell* cells_of(NodeId node) { return memory::buffer(node)->cells(); }
uint32_t length_of(NodeId node) { return series::length(node); }

bool is_callable(TypeId t) {
    return t == TypeId::native || t == TypeId::action || t == TypeId::function || t == TypeId::routine ||
           t == TypeId::op;
}
bool is_word(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::lit_word || t == TypeId::get_word;
}
bool is_path(TypeId t) {
    return t == TypeId::path || t == TypeId::lit_path || t == TypeId::set_path || t == TypeId::get_path;
}

// ---- do, reduce, compose -----------------------------------------------------------------------

}  // namespace

namespace {

// Expands the block's directives in place with the environment's preprocessor/expand, given no
// job; before the preprocessor exists (early start-up) the block is left as it is. May collect.
Status expand_directives(Cell block) {
    Cell* const base = g_top;
    const symbol::Id name = symbol::make("expand");
    const Cell word = words::global(symbol::make("preprocessor"));
    const Cell* holder = context::slot_of(word);  // read at once: nothing allocates before
    if (!holder || !cell::is(*holder, TypeId::object)) return Status::normal;
    const Cell fn = object::select_word(*holder, name);
    if (!cell::is(fn, TypeId::function)) return Status::normal;
    stack::push(fn);
    stack::push(block);
    Cell* const call = stack::push(block::make(3));
    block::append(cell::series_node(*call), base[1]);
    block::append(cell::series_node(*call), cell::none());
    block::append(cell::series_node(*call), cell::logic(false));
    const Status status = interp::apply(base[0], words::global(name), *call, interp::kApplyAll | interp::kApplyValues);
    g_top = base;
    return status;
}

Status do_value(const Args<Native::do_>& args) {
    Cell value = args[0];
    const TypeId t = cell::type(value);
    if (t == TypeId::block || t == TypeId::paren || t == TypeId::hash) {
        if (args.has<"expand">() && t != TypeId::hash) ZUB_PASS(expand_directives(value));
        const uint32_t tail = length_of(cell::series_node(value));
        if (cell::series_index(value) > tail) cell::set_series_index(value, tail);
        if (args.has<"next">()) {
            const Cell word = *args.arg<"next">();
            uint32_t index = cell::series_index(value);
            ZUB_PASS(interp::eval_next(value, index));
            Cell rest = value;
            cell::set_series_index(rest, index);
            context::set(word, rest);
            return args.done(g_top[-1]);
        }
        return interp::eval(value, false);
    }
    switch (t) {
        case TypeId::string: {
            const lexer::Result loaded = lexer::transcode_value(value, -1, lexer::Options{});
            args[0] = loaded.value;
            return interp::eval(loaded.value, false);
        }
        case TypeId::file:
        case TypeId::url: {
            // Scripts run through the library's do-file: header, directory, system/script.
            const Cell word = words::global(symbol::make("do-file"));
            const Cell runner = *context::get(word);
            if (cell::is(runner, TypeId::unset)) error::fire(ErrorId::not_done);
            const Cell* script_args = args.arg<"args">();
            const Cell values[3] = {value, cell::none(), script_args ? *script_args : cell::none()};
            ZUB_PASS(interp::call(runner, values, 3, word));
            return args.done(g_top[-1]);
        }
        case TypeId::error: error_value::raise(value);
        default: ZUB_PASS(interp::eval_value(value)); return args.done(g_top[-1]);
    }
}

}  // namespace

Status do_entry(const int32_t* refinements) {
    const Args<Native::do_> args(refinements);
    if (const Cell* callback = args.arg<"trace">()) return trace::traced(*callback, [&] { return do_value(args); });
    return do_value(args);
}

namespace {

// Puts one result into the output: appended at the tail, else inserted at the output's position,
// which then moves past it.
void emit(Cell* out, Cell value) {
    if (cell::series_index(*out) >= length_of(cell::series_node(*out))) {
        block::append(cell::series_node(*out), value);
        cell::set_series_index(*out, length_of(cell::series_node(*out)));
    } else {
        *out = block::insert_value(*out, value, false, true);
    }
}

}  // namespace

Status reduce_entry(const int32_t* refinements) {
    const Args<Native::reduce> args(refinements);
    const Cell value = args[0];
    const bool into = args.has<"into">();
    if (!cell::is(value, TypeId::block) && !cell::is(value, TypeId::paren) && !cell::is(value, TypeId::hash)) {
        if (is_callable(cell::type(value)) && !into) return Status::normal;
        if (is_callable(cell::type(value))) {
            stack::push(value);
        } else {
            ZUB_PASS(interp::eval_value(value));
        }
        if (!into) return args.done(g_top[-1]);
        Cell out = *args.arg<"into">();
        emit(&out, g_top[-1]);
        return args.done(*args.arg<"into">());
    }
    // The output sits on the stack: the evaluations may collect.
    Cell* const out = stack::push(into ? *args.arg<"into">() : block::make(block::length(value)));
    Cell* const base = g_top;
    uint32_t index = cell::series_index(value);
    while (index < length_of(cell::series_node(value))) {
        ZUB_PASS(interp::eval_next(value, index));
        emit(out, g_top[-1]);
        g_top = base;
    }
    Cell made = *out;
    if (!into) cell::set_series_index(made, 0);
    return args.done(into ? *args.arg<"into">() : made);
}

namespace {

Status compose_into(Cell source, Cell* out, bool deep, bool only) {
    Cell* const base = g_top;
    for (uint32_t i = cell::series_index(source); i < length_of(cell::series_node(source)); ++i) {
        const Cell item = cells_of(cell::series_node(source))[i];
        if (cell::is(item, TypeId::block) && deep) {
            Cell* nested = stack::push(block::make(block::length(item)));
            ZUB_PASS(compose_into(item, nested, true, only));
            cell::set_series_index(*nested, 0);
            emit(out, *nested);
        } else if (cell::is(item, TypeId::paren)) {
            if (block::length(item) == 0) continue;
            ZUB_PASS(interp::eval(item, true));
            const Cell value = g_top[-1];
            if (cell::is(value, TypeId::unset)) {
            } else if (cell::is(value, TypeId::block) && !only) {
                const NodeId node = cell::series_node(value);
                for (uint32_t k = cell::series_index(value); k < length_of(node); ++k) emit(out, cells_of(node)[k]);
            } else {
                emit(out, value);
            }
        } else {
            emit(out, item);
        }
        g_top = base;
    }
    return Status::normal;
}

}  // namespace

Status compose_entry(const int32_t* refinements) {
    const Args<Native::compose> args(refinements);
    const Cell value = args[0];
    const bool into = args.has<"into">();
    Cell* const out = stack::push(into ? *args.arg<"into">() : block::make(block::length(value)));
    ZUB_PASS(compose_into(value, out, args.has<"deep">(), args.has<"only">()));
    Cell made = *out;
    if (!into) cell::set_series_index(made, 0);
    return args.done(into ? *args.arg<"into">() : made);
}

namespace {

// ---- words and contexts ------------------------------------------------------------------------

}  // namespace

Status get_entry(const int32_t* refinements) {
    const Args<Native::get> args(refinements);
    const Cell word = args[0];
    const TypeId t = cell::type(word);
    if (is_path(t)) {
        ZUB_PASS(interp::get_path(word));
        return args.done(g_top[-1]);
    }
    if (t == TypeId::object) return args.done(object::values_of(word));
    const Cell value = *context::get(word);
    if (cell::is(value, TypeId::unset) && !args.has<"any">()) error::fire(ErrorId::no_value, word);
    return args.done(value);
}

namespace {

// Sets each word of the block to the value at the same place of `values` (or to `values` itself).
void set_many(const Cell& words, const Cell& values, bool any, bool only, bool some) {
    const uint32_t count = block::length(words);
    const bool spread = !only && type_group::in(type_group::block_like, cell::type(values));
    auto value_at = [&](uint32_t i) {
        if (!spread) return values;
        const uint32_t at = cell::series_index(values) + i;
        return at < length_of(cell::series_node(values)) ? cells_of(cell::series_node(values))[at] : cell::none();
    };
    auto check_word = [](const Cell& item) {
        if (!is_word(cell::type(item))) error::fire(ErrorId::invalid_arg, item);
    };
    if (spread) {
        for (uint32_t i = 0; i < count; ++i) {
            const Cell item = cells_of(cell::series_node(words))[cell::series_index(words) + i];
            check_word(item);
            if (!any && cell::is(value_at(i), TypeId::unset)) error::fire(ErrorId::need_value, item);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const Cell item = cells_of(cell::series_node(words))[cell::series_index(words) + i];
        const Cell value = value_at(i);
        if (some && cell::is(value, TypeId::none)) continue;
        check_word(item);
        context::set(item, value);
    }
}

}  // namespace

Status set_entry(const int32_t* refinements) {
    const Args<Native::set> args(refinements);
    const Cell word = args[0];
    const Cell value = args[1];
    const bool any = args.has<"any">(), only = args.has<"only">(), some = args.has<"some">();
    if (cell::is(value, TypeId::unset) && !any) error::fire(ErrorId::need_value, word);
    const TypeId t = cell::type(word);
    if (t == TypeId::block) {
        set_many(word, value, any, only, some);
    } else if (is_path(t)) {
        ZUB_PASS(interp::set_path(word, value));
    } else if (t == TypeId::object) {
        object::set_words(word, value, any, only, some);
    } else {
        context::set(word, value);
    }
    return args.done(value);
}

Status unset_entry(const int32_t* refinements) {
    const Args<Native::unset> args(refinements);
    const Cell word = args[0];
    if (cell::is(word, TypeId::block)) {
        for (uint32_t i = cell::series_index(word); i < length_of(cell::series_node(word)); ++i) {
            const Cell item = cells_of(cell::series_node(word))[i];
            if (cell::is(item, TypeId::word)) context::set(item, cell::unset());
        }
    } else {
        context::set(word, cell::unset());
    }
    return args.done(cell::unset());
}

Status value_q_entry(const int32_t* refinements) {
    const Args<Native::value_q> args(refinements);
    const Cell value = args[0];
    if (!is_word(cell::type(value))) return args.done(cell::logic(!cell::is(value, TypeId::unset)));
    const Cell* slot = nullptr;
    try {
        slot = context::get(value);
    } catch (const Thrown&) {
        slot = nullptr;
    }
    return args.done(cell::logic(slot && !cell::is(*slot, TypeId::unset)));
}

namespace {

// The context a value stands for: an object's, a function's, or a word's own; 0 for none.
NodeId context_of(const Cell& value) {
    switch (cell::type(value)) {
        case TypeId::native:
        case TypeId::action: return 0;
        default: return value.w1;
    }
}

}  // namespace

Status in_entry(const int32_t* refinements) {
    const Args<Native::in> args(refinements);
    const NodeId context = context_of(args[0]);
    Cell word = args[1];
    if (!context || context::bind_word(context, word) < 0) return args.done(cell::none());
    if (cell::is(word, TypeId::refinement)) cell::set_type(word, TypeId::word);
    return args.done(word);
}

Status bind_entry(const int32_t* refinements) {
    const Args<Native::bind> args(refinements);
    const NodeId context = context_of(args[1]);
    Cell target = args[0];
    if (!context) error::fire(ErrorId::not_defined, args[1]);
    if (cell::is(target, TypeId::block)) {
        if (args.has<"copy">()) {
            target = block::clone(target, true, true);
            args[0] = target;
        }
        context::bind_block(target, context, context::kind_of(context) == context::Kind::object);
    } else {
        context::bind_word(context, target);
    }
    return args.done(target);
}

Status context_q_entry(const int32_t* refinements) {
    const Args<Native::context_q> args(refinements);
    const Cell word = args[0];
    if (!word::context_of(word)) return args.done(cell::none());
    const Cell owner = context::owner_of(word::context_of(word));
    return args.done(cell::is(owner, TypeId::object) || cell::is(owner, TypeId::function) ? owner : cell::none());
}

Status construct_entry(const int32_t* refinements) {
    const Args<Native::construct> args(refinements);
    const Cell proto = args.has<"with">() ? *args.arg<"with">() : cell::none();
    return args.done(object::construct(args[0], proto, args.has<"only">()));
}

Status type_q_entry(const int32_t* refinements) {
    const Args<Native::type_q> args(refinements);
    const TypeId t = cell::type(args[0]);
    return args.done(args.has<"word">() ? words::type_word(t) : cell::datatype_of(t));
}

namespace {

bool block_family(TypeId t) { return t == TypeId::block || t == TypeId::paren || is_path(t); }
bool string_family(TypeId t) { return type_group::in(type_group::text_like, t); }

}  // namespace

Status as_entry(const int32_t* refinements) {
    const Args<Native::as> args(refinements);
    const TypeId target = cell::is(args[0], TypeId::datatype) ? cell::datatype_type(args[0]) : cell::type(args[0]);
    Cell spec = args[1];
    const TypeId source = cell::type(spec);
    if (!((block_family(target) && block_family(source)) || (string_family(target) && string_family(source))))
        error::fire(ErrorId::not_same_class, cell::datatype_of(target), cell::datatype_of(source));
    cell::set_type(spec, target);
    return args.done(spec);
}

Status new_line_entry(const int32_t* refinements) {
    const Args<Native::new_line> args(refinements);
    const Cell position = args[0];
    const bool value = cell::as_logic(args[1]);
    int32_t size = 0;
    if (args.has<"all">()) size = 1;
    if (args.has<"skip">()) {
        size = cell::as_integer(*args.arg<"skip">());
        if (size <= 0) error::fire(ErrorId::out_of_range, *args.arg<"skip">());
    }
    const NodeId node = cell::series_node(position);
    const uint32_t head = cell::series_index(position);
    const uint32_t tail = length_of(node);
    if (size == 0) {
        if (head < tail) cell::set_new_line(cells_of(node)[head], value);
    } else {
        for (uint32_t i = head, n = 0; i < tail; ++i, ++n)
            cell::set_new_line(cells_of(node)[i], n % static_cast<uint32_t>(size) == 0 ? value : !value);
    }
    return args.done(position);
}

Status new_line_q_entry(const int32_t* refinements) {
    const Args<Native::new_line_q> args(refinements);
    const Cell position = args[0];
    const NodeId node = cell::series_node(position);
    const uint32_t head = cell::series_index(position);
    return args.done(cell::logic(head < length_of(node) && cell::new_line(cells_of(node)[head])));
}

// ---- function makers ---------------------------------------------------------------------------

namespace {

// The function made from the argument block and body at the arguments' base. The argument block
// there is already the function's own copy: a block the caller keeps may change later, and the
// arguments a call takes must stay the ones the context was made from.
Status push_function(uint32_t flags) {
    const Args<Native::func> args(nullptr);
    (void)function::push(args[0], args[1], 0, 0, 0, flags);
    return args.done(g_top[-1]);
}

}  // namespace

Status func_entry(const int32_t* refinements) {
    const Args<Native::func> args(refinements);
    const uint32_t flags = function::validate_spec(args[0]);
    args[0] = block::clone(args[0], true, false);
    return push_function(flags);
}

Status function_entry(const int32_t* refinements) {
    const Args<Native::function> args(refinements);
    args[0] = block::clone(args[0], true, false);
    function::collect_locals(args[0], args[1]);
    return push_function(function::validate_spec(args[0]));
}

Status does_entry(const int32_t* refinements) {
    const Args<Native::does> args(refinements);
    args[1] = args[0];
    args[0] = block::make(1);
    g_top = args.cells() + 2;
    return push_function(function::validate_spec(args[0]));
}

Status has_entry(const int32_t* refinements) {
    const Args<Native::has> args(refinements);
    args[0] = block::clone(args[0], true, false);
    args[0] =
        block::insert_value(args[0], cell::make(TypeId::refinement, 0, words::id(words::Word::local)), false, false);
    return push_function(function::validate_spec(args[0]));
}

namespace {

// ---- exits, try and catch ----------------------------------------------------------------------

}  // namespace

Status break_entry(const int32_t* refinements) {
    const Args<Native::break_> args(refinements);
    if (args.has<"return">()) args[0] = *args.arg<"return">();
    return exits::raise_break(args.has<"return">(), false);
}

Status continue_entry(const int32_t*) { return exits::raise_break(false, true); }

Status exit_entry(const int32_t*) { return exits::raise_exit(false, false); }

Status return_entry(const int32_t*) { return exits::raise_return(); }

Status throw_entry(const int32_t* refinements) {
    const Args<Native::throw_> args(refinements);
    if (trace::g_active) [[unlikely]]
        trace::emit_value(trace::event::throw_, args[0]);
    exits::throw_value(args[0], args.has<"name">() ? *args.arg<"name">() : cell::unset());
}

namespace {

// The word every try frame is named by.
Cell g_try = cell::unset();

}  // namespace

Status try_entry(const int32_t* refinements) {
    const Args<Native::try_> args(refinements);
    const Cell block = args[0];
    const bool all = args.has<"all">();
    const stack::Saved saved = stack::save();
    Status st = Status::normal;
    try {
        stack::Call guard(all ? stack::FrameType::try_all : stack::FrameType::try_, g_try);
        st = interp::eval(block, true);
        if (st == Status::normal) args[0] = g_top[-1];
    } catch (const Thrown& thrown) {
        stack::restore(saved);
        cycles::reset();
        if (thrown.code != ThrownCode::error && !all) throw;
        args[0] = thrown.code == ThrownCode::error ? error_value::from_pending() : exits::thrown_value();
    }
    g_top = args.cells() + 1;
    return st;
}

namespace {

Cell g_catch_body = cell::unset();

// Whether a catch/name stops a throw of that name: an unnamed throw never; a block of words any
// of whose words is the name.
bool caught_by(const Cell& wanted, const Cell& name) {
    if (!cell::is(name, TypeId::word)) return false;
    const symbol::Id thrown = symbol::resolve(word::symbol_of(name));
    if (!cell::is(wanted, TypeId::block)) return symbol::resolve(word::symbol_of(wanted)) == thrown;
    bool caught = false;
    for (uint32_t i = cell::series_index(wanted); i < length_of(cell::series_node(wanted)); ++i) {
        const Cell item = cells_of(cell::series_node(wanted))[i];
        if (!cell::is(item, TypeId::word))
            error::fire(ErrorId::invalid_refine_arg, words::global(symbol::make("name")), wanted);
        caught = caught || symbol::resolve(word::symbol_of(item)) == thrown;
    }
    return caught;
}

}  // namespace

Status catch_entry(const int32_t* refinements) {
    const Args<Native::catch_> args(refinements);
    const Cell block = args[0];
    const stack::Saved saved = stack::save();
    try {
        stack::Call guard(stack::FrameType::catch_, g_catch_body);
        ZUB_PASS(interp::eval(block, true));
        args[0] = g_top[-1];
    } catch (const Thrown& thrown) {
        if (thrown.code != ThrownCode::throw_) throw;
        const Cell name = exits::thrown_name();
        if (args.has<"name">() && !caught_by(*args.arg<"name">(), name)) {
            // On to an outer catch; with none, the throw becomes an error here.
            const Cell value = exits::thrown_value();
            stack::restore(saved);
            exits::throw_value(value, name);
        }
        stack::restore(saved);
        cycles::reset();
        args[0] = exits::thrown_value();
        if (trace::g_active) [[unlikely]] {
            g_top = args.cells() + 1;
            trace::emit_value(trace::event::catch_, args[0]);
        }
    }
    g_top = args.cells() + 1;
    return Status::normal;
}

Status apply_entry(const int32_t* refinements) {
    const Args<Native::apply> args(refinements);
    Cell fn = args[0];
    Cell name = cell::none();
    Cell block = args[1];
    const Cell path = fn;
    const bool through_path = cell::is(path, TypeId::path);
    if (through_path) {
        // The path's first item names the function; the rest are its refinements.
        if (block::length(path) == 0) error::fire(ErrorId::invalid_arg, path);
        fn = series_value::element_at(path, cell::series_index(path));
        // With /all the block gives every refinement, so the path may give none.
        if (!is_word(cell::type(fn)) || (args.has<"all">() && block::length(path) > 1))
            error::fire(ErrorId::invalid_arg, path);
    }
    if (is_word(cell::type(fn))) {
        name = fn;
        cell::set_type(name, TypeId::word);
        fn = *context::get(fn);
    }
    if (!is_callable(cell::type(fn))) error::fire(ErrorId::invalid_arg, args[0]);
    uint32_t mode = interp::kApplyRefinements;
    if (args.has<"all">()) mode = interp::kApplyAll | interp::kApplyValues;
    if (args.has<"safer">()) mode |= interp::kApplySafer;
    ZUB_PASS(through_path && !args.has<"all">() ? interp::apply(fn, name, block, mode, &path)
                                                : interp::apply(fn, name, block, mode));
    return args.done(g_top[-1]);
}

namespace groups {

void evaluation() {
    g_try = words::global(symbol::make("try"));
    g_catch_body = words::global(words::id(words::Word::body_tag));
}

}  // namespace groups
}  // namespace zub::natives
