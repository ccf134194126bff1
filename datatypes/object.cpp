// object!: making from specs and prototypes, construct, copy, field access through paths and the
// set native, the calls of on-change* and on-deep-change*, reflect, mold and compare. Values that
// must survive an allocation or user code sit on the evaluation stack; a field is reached again
// by its index after anything that may move the values series.
#include "datatypes/object.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace object {
namespace {

uint32_t g_last_class = kErrorClass;  // the last class id given

constexpr uint32_t kNoHandler = 0xFFFF;  // the index of a missing handler in the on-set record

symbol::Id canon(words::Word w) { return symbol::resolve(words::id(w)); }
bool is_handler(symbol::Id s) {
    const symbol::Id c = symbol::resolve(s);
    return c == canon(words::Word::on_change_star) || c == canon(words::Word::on_deep_change_star);
}

uint32_t field_count(NodeId context) { return context::word_count(context); }
Cell value_at(NodeId context, uint32_t index) { return *context::value_at(context, index); }
void store(NodeId context, uint32_t index, Cell value) { *context::value_at(context, index) = value; }
// The word at an index of the word table, as a plain word! (no set mark).
Cell word_cell(NodeId context, uint32_t index) {
    Cell w = context::word_at(context, index);
    w.header = static_cast<uint32_t>(TypeId::word);
    return w;
}

bool is_callable_handler(const Cell& value) {
    return cell::is(value, TypeId::function) || cell::is(value, TypeId::routine);
}

// Values that copies of an object make private: a deep copy through the value's own copy action.
bool copied_privately(TypeId t) {
    using namespace type_group;
    constexpr uint64_t kinds = block_like | text_like | bit(TypeId::vector) | bit(TypeId::binary) | bit(TypeId::image);
    return in(kinds, t);
}
// What copy/deep copies: block!, paren!, the paths and the text types.
bool copied_deep(TypeId t) {
    return type_group::in(type_group::block_like & ~type_group::bit(TypeId::hash), t) ||
           type_group::in(type_group::text_like, t);
}

Cell copy_value(const Cell& value, bool deep) {
    Cell copy = registry::actions(cell::type(value)).copy(value, CopyOptions{nullptr, deep, nullptr});
    cell::set_new_line(copy, cell::new_line(value));
    return copy;
}

// Adds the set-words of a block, from its head; true when the context grew. May collect.
bool collect_set_words(NodeId context, const Cell& spec) {
    const uint32_t before = field_count(context);
    const NodeId node = cell::series_node(spec);
    for (uint32_t i = block::head_index(spec); i < series::length(node); ++i) {
        const Cell item = block::abs_at(spec, i);
        if (cell::is(item, TypeId::set_word)) context::find_or_add_word(context, item.w2);
    }
    return field_count(context) > before;
}

// One of the two cells of an on-set record for the handler at an index (or kNoHandler).
Cell record_cell(NodeId context, uint32_t index) {
    if (index == kNoHandler) return cell::make(TypeId::pair, 0, kNoHandler << 16, 0);
    const Cell handler = value_at(context, index);
    const NodeId spec = function::spec_of(handler);
    const auto locals = static_cast<uint32_t>(function::count_local_slots(spec, 0, false));
    return cell::make(TypeId::pair, 0, index << 16 | (locals & 0xFFFF), spec);
}

// The index a record cell names (kNoHandler when none), and its handler: the value at that index,
// or unset when the index lies outside the context. A handler replaced since the record was made
// gets its local count recomputed.
uint32_t handler_index(const Cell& object, uint32_t which) {
    return memory::buffer(object.w3)->cells()[which].w2 >> 16;
}

Cell handler_at(const Cell& object, uint32_t which, uint32_t index) {
    if (index >= field_count(object.w1)) return cell::unset();
    const Cell handler = value_at(object.w1, index);
    Cell& entry = memory::buffer(object.w3)->cells()[which];
    if (is_callable_handler(handler) && entry.w3 != function::spec_of(handler)) entry = record_cell(object.w1, index);
    return handler;
}

// Calls a handler with the values and drops its result; errors name the call by the handler's
// word. Runs user code.
void call_handler(const Cell& handler, const Cell* values, uint32_t n, words::Word name) {
    Cell* const top = stack::g_top;
    const interp::Callback kind =
        name == words::Word::on_deep_change_star ? interp::Callback::deep : interp::Callback::change;
    const Status status = interp::call(handler, values, n, words::global(words::id(name)), kind);
    stack::g_top = top;
    exits::refuse_escape(status);
}

// The change hook of contexts: a field written through a word or a path.
void on_context_change(const Cell& owner, const Cell& word, const Cell& old_value, const Cell& new_value) {
    if (is_handler(word.w2)) return;
    fire_on_change(owner, word, old_value, new_value);
}

// The deep-change hook of series ownership: a series held by a field changed in place.
void on_deep_change(const Cell& owner, const Cell& field, const Cell& target, Cell action, int32_t index,
                    int32_t part) {
    fire_on_deep_change(owner, field, target, action, cell::none(), index, part);
}

Cell wrap_as(NodeId context, uint32_t class_id, bool own_series, TypeId type) {
    stack::Rooted object(cell::make(type, context, class_id, 0));
    const NodeId values = context::cell_of(context).w2;
    while (series::length(values) < field_count(context)) series::append_cell(values, cell::unset());
    context::owner_of(context) = object.cell();
    const NodeId record = init_events(context);
    object.cell().w3 = record;
    context::owner_of(context) = object.cell();
    if (own_series && record && (memory::buffer(record)->cells()[1].w2 >> 16) != kNoHandler)
        ownership::set_and_mark_owner(object.cell(), object.cell(), cell::none());
    return object.cell();
}

// The values a prototype passed on, made the new object's own: series copied deeply (block-like
// ones bound to it), functions rebound to it. May collect.
void make_private(NodeId context, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const Cell value = value_at(context, i);
        const TypeId t = cell::type(value);
        if (t == TypeId::function) {
            const Cell fn = rebind_function(value, context);
            store(context, i, fn);
        } else if (copied_privately(t)) {
            const Cell copy = copy_value(value, true);
            if (block::is_block_like(t)) context::bind_block(copy, context, true);
            store(context, i, copy);
        }
    }
}

