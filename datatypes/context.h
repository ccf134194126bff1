// Contexts: the language's namespaces. A context is a node whose series holds the context! cell
// and the owner value (the object or function it belongs to). The context! cell holds its word
// table (a hash table indexing a block of words, one per name) and its values: a series of cells,
// or, for a function, the place of the running call's arguments on the evaluation stack.
// Words are bound to a context and an index in it; reaching a value is one indexed load.
#pragma once

#include <cstdint>

#include "datatypes/values_cache.h"
#include "evaluator/stack.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace zub::context {

enum class Kind : uint32_t { plain = 0, function = 1, object = 2 };
inline constexpr uint32_t kKindShift = 11;  // of the kind in the context! cell's header

// Creates the global context (room for 4,000 words). Once, at start. May collect.
void init();
NodeId global();

// The context! cell and the owner cell of a context. Valid until the next allocation.
inline Cell& cell_of(NodeId context) { return memory::buffer(context)->cells()[0]; }
inline Cell& owner_of(NodeId context) { return memory::buffer(context)->cells()[1]; }
Kind kind_of(NodeId context);
bool values_on_stack(NodeId context);
uint32_t word_count(NodeId context);
// The block of the context's words.
NodeId words_block(NodeId context);
// The word at an index of the word table. Valid until the next allocation.
Cell& word_at(NodeId context, uint32_t index);

// A new context with room for `size` words (at least 1). With values on the stack the context has
// no values until a call runs; otherwise an empty values series. With a source context its words
// (as they are bound) and as many unset values are copied in. May collect.
NodeId create(uint32_t size, bool on_stack, bool object_flag, NodeId source, Kind kind);
// A context of the words, get-words, lit-words and refinements of a spec block; a second
// spelling of a word adds nothing. May collect.
NodeId make_from_spec(Cell spec, bool on_stack, bool object_flag, Kind kind);
// A fresh context with the same words, rebound to it, installed in the value's payload 1; its
// values start unset. Returns the new context. May collect.
NodeId renew(Cell& value, Kind kind);

// The words found last, by context and symbol as asked: a field of an object is looked up by its
// word at every access through a path. A word once in a context stays at its index while the
// context lives (words are only ever added), and entries lapse with every move count, so a node
// id reused after a collection never finds an old entry.
struct Found {
    NodeId context;
    symbol::Id symbol;
    uint32_t moves;
    int32_t index;
};
inline constexpr uint32_t kFound = 256;
extern Found g_found[kFound];
// Both halves multiplied before the top bits are taken: neighbouring symbols (an object's fields,
// read one after the other) must not share an entry.
inline Found& found_place(NodeId context, symbol::Id symbol) {
    static_assert(kFound == 1u << 8, "the place is the hash's top 8 bits");
    return g_found[(context * 0x9E3779B1u ^ symbol * 0x85EBCA6Bu) >> 24];
}
// find_word past the kept entries: searches the context's words (keeping what a canonical search
// finds).
int32_t search_and_keep(NodeId context, symbol::Id symbol, bool canonical);

// The index of a symbol's word, or -1. `canonical` matches any case variant.
inline int32_t find_word(NodeId context, symbol::Id symbol, bool canonical) {
    if (canonical) {
        const Found& e = found_place(context, symbol);
        if (e.context == context && e.symbol == symbol && e.moves == memory::g_moves) [[likely]]
            return e.index;
    }
    return search_and_keep(context, symbol, canonical);
}
// Finds the symbol, or appends a word for it (and, with a values series, an unset value).
// Returns its index. May collect.
uint32_t find_or_add_word(NodeId context, symbol::Id symbol);
// The global context's word for the symbol, added when missing. A case variant of a stored word
// keeps its own spelling and shares the stored word's index. May collect.
Cell add_global_word(symbol::Id symbol);
// Stores the value under the symbol, adding the word when missing. May collect.
void put_word_value(NodeId context, symbol::Id symbol, Cell value);
// Adds the word with the value only when the context lacks it. May collect.
void add_word_value(NodeId context, symbol::Id symbol, Cell value);
// Adds every set-word of the block from its position; true when the context grew. May collect.
bool collect_set_words(NodeId context, Cell block);

