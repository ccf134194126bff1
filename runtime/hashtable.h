// Open-addressing hash tables: 2-bit bucket states packed sixteen to a word, 32-bit keys,
// triangular probing and a 0.77 load bound. A table is a small record in a byte series, reached
// through that series' node, so the collector may move every part of it.
//
// Record tables (the ownership table and internal scratch tables) key fixed-width records of
// cells by a 32-bit id, normally a series node. The indexes of hash! and map! blocks and the
// symbol and word tables are built on the same engine by their own modules.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

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
    uint32_t aux;         // hash!: position array node; records: bytes per record
    uint32_t duplicates;  // hash!: duplicate store node; else 0
    uint32_t states;      // node of the bucket-state words
    uint32_t keys;        // node of the key words, one per bucket
    uint32_t indexed;     // node of the indexed block, or of the record cells
    uint32_t used;        // occupied plus deleted buckets
    uint32_t buckets;     // a power of two, at least 4
    uint32_t bound;       // used buckets at which the table is rebuilt
    uint32_t kind;        // a Kind
    uint32_t stamp;       // unused: nodes never move, so hashes never go stale
};
static_assert(sizeof(Table) == 44);

inline constexpr double kLoad = 0.77;
inline constexpr uint32_t kLiveRecord = 2;  // state in the first cell of a live record

uint32_t round_pow2(uint32_t n);  // n itself when a power of two
// Bucket count and bound of a new table meant to hold `size` entries.
uint32_t buckets_for(uint32_t size);
uint32_t bound_for_new(uint32_t buckets);

// The table behind a node. Valid until the next allocation.
Table* table(NodeId node);

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

}  // namespace zub::hashtable