void clear_new_lines(NodeId context) {
    const uint32_t n = field_count(context);
    for (uint32_t i = 0; i < n; ++i) cell::clear_new_line(*context::value_at(context, i));
}

// The index of the element's field: the element's own binding when it is bound there already.
int32_t field_index(NodeId context, const Cell& element) {
    if (element.w1 == context && element.w3 < field_count(context) &&
        symbol::resolve(context::word_at(context, element.w3).w2) == symbol::resolve(element.w2))
        return static_cast<int32_t>(element.w3);
    return context::find_word(context, element.w2, true);
}

bool is_field_key(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::get_word || t == TypeId::lit_word;
}

// Whether the value counts for copy/types: a series or one of the types that copy can copy.
bool typed_copy_wanted(const Cell& value, const Cell& types) {
    const TypeId t = cell::type(value);
    const bool wanted =
        cell::is(types, TypeId::datatype) ? types.w1 == static_cast<uint32_t>(t) : typeset::contains(types, t);
    const bool copyable = block::is_series(t) || is_object(t) || t == TypeId::map || t == TypeId::bitset;
    return wanted && copyable;
}

// Walks the fields to write, telling whether any is written at all.
bool has_visible_fields(NodeId context, bool all) {
    const uint32_t n = field_count(context);
    for (uint32_t i = 0; i < n; ++i)
        if (all || !is_handler(context::word_at(context, i).w2)) return true;
    return false;
}

}  // namespace

Field g_fields[kFields];

