// The C++ routines the environment binds: small wrappers over runtime services that no native
// covers, and the type and typeset predicates. Each is registered under its name; the environment
// gives each its spec through `make-routine`, a word that exists only while start-up runs.
#include "environment/routines.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "environment/csv_codec.h"
#include "environment/file_routines.h"
#include "environment/json_codec.h"
#include "environment/system_routines.h"
#include "environment/zubbin_codec.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "system/output.h"

namespace zub::routines {
namespace {

using native_args::Args;
using native_args::Plain;

bool is_word(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::get_word || t == TypeId::lit_word;
}

[[noreturn]] void expect_arg(const char* routine, const Cell& value, const char* argument) {
    error::fire(ErrorId::expect_arg, words::global(symbol::make(routine)), cell::datatype_of(value),
                words::global(symbol::make(argument)));
}

// make-routine: the routine registered under a name, given the argument block it is called with.
Status make_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell name = args[0];
    const Cell spec = args[1];
    const uint32_t code = function::find_routine(symbol::utf8(word::symbol_of(name)));
    if (!code) error::fire(ErrorId::invalid_arg, name);
    (void)function::validate_spec(spec);
    // The argument block is used as it is: make-routine lives only while start-up runs the library's own
    // text, so no program holds the block to change it later.
    (void)function::push_routine(spec, cell::none(), code, 0, false);
    return args.done(stack::top_cell());
}

// An exit status is one byte: any other number would reach the parent wrapped into another.
Status quit_return(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const int32_t status = cell::as_integer(args[0]);
    if (status < 0 || status > 255) error::fire(ErrorId::out_of_range, args[0]);
    std::fflush(stdout);
    std::exit(status);
}

Status set_quiet(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell word = args[0];
    if (!is_word(cell::type(word))) expect_arg("set-quiet", word, "word");
    *context::get(word) = args[1];
    return args.done(args[1]);
}

Status set_slot_quiet(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell series = args[0];
    if (!type_group::in(type_group::block_like, cell::type(series)) || cell::is(series, TypeId::hash))
        expect_arg("set-slot-quiet", series, "series");
    const NodeId node = cell::series_node(series);
    const uint32_t at = cell::series_index(series);
    if (at < series::length(node)) memory::buffer(node)->cells()[at] = args[1];
    return args.done(cell::unset());
}

int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    bits = bits < 0 ? 0 : bits;
    const auto u = static_cast<uint32_t>(data);
    if (left) return bits >= 32 ? 0 : static_cast<int32_t>(u << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<int32_t>(u >> bits);
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}
Status shift_right(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(shift(cell::as_integer(args[0]), cell::as_integer(args[1]), false, false)));
}
Status shift_left(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(shift(cell::as_integer(args[0]), cell::as_integer(args[1]), true, false)));
}
Status shift_logical(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(shift(cell::as_integer(args[0]), cell::as_integer(args[1]), false, true)));
}

Status last_lf(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(output::last_new_line()));
}

Status stack_size(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(stack::index_of(args.cells()))));
}

Status pick_stack(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const int32_t index = cell::as_integer(args[0]);
    const auto size = static_cast<int32_t>(stack::index_of(args.cells()));
    return args.done(index > 0 && index < size ? stack::at(static_cast<uint32_t>(index - 1)) : cell::none());
}

Status frame_index(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const stack::Frame* caller = stack::current_frame();
    const uint32_t base = caller ? caller->saved_args : 0;
    return args.done(cell::integer(static_cast<int32_t>(base)));
}

Status tracing(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(trace::reporting()));
}

// `trace` with a logic value: pauses or resumes the reports of the traced run in force.
Status trace_switch(const int32_t* r) {
    const Args<Plain::routine> args(r);
    trace::set_reporting(cell::as_logic(args[0]));
    return args.done(cell::unset());
}

Status write_stdout(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell data = args[0];
    if (!type_group::in(type_group::text_like, cell::type(data))) error::fire(ErrorId::invalid_arg, data);
    if (!output::write_string(1, data, false)) output::end_for_stdout(errno);
    return args.done(cell::unset());
}

// The handle! that holds no handle, for null-handle.
Status make_null_handle(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(handle::null());
}

// ---- predicates ---------------------------------------------------------------------------------

template <TypeId type>
Status is_type(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(cell::is(args[0], type)));
}

struct TypesetPredicate {
    const char* name;
    const char* typeset;
};
constexpr TypesetPredicate kTypesetPredicates[] = {
#define ZUB_TYPE_PREDICATE(type, word)
#define ZUB_TYPESET_PREDICATE(word, typeset) {word, typeset},
#include "environment/predicates.def"
};

// The typeset words, bound in the global context once start-up has defined them.
Cell g_typeset_words[std::size(kTypesetPredicates)];

// Reads the typeset word's value at each call, so redefining the typeset changes the answer.
template <size_t i>
Status in_typeset(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell* set = context::get(g_typeset_words[i]);
    return args.done(cell::logic(typeset::contains(*set, cell::type(args[0]))));
}

template <size_t... i>
void register_typeset_predicates(std::index_sequence<i...>) {
    ((void)function::add_routine(kTypesetPredicates[i].name, in_typeset<i>), ...);
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"make-routine", make_routine},     {"quit-return", quit_return},   {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet}, {"shift-right", shift_right},   {"shift-left", shift_left},
    {"shift-logical", shift_logical},   {"last-lf?", last_lf},          {"stack-size?", stack_size},
    {"pick-stack", pick_stack},         {"frame-index?", frame_index},  {"tracing?", tracing},
    {"write-stdout", write_stdout},     {"trace-switch", trace_switch},
};

}  // namespace

void register_all() {
    function::reset_routines();
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
    (void)function::add_routine("make-null-handle", make_null_handle);
    register_image_routines();
    register_file_routines();
    zubbin_codec::register_routines();
    register_system();
    (void)function::add_routine("os-info", os_info);
#define ZUB_TYPE_PREDICATE(type, word) (void)function::add_routine(word, is_type<TypeId::type>);
#define ZUB_TYPESET_PREDICATE(word, typeset)
#include "environment/predicates.def"
    register_typeset_predicates(std::make_index_sequence<std::size(kTypesetPredicates)>{});
    for (size_t i = 0; i < std::size(kTypesetPredicates); ++i)
        g_typeset_words[i] = words::global(symbol::make(kTypesetPredicates[i].typeset));
    json_codec::register_routines();
    csv_codec::register_routines();
}

void define(std::string_view name, std::string_view spec, function::RoutineEntry entry) {
    const NodeId block =
        lexer::load(reinterpret_cast<const std::byte*>(spec.data()), static_cast<uint32_t>(spec.size()));
    stack::push(cell::series(TypeId::block, block));
    (void)function::push_routine(stack::top_cell(), cell::none(), function::add_routine(name, entry), 0, false);
    context::put_word_value(context::global(), symbol::make(name), stack::top_cell());
    stack::pop(2);
}

void define_make_routine() { define("make-routine", "name [word!] spec [block!]", make_routine); }

void forget_make_routine() { context::put_word_value(context::global(), symbol::make("make-routine"), cell::unset()); }

}  // namespace zub::routines
