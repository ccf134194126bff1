// object!: a context wrapped as a value. The cell holds the context node (w1), the class id that
// objects made from one spec share (w2) and the node of the on-set record (w3): where the
// object's on-change* and on-deep-change* handlers sit, or 0 when it has neither. The context's
// owner cell holds the object cell itself, so `self` and owner lookups find it. error! and port!
// share this layout and most of these routines.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace zub::object {

// Class ids: start-up objects count up from 2 (1 is every error's class); run-time objects
// count from 1,000,001 on.
inline constexpr uint32_t kErrorClass = 1;
inline constexpr uint32_t kRunTimeClassBase = 1000000;

// Resets the class counter and installs the change hooks of contexts and of series ownership.
// Once per runtime start, after the stack and the ownership table. Never allocates.
void init();
// The end of start-up: the next class id is 1,000,001 (unless the counter is past it already).
void end_start_up();
uint32_t new_class_id();

// Whether the value has the object layout: object!, error! or port!.
bool is_object(TypeId type);

// ---- Making ------------------------------------------------------------------------------------

// A new empty object context with room for `slots` words. Only the caller holds it (root it as
// runtime/memory.h says). May collect.
NodeId make_context(uint32_t slots);
// A new object context holding the source's words, rebound to it, and a copy of its values.
// Only the caller holds it (root it as runtime/memory.h says). May collect.
NodeId copy_context(NodeId source);
// Wraps a context as an object! of the class, building its on-set record and making the object
// its context's owner; with `own_series` and an on-deep-change* handler the object also becomes
// the owner of its series. Fills the values up to one per word. May collect.
Cell wrap(NodeId context, uint32_t class_id, bool own_series, TypeId type = TypeId::object);

// make object! / make prototype: spec is a block (its set-words become fields, it is bound and
// evaluated) or an object (its fields are added); proto is an object or none. Raises syntax
// malconstruct for anything else. May collect; runs the block's code.
Cell make(Cell proto, Cell spec);
// The construct native: fields from the block's set-words, each taking the next value that is not
// a set-word (none at the end), nothing evaluated; unless `only`, the words true/yes/on,
// false/no/off and none become logic and none values. proto is an object or none. May collect.
Cell construct(Cell spec, Cell proto, bool only);
// copy of an object: the same words and class, the values copied (series ones deeply with
// `deep`, or those matching `types`), functions rebound to the copy. types is null, a datatype!
// or a typeset!. May collect.
Cell copy(Cell object, bool deep, const Cell* types);
// A function! like fn whose body (a deep copy) is bound to the object's context and then to the
// function's own. Raises script bad-func-def for a function without body. May collect.
Cell rebind_function(Cell fn, NodeId context);

// ---- Fields ------------------------------------------------------------------------------------

// The index of a field (any case variant of the word's symbol), or -1. Never allocates.
int32_t find_word(const Cell& object, symbol::Id symbol);
// The field's value, or none when the object has no such field. Never allocates.
Cell select_word(const Cell& object, symbol::Id symbol);
// Stores a value in a field by index, with the set mark and on-change* notification (unless the
// field is one of the handlers). May run user code, so may collect.
void set_field(const Cell& object, uint32_t index, Cell value);
// The set native on an object: from a block (by position, none past its end) or an object (by
// name), else (or with `only`) one value for every field. Unset values raise script need-value
// unless `any`; with `some` a none leaves the field alone. May run user code.
void set_words(Cell object, Cell value, bool any, bool only, bool some);

// reflect: changed, class, words, values, body, owner, events?; anything else raises internal
// not-done. May collect.
Cell reflect(Cell object, symbol::Id field);
// The words of the object bound to it, and a copy of its values. May collect.
Cell words_of(const Cell& object);
Cell values_of(const Cell& object);
// Clears the set mark of every word of the context. Never allocates.
void clear_set_marks(NodeId context);

// ---- Notification ------------------------------------------------------------------------------

// The on-set record of a context: the node of two pair! cells (index << 16 | local count, spec
// node) for on-change* and on-deep-change*, or 0 when it has neither. Raises script
// bad-field-set when a handler is not a function. May collect.
NodeId init_events(NodeId context);
// Calls on-change* with the word, the old and the new value; its result is dropped. Raises
// script invalid-obj-evt when the handler was replaced by something not a function. Runs user
// code.
void fire_on_change(const Cell& object, const Cell& word, const Cell& old_value, const Cell& new_value);
// Calls on-deep-change* with the owner, the field word, the target series, the action word, the
// value (none when absent), the index and the part. Runs user code.
void fire_on_deep_change(const Cell& owner, const Cell& field, const Cell& target, const Cell& action,
                         const Cell& value, int32_t index, int32_t part);

// ---- Writing -----------------------------------------------------------------------------------

// The fields as "word: value" lines (or blank-separated when flat), handlers left out unless
// flags.all; a newline before the first field unless flags.only. Returns the budget left.
// May collect.
int32_t mold_each(Cell object, NodeId out, MoldFlags flags, int32_t limit);
// mold without its cycle marker and brackets: "make <head> [" + fields + "]". May collect.
int32_t mold_as(Cell object, std::string_view head, NodeId out, MoldFlags flags, int32_t limit);
// The comparison of object!: -2 for a non-object, else -1, 0 or 1 by word count, then word by
// word and value by value. Never allocates but to raise.
int32_t compare(Cell a, Cell b, int32_t op);
// eval-path: get or set a field through a path step. May run user code.
Cell eval_path(Cell parent, Cell element, const PathStep& step);

// ---- Fields reached by paths -------------------------------------------------------------------

// A field of an object's context as a path reaches it, kept by context and symbol as asked: its
// value, the word carrying its set mark and the object's owner cell (whose on-set record says
// whether handlers are to be told, read at every store: an object being made gets its record at the
// end). A word stays at its index while the context lives, and entries lapse with every move
// count, so the pointers hold.
struct Field {
    NodeId context;
    symbol::Id symbol;
    uint32_t moves;
    uint32_t index;
    Cell* value;
    Cell* word;
    const Cell* owner;
    bool settable;  // not self, which paths never set
};
inline constexpr uint32_t kFields = 256;
extern Field g_fields[kFields];
inline Field& field_place(NodeId context, symbol::Id symbol) {
    static_assert(kFields == 1u << 8, "the place is the hash's top 8 bits");
    return g_fields[(context * 0x9E3779B1u ^ symbol * 0x85EBCA6Bu) >> 24];
}
// field_of past the kept entries. Never allocates.
Field* search_field(NodeId context, symbol::Id symbol);
// The field of the symbol (any case variant) in an object's context; null when it has none, or
// the context is not an object's with values of its own. Never allocates.
inline Field* field_of(NodeId context, symbol::Id symbol) {
    Field& f = field_place(context, symbol);
    if (f.context == context && f.symbol == symbol && f.moves == memory::g_moves) [[likely]]
        return &f;
    return search_field(context, symbol);
}
// Stores a value in the field as a path does when no handler is to be told: the set mark and the
// value. False, nothing done, for self and for an object with handlers (set_field's road).
inline bool store_field(const Field& f, const Cell& value) {
    if (!f.settable || f.owner->w3 != 0) return false;
    f.word->header |= cell_flag::word_set;
    cell::copy(*f.value, value);
    return true;
}

}  // namespace zub::object