void init() {
    std::fill(std::begin(g_fields), std::end(g_fields), Field{});  // a runtime's nodes start over
    g_last_class = kErrorClass;
    context::set_change_hook(on_context_change);
    ownership::set_notify(on_deep_change);
}

void end_start_up() { g_last_class = std::max(g_last_class, kRunTimeClassBase); }
uint32_t new_class_id() { return ++g_last_class; }

bool is_object(TypeId type) { return type == TypeId::object || type == TypeId::error || type == TypeId::port; }

NodeId make_context(uint32_t slots) { return context::create(slots, false, true, 0, context::Kind::object); }

NodeId copy_context(NodeId source) {
    const uint32_t n = field_count(source);
    const NodeId context = context::create(n, false, true, source, context::Kind::object);
    for (uint32_t i = 0; i < n; ++i) context::word_at(context, i).w1 = context;
    const uint32_t have = std::min(n, series::length(context::cell_of(source).w2));
    std::memcpy(context::value_at(context, 0), context::value_at(source, 0), size_t{have} * sizeof(Cell));
    return context;
}

Cell wrap(NodeId context, uint32_t class_id, bool own_series, TypeId type) {
    return wrap_as(context, class_id, own_series, type);
}

Cell make(Cell proto, Cell spec) {
    const bool has_proto = cell::is(proto, TypeId::object);
    const TypeId st = cell::type(spec);
    if (st != TypeId::block && !cell::is(spec, TypeId::object)) error::fire(ErrorId::malconstruct, spec);
    stack::Rooted kept_spec(spec);
    const NodeId context = has_proto ? copy_context(proto.w1) : make_context(4);
    stack::Rooted object(cell::make(TypeId::object, context, has_proto ? proto.w2 : 0, 0));
    context::owner_of(context) = object.cell();
    const uint32_t inherited = field_count(context);
    bool added = false;
    if (st == TypeId::block) {
        added = collect_set_words(context, spec);
        context::bind_block(spec, context, true);
        if (has_proto) make_private(context, inherited);
        Cell* const top = stack::g_top;
        const Status status = interp::eval(spec, true);
        stack::g_top = top;
        exits::refuse_escape(status);
    } else {
        const NodeId source = spec.w1;
        for (uint32_t i = 0; i < field_count(source); ++i) {
            const uint32_t before = field_count(context);
            const uint32_t index = context::find_or_add_word(context, context::word_at(source, i).w2);
            added = added || field_count(context) > before;
            store(context, index, value_at(source, i));
        }
        make_private(context, field_count(context));
    }
    clear_set_marks(context);
    clear_new_lines(context);
    const uint32_t class_id = added || !has_proto ? new_class_id() : proto.w2;
    return wrap_as(context, class_id, true, TypeId::object);
}

Cell construct(Cell spec, Cell proto, bool only) {
    const bool has_proto = cell::is(proto, TypeId::object);
    stack::Rooted kept_spec(spec);
    const NodeId context = has_proto ? copy_context(proto.w1) : make_context(4);
    stack::Rooted object(cell::make(TypeId::object, context, 0, 0));
    const bool added = collect_set_words(context, spec);
    const NodeId node = cell::series_node(spec);
    const uint32_t first = block::head_index(spec);
    uint32_t waiting = first;  // the first set-word still waiting for its value
    bool any_waiting = false;
    auto give = [&](uint32_t end, Cell value) {
        for (uint32_t k = waiting; k < end; ++k) {
            const Cell item = block::abs_at(spec, k);
            if (!cell::is(item, TypeId::set_word)) continue;
            store(context, static_cast<uint32_t>(context::find_word(context, item.w2, true)), value);
        }
        any_waiting = false;
    };
    for (uint32_t i = first; i < series::length(node); ++i) {
        const Cell item = block::abs_at(spec, i);
        if (cell::is(item, TypeId::set_word)) {
            if (!any_waiting) waiting = i;
            any_waiting = true;
            continue;
        }
        if (!any_waiting) continue;
        Cell value = item;
        cell::clear_new_line(value);
        if (!only && cell::is(item, TypeId::word)) {
            const symbol::Id s = symbol::resolve(item.w2);
            if (s == canon(words::Word::true_) || s == canon(words::Word::yes) || s == canon(words::Word::on))
                value = cell::logic(true);
            else if (s == canon(words::Word::false_) || s == canon(words::Word::no) || s == canon(words::Word::off))
                value = cell::logic(false);
            else if (s == canon(words::Word::none)) value = cell::none();
        }
        give(i, value);
    }
    if (any_waiting) give(series::length(node), cell::none());
    const uint32_t class_id = has_proto && !added ? proto.w2 : new_class_id();
    return wrap_as(context, class_id, true, TypeId::object);
}

