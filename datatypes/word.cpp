// The word family: word!, set-word!, lit-word!, get-word! and refinement! share one cell (context
// node, symbol, index) and these routines; they differ in type id and in how they mold. issue!
// has a file of its own.
#include "datatypes/word.h"

#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace word {

// Text becomes a word the way the lexer reads it: it must load as exactly one word of the family.
Cell word_from_text(Cell text) {
    if (cell::is(text, TypeId::char_)) {
        const Cell one = string::make(1, TypeId::string);
        string::append_char(one.w2, text.w2);
        text = one;
    }
    Cell loaded;
    try {
        loaded = lexer::transcode_value(text, -1, lexer::Options{}).value;
    } catch (const Thrown&) {
        error::fire(ErrorId::invalid_chars);
    }
    if (series::length(loaded.w2) - loaded.w1 != 1) error::fire(ErrorId::invalid_chars);
    const Cell word = memory::buffer(loaded.w2)->cells()[loaded.w1];
    if (!type_group::in(type_group::all_word, cell::type(word))) error::fire(ErrorId::invalid_chars);
    return word;
}

Cell make_common(TypeId type, Cell spec) {
    Cell result;
    switch (cell::type(spec)) {
        case TypeId::datatype: result = words::type_word(static_cast<TypeId>(spec.w1)); break;
        case TypeId::logic:
            result = words::global(cell::as_logic(spec) ? words::Word::true_ : words::Word::false_);
            break;
        case TypeId::string:
        case TypeId::char_: result = word_from_text(spec); break;
        default: error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), spec);
    }
    cell::set_type(result, type);
    return result;
}

int32_t emit_name(Cell word, NodeId out, int32_t limit) {
    symbol::append_name(word.w2, out);
    return limit - static_cast<int32_t>(symbol::name_length(word.w2));
}

}  // namespace word

namespace {

Cell word_make(TypeId type, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word: cell::set_type(spec, type); return spec;
        case TypeId::refinement:
        case TypeId::issue: {
            // Kept only when its name reads as a plain word, bound to the global context.
            Cell named = words::global(spec.w2);
            Cell name = cell::series(TypeId::string, symbol::name_string(spec.w2));
            Cell scanned;
            try {
                scanned = word::word_from_text(name);
            } catch (const Thrown&) {
                scanned = cell::none();
            }
            const TypeId t = cell::type(scanned);
            if (t != TypeId::word && t != TypeId::set_word && t != TypeId::lit_word && t != TypeId::get_word)
                error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), spec);
            cell::set_type(named, type);
            return named;
        }
        default: return word::make_common(type, spec);
    }
}

int32_t word_form(Cell value, NodeId out, int32_t limit) { return word::emit_name(value, out, limit); }

template <char prefix, char suffix>
int32_t word_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    static constexpr char before[] = {prefix}, after[] = {suffix};
    if (prefix) limit = mold::emit(out, {before, 1}, limit);
    limit = word::emit_name(value, out, limit);
    if (suffix) limit = mold::emit(out, {after, 1}, limit);
    return limit;
}

bool word_and_lit_word(TypeId a, TypeId b) {
    return (a == TypeId::word && b == TypeId::lit_word) || (a == TypeId::lit_word && b == TypeId::word);
}

int32_t word_compare(Cell a, Cell b, int32_t op) {
    const TypeId ta = cell::type(a), tb = cell::type(b);
    if (!word::is_all_word(tb) || (tb == TypeId::issue && ta != TypeId::issue)) return kNotComparable;
    const bool same_type = ta == tb;
    const bool same_symbol = a.w2 == b.w2;
    const bool same_canonical = symbol::resolve(a.w2) == symbol::resolve(b.w2);
    switch (op) {
        case op_equal:
        case op_not_equal:
        case op_find: return same_canonical ? 0 : 1;
        case op_strict_equal: return same_type && same_symbol ? 0 : 1;
        case op_same: return same_type && same_symbol && a.w1 == b.w1 ? 0 : 1;
        case op_equal_word: return (word_and_lit_word(ta, tb) ? same_symbol : same_type && same_symbol) ? 0 : 1;
        case op_equal_canonical:
            return (word_and_lit_word(ta, tb) ? same_canonical : same_type && same_canonical) ? 0 : 1;
        default: return symbol::compare_names(a.w2, b.w2, false);
    }
}

Cell word_index(Cell value) {
    if (value.w3 == 0xFFFFFFFF) return cell::none();
    return cell::integer(static_cast<int32_t>(value.w3) + 1);
}

}  // namespace

extern const ActionTable word_actions = {
    .make = word_make,
    .to = word_make,
    .form = word_form,
    .mold = word_mold<0, 0>,
    .compare = word_compare,
    .index_q = word_index,
};
extern const ActionTable set_word_actions = {.mold = word_mold<0, ':'>};
extern const ActionTable lit_word_actions = {.mold = word_mold<'\'', 0>};
extern const ActionTable get_word_actions = {.mold = word_mold<':', 0>};
extern const ActionTable refinement_actions = {
    .mold = word_mold<'/', 0>,
    .index_q = unsupported::index_q,  // a refinement is not a place in a context
};

uint32_t word::hash(const Cell& word) { return hash::fmix32(symbol::resolve(word.w2)); }

// A word refers to its context (w1).
constexpr type_traits::Traits kWordTraits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::none},
    .hash = word::hash,
    .self_evaluating = false,
};
extern const type_traits::Traits word_traits = kWordTraits;
extern const type_traits::Traits set_word_traits = kWordTraits;
extern const type_traits::Traits lit_word_traits = kWordTraits;
extern const type_traits::Traits get_word_traits = kWordTraits;
extern const type_traits::Traits refinement_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::none},
    .hash = word::hash,
};

}  // namespace zub
