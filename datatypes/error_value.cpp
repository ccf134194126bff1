// error!: making errors from catalogue ids, codes and specs, turning the pending error into a
// value, forming the "*** " text, and the actions error! does not take from object!. Categories
// and ids are looked up in the live catalogue (system/catalog/errors) when the environment has
// built one, else in the catalogue the runtime carries, whose templates are lexed on demand.
#include "datatypes/error_value.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace error_value {
namespace {

constexpr uint32_t kUnbound = 0xFFFFFFFF;
constexpr int kCategories = 10;
constexpr int kIds = 140;
constexpr int kNoId = -1;
constexpr int32_t kArgumentLimit = 80;  // characters of one argument in a message
constexpr int32_t kNearLimit = 40;      // characters of the near and files lines
constexpr uint32_t kStackCapacity = 20;

constexpr words::Word kFieldWords[kFields] = {
    words::Word::code, words::Word::type, words::Word::id,    words::Word::arg1,  words::Word::arg2,
    words::Word::arg3, words::Word::near, words::Word::where, words::Word::stack, words::Word::files,
};

NodeId g_proto = 0;  // the standard error prototype's context
symbol::Id g_category_symbols[kCategories];
symbol::Id g_id_symbols[kIds];
// The catalogue id at each category and position, or kNoId.
std::array<std::array<int16_t, 100>, kCategories> g_by_code;

// Words that name calls and catalogue entries in an error: their names matter, not a binding.
Cell unbound_word(symbol::Id s) { return cell::make(TypeId::word, 0, s, kUnbound); }
bool same_symbol(symbol::Id a, symbol::Id b) { return symbol::resolve(a) == symbol::resolve(b); }

void put(const Cell& error, uint32_t index, Cell value) {
    if (index < context::word_count(error.w1)) *context::value_at(error.w1, index) = value;
}

// ---- The live catalogue and system settings ------------------------------------------------------

Cell global_value(words::Word w) {
    const int32_t index = context::find_word(context::global(), words::id(w), true);
    return index < 0 ? cell::none() : *context::value_at(context::global(), static_cast<uint32_t>(index));
}

Cell field_of(const Cell& object, words::Word w) {
    if (!object::is_object(cell::type(object))) return cell::none();
    return object::select_word(object, words::id(w));
}

// system/catalog/errors, or none until the environment has made it.
Cell live_catalog() {
    const Cell errors =
        field_of(field_of(global_value(words::Word::system), words::Word::catalog), words::Word::errors);
    return cell::is(errors, TypeId::object) ? errors : cell::none();
}

Cell state_setting(words::Word w) {
    return field_of(field_of(global_value(words::Word::system), words::Word::state), w);
}

// The category object at a position of the live catalogue, or none.
Cell live_category(const Cell& live, int category) {
    if (category < 0 || static_cast<uint32_t>(category) >= context::word_count(live.w1)) return cell::none();
    const Cell c = *context::value_at(live.w1, static_cast<uint32_t>(category));
    return cell::is(c, TypeId::object) ? c : cell::none();
}

// ---- Categories and ids by word and by code --------------------------------------------------------

int category_position(const Cell& live, symbol::Id s) {
    if (cell::is(live, TypeId::object)) {
        const int32_t index = object::find_word(live, s);
        return index >= 0 && cell::is(live_category(live, index), TypeId::object) ? index : kNoId;
    }
    for (int c = 0; c < kCategories; ++c)
        if (same_symbol(g_category_symbols[c], s)) return c;
    return kNoId;
}

// The position of an id among its category's ids.
int id_position(const Cell& live, int category, symbol::Id s) {
    if (cell::is(live, TypeId::object)) {
        const Cell c = live_category(live, category);
        if (!cell::is(c, TypeId::object)) return kNoId;
        const int32_t index = object::find_word(c, s);
        return index >= 2 ? index - 2 : kNoId;
    }
    for (int p = 0; p < 100 && g_by_code[category][p] != kNoId; ++p)
        if (same_symbol(g_id_symbols[g_by_code[category][p]], s)) return p;
    return kNoId;
}

// The words a code names; false when the catalogue has no such category or id.
bool words_of_code(const Cell& live, int category, int position, symbol::Id& type, symbol::Id& id) {
    if (category < 0 || category >= 100 || position < 0) return false;
    if (cell::is(live, TypeId::object)) {
        const Cell c = live_category(live, category);
        if (!cell::is(c, TypeId::object) || context::word_count(c.w1) < static_cast<uint32_t>(position) + 3)
            return false;
        type = context::word_at(live.w1, static_cast<uint32_t>(category)).w2;
        id = context::word_at(c.w1, static_cast<uint32_t>(position) + 2).w2;
        return true;
    }
    if (category >= kCategories || g_by_code[category][position] == kNoId) return false;
    type = g_category_symbols[category];
    id = g_id_symbols[g_by_code[category][position]];
    return true;
}

// ---- Making ------------------------------------------------------------------------------------

// A new error with every field none, pushed on the stack. May collect.
Cell* push_fresh() {
    const NodeId context = object::copy_context(g_proto);
    Cell* slot = stack::push(cell::make(TypeId::error, context, object::kErrorClass, 0));
    context::owner_of(context) = *slot;
    return slot;
}

void set_identity(const Cell& error, int code, symbol::Id type, symbol::Id id) {
    put(error, kCode, cell::integer(code));
    put(error, kType, unbound_word(type));
    put(error, kId, unbound_word(id));
}

Cell near_now() {
    const Cell& position = interp::position();
    return cell::is(position, TypeId::unset) ? cell::none() : position;
}

// The call words of the pending error, outermost first, at the stack-trace level: 1 keeps the
// calls of functions, 2 and above every call. May collect.
Cell stack_block(const error::Pending& p) {
    const Cell setting = state_setting(words::Word::stack_trace);
    const int32_t level =
        cell::is(setting, TypeId::integer) && cell::as_integer(setting) > 0 ? cell::as_integer(setting) : 1;
    Cell* list = block::push_new(kStackCapacity);
    for (uint32_t i = p.trace_count; i-- > 0;)
        if (level >= 2 || (p.trace_functions >> i & 1))
            block::append(cell::series_node(*list), unbound_word(p.trace[i]));
    const Cell result = *list;
    stack::pop(1);
    return result;
}

// A copy of system/state/source-files when it holds any, else none. May collect.
Cell source_files() {
    const Cell files = state_setting(words::Word::source_files);
    if (!cell::is(files, TypeId::block) || block::length(files) == 0) return cell::none();
    return block::clone(files, false, false);
}

// Where, stack and files of an error raised now, unless it has them already. May collect.
void complete_trace(const Cell& error, const error::Pending& p) {
    if (cell::is(field(error, kWhere), TypeId::none) && p.where) put(error, kWhere, unbound_word(p.where));
    const Cell stack = field(error, kStack);
    if (cell::is(stack, TypeId::none) || cell::is(stack, TypeId::integer)) {
        const Cell calls = stack_block(p);
        put(error, kStack, calls);
        const Cell files = source_files();
        put(error, kFiles, files);
    }
}

[[noreturn]] void fire_spec_field(words::Word w) { error::fire(ErrorId::invalid_spec_field, words::global(w)); }

// The category and id of a made error, checked against the catalogue; sets the code.
void check_identity(const Cell& error) {
    const Cell live = live_catalog();
    const Cell type = field(error, kType);
    const int category = cell::is(type, TypeId::word) ? category_position(live, type.w2) : kNoId;
    if (category == kNoId) fire_spec_field(words::Word::type);
    const Cell id = field(error, kId);
    const int position = cell::is(id, TypeId::word) ? id_position(live, category, id.w2) : kNoId;
    if (position == kNoId) fire_spec_field(words::Word::id);
    put(error, kCode, cell::integer(category * 100 + position));
}

// ---- Forming -----------------------------------------------------------------------------------

// What forming needs of the catalogue for one error.
struct Message {
    Cell type_text;                 // the category's text from the live catalogue, or none
    std::string_view builtin_text;  // the built-in category text, when type_text is none
    Cell entry;                     // string!, block! or word!; none when the catalogue lacks it
    bool syntax;                    // arguments are formed, not molded
    Cell missing;                   // the type or id word that was not found
};

// The built-in template of a catalogue id, lexed into a value. May collect.
Cell builtin_entry(int id) {
    const std::string_view source = error::message_template(static_cast<ErrorId>(id));
    const NodeId values =
        lexer::load(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()));
    return series::length(values) ? memory::buffer(values)->cells()[0] : cell::none();
}

