// The value indexes of hash! and map! blocks, on the position-table engine of hashtable.h. A
// bucket holds the block position of a value; a hash! index gathers equal values under one bucket
// as a chain of positions, and keeps a position array (block position -> bucket + 1) so that a
// value can be forgotten without hashing it again. A map! index holds the keys of its key/value
// block, one bucket per key, each key's hash kept beside it. Positions are cell offsets from the
// block's buffer head.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/compare.h"
#include "runtime/hashtable.h"

namespace zub::hash_index {

using hashtable::Kind;

// The hash of a value by its type. Text hashes case-folded and words by their canonical symbol,
// so values equal under any case rule share one probe sequence. Never allocates.
uint32_t hash_value(const Cell& value);

// How values compare: the answer of a compare entry under a comparison code (0 for equal,
// kNotComparable for values that cannot be compared); may raise. The evaluator registers its
// comparison at start, before any index is made.
using Compare = int32_t (*)(Cell a, Cell b, int32_t op);
void set_compare(Compare compare);

// Prepares a key entering a map (copies text, turns words into set-words); may raise. May collect.
using PrepareKey = Cell (*)(Cell key);

// A new index of the block from its head: a hash! index (Kind::hash) of every value, or a map!
// index (Kind::map) of every second cell, where a key met again gives its value to the earlier
// pair and the later pair leaves the block. prepare, when given, is applied to each map key
// first. May collect; the comparison may raise.
NodeId init(uint32_t size, NodeId block, Kind kind, PrepareKey prepare = nullptr);

// How a lookup chooses among equal values.
struct Find {
    uint32_t start = 0;       // block position the search starts from
    uint32_t skip = 1;        // only positions a multiple of skip away from start (0 reads as 1)
    int32_t rule = op_equal;  // comparison code: op_equal or op_find, op_strict_equal, op_same
    bool backwards = false;   // the nearest match before start
    bool last = false;        // the last match at or after start (wins over backwards)
};

// The block position of the matching value, or -1. Without backwards or last: the first match at
// or after start. A map! index compares keys of the word family as set-words. When `at` is given
// the probe is left on the matching bucket for find_next. Never allocates; the comparison may
// raise for types that cannot be compared.
int32_t find(NodeId table, const Cell& key, const Find& how, hashtable::Probe* at = nullptr);
// Goes on with a probe that find or find_next left: the next bucket whose value matches, by the
// same rules. The probe is valid until the index changes.
int32_t find_next(NodeId table, const Cell& key, const Find& how, hashtable::Probe& at);

// Indexes the value at the block position. A hash! value equal to one already indexed joins its
// chain; a map! key is added as a new entry (the caller has found it absent). A hash! position
// already indexed is left alone, so remove_value before a value is changed. May collect.
void add_block_value(NodeId table, uint32_t position);
// map! indexes only. After a find that found nothing, with the probe it left: indexes the key at
// the block position in the bucket the probe names (the first deleted one passed, else the empty
// one that ended it), under the hash the probe carries. The caller has made room first. Never
// allocates.
void add_map_key(NodeId table, const hashtable::Probe& at, uint32_t position);
// Drops the removed entries (value header 0) from the block, sliding the live ones down, and
// indexes the live keys again in `buckets` buckets (a power of two) by their stored hashes. May
// collect.
void compact_map(NodeId table, uint32_t buckets);
// The keys moved to `buckets` buckets (a power of two) by their stored hashes. May collect.
void grow_map(NodeId table, uint32_t buckets);

// Forgets the value at the block position: it leaves its chain, and a chain left empty is
// released and its bucket deleted; a map! key's bucket is deleted. Does nothing for a position
// not indexed. Never allocates.
void remove_value(NodeId table, uint32_t position);

// Indexes every step-th value of the block from a position (a map! always takes key/value pairs,
// as init describes). May collect; the comparison may raise.
void index_block(NodeId table, uint32_t from, uint32_t step, PrepareKey prepare = nullptr);

// Indexes the whole block again with room for count values. A hash! index gets
// round-pow2(truncate(count x 1.5)) buckets (at least 4) and a bound of truncate(buckets x 0.77);
// a map! index round-pow2(count) buckets and its removed entries (value header 0) are left out.
// May collect; the comparison may raise.
void rebuild(NodeId table, uint32_t count);

// Every bucket empty, no entries, no chains; the block is not touched. Never allocates.
void clear(NodeId table);

// A copy of the index (its arrays and chains included) for a copy of its block. May collect.
NodeId copy_table(NodeId table, NodeId block);

// hash! indexes only. Keeping the stored positions in step with edits of the block: each call
// touches the values from the edit to the end of the indexed positions, and when there are more
// than kMaxShift of them it changes nothing and answers false: rebuild the index instead.
inline constexpr uint32_t kMaxShift = 30000;
// The n values at the position are about to leave the block (or have left it): forgets them and
// moves the later positions down by n. Never allocates.
bool remove_range(NodeId table, uint32_t position, uint32_t n);
// Values were inserted (offset > 0) or removed (offset < 0, their entries already forgotten) at
// `from`: every stored position at or after it moves by offset. Positions opened by an insertion
// are not indexed until add_block_value. May collect.
bool shift_positions(NodeId table, uint32_t from, int32_t offset);
// The n values at `from` were moved to start at `to` (a position in the block after the move);
// the values between moved the other way. May collect.
bool move_positions(NodeId table, uint32_t from, uint32_t n, uint32_t to);

// The node of every duplicate chain of a hash! index, for the collector. Never allocates.
void for_each_chain(NodeId table, void (*visit)(NodeId chain));

}  // namespace zub::hash_index
