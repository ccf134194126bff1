// Evaluation, binding and exit natives: do, reduce, compose, the word and context natives, the
// function makers, try and catch, and the exits. Values that live across an evaluation are kept
// on the evaluation stack, never only in C++ locals.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "evaluator/actions.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "evaluator/words.h"

namespace zub::natives {
namespace {

using stack::g_top;

Cell* args() { return stack::args(); }
void result(Cell value) { stack::reset_set_last(value); }
bool has(const int32_t* refinements, int i) { return refinements[i] >= 0; }
const Cell& ref(const int32_t* refinements, int i) { return args()[refinements[i]]; }

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

Status do_entry(const int32_t* refinements) {
    Cell* const a = args();
    Cell value = a[0];
    const TypeId t = cell::type(value);
    if (t == TypeId::block || t == TypeId::paren || t == TypeId::hash) {
        const uint32_t tail = length_of(value.w2);
        if (value.w1 > tail) value.w1 = tail;
        if (has(refinements, 2)) {
            const Cell word = ref(refinements, 2);
            uint32_t index = value.w1;
            ZUB_PASS(interp::eval_next(value, index));
            Cell rest = value;
            rest.w1 = index;
            context::set(word, rest);
            result(g_top[-1]);
            return Status::normal;
        }
        return interp::eval(value, false);
    }
    switch (t) {
        case TypeId::string: {
            const lexer::Result loaded = lexer::transcode_value(value, -1, lexer::Options{});
            a[0] = loaded.value;
            return interp::eval(loaded.value, false);
        }
        case TypeId::file:
        case TypeId::url: error::fire(ErrorId::not_done);
        case TypeId::error: error_value::raise(value);
        default:
            ZUB_PASS(interp::eval_value(value));
            result(g_top[-1]);
            return Status::normal;
    }
}

// Puts one result into the output: appended at the tail, else inserted at the output's position,
// which then moves past it.
void emit(Cell* out, Cell value) {
    if (out->w1 >= length_of(out->w2)) {
        block::append(out->w2, value);
        out->w1 = length_of(out->w2);
    } else {
        *out = block::insert_value(*out, value, false, true);
    }
}

Status reduce_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell value = a[0];
    const bool into = has(refinements, 0);
    if (!cell::is(value, TypeId::block) && !cell::is(value, TypeId::paren) && !cell::is(value, TypeId::hash)) {
        if (is_callable(cell::type(value)) && !into) return Status::normal;
        if (is_callable(cell::type(value))) {
            stack::push(value);
        } else {
            ZUB_PASS(interp::eval_value(value));
        }
        if (!into) {
            result(g_top[-1]);
            return Status::normal;
        }
        Cell out = ref(refinements, 0);
        emit(&out, g_top[-1]);
        result(ref(refinements, 0));
        return Status::normal;
    }
    // The output sits on the stack: the evaluations may collect.
    Cell* const out = stack::push(into ? ref(refinements, 0) : block::make(block::length(value)));
    Cell* const base = g_top;
    uint32_t index = value.w1;
    while (index < length_of(value.w2)) {
        ZUB_PASS(interp::eval_next(value, index));
        emit(out, g_top[-1]);
        g_top = base;
    }
    Cell made = *out;
    if (!into) made.w1 = 0;
    result(into ? ref(refinements, 0) : made);
    return Status::normal;
}

Status compose_into(Cell source, Cell* out, bool deep, bool only) {
    Cell* const base = g_top;
    for (uint32_t i = source.w1; i < length_of(source.w2); ++i) {
        const Cell item = cells_of(source.w2)[i];
        if (cell::is(item, TypeId::block) && deep) {
            Cell* nested = stack::push(block::make(block::length(item)));
            ZUB_PASS(compose_into(item, nested, true, only));
            nested->w1 = 0;
            emit(out, *nested);
        } else if (cell::is(item, TypeId::paren)) {
            if (block::length(item) == 0) continue;
            ZUB_PASS(interp::eval(item, true));
            const Cell value = g_top[-1];
            if (cell::is(value, TypeId::unset)) {
            } else if (cell::is(value, TypeId::block) && !only) {
                for (uint32_t k = value.w1; k < length_of(value.w2); ++k) emit(out, cells_of(value.w2)[k]);
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

Status compose_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell value = a[0];
    const bool into = has(refinements, 2);
    Cell* const out = stack::push(into ? ref(refinements, 2) : block::make(block::length(value)));
    ZUB_PASS(compose_into(value, out, has(refinements, 0), has(refinements, 1)));
    Cell made = *out;
    if (!into) made.w1 = 0;
    result(into ? ref(refinements, 2) : made);
    return Status::normal;
}

// ---- words and contexts ------------------------------------------------------------------------

Status get_entry(const int32_t* refinements) {
    const Cell word = args()[0];
    const TypeId t = cell::type(word);
    if (is_path(t)) {
        ZUB_PASS(interp::get_path(word));
        result(g_top[-1]);
        return Status::normal;
    }
    if (t == TypeId::object) {
        result(object::values_of(word));
        return Status::normal;
    }
    const Cell value = *context::get(word);
    if (cell::is(value, TypeId::unset) && !has(refinements, 0)) error::fire(ErrorId::no_value, word);
    result(value);
    return Status::normal;
}

// Sets each word of the block to the value at the same place of `values` (or to `values` itself).
void set_many(const Cell& words, const Cell& values, bool any, bool only, bool some) {
    const uint32_t count = block::length(words);
    const bool spread = !only && type_group::in(type_group::block_like, cell::type(values));
    auto value_at = [&](uint32_t i) {
        if (!spread) return values;
        const uint32_t at = values.w1 + i;
        return at < length_of(values.w2) ? cells_of(values.w2)[at] : cell::none();
    };
    auto check_word = [](const Cell& item) {
        if (!is_word(cell::type(item))) error::fire(ErrorId::invalid_arg, item);
    };
    if (spread) {
        for (uint32_t i = 0; i < count; ++i) {
            const Cell item = cells_of(words.w2)[words.w1 + i];
            check_word(item);
            if (!any && cell::is(value_at(i), TypeId::unset)) error::fire(ErrorId::need_value, item);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const Cell item = cells_of(words.w2)[words.w1 + i];
        const Cell value = value_at(i);
        if (some && cell::is(value, TypeId::none)) continue;
        check_word(item);
        context::set(item, value);
    }
}

Status set_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell word = a[0];
    const Cell value = a[1];
    const bool any = has(refinements, 0), only = has(refinements, 2), some = has(refinements, 3);
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
    result(value);
    return Status::normal;
}

Status unset_entry(const int32_t*) {
    const Cell word = args()[0];
    if (cell::is(word, TypeId::block)) {
        for (uint32_t i = word.w1; i < length_of(word.w2); ++i) {
            const Cell item = cells_of(word.w2)[i];
            if (cell::is(item, TypeId::word)) context::set(item, cell::unset());
        }
    } else {
        context::set(word, cell::unset());
    }
    result(cell::unset());
    return Status::normal;
}

Status value_q_entry(const int32_t*) {
    const Cell value = args()[0];
    if (!is_word(cell::type(value))) {
        result(cell::logic(!cell::is(value, TypeId::unset)));
        return Status::normal;
    }
    const Cell* slot = nullptr;
    try {
        slot = context::get(value);
    } catch (const Thrown&) {
        slot = nullptr;
    }
    result(cell::logic(slot && !cell::is(*slot, TypeId::unset)));
    return Status::normal;
}

// The context a value stands for: an object's, a function's, or a word's own; 0 for none.
NodeId context_of(const Cell& value) {
    switch (cell::type(value)) {
        case TypeId::native:
        case TypeId::action: return 0;
        default: return value.w1;
    }
}

Status in_entry(const int32_t*) {
    Cell* const a = args();
    const NodeId context = context_of(a[0]);
    Cell word = a[1];
    if (!context || context::bind_word(context, word) < 0) {
        result(cell::none());
        return Status::normal;
    }
    if (cell::is(word, TypeId::refinement)) cell::set_type(word, TypeId::word);
    result(word);
    return Status::normal;
}

Status bind_entry(const int32_t* refinements) {
    Cell* const a = args();
    const NodeId context = context_of(a[1]);
    Cell target = a[0];
    if (!context) error::fire(ErrorId::not_defined, a[1]);
    if (cell::is(target, TypeId::block)) {
        if (has(refinements, 0)) {
            target = block::clone(target, true, true);
            a[0] = target;
        }
        context::bind_block(target, context, context::kind_of(context) == context::Kind::object);
    } else {
        context::bind_word(context, target);
    }
    result(target);
    return Status::normal;
}

Status context_q_entry(const int32_t*) {
    const Cell word = args()[0];
    if (!word.w1) {
        result(cell::none());
        return Status::normal;
    }
    const Cell owner = context::owner_of(word.w1);
    result(cell::is(owner, TypeId::object) || cell::is(owner, TypeId::function) ? owner : cell::none());
    return Status::normal;
}

Status construct_entry(const int32_t* refinements) {
    const Cell proto = has(refinements, 0) ? ref(refinements, 0) : cell::none();
    result(object::construct(args()[0], proto, has(refinements, 1)));
    return Status::normal;
}

Status extend_entry(const int32_t*) { error::fire(ErrorId::not_done); }

Status type_q_entry(const int32_t* refinements) {
    const TypeId t = cell::type(args()[0]);
    result(has(refinements, 0) ? words::type_word(t) : cell::datatype_of(t));
    return Status::normal;
}

bool block_family(TypeId t) { return t == TypeId::block || t == TypeId::paren || is_path(t); }
bool string_family(TypeId t) { return type_group::in(type_group::text_like, t); }

Status as_entry(const int32_t*) {
    Cell* const a = args();
    const TypeId target = cell::is(a[0], TypeId::datatype) ? static_cast<TypeId>(a[0].w1) : cell::type(a[0]);
    Cell spec = a[1];
    const TypeId source = cell::type(spec);
    if (!((block_family(target) && block_family(source)) || (string_family(target) && string_family(source))))
        error::fire(ErrorId::not_same_class, cell::datatype_of(target), cell::datatype_of(source));
    cell::set_type(spec, target);
    result(spec);
    return Status::normal;
}

Status new_line_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell position = a[0];
    const bool value = cell::as_logic(a[1]);
    int32_t size = 0;
    if (has(refinements, 0)) size = 1;
    if (has(refinements, 1)) {
        size = cell::as_integer(ref(refinements, 1));
        if (size <= 0) error::fire(ErrorId::out_of_range, ref(refinements, 1));
    }
    const uint32_t tail = length_of(position.w2);
    if (size == 0) {
        if (position.w1 < tail) cell::set_new_line(cells_of(position.w2)[position.w1], value);
    } else {
        for (uint32_t i = position.w1, n = 0; i < tail; ++i, ++n)
            cell::set_new_line(cells_of(position.w2)[i], n % static_cast<uint32_t>(size) == 0 ? value : !value);
    }
    result(position);
    return Status::normal;
}

Status new_line_q_entry(const int32_t*) {
    const Cell position = args()[0];
    result(cell::logic(position.w1 < length_of(position.w2) && cell::new_line(cells_of(position.w2)[position.w1])));
    return Status::normal;
}

// ---- function makers ---------------------------------------------------------------------------

Status func_entry(const int32_t*) {
    Cell* const a = args();
    const Cell spec = a[0], body = a[1];
    const uint32_t flags = function::validate_spec(spec);
    (void)function::push(spec, body, 0, 0, 0, flags);
    result(g_top[-1]);
    return Status::normal;
}

Status function_entry(const int32_t*) {
    Cell* const a = args();
    a[0] = block::clone(a[0], false, false);
    function::collect_locals(a[0], a[1]);
    return func_entry(nullptr);
}

Status does_entry(const int32_t*) {
    Cell* const a = args();
    a[1] = a[0];
    a[0] = block::make(1);
    g_top = a + 2;
    return func_entry(nullptr);
}

Status has_entry(const int32_t*) {
    Cell* const a = args();
    a[0] = block::clone(a[0], false, false);
    a[0] = block::insert_value(a[0], cell::make(TypeId::refinement, 0, words::id(words::Word::local)), false, false);
    return func_entry(nullptr);
}

// ---- exits, try and catch ----------------------------------------------------------------------

Status break_entry(const int32_t* refinements) {
    if (has(refinements, 0)) *args() = ref(refinements, 0);
    return exits::raise_break(has(refinements, 0), false);
}

Status continue_entry(const int32_t*) { return exits::raise_break(false, true); }
Status exit_entry(const int32_t*) { return exits::raise_exit(false, false); }
Status return_entry(const int32_t*) { return exits::raise_return(); }

Status throw_entry(const int32_t* refinements) {
    exits::throw_value(args()[0], has(refinements, 0) ? ref(refinements, 0) : cell::unset());
}

// The word every try frame is named by.
Cell g_try = cell::unset();

Status try_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell block = a[0];
    const bool all = has(refinements, 0);
    const stack::Saved saved = stack::save();
    Status st = Status::normal;
    try {
        stack::Call guard(all ? stack::FrameType::try_all : stack::FrameType::try_, g_try);
        st = interp::eval(block, true);
        if (st == Status::normal) a[0] = g_top[-1];
    } catch (const Thrown& thrown) {
        stack::restore(saved);
        cycles::reset();
        if (thrown.code != ThrownCode::error && !all) throw;
        a[0] = thrown.code == ThrownCode::error ? error_value::from_pending()
                                                : exits::thrown_value();
    }
    g_top = a + 1;
    return st;
}

Cell g_catch_body = cell::unset();

// Whether a catch/name stops a throw of that name: an unnamed throw never; a block of words any
// of whose words is the name.
bool caught_by(const Cell& wanted, const Cell& name) {
    if (!cell::is(name, TypeId::word)) return false;
    const symbol::Id thrown = symbol::resolve(name.w2);
    if (!cell::is(wanted, TypeId::block)) return symbol::resolve(wanted.w2) == thrown;
    bool caught = false;
    for (uint32_t i = wanted.w1; i < length_of(wanted.w2); ++i) {
        const Cell item = cells_of(wanted.w2)[i];
        if (!cell::is(item, TypeId::word))
            error::fire(ErrorId::invalid_refine_arg, words::global(symbol::make("name")), wanted);
        caught = caught || symbol::resolve(item.w2) == thrown;
    }
    return caught;
}

Status catch_entry(const int32_t* refinements) {
    Cell* const a = args();
    const Cell block = a[0];
    const stack::Saved saved = stack::save();
    try {
        stack::Call guard(stack::FrameType::catch_, g_catch_body);
        ZUB_PASS(interp::eval(block, true));
        a[0] = g_top[-1];
    } catch (const Thrown& thrown) {
        if (thrown.code != ThrownCode::throw_) throw;
        const Cell name = exits::thrown_name();
        if (has(refinements, 0) && !caught_by(ref(refinements, 0), name)) {
            // On to an outer catch; with none, the throw becomes an error here.
            const Cell value = exits::thrown_value();
            stack::restore(saved);
            exits::throw_value(value, name);
        }
        stack::restore(saved);
        cycles::reset();
        a[0] = exits::thrown_value();
    }
    g_top = a + 1;
    return Status::normal;
}

Status apply_entry(const int32_t* refinements) {
    Cell* const a = args();
    Cell fn = a[0];
    Cell name = cell::none();
    Cell block = a[1];
    const Cell path = fn;
    const bool through_path = cell::is(path, TypeId::path);
    if (through_path) {
        // The path's first item names the function; the rest are its refinements.
        if (block::length(path) == 0) error::fire(ErrorId::invalid_arg, path);
        fn = series::element_at(path, path.w1);
        // With /all the block gives every refinement, so the path may give none.
        if (!is_word(cell::type(fn)) || (has(refinements, 0) && block::length(path) > 1))
            error::fire(ErrorId::invalid_arg, path);
    }
    if (is_word(cell::type(fn))) {
        name = fn;
        cell::set_type(name, TypeId::word);
        fn = *context::get(fn);
    }
    if (!is_callable(cell::type(fn))) error::fire(ErrorId::invalid_arg, a[0]);
    uint32_t mode = interp::kApplyRefinements;
    if (has(refinements, 0)) mode = interp::kApplyAll | interp::kApplyValues;
    if (has(refinements, 1)) mode |= interp::kApplySafer;
    ZUB_PASS(through_path && !has(refinements, 0) ? interp::apply(fn, name, block, mode, &path)
                                                   : interp::apply(fn, name, block, mode));
    result(g_top[-1]);
    return Status::normal;
}

}  // namespace

namespace groups {

void evaluation() {
    g_try = words::global(symbol::make("try"));
    g_catch_body = words::global(words::id(words::Word::body_tag));
    install(Native::do_, do_entry);
    install(Native::reduce, reduce_entry);
    install(Native::compose, compose_entry);
    install(Native::get, get_entry);
    install(Native::set, set_entry);
    install(Native::unset, unset_entry);
    install(Native::value_q, value_q_entry);
    install(Native::in, in_entry);
    install(Native::bind, bind_entry);
    install(Native::context_q, context_q_entry);
    install(Native::construct, construct_entry);
    install(Native::extend, extend_entry);
    install(Native::type_q, type_q_entry);
    install(Native::as, as_entry);
    install(Native::new_line, new_line_entry);
    install(Native::new_line_q, new_line_q_entry);
    install(Native::func, func_entry);
    install(Native::function, function_entry);
    install(Native::does, does_entry);
    install(Native::has, has_entry);
    install(Native::break_, break_entry);
    install(Native::continue_, continue_entry);
    install(Native::exit, exit_entry);
    install(Native::return_, return_entry);
    install(Native::throw_, throw_entry);
    install(Native::try_, try_entry);
    install(Native::catch_, catch_entry);
    install(Native::apply, apply_entry);
}

}  // namespace groups
}  // namespace zub::natives