bool is_entry(const Cell& value) {
    return cell::is(value, TypeId::string) || cell::is(value, TypeId::block) || cell::is(value, TypeId::word);
}

// Finds the error's category and id. May collect (the built-in template is lexed).
Message find_message(const Cell& live, const Cell& type, const Cell& id) {
    Message m{cell::none(), {}, cell::none(), false, cell::none()};
    const bool words = cell::is(type, TypeId::word) && cell::is(id, TypeId::word);
    if (!cell::is(type, TypeId::word)) {
        m.missing = type;
        return m;
    }
    const int category = category_position(live, type.w2);
    if (category == kNoId) {
        m.missing = type;
        return m;
    }
    m.syntax = same_symbol(type.w2, g_category_symbols[static_cast<int>(ErrorCategory::syntax)]);
    const int position = words ? id_position(live, category, id.w2) : kNoId;
    if (position == kNoId) {
        m.missing = id;
        return m;
    }
    if (cell::is(live, TypeId::object)) {
        const Cell c = live_category(live, category);
        m.type_text = field_of(c, words::Word::type);
        m.entry = *context::value_at(c.w1, static_cast<uint32_t>(position) + 2);
        if (!cell::is(m.type_text, TypeId::string)) m.type_text = cell::none();
    } else {
        m.builtin_text = error::category_text(static_cast<ErrorCategory>(category));
        m.entry = builtin_entry(g_by_code[category][position]);
    }
    if (!is_entry(m.entry)) {
        m.entry = cell::none();
        m.missing = id;
    }
    return m;
}