Cell copy(Cell object, bool deep, const Cell* types) {
    const NodeId source = object.w1;
    const bool walks = deep || types;
    if (walks && cycles::find(source)) {
        cycles::reset();
        error::fire(ErrorId::no_cycle);
    }
    cycles::Guard walking(source);
    stack::Rooted kept(object);
    const NodeId context = copy_context(source);
    stack::Rooted copied(cell::make(cell::type(object), context, object.w2, 0));
    context::owner_of(context) = copied.cell();
    for (uint32_t i = 0; i < field_count(context); ++i) {
        const Cell value = value_at(context, i);
        const TypeId t = cell::type(value);
        if (t == TypeId::function) {
            const Cell fn = rebind_function(value, context);
            store(context, i, fn);
        } else if (types ? typed_copy_wanted(value, *types) : deep && copied_deep(t)) {
            const Cell fresh = copy_value(value, deep || types);
            store(context, i, fresh);
        }
    }
    return wrap_as(context, object.w2, true, cell::type(object));
}

Cell rebind_function(Cell fn, NodeId context) {
    const Cell body = function::more_at(fn, function::kBody);
    if (!cell::is(body, TypeId::block)) error::fire(ErrorId::bad_func_def, fn);
    stack::Rooted kept(fn);
    const Cell code = function::more_at(fn, function::kCode);
    const Cell code2 = function::more_at(fn, function::kCode2);
    const uint32_t flags = fn.header & ~(0xFFu | cell_flag::new_line);
    const NodeId own = function::push(cell::series(TypeId::block, function::spec_of(fn)), body, 0,
                                      cell::is(code, TypeId::integer) ? code.w2 : 0,
                                      cell::is(code2, TypeId::integer) ? code2.w2 : 0, flags);
    const Cell rebound = stack::top_cell();
    // The copy is bound to the function already; its arguments win over same-named fields.
    const Cell copied_body = function::more_at(rebound, function::kBody);
    context::bind_block(copied_body, context, true);
    context::bind_block(copied_body, own, false);
    return rebound;
}

int32_t find_word(const Cell& object, symbol::Id symbol) { return context::find_word(object.w1, symbol, true); }

Field* search_field(NodeId context, symbol::Id symbol) {
    if (context::values_on_stack(context) || context::kind_of(context) != context::Kind::object) return nullptr;
    const int32_t index = context::find_word(context, symbol, true);
    if (index < 0) return nullptr;
    const auto at = static_cast<uint32_t>(index);
    Field& f = field_place(context, symbol);
    f = Field{context,
              symbol,
              memory::g_moves,
              at,
              context::value_at(context, at),
              &context::word_at(context, at),
              &context::owner_of(context),
              symbol::resolve(symbol) != canon(words::Word::self)};
    return &f;
}

Cell select_word(const Cell& object, symbol::Id symbol) {
    const int32_t index = find_word(object, symbol);
    return index < 0 ? cell::none() : value_at(object.w1, static_cast<uint32_t>(index));
}

void set_field(const Cell& object, uint32_t index, Cell value) {
    const Cell word = context::word_at(object.w1, index);
    (void)context::set_at(object.w1, index, word, value, !is_handler(word.w2));
}

