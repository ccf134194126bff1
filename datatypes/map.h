// map!: the dictionary. A map cell holds a head index (w1, always 0 for a map itself; foreach
// uses it as its cursor), the node of its entry block (w2: key and value cells in turn) and the
// node of the hash index of the keys (w3). A removed entry keeps its key and its bucket, its value
// cell emptied (header 0), so a later put of the key revives it in place; removed entries are
// dropped when the index would otherwise have to grow, so churn does not grow a map for ever.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::map {

// Whether a value may be a key: the text, word, number and scalar types.
bool valid_key_type(TypeId type);

// The key as the map stores it: text copied from its position, the word family as a set-word,
// other valid keys unchanged. Any other type raises script invalid-path. May collect.
Cell prepare_key(Cell key);

// A map over the block's cells (key, value in turn, an even number of them): every key is
// prepared and indexed, and a key met again gives its value to the earlier entry. The block
// becomes the map's own. May collect.
Cell init_cell(NodeId block);

// A new empty map with room for `entries` entries. May collect.
Cell make_empty(uint32_t entries);

// Puts every key/value pair of a block (from its head, an even number of values, else script
// invalid-arg) or of another map's live entries into the map. May collect.
void extend(Cell map, Cell spec, bool case_sensitive);

// The step of foreach over a map: the key (a set-word key given as a word) and the value of the
// next live entry at or after the cursor (a copy of the map cell whose head index counts cells),
// the cursor moved past it. False when no entry is left. Never allocates.
bool next_entry(Cell& cursor, Cell& key, Cell& value);

// A key as find, words-of, body-of and foreach hand it out: a set-word key as a word, a text or
// binary key as a copy of its own, so that changing what a caller got cannot change a key behind
// the map's index. May collect.
Cell given_key(Cell key);
// The same for body-of, which keeps set-words: only text and binary keys are copied. May collect.
Cell detached_key(Cell key);

// Live entries.
uint32_t length(const Cell& map);

}  // namespace zub::map