Cell out_cell(NodeId out) { return cell::series(TypeId::string, out); }

int32_t emit_string(NodeId out, const Cell& text, int32_t limit) {
    return limit - static_cast<int32_t>(string::concatenate(out_cell(out), text, -1, string::Concat::append));
}

// Writes a value cut to `cut` characters: formed, or molded (flat, only as asked).
int32_t emit_cut(NodeId out, const Cell& value, bool formed, bool only, int32_t cut, int32_t limit) {
    const uint32_t start = series::length(out);
    const ActionTable& row = registry::actions(cell::type(value));
    if (formed) (void)row.form(value, out, cut);
    else (void)row.mold(value, out, MoldFlags{only, false, true, 0}, cut);
    if (series::length(out) > start + static_cast<uint32_t>(cut))
        string::truncate(out, start + static_cast<uint32_t>(cut));
    return limit - static_cast<int32_t>(series::length(out) - start);
}

// The value of the error field a template word names; the word itself when there is no such field.
Cell template_field(const Cell& error, const Cell& word) {
    const int32_t index = object::find_word(error, word.w2);
    if (index < 0) return word;
    return *context::value_at(error.w1, static_cast<uint32_t>(index));
}

// Whether the template names argument fields and every one it names is none: an error made
// without its arguments, whose message would read as a row of nones.
bool arguments_missing(const Cell& error, const Cell& entry) {
    bool named = false;
    const NodeId node = cell::series_node(entry);
    for (uint32_t i = block::head_index(entry); i < series::length(node); ++i) {
        const Cell item = block::abs_at(entry, i);
        if (!cell::is(item, TypeId::word) && !cell::is(item, TypeId::get_word)) continue;
        const symbol::Id word = symbol::resolve(item.w2);
        for (int k = 0; k < 3; ++k) {
            if (word != symbol::resolve(words::id(kFieldWords[kArg1 + k]))) continue;
            named = true;
            if (!cell::is(field(error, kArg1 + k), TypeId::none)) return false;
        }
    }
    return named;
}