void set_words(Cell object, Cell value, bool any, bool only, bool some) {
    stack::Rooted kept_object(object);
    stack::Rooted kept_value(value);
    const NodeId context = object.w1;
    const uint32_t n = field_count(context);
    const TypeId vt = cell::type(value);
    if (!only && vt == TypeId::block) {
        if (!any && !some) {
            const uint32_t m = std::min(n, block::length(value));
            for (uint32_t i = 0; i < m; ++i)
                if (cell::is(block::abs_at(value, block::head_index(value) + i), TypeId::unset))
                    error::fire(ErrorId::need_value, word_cell(context, i));
        }
        for (uint32_t i = 0; i < n && i < field_count(context); ++i) {
            // Re-read each time: a handler may have changed the block.
            const Cell item =
                i < block::length(value) ? block::abs_at(value, block::head_index(value) + i) : cell::none();
            if (some && cell::is(item, TypeId::none)) continue;
            set_field(object, i, item);
        }
        return;
    }
    if (!only && is_object(vt)) {
        if (!any && !some) {
            for (uint32_t i = 0; i < n; ++i) {
                const int32_t at = context::find_word(value.w1, context::word_at(context, i).w2, true);
                if (at >= 0 && cell::is(value_at(value.w1, static_cast<uint32_t>(at)), TypeId::unset))
                    error::fire(ErrorId::need_value, word_cell(context, i));
            }
        }
        for (uint32_t i = 0; i < n && i < field_count(context); ++i) {
            const int32_t at = context::find_word(value.w1, context::word_at(context, i).w2, true);
            if (at < 0) continue;
            const Cell item = value_at(value.w1, static_cast<uint32_t>(at));
            if (some && cell::is(item, TypeId::none)) continue;
            set_field(object, i, item);
        }
        return;
    }
    if (n && !any && vt == TypeId::unset) error::fire(ErrorId::need_value, word_cell(context, 0));
    if (some && vt == TypeId::none) return;
    for (uint32_t i = 0; i < n && i < field_count(context); ++i) set_field(object, i, value);
}

Cell words_of(const Cell& object) {
    const NodeId context = object.w1;
    const Cell list = block::clone(cell::series(TypeId::block, context::words_block(context)), false, false);
    Cell* cells = memory::buffer(cell::series_node(list))->cells();
    for (uint32_t i = 0; i < block::length(list); ++i) {
        cells[i].header = static_cast<uint32_t>(TypeId::word);
        cells[i].w1 = context;
        cells[i].w3 = i;
    }
    return list;
}

Cell values_of(const Cell& object) {
    return block::clone(cell::series(TypeId::block, context::cell_of(object.w1).w2), false, false);
}

void clear_set_marks(NodeId context) {
    const uint32_t n = field_count(context);
    for (uint32_t i = 0; i < n; ++i) context::word_at(context, i).header &= ~cell_flag::word_set;
}

Cell reflect(Cell object, symbol::Id field) {
    const NodeId context = object.w1;
    const symbol::Id f = symbol::resolve(field);
    if (f == canon(words::Word::class_)) return cell::integer(static_cast<int32_t>(object.w2));
    if (f == canon(words::Word::words)) return words_of(object);
    if (f == canon(words::Word::values)) return values_of(object);
    if (f == canon(words::Word::owner))
        return cell::logic((context::cell_of(context).header & cell_flag::owns_series) != 0);
    if (f == canon(words::Word::events_q)) return cell::logic(object.w3 != 0);
    if (f == canon(words::Word::changed)) {
        Cell* list = block::push_new(4);
        for (uint32_t i = 0; i < field_count(context); ++i)
            if (context::word_at(context, i).header & cell_flag::word_set)
                block::append(cell::series_node(*list), word_cell(context, i));
        const Cell result = *list;
        stack::pop(1);
        return result;
    }
    if (f == canon(words::Word::body)) {
        const uint32_t n = field_count(context);
        Cell* list = block::push_new(n * 2);
        const NodeId node = cell::series_node(*list);
        for (uint32_t i = 0; i < n; ++i) {
            Cell name = word_cell(context, i);
            cell::set_type(name, TypeId::set_word);
            cell::set_new_line(name, true);
            Cell value = value_at(context, i);
            cell::clear_new_line(value);
            if (cell::is(value, TypeId::word)) cell::set_type(value, TypeId::lit_word);
            if (cell::is(value, TypeId::path)) cell::set_type(value, TypeId::lit_path);
            block::append(node, name);
            block::append(node, value);
        }
        const Cell result = *list;
        stack::pop(1);
        return result;
    }
    error::fire(ErrorId::not_done);
}

