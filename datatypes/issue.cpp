// issue!: a word that is never bound to a value, written #name. Any text can be an issue.
#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "runtime/type_traits.h"
#include "runtime/unicode.h"

namespace zub {
namespace {

using context::kUnresolved;

Cell issue_of(symbol::Id symbol) { return cell::make(TypeId::issue, context::global(), symbol, kUnresolved); }

Cell issue_make(TypeId type, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::string: {
            const unicode::Converted text = unicode::string_to_utf8(spec);
            return issue_of(symbol::make({reinterpret_cast<const char*>(text.data), text.size}));
        }
        case TypeId::char_: {
            std::byte bytes[4];
            const uint32_t n = unicode::encode_utf8(spec.w2, bytes);
            return issue_of(symbol::make({reinterpret_cast<const char*>(bytes), n}));
        }
        default:
            if (word::is_all_word(cell::type(spec))) {
                cell::set_type(spec, TypeId::issue);
                return spec;
            }
            return word::make_common(type, spec);
    }
}

int32_t issue_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    return word::emit_name(value, out, mold::emit(out, "#", limit));
}

int32_t issue_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::issue)) return kNotComparable;
    return registry::actions(TypeId::word).compare(a, b, op);
}

}  // namespace

extern const ActionTable issue_actions = {
    .make = issue_make,
    .to = issue_make,
    .mold = issue_mold,
    .compare = issue_compare,
};

// issue! evaluates by checking what follows it.
extern const type_traits::Traits issue_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::none},
    .hash = word::hash,
    .self_evaluating = false,
};

}  // namespace zub