int32_t emit_template(const Cell& error, const Cell& entry, bool syntax, NodeId out, int32_t limit) {
    if (arguments_missing(error, entry)) {
        limit = emit_cut(out, field(error, kId), true, false, kArgumentLimit, limit);
        return mold::emit(out, " (an error made without its arguments)", limit);
    }
    const NodeId node = cell::series_node(entry);
    bool first = true;
    for (uint32_t i = block::head_index(entry); i < series::length(node) && limit > 0; ++i) {
        const Cell item = block::abs_at(entry, i);
        if (!first) limit = mold::emit(out, " ", limit);
        first = false;
        if (cell::is(item, TypeId::string)) {
            limit = emit_string(out, item, limit);
        } else if (cell::is(item, TypeId::word) || cell::is(item, TypeId::get_word)) {
            limit = emit_cut(out, template_field(error, item), syntax, false, kArgumentLimit, limit);
        } else {
            limit = emit_cut(out, item, true, false, kArgumentLimit, limit);
        }
    }
    return limit;
}

int32_t emit_message(const Cell& error, Cell entry, bool syntax, NodeId out, int32_t limit) {
    if (cell::is(entry, TypeId::word)) entry = template_field(error, entry);
    if (cell::is(entry, TypeId::string)) return emit_string(out, entry, limit);
    if (cell::is(entry, TypeId::block)) return emit_template(error, entry, syntax, out, limit);
    return emit_cut(out, entry, true, false, kArgumentLimit, limit);
}

// The same error shown as internal invalid-error naming what the catalogue lacks.
Cell invalid_error(const Cell& error, const Cell& missing) {
    stack::Rooted kept(error);
    const Cell shown = create(ErrorId::invalid_error, &missing, 1);
    for (const uint32_t i : {kNear, kWhere, kStack, kFiles}) put(shown, i, field(kept.cell(), i));
    return shown;
}

}  // namespace

void init() {
    collector::Guard guard;  // the prototype is held only in a local until it is a root
    for (int c = 0; c < kCategories; ++c)
        g_category_symbols[c] = symbol::make(error::category_word(static_cast<ErrorCategory>(c)));
    for (auto& row : g_by_code) row.fill(kNoId);
    for (int i = 0; i < kIds; ++i) {
        const auto id = static_cast<ErrorId>(i);
        g_id_symbols[i] = symbol::make(error::id_word(id));
        const int code = error::code_of(id);
        g_by_code[code / 100][code % 100] = static_cast<int16_t>(i);
    }
    const NodeId proto = object::make_context(kFields);
    for (const words::Word w : kFieldWords) {
        const uint32_t index = context::find_or_add_word(proto, words::id(w));
        *context::value_at(proto, index) = cell::none();
    }
    context::owner_of(proto) = cell::make(TypeId::error, proto, object::kErrorClass, 0);
    g_proto = proto;
    collector::add_root(&g_proto);
    error::set_near_source(&interp::position());
}

Cell field(const Cell& error, uint32_t index) {
    if (index >= context::word_count(error.w1)) return cell::none();
    return *context::value_at(error.w1, index);
}

