// tag!, email! and ref!: string! series under their own type ids. They differ from string! only in
// their text forms and, for email!, in the path access to the address's user and host parts; every
// other action is string!'s.
#include <algorithm>

#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

// The text from the head as string! forms it, /part honoured.
int32_t form_text(Cell value, NodeId out, int32_t limit) {
    return registry::actions(TypeId::string).form(value, out, limit);
}

int32_t tag_form(Cell value, NodeId out, int32_t limit) {
    limit = form_text(value, out, mold::emit(out, "<", limit));
    return mold::emit(out, ">", limit);
}

int32_t tag_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return tag_form(value, out, limit); }

int32_t email_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return form_text(value, out, limit); }

int32_t ref_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    return form_text(value, out, mold::emit(out, "@", limit));
}

// The word a path element names among user and host: 1 user, 2 host, 0 anything else.
int email_part(const Cell& element) {
    if (!cell::is(element, TypeId::word)) return 0;
    // Looked up at each use: a new runtime (a test's) builds a new symbol table.
    const symbol::Id user = symbol::resolve(symbol::make("user"));
    const symbol::Id host = symbol::resolve(symbol::make("host"));
    const symbol::Id name = symbol::resolve(word::symbol_of(element));
    return name == user ? 1 : name == host ? 2 : 0;
}

// email/user and email/host read a new string! of the part before or after the first "@" (the whole
// address is the user part when it has none); a set-path replaces that part in the address itself.
Cell email_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (cell::is(element, TypeId::integer)) return registry::actions(TypeId::string).eval_path(parent, element, step);
    const int part = email_part(element);
    if (!part) error::fire(ErrorId::invalid_path, step.path, element);

    const uint32_t length = string::rs_length(parent);
    const int32_t found = string::find_char(parent, '@');
    const uint32_t at = found < 0 ? length : static_cast<uint32_t>(found);
    const uint32_t start = part == 1 ? 0 : std::min(at + 1, length);
    const uint32_t count = part == 1 ? at : length - start;

    if (!step.set_value) {
        const stack::Rooted address(parent);
        Cell from = parent;
        from.w1 = cell::series_index(parent) + start;
        stack::Rooted result(string::make(count));
        string::concatenate_at(cell::series_node(result.cell()), 0, from, static_cast<int32_t>(count),
                               string::Concat::append);
        return result.cell();
    }
    Cell target = parent;
    target.w1 = cell::series_index(parent) + start;
    const ActionTable& email = registry::actions(TypeId::email);
    if (part == 2 && found < 0) {
        // An address without "@" gains one, so that the new host has a place.
        target.w1 = cell::series_index(parent) + length;
        target = email.insert(target, cell::character('@'), InsertOptions{});
    }
    if (count == 0) {
        (void)email.insert(target, *step.set_value, InsertOptions{});
    } else {
        InsertOptions options{};
        options.part = static_cast<int32_t>(count);
        (void)email.change(target, *step.set_value, options);
    }
    return *step.set_value;
}

}  // namespace

extern const ActionTable tag_actions = {
    .form = tag_form,
    .mold = tag_mold,
};

extern const ActionTable email_actions = {
    .mold = email_mold,
    .eval_path = email_eval_path,
};

extern const ActionTable ref_actions = {
    .mold = ref_mold,
};

}  // namespace zub
