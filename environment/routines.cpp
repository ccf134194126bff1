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
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/words.h"
#include "system/output.h"

namespace zub::environment {
namespace {

Cell* args() { return stack::args(); }
Status done(Cell value) {
    stack::reset_set_last(value);
    return Status::normal;
}

bool is_word(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::get_word || t == TypeId::lit_word;
}

[[noreturn]] void expect_arg(const char* routine, const Cell& value, const char* argument) {
    error::fire(ErrorId::expect_arg, words::global(symbol::make(routine)),
                cell::datatype_of(value),
                words::global(symbol::make(argument)));
}

// make-routine: the routine registered under a name, given the argument block it is called with.
Status make_routine(const int32_t*) {
    const Cell name = args()[0];
    const Cell spec = args()[1];
    const uint32_t code = routines::find(symbol::utf8(name.w2));
    if (!code) error::fire(ErrorId::invalid_arg, name);
    (void)function::validate_spec(spec);
    (void)function::push_routine(spec, cell::none(), code, 0, false);
    return done(stack::top_cell());
}

Status quit_return(const int32_t*) {
    std::fflush(stdout);
    std::exit(cell::as_integer(args()[0]));
}

Status set_quiet(const int32_t*) {
    const Cell word = args()[0];
    if (!is_word(cell::type(word))) expect_arg("set-quiet", word, "word");
    *context::get_in(word, word.w1) = args()[1];
    return done(args()[1]);
}

Status set_slot_quiet(const int32_t*) {
    const Cell series = args()[0];
    if (!type_group::in(type_group::block_like, cell::type(series)) || cell::is(series, TypeId::hash))
        expect_arg("set-slot-quiet", series, "series");
    if (series.w1 < series::length(series.w2)) memory::buffer(series.w2)->cells()[series.w1] = args()[1];
    return done(cell::unset());
}

int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    bits = bits < 0 ? 0 : bits;
    const auto u = static_cast<uint32_t>(data);
    if (left) return bits >= 32 ? 0 : static_cast<int32_t>(u << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<int32_t>(u >> bits);
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
}
Status shift_right(const int32_t*) { return done(cell::integer(shift(cell::as_integer(args()[0]), cell::as_integer(args()[1]), false, false))); }
Status shift_left(const int32_t*) { return done(cell::integer(shift(cell::as_integer(args()[0]), cell::as_integer(args()[1]), true, false))); }
Status shift_logical(const int32_t*) { return done(cell::integer(shift(cell::as_integer(args()[0]), cell::as_integer(args()[1]), false, true))); }

Status last_lf(const int32_t*) { return done(cell::logic(output::last_new_line())); }

Status stack_size(const int32_t*) {
    return done(cell::integer(static_cast<int32_t>(stack::index_of(stack::args()))));
}

Status pick_stack(const int32_t*) {
    const int32_t index = cell::as_integer(args()[0]);
    const auto size = static_cast<int32_t>(stack::index_of(stack::args()));
    return done(index > 0 && index < size ? stack::at(static_cast<uint32_t>(index - 1)) : cell::none());
}

Status frame_index(const int32_t*) {
    const stack::Frame* caller = stack::current_frame();
    const uint32_t base = caller ? caller->saved_args : 0;
    return done(cell::integer(static_cast<int32_t>(base)));
}

Status tracing(const int32_t*) { return done(cell::logic(false)); }

Status write_stdout(const int32_t*) {
    const Cell data = args()[0];
    if (!type_group::in(type_group::text_like, cell::type(data))) error::fire(ErrorId::invalid_arg, data);
    if (!output::write_string(1, data, false)) output::end_for_stdout(errno);
    return done(cell::unset());
}

// ---- predicates ---------------------------------------------------------------------------------

template <TypeId type>
Status is_type(const int32_t*) {
    return done(cell::logic(cell::is(args()[0], type)));
}

struct TypesetPredicate {
    const char* name;
    const char* typeset;
};
constexpr TypesetPredicate kTypesetPredicates[] = {
    {"any-list?", "any-list!"},       {"any-block?", "any-block!"}, {"any-function?", "any-function!"},
    {"any-object?", "any-object!"},   {"any-path?", "any-path!"},   {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},       {"series?", "series!"},       {"number?", "number!"},
    {"immediate?", "immediate!"},     {"scalar?", "scalar!"},       {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},     {"planar?", "planar!"},
};

// The typeset words, bound in the global context once start-up has defined them.
Cell g_typeset_words[std::size(kTypesetPredicates)];

// Reads the typeset word's value at each call, so redefining the typeset changes the answer.
template <size_t i>
Status in_typeset(const int32_t*) {
    const Cell* set = context::get(g_typeset_words[i]);
    return done(cell::logic(typeset::contains(*set, cell::type(args()[0]))));
}

template <size_t... i>
void register_typeset_predicates(std::index_sequence<i...>) {
    ((void)routines::add(kTypesetPredicates[i].name, in_typeset<i>), ...);
}

struct Named {
    const char* name;
    routines::Entry entry;
};

constexpr Named kRoutines[] = {
    {"make-routine", make_routine},
    {"quit-return", quit_return},
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift_right},
    {"shift-left", shift_left},
    {"shift-logical", shift_logical},
    {"last-lf?", last_lf},
    {"stack-size?", stack_size},
    {"pick-stack", pick_stack},
    {"frame-index?", frame_index},
    {"tracing?", tracing},
    {"write-stdout", write_stdout},
};

template <TypeId... types>
void register_type_predicates() {
    ((void)routines::add(std::string(registry::name(types).substr(0, registry::name(types).size() - 1)) + "?",
                         is_type<types>),
     ...);
}

}  // namespace

void register_routines() {
    routines::reset();
    for (const Named& r : kRoutines) (void)routines::add(r.name, r.entry);
    using T = TypeId;
    register_type_predicates<T::bitset, T::binary, T::block, T::char_, T::email, T::file, T::float_, T::get_path,
                             T::get_word, T::hash, T::integer, T::issue, T::lit_path, T::lit_word, T::logic, T::map,
                             T::none, T::pair, T::paren, T::path, T::percent, T::refinement, T::set_path,
                             T::set_word, T::string, T::tag, T::time, T::typeset, T::tuple, T::unset, T::url,
                             T::word, T::image, T::date, T::money, T::ref, T::point2D, T::point3D, T::handle,
                             T::error, T::action, T::native, T::datatype, T::function, T::object, T::op,
                             T::routine, T::vector>();
    register_typeset_predicates(std::make_index_sequence<std::size(kTypesetPredicates)>{});
    for (size_t i = 0; i < std::size(kTypesetPredicates); ++i)
        g_typeset_words[i] = words::global(symbol::make(kTypesetPredicates[i].typeset));
}

void define_make_routine() {
    static constexpr char kSpec[] = "name [word!] spec [block!]";
    const NodeId spec = lexer::load(reinterpret_cast<const std::byte*>(kSpec), sizeof kSpec - 1);
    stack::push(cell::series(TypeId::block, spec));
    (void)function::push_routine(stack::top_cell(), cell::none(), routines::find("make-routine"), 0, false);
    context::put_word_value(context::global(), symbol::make("make-routine"), stack::top_cell());
    stack::pop(2);
}

void forget_make_routine() {
    context::put_word_value(context::global(), symbol::make("make-routine"), cell::unset());
}

}  // namespace zub::environment