Cell create(ErrorId id, const Cell* args, int count) {
    Cell values[3];
    for (int i = 0; i < 3; ++i) values[i] = i < count ? args[i] : cell::none();  // args may lie in a series
    stack::Rooted a1(values[0]), a2(values[1]), a3(values[2]);
    Cell* slot = push_fresh();
    const auto i = static_cast<size_t>(id);
    set_identity(*slot, error::code_of(id), g_category_symbols[static_cast<int>(error::category_of(id))],
                 g_id_symbols[i]);
    put(*slot, kArg1, a1.cell());
    put(*slot, kArg1 + 1, a2.cell());
    put(*slot, kArg1 + 2, a3.cell());
    put(*slot, kNear, near_now());
    return *slot;
}

Cell from_pending() {
    const error::Pending& p = error::pending();
    if (cell::is(p.value, TypeId::error)) {
        stack::Rooted kept(p.value);
        complete_trace(kept.cell(), p);
        return kept.cell();
    }
    stack::Rooted error(create(p.id, p.args, p.arg_count));
    put(error.cell(), kNear, type_group::in(type_group::block_like, cell::type(p.near)) ? p.near : cell::none());
    complete_trace(error.cell(), p);
    return error.cell();
}

Cell make(Cell spec) {
    stack::Rooted kept(spec);
    const Cell live = live_catalog();
    switch (cell::type(spec)) {
        case TypeId::integer: {
            const int32_t code = cell::as_integer(spec);
            symbol::Id type = 0, id = 0;
            if (code < 0 || !words_of_code(live, code / 100, code % 100, type, id))
                error::fire(ErrorId::out_of_range, spec);
            stack::Rooted error(*push_fresh());
            set_identity(error.cell(), code, type, id);
            put(error.cell(), kNear, near_now());
            return error.cell();
        }
        case TypeId::string: return create(ErrorId::message, &spec, 1);
        case TypeId::block: break;
        default: error::fire(ErrorId::bad_make_arg, cell::datatype_of(TypeId::error), spec);
    }
    const uint32_t length = block::length(spec);
    const uint32_t head = block::head_index(spec);
    const Cell first = length ? block::abs_at(spec, head) : cell::none();
    if (cell::is(first, TypeId::word)) {
        const int category = category_position(live, first.w2);
        if (category == kNoId) fire_spec_field(words::Word::type);
        if (length < 2) fire_spec_field(words::Word::id);
        const Cell second = block::abs_at(spec, head + 1);
        if (!cell::is(second, TypeId::word)) error::fire(ErrorId::invalid_arg, second);
        const int position = id_position(live, category, second.w2);
        if (position == kNoId) fire_spec_field(words::Word::id);
        stack::Rooted error(*push_fresh());
        set_identity(error.cell(), category * 100 + position, first.w2, second.w2);
        // Values after the id are the arguments, as they stand.
        for (uint32_t k = 2; k < length && k < 5; ++k) put(error.cell(), kArg1 + k - 2, block::abs_at(spec, head + k));
        put(error.cell(), kNear, near_now());
        return error.cell();
    }
    if (!cell::is(first, TypeId::set_word)) error::fire(ErrorId::invalid_error, spec);
    stack::Rooted error(*push_fresh());
    context::bind_block(spec, error.cell().w1, true);
    Cell* const top = stack::g_top;
    const Status status = interp::eval(spec, true);
    stack::g_top = top;
    exits::refuse_escape(status);
    check_identity(error.cell());
    object::clear_set_marks(error.cell().w1);
    put(error.cell(), kNear, near_now());
    return error.cell();
}

ErrorId id_of(const Cell& error) {
    const Cell type = field(error, kType), id = field(error, kId);
    if (!cell::is(type, TypeId::word) || !cell::is(id, TypeId::word)) return ErrorId::invalid_error;
    const int category = category_position(cell::none(), type.w2);
    const int position = category == kNoId ? kNoId : id_position(cell::none(), category, id.w2);
    return position == kNoId ? ErrorId::invalid_error : static_cast<ErrorId>(g_by_code[category][position]);
}