// The value slot at an index, or null when the context has no values (a function not running).
// Valid until the next allocation.
Cell* value_at(NodeId context, uint32_t index);

// Binds the word when the context holds its symbol (any case variant): payload 1 becomes the
// context, payload 3 the index. Returns the index, or -1 leaving the word as it was.
int32_t bind_word(NodeId context, Cell& word);
// Binds the words of a block and of the blocks, parens and paths in it. With `self`, the word
// self is bound to the context with index -1 (so it reads the owner). Never allocates.
void bind_block(Cell block, NodeId context, bool self);

// The address of the word's value in the context. Raises script no-value for an unresolved word
// other than self, not-in-context for a function context outside its call. Never allocates.
Cell* get_in(Cell word, NodeId context);
// Stores the value for the word in the context (adding an unresolved word to it) and returns the
// slot. In an object context the word's set mark goes on and, with `notify`, the change hook runs.
// Raises script not-defined when the context has no values. May collect.
Cell* set_in(Cell word, Cell value, NodeId context, bool notify);
// The same for the word at a known index of the context (the hook is given `word`).
Cell* set_at(NodeId context, uint32_t index, Cell word, Cell value, bool notify);
inline Cell* get(Cell word) { return get_in(word, word.w1); }
inline Cell* set(Cell word, Cell value) { return set_in(word, value, word.w1, true); }

// The payload 3 of a word bound to a context but to no index in it.
inline constexpr uint32_t kUnresolved = 0xFFFFFFFF;

// Fills a context's cache entry, out of line so the readers' common road stays short.
void fill_entry(ValuesEntry& e, NodeId context);

// The cache entry of a context, filled when missing.
inline const ValuesEntry& entry_of(NodeId context) {
    ValuesEntry& e = cache_place(context);
    if (!valid(e, context)) [[unlikely]]
        fill_entry(e, context);
    return e;
}

// The value slot of a bound word, for reading; null when it has none to read directly (unbound,
// self, or a function context outside its call), where get_in gives the error. Valid until the
// next allocation. An unbound word (context 0) never finds a valid entry, none being filled for it,
// so it is told apart only once its entry is found missing.
[[gnu::always_inline]] inline Cell* slot_of(const Cell& word) {
    if (word.w3 == kUnresolved) return nullptr;
    ValuesEntry& e = cache_place(word.w1);
    if (!valid(e, word.w1)) [[unlikely]] {
        if (word.w1 == 0) return nullptr;
        fill_entry(e, word.w1);
    }
    return e.values ? e.values + word.w3 : nullptr;
}

// Stores a value at a word's index as set_at does when no handler is to be told: straight into
// the slot, an object's field with its set mark. False, nothing done, where set_at must: no values
// to reach, an object whose owner has handlers. Never allocates.
inline bool store_direct(NodeId context, uint32_t index, const Cell& value) {
    const ValuesEntry& e = entry_of(context);
    if (!e.values) return false;
    if (e.object) {
        if ((e.cell->header & cell_flag::stack_values) || owner_of(context).w3 != 0) return false;
        word_at(context, index).header |= cell_flag::word_set;
    }
    e.values[index] = value;
    return true;
}

// Sets a word as set does: straight into its slot unless its context is an object's, whose fields
// notify, or the word needs set_in's errors. May collect.
inline void store(const Cell& word, const Cell& value) {
    if (word.w3 != kUnresolved && word.w1 != 0) {
        const ValuesEntry& e = entry_of(word.w1);
        if (e.values && !e.object) {
            e.values[word.w3] = value;
            return;
        }
    }
    set(word, value);
}
// The same, an object's field also set in place when no handler is to be told: a set-word's road.
inline void store_any(const Cell& word, const Cell& value) {
    if (word.w3 != kUnresolved && word.w1 != 0 && store_direct(word.w1, word.w3, value)) return;
    set(word, value);
}

// Called after an object field changes through a word, with the owner, the word, the old and
// the new value. Installed by objects.
using ChangeHook = void (*)(const Cell& owner, const Cell& word, const Cell& old_value, const Cell& new_value);
void set_change_hook(ChangeHook hook);

}  // namespace zub::context
