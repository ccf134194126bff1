// What the word family shares with issue! and the rest of the runtime.
#pragma once

#include "runtime/cell.h"

namespace zub::word {

// The six word types of all-word!: any-word!'s four, refinement! and issue!.
inline bool is_all_word(TypeId type) { return type_group::in(type_group::all_word, type); }

// A word of any kind holds its binding context (w1, 0 when unbound), its symbol id (w2) and the
// index of its last lookup in that context (w3).
inline NodeId context_of(const Cell& word) { return word.w1; }
inline uint32_t symbol_of(const Cell& word) { return word.w2; }
// Respells the word (an alias of the same canonical symbol keeps its binding).
inline void set_symbol(Cell& word, uint32_t symbol) { word.w2 = symbol; }

// The word a text (string or char) loads as; anything but exactly one word of the family raises
// script invalid-chars. May collect.
Cell word_from_text(Cell text);

// make and to from a datatype (its name), a logic (the word true or false) or text; anything
// else raises script bad-to-arg. The result has the target type. May collect.
Cell make_common(TypeId type, Cell spec);

// Appends the word's name in its own spelling; returns the budget left. May collect.
int32_t emit_name(Cell word, NodeId out, int32_t limit);

// The hash of a word of any kind: its canonical symbol's, so that words equal under any case rule
// meet in one probe sequence. Never allocates.
uint32_t hash(const Cell& word);

}  // namespace zub::word