void raise(Cell error) {
    const Cell args[] = {field(error, kArg1), field(error, kArg1 + 1), field(error, kArg1 + 2)};
    error::fire_value(error, id_of(error), args, 3);
}

int32_t form(Cell error, NodeId out, int32_t limit) {
    // An error that holds itself (in an argument, say) forms the inner one as "...".
    if (cycles::mold_marker(error, out, &limit, false)) return limit;
    const cycles::Guard walking(cycles::series_of(error));
    stack::Rooted kept(error);
    stack::Rooted live(live_catalog());
    Message m = find_message(live.cell(), field(error, kType), field(error, kId));
    if (cell::is(m.entry, TypeId::none)) {
        kept.cell() = invalid_error(error, m.missing);
        m = find_message(live.cell(), field(kept.cell(), kType), field(kept.cell(), kId));
        if (cell::is(m.entry, TypeId::none))
            m = find_message(cell::none(), field(kept.cell(), kType), field(kept.cell(), kId));
    }
    const Cell shown = kept.cell();
    stack::Rooted entry(m.entry);
    stack::Rooted type_text(m.type_text);
    limit = mold::emit(out, "*** ", limit);
    if (cell::is(type_text.cell(), TypeId::string)) limit = emit_string(out, type_text.cell(), limit);
    else limit = mold::emit(out, m.builtin_text, limit);
    limit = mold::emit(out, ": ", limit);
    limit = emit_message(shown, entry.cell(), m.syntax, out, limit);

    limit = mold::emit(out, "\n*** Where: ", limit);
    const Cell where = field(shown, kWhere);
    if (word::is_all_word(cell::type(where))) limit = word::emit_name(where, out, limit);
    else if (cell::is(where, TypeId::string)) limit = emit_string(out, where, limit);
    else limit = mold::emit(out, "???", limit);

    limit = mold::emit(out, "\n*** Near : ", limit);
    limit = emit_cut(out, field(shown, kNear), false, true, kNearLimit, limit);

    const Cell setting = state_setting(words::Word::stack_trace);
    if (cell::is(setting, TypeId::integer) && cell::as_integer(setting) > 0) {
        limit = mold::emit(out, "\n*** Stack: ", limit);
        const Cell calls = field(shown, kStack);
        if (cell::is(calls, TypeId::block) && limit > 0) limit = block::form(calls, out, limit);
    }
    const Cell files = field(shown, kFiles);
    if (cell::is(files, TypeId::block)) {
        limit = mold::emit(out, "\n*** Files: ", limit);
        limit = emit_cut(out, files, false, true, kNearLimit, limit);
    }
    return limit;
}

}  // namespace error_value

namespace {

Cell error_make(TypeId, Cell, Cell spec) { return error_value::make(spec); }

int32_t error_form(Cell value, NodeId out, int32_t limit) { return error_value::form(value, out, limit); }

int32_t error_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, true)) return limit;
    return object::mold_as(value, "error!", out, flags, limit);
}

// The stack field holds what only the runtime may write.
Cell error_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (word::is_all_word(cell::type(element)) &&
        symbol::resolve(element.w2) == symbol::resolve(words::id(words::Word::stack)))
        error::fire(ErrorId::invalid_path_set, step.path);
    return object::eval_path(parent, element, step);
}

// Errors compare as objects.
int32_t error_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::error)) return kNotComparable;
    cell::set_type(a, TypeId::object);
    cell::set_type(b, TypeId::object);
    return object::compare(a, b, op);
}

}  // namespace

extern const ActionTable error_actions = {
    .make = error_make,
    .form = error_form,
    .mold = error_mold,
    .eval_path = error_eval_path,
    .compare = error_compare,
};

extern const type_traits::Traits error_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::bytes},
    .key_words = type_traits::kW1,
    .walk_word = 1,
    .copies = true,
};

}  // namespace zub