NodeId init_events(NodeId context) {
    const int32_t change = context::find_word(context, words::id(words::Word::on_change_star), true);
    const int32_t deep = context::find_word(context, words::id(words::Word::on_deep_change_star), true);
    if (change < 0 && deep < 0) return 0;
    for (const int32_t index : {change, deep}) {
        if (index < 0) continue;
        const Cell handler = value_at(context, static_cast<uint32_t>(index));
        // The word first: the message reads "cannot set on-change* field to integer! datatype".
        if (!is_callable_handler(handler))
            error::fire(ErrorId::bad_field_set, word_cell(context, static_cast<uint32_t>(index)),
                        cell::datatype_of(handler));
    }
    const NodeId record = memory::alloc_cells(2);
    series::append_cell(record, record_cell(context, change < 0 ? kNoHandler : static_cast<uint32_t>(change)));
    series::append_cell(record, record_cell(context, deep < 0 ? kNoHandler : static_cast<uint32_t>(deep)));
    return record;
}

void fire_on_change(const Cell& object, const Cell& word, const Cell& old_value, const Cell& new_value) {
    if (!object.w3) return;
    const Cell owner = object;
    const uint32_t index = handler_index(owner, 0);
    if (index == kNoHandler) return;
    const Cell handler = handler_at(owner, 0, index);
    if (!is_callable_handler(handler)) error::fire(ErrorId::invalid_obj_evt, handler);
    Cell name = word;
    cell::set_type(name, TypeId::word);
    cell::clear_new_line(name);
    if (name.w1 != owner.w1) {
        const int32_t index = context::find_word(owner.w1, name.w2, true);
        if (index >= 0) {
            name.w1 = owner.w1;
            name.w3 = static_cast<uint32_t>(index);
        }
    }
    const Cell values[] = {name, old_value, new_value};
    call_handler(handler, values, 3, words::Word::on_change_star);
}

void fire_on_deep_change(const Cell& owner, const Cell& field, const Cell& target, const Cell& action,
                         const Cell& value, int32_t index, int32_t part) {
    if (!owner.w3) error::fire(ErrorId::invalid_obj_evt, owner);
    const uint32_t at = handler_index(owner, 1);
    if (at == kNoHandler) return;
    const Cell handler = handler_at(owner, 1, at);
    if (!is_callable_handler(handler)) return;
    const Cell values[] = {owner, field, target, action, value, cell::integer(index), cell::integer(part)};
    call_handler(handler, values, 7, words::Word::on_deep_change_star);
}

namespace {

// The field writer of mold_each; values are molded one level deeper than their object.
int32_t write_fields(Cell object, NodeId out, MoldFlags flags, int32_t limit) {
    const NodeId context = object.w1;
    cycles::Guard walking(context);
    const int32_t level = flags.only ? flags.indent : flags.indent + 1;
    bool first = true;
    for (uint32_t i = 0; i < field_count(context) && limit > 0; ++i) {
        const Cell name = context::word_at(context, i);
        if (!flags.all && is_handler(name.w2)) continue;
        if (flags.flat) {
            if (!first) limit = mold::emit(out, " ", limit);
        } else {
            if (!first || !flags.only) limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, level, limit);
        }
        first = false;
        limit = word::emit_name(name, out, limit);
        limit = mold::emit(out, ": ", limit);
        const Cell value = value_at(context, i);
        if ((value.header & 0xFF) == 0) {
            limit = mold::emit(out, "unset", limit);
            continue;
        }
        if (cell::is(value, TypeId::word)) limit = mold::emit(out, "'", limit);
        limit = registry::actions(cell::type(value))
                    .mold(value, out, MoldFlags{false, flags.all, flags.flat, level}, limit);
    }
    return limit;
}

}  // namespace

