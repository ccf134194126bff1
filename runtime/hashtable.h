// Open-addressing hash tables: 2-bit bucket states packed sixteen to a word, 32-bit keys,
// triangular probing and a 0.77 load bound. A table is a small record in a byte series, reached
// through that series' node, so the collector may move every part of it.
//
// Record tables (the ownership table and internal scratch tables) key fixed-width records of
// cells by a 32-bit id, normally a series node. Position tables key the cells of a block by their
// positions: the symbol and word tables (their own modules) and the indexes of hash! and map!
// blocks (hash_index.h), all walking the one probe of this file.
#pragma once

#include <cstdint>

#include <algorithm>

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zub::hashtable {

enum class Kind : uint32_t {
    hash = 0,       // index of a hash! block
    map = 1,        // index of a map! block
    symbols = 2,    // the symbol table and context word tables
    records = 3,    // internal records keyed by series
    ownership = 4,  // records whose owner the collector's sweep also checks
};

// The table record, eleven 32-bit words at the head of its byte series.
struct Table {
    uint32_t count;       // live entries
    uint32_t aux;         // hash!: position array node; map!: key hash words; records: bytes per record
    uint32_t duplicates;  // hash!: duplicate store node; else 0
    uint32_t states;      // node of the bucket-state words
    uint32_t keys;        // node of the key words, one per bucket
    uint32_t indexed;     // node of the indexed block, or of the record cells
    uint32_t used;        // occupied plus deleted buckets
    uint32_t buckets;     // a power of two, at least 4
    uint32_t bound;       // used buckets at which the table is rebuilt
    uint32_t kind;        // a Kind
    uint32_t stamp;       // hash!: block values indexed so far; else unused (nodes never move)
};
static_assert(sizeof(Table) == 44);

inline constexpr double kLoad = 0.77;
inline constexpr uint32_t kLiveRecord = 2;  // state in the first cell of a live record

// Bucket states, two bits each, sixteen buckets to a word.
enum : uint32_t { kOccupied = 0, kDeleted = 1, kEmpty = 2 };
inline uint32_t state_at(const uint32_t* states, uint32_t i) { return (states[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_state(uint32_t* states, uint32_t i, uint32_t state) {
    uint32_t& word = states[i >> 4];
    const uint32_t shift = (i & 15) * 2;
    word = (word & ~(3u << shift)) | (state << shift);
}

uint32_t round_pow2(uint32_t n);  // n itself when a power of two
// Bucket count and bound of a new table meant to hold `size` entries.
uint32_t buckets_for(uint32_t size);
uint32_t bound_for_new(uint32_t buckets);

// The table behind a node. Valid until the next allocation.
inline Table* table(NodeId node) { return reinterpret_cast<Table*>(memory::buffer(node)->head_ptr()); }

// A record table for `size` records of `extra` value cells each. May collect.
NodeId init_records(uint32_t size, Kind kind, uint32_t extra);

// The value cells of the record for the key, or null. Valid until the next allocation.
Cell* get(NodeId table, uint32_t key);
// The value cells of the record for the key, made (all unset) when absent. May collect.
Cell* put(NodeId table, uint32_t key);
// Marks the key's bucket deleted and its record dead; false when absent.
bool remove(NodeId table, uint32_t key);
// Rebuilds for a requested bucket count, dropping deleted buckets and dead records. May collect.
void rebuild(NodeId table, uint32_t requested);
// Every bucket empty, counts zero.
void clear(NodeId table);

// Tables whose keys are positions in their indexed block (symbols, word tables, the indexes of
// hash! and map! blocks): a new table indexing nothing yet. May collect.
NodeId init_positions(uint32_t size, Kind kind, NodeId indexed);

// A probe under way: the bucket it stands on, the steps taken to get there, the first deleted
// bucket passed and the hash bits not yet folded in. The first bucket is the hash's low bits, so
// keys counted up (integers hash to themselves) take neighbouring buckets; each further step folds
// in five more bits of the hash, so keys that share their low bits part at once, and once the
// bits are spent the steps b -> 5b + 1 visit every bucket.
struct Probe {
    uint32_t bucket;
    uint32_t step;
    uint32_t first_deleted;  // UINT32_MAX until one is passed
    uint32_t perturb;
    uint32_t hash;  // the whole hash, which a map! index keeps beside the key it stores
};
inline constexpr uint32_t kPerturbSteps = 7;  // steps until a 32-bit hash is spent
inline Probe probe_start(NodeId node, uint32_t hash) {
    return {hash & (table(node)->buckets - 1), 0, UINT32_MAX, hash, hash};
}
// Steps past the bucket the probe stands on.
inline void probe_advance(NodeId node, Probe& p) {
    ++p.step;
    p.perturb >>= 5;
    p.bucket = (p.bucket * 5 + 1 + p.perturb) & (table(node)->buckets - 1);
}
// Whether the probe has seen every bucket, and the step count that says so.
inline uint32_t probe_limit(NodeId node) { return table(node)->buckets + kPerturbSteps; }
inline bool probe_exhausted(NodeId node, const Probe& p) { return p.step >= probe_limit(node); }
// Walks from the probe's bucket until an occupied bucket whose key satisfies match(key): true,
// with the probe left there. False at an empty bucket, or once every bucket has been seen. The
// arrays are re-read after each match call, so match may call code that allocates.
template <typename Match>
bool probe_walk(NodeId table, Probe& p, Match match);
// After a walk that found nothing: where its key would go, the first deleted bucket passed, else
// the empty one that ended the walk. UINT32_MAX when there is neither (a table never that full).
inline uint32_t probe_free(const Probe& p, bool ended_empty) {
    return p.first_deleted != UINT32_MAX ? p.first_deleted : ended_empty ? p.bucket : UINT32_MAX;
}

// Walks the probe sequence of the hash; match(position) tells whether a stored key is the one
// sought. Returns the position found, or -1 with *free_bucket set to where the key would go (the
// first deleted bucket passed, else the empty one that ended the walk). Never allocates.
template <typename Match>
int64_t find_position(NodeId table, uint32_t hash, Match match, uint32_t* free_bucket);

// Stores a new position at the bucket find_position named. No allocation.
void add_position(NodeId table, uint32_t bucket, uint32_t position);
// Marks an occupied bucket deleted: one live entry less. No allocation.
void remove_at(NodeId table, uint32_t bucket);

// Rebuilds a position table when its used buckets have reached the bound: the caller then finds
// the free bucket again. hash_of(position) gives each stored key's hash. May collect.
template <typename HashOf>
bool grow_positions(NodeId table, HashOf hash_of);

// Moves the live keys into fresh arrays of `buckets` buckets, dropping the deleted ones; hash_of(key)
// gives each key's hash and moved(key, bucket) tells where it went. hash_of and moved must not
// allocate. The bound becomes truncate(buckets x 0.77 + 0.5). May collect.
template <typename HashOf, typename Moved>
void rehash_positions(NodeId table, uint32_t buckets, HashOf hash_of, Moved moved);

// Calls visit(key, value cells) for each live record; the visitor must not allocate.
template <typename Visit>
void for_each_record(NodeId table, Visit visit);

// Internal: the record cells, for for_each_record.
Cell* record_cells(NodeId table, uint32_t* record_count, uint32_t* cells_per_record);

template <typename Visit>
void for_each_record(NodeId table, Visit visit) {
    uint32_t n, width;
    Cell* cells = record_cells(table, &n, &width);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* record = cells + i * width;
        if (record->header == kLiveRecord) visit(record->w1, record + 1);
    }
}

inline uint32_t* state_words_of(NodeId node) {
    return reinterpret_cast<uint32_t*>(memory::buffer(table(node)->states)->head_ptr());
}
inline uint32_t* key_words_of(NodeId node) {
    return reinterpret_cast<uint32_t*>(memory::buffer(table(node)->keys)->head_ptr());
}
// Empty state and key arrays (and a map! index's hash words) for the bucket count, ready for
// refilling. May collect.
void reset_buckets(NodeId table, uint32_t buckets);
// A byte series of n 32-bit words, every byte set to fill. May collect.
NodeId alloc_words(uint32_t n, uint8_t fill);

template <typename Match>
bool probe_walk(NodeId node, Probe& p, Match match) {
    for (;;) {
        const Table* t = table(node);
        if (p.step >= t->buckets + kPerturbSteps) return false;  // every bucket has been seen
        const uint32_t state = state_at(state_words_of(node), p.bucket);
        if (state == kEmpty) return false;
        if (state == kDeleted) {
            if (p.first_deleted == UINT32_MAX) p.first_deleted = p.bucket;
        } else if (match(key_words_of(node)[p.bucket])) {
            return true;
        }
        probe_advance(node, p);
    }
}

template <typename Match>
int64_t find_position(NodeId node, uint32_t hash, Match match, uint32_t* free_bucket) {
    Probe p = probe_start(node, hash);
    if (probe_walk(node, p, match)) return key_words_of(node)[p.bucket];
    *free_bucket = probe_free(p, !probe_exhausted(node, p));
    return -1;
}

template <typename HashOf>
bool grow_positions(NodeId node, HashOf hash_of) {
    const Table* t = table(node);
    if (t->used < t->bound) return false;
    const uint32_t requested = t->count * 2 < t->buckets ? t->buckets - 1 : t->buckets + 1;
    rehash_positions(node, std::max(round_pow2(16 * requested), 4u), hash_of, [](uint32_t, uint32_t) {});
    return true;
}

template <typename HashOf, typename Moved>
void rehash_positions(NodeId node, uint32_t buckets, HashOf hash_of, Moved moved) {
    collector::Guard guard;  // `saved` lives only in a local
    const Table* t = table(node);
    const uint32_t old_buckets = t->buckets;
    // Copy the live keys out of the old arrays before they are replaced.
    const uint32_t live = t->count;
    const NodeId saved = memory::alloc_bytes(live * 4 + 4);
    {
        const uint32_t* states = state_words_of(node);
        const uint32_t* keys = key_words_of(node);
        auto* out = reinterpret_cast<uint32_t*>(memory::buffer(saved)->data());
        uint32_t n = 0;
        for (uint32_t i = 0; i < old_buckets && n < live; ++i)
            if (state_at(states, i) == kOccupied) out[n++] = keys[i];
    }
    reset_buckets(node, buckets);
    for (uint32_t k = 0; k < live; ++k) {
        const uint32_t key = reinterpret_cast<uint32_t*>(memory::buffer(saved)->data())[k];
        uint32_t bucket;
        find_position(
            node, hash_of(key), [](uint32_t) { return false; }, &bucket);
        add_position(node, bucket, key);
        moved(key, bucket);
    }
}

}  // namespace zub::hashtable