int32_t mold_each(Cell object, NodeId out, MoldFlags flags, int32_t limit) {
    return write_fields(object, out, flags, limit);
}

int32_t mold_as(Cell object, std::string_view head, NodeId out, MoldFlags flags, int32_t limit) {
    if (flags.only) return write_fields(object, out, flags, limit);
    limit = mold::emit(out, "make ", limit);
    limit = mold::emit(out, head, limit);
    limit = mold::emit(out, " [", limit);
    limit = write_fields(object, out, flags, limit);
    if (!flags.flat && has_visible_fields(object.w1, flags.all)) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, flags.indent, limit);
    }
    return mold::emit(out, "]", limit);
}

int32_t compare(Cell a, Cell b, int32_t op) {
    if (cell::type(a) != cell::type(b)) return kNotComparable;
    const NodeId ca = a.w1, cb = b.w1;
    if (ca == cb) return 0;
    if (op == op_same) return -1;
    if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
    const uint32_t na = field_count(ca), nb = field_count(cb);
    if (na != nb) return na > nb ? 1 : -1;
    const cycles::Guard walking(ca, cb);
    for (uint32_t i = 0; i < na; ++i) {
        const symbol::Id wa = symbol::resolve(context::word_at(ca, i).w2);
        const symbol::Id wb = symbol::resolve(context::word_at(cb, i).w2);
        if (wa != wb) return wa < wb ? -1 : 1;
        const Cell x = value_at(ca, i), y = value_at(cb, i);
        const TypeId tx = cell::type(x), ty = cell::type(y);
        const bool words = word::is_all_word(tx) && word::is_all_word(ty);
        const auto number = [](TypeId t) {
            return t == TypeId::integer || t == TypeId::float_ || t == TypeId::percent;
        };
        if (tx != ty && !words && !(number(tx) && number(ty))) return tx < ty ? -1 : 1;
        const int32_t r = actions::compare_direct(x, y, op);
        if (r == kNotComparable) return r;
        if (r) return r < 0 ? -1 : 1;
    }
    return 0;
}

Cell eval_path(Cell parent, Cell element, const PathStep& step) {
    if (!is_field_key(cell::type(element))) error::fire(ErrorId::invalid_path, step.path, element);
    const NodeId context = parent.w1;
    const int32_t index = field_index(context, element);
    if (!step.set_value) {
        if (index < 0) error::fire(ErrorId::invalid_path, step.path, element);
        const Cell value = value_at(context, static_cast<uint32_t>(index));
        if (cell::is(value, TypeId::unset)) error::fire(ErrorId::unset_path, step.path, element);
        return value;
    }
    const Cell value = *step.set_value;
    if (index < 0 || symbol::resolve(element.w2) == canon(words::Word::self))
        error::fire(ErrorId::invalid_path, step.path, element);
    set_field(parent, static_cast<uint32_t>(index), value);
    return value;
}

}  // namespace object

namespace {

Cell object_make(TypeId, Cell proto, Cell spec) {
    return object::make(cell::is(proto, TypeId::object) ? proto : cell::none(), spec);
}

Cell object_reflect(Cell value, uint32_t field) { return object::reflect(value, field); }

int32_t object_form(Cell value, NodeId out, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, false)) return limit;
    return object::mold_each(value, out, MoldFlags{true, false, false, 0}, limit);
}

int32_t object_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, true)) return limit;
    return object::mold_as(value, "object!", out, flags, limit);
}

Cell object_copy(Cell value, const CopyOptions& options) {
    if (options.part) part_skip::refuse(words::Word::part, *options.part);
    return object::copy(value, options.deep, options.types);
}

Cell object_select(Cell object, Cell key, const FindOptions&) {
    if (!object::is_field_key(cell::type(key))) error::fire(ErrorId::invalid_type, cell::datatype_of(key));
    return object::select_word(object, key.w2);
}

Cell object_put(Cell object, Cell key, Cell value, bool) {
    if (!cell::is(key, TypeId::word)) error::fire(ErrorId::invalid_key_type, cell::datatype_of(key));
    const int32_t index = object::find_word(object, key.w2);
    if (index < 0) error::fire(ErrorId::invalid_arg, key);
    object::set_field(object, static_cast<uint32_t>(index), value);
    return value;
}

// Whether a modify owned block is [owner-object field-word] rather than a list of field names.
bool held_by_field(const Cell& spec) {
    const uint32_t head = block::head_index(spec);
    if (series::length(cell::series_node(spec)) < head + 2) return false;
    return object::is_object(cell::type(block::abs_at(spec, head))) &&
           word::is_all_word(cell::type(block::abs_at(spec, head + 1)));
}

Cell object_modify(Cell object, Cell field, Cell value, bool) {
    const symbol::Id f = symbol::resolve(field.w2);
    const NodeId context = object.w1;
    auto is = [f](words::Word w) { return f == symbol::resolve(words::id(w)); };
    if (is(words::Word::changed)) {
        if (!cell::is(value, TypeId::none)) error::fire(ErrorId::invalid_arg, value);
        object::clear_set_marks(context);
    } else if (is(words::Word::owner)) {
        ownership::set_and_mark_owner(object, object, cell::none());
    } else if (is(words::Word::owned)) {
        if (cell::is(value, TypeId::none)) {
            // The flag first: the walk passes over objects that own their series themselves.
            context::cell_of(context).header &= ~cell_flag::owns_series;
            ownership::unset(object);
        } else if (cell::is(value, TypeId::block) && held_by_field(value)) {
            // [owner field]: this object, held by the owner's field, reports its series' changes
            // to that owner under that field.
            const Cell owner = block::abs_at(value, block::head_index(value));
            const Cell word = block::abs_at(value, block::head_index(value) + 1);
            ownership::set_in_field(object, owner, word);
            context::cell_of(owner.w1).header |= cell_flag::owns_series;
        } else if (cell::is(value, TypeId::block)) {
            const NodeId names = cell::series_node(value);
            for (uint32_t i = block::head_index(value); i < series::length(names); ++i) {
                const Cell name = block::abs_at(value, i);
                if (!word::is_all_word(cell::type(name))) continue;
                const int32_t index = object::find_word(object, name.w2);
                if (index < 0) continue;
                const Cell held = *context::value_at(context, static_cast<uint32_t>(index));
                ownership::set(held, object, context::word_at(context, static_cast<uint32_t>(index)));
            }
            context::cell_of(context).header |= cell_flag::owns_series;
        } else {
            error::fire(ErrorId::invalid_arg, value);
        }
    } else {
        error::fire(ErrorId::invalid_arg, field);
    }
    return value;
}

}  // namespace

extern const ActionTable object_actions = {
    .make = object_make,
    .reflect = object_reflect,
    .form = object_form,
    .mold = object_mold,
    .eval_path = object::eval_path,
    .compare = object::compare,
    .copy = object_copy,
    .put = object_put,
    .select = object_select,
    .modify = object_modify,
};

// An object is its context (w1) and its handler record (w3); walks go through the context.
extern const type_traits::Traits object_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::bytes},
    .same_words = type_traits::kW1,
    .key_words = type_traits::kW1,
    .walk_word = 1,
    .cycle_marker = "make object! [...]",
    .copies = true,
};

}  // namespace zub
