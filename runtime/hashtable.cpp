// The table engine and the record tables. Buckets hold the byte offset of a record in the record
// series; the record's first cell holds its state and key, so a lookup touches the state word,
// the key word and one record.
#include "runtime/hashtable.h"

#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::hashtable {
namespace {

uint32_t state_words(uint32_t buckets) { return (buckets + 15) / 16; }

uint32_t* words(NodeId node) { return reinterpret_cast<uint32_t*>(memory::buffer(node)->head_ptr()); }

Cell* record_at(NodeId records, uint32_t offset) {
    return reinterpret_cast<Cell*>(memory::buffer(records)->head_ptr() + offset);
}

// Where the key is, or where it would go: the first deleted bucket passed, else the empty one.
struct RecordProbe {
    uint32_t bucket;
    bool found;
};

RecordProbe probe(NodeId node, uint32_t key) {
    const NodeId records = table(node)->indexed;
    Probe p = probe_start(node, hash::fmix32(key));
    if (probe_walk(node, p, [&](uint32_t offset) { return record_at(records, offset)->w1 == key; }))
        return {p.bucket, true};
    return {probe_free(p, !probe_exhausted(node, p)), false};
}

}  // namespace

NodeId alloc_words(uint32_t n, uint8_t fill) {
    const NodeId node = memory::alloc_bytes_filled(n * 4, fill);
    memory::buffer(node)->tail = n * 4;
    return node;
}

uint32_t round_pow2(uint32_t n) {
    if (n <= 1) return 1;
    return uint32_t{1} << (32 - __builtin_clz(n - 1));
}

uint32_t buckets_for(uint32_t size) { return round_pow2(static_cast<uint32_t>(std::max(size, 4u) / kLoad)); }

uint32_t bound_for_new(uint32_t buckets) { return static_cast<uint32_t>(buckets * kLoad); }

NodeId init_records(uint32_t size, Kind kind, uint32_t extra) {
    collector::Guard guard;  // the parts live only in locals until the record holds them
    const uint32_t buckets = buckets_for(size);
    const uint32_t width = 16 * extra + 16;
    const NodeId states = alloc_words(state_words(buckets), 0xAA);
    const NodeId keys = alloc_words(buckets, 0);
    const NodeId records = memory::alloc_cells(size * (extra + 1));
    const NodeId node = memory::alloc_bytes(sizeof(Table));
    memory::buffer(node)->tail = sizeof(Table);
    *table(node) =
        Table{0, width, 0, states, keys, records, 0, buckets, bound_for_new(buckets), static_cast<uint32_t>(kind), 0};
    return node;
}

Cell* get(NodeId node, uint32_t key) {
    const Table* t = table(node);
    const RecordProbe p = probe(node, key);
    if (!p.found) return nullptr;
    return record_at(t->indexed, words(t->keys)[p.bucket]) + 1;
}

Cell* put(NodeId node, uint32_t key) {
    Table* t = table(node);
    if (t->used >= t->bound) {
        // Mostly deleted buckets: rebuild at the same size, which drops them; else double.
        const uint32_t requested = t->count * 2 < t->buckets ? t->buckets - 1 : t->buckets + 1;
        rebuild(node, requested);
        t = table(node);
    }
    RecordProbe p = probe(node, key);
    if (p.found) return record_at(t->indexed, words(t->keys)[p.bucket]) + 1;

    const uint32_t width = t->aux;
    std::byte* at = series::reserve_tail(t->indexed, width);  // may collect
    t = table(node);
    SeriesBuffer* records = memory::buffer(t->indexed);
    const auto offset = static_cast<uint32_t>(at - records->head_ptr());
    auto* record = reinterpret_cast<Cell*>(at);
    record[0] = Cell{kLiveRecord, key, 0, 0};
    std::fill(record + 1, record + width / sizeof(Cell), cell::unset());

    uint32_t* states = words(t->states);
    if (state_at(states, p.bucket) == kEmpty) ++t->used;
    set_state(states, p.bucket, kOccupied);
    words(t->keys)[p.bucket] = offset;
    ++t->count;
    return record + 1;
}

bool remove(NodeId node, uint32_t key) {
    Table* t = table(node);
    const RecordProbe p = probe(node, key);
    if (!p.found) return false;
    Cell* record = record_at(t->indexed, words(t->keys)[p.bucket]);
    record[0] = Cell{0, 0, 0, 0};
    set_state(words(t->states), p.bucket, kDeleted);
    --t->count;
    return true;
}

void rebuild(NodeId node, uint32_t requested) {
    const uint32_t buckets = std::max(round_pow2(requested), 4u);
    if (buckets != table(node)->buckets) {
        reset_buckets(node, buckets);
    } else {
        std::memset(state_words_of(node), 0xAA, state_words(buckets) * 4);
        table(node)->bound = static_cast<uint32_t>(buckets * kLoad + 0.5);
    }
    Table* t = table(node);

    // Slide the live records down over the dead ones and index them again.
    SeriesBuffer* records = memory::buffer(t->indexed);
    std::byte* base = records->head_ptr();
    const uint32_t width = t->aux;
    uint32_t kept = 0;
    uint32_t* states = words(t->states);
    uint32_t* keys = words(t->keys);
    for (uint32_t offset = 0; offset < records->used(); offset += width) {
        auto* record = reinterpret_cast<Cell*>(base + offset);
        if (record->header != kLiveRecord) continue;
        if (offset != kept) std::memmove(base + kept, record, width);
        Probe p = probe_start(node, hash::fmix32(reinterpret_cast<Cell*>(base + kept)->w1));
        while (state_at(states, p.bucket) != kEmpty) probe_advance(node, p);
        set_state(states, p.bucket, kOccupied);
        keys[p.bucket] = kept;
        kept += width;
    }
    records->tail = records->head + kept;
    t->count = kept / width;
    t->used = t->count;
}

void clear(NodeId node) {
    Table* t = table(node);
    std::memset(words(t->states), 0xAA, state_words(t->buckets) * 4);
    series::clear(t->indexed);
    t->count = 0;
    t->used = 0;
}

NodeId init_positions(uint32_t size, Kind kind, NodeId indexed) {
    collector::Guard guard;
    if (kind == Kind::symbols && size >= 4000) size *= 2;
    const uint32_t buckets = buckets_for(size);
    const NodeId states = alloc_words(state_words(buckets), 0xAA);
    const NodeId keys = alloc_words(buckets, 0);
    const NodeId hashes = kind == Kind::map ? alloc_words(buckets, 0) : 0;
    const NodeId node = memory::alloc_bytes(sizeof(Table));
    memory::buffer(node)->tail = sizeof(Table);
    *table(node) =
        Table{0, hashes, 0, states, keys, indexed, 0, buckets, bound_for_new(buckets), static_cast<uint32_t>(kind), 0};
    return node;
}

void add_position(NodeId node, uint32_t bucket, uint32_t position) {
    Table* t = table(node);
    uint32_t* states = words(t->states);
    if (state_at(states, bucket) == kEmpty) ++t->used;
    set_state(states, bucket, kOccupied);
    words(t->keys)[bucket] = position;
    ++t->count;
}

void remove_at(NodeId node, uint32_t bucket) {
    Table* t = table(node);
    set_state(words(t->states), bucket, kDeleted);
    --t->count;
}

void reset_buckets(NodeId node, uint32_t buckets) {
    collector::Guard guard;
    const NodeId states = alloc_words(state_words(buckets), 0xAA);
    const NodeId keys = alloc_words(buckets, 0);
    const NodeId hashes = table(node)->kind == static_cast<uint32_t>(Kind::map) ? alloc_words(buckets, 0) : 0;
    Table* t = table(node);
    if (hashes) t->aux = hashes;
    t->states = states;
    t->keys = keys;
    t->buckets = buckets;
    t->bound = static_cast<uint32_t>(buckets * kLoad + 0.5);
    t->count = 0;
    t->used = 0;
}

Cell* record_cells(NodeId node, uint32_t* record_count, uint32_t* cells_per_record) {
    const Table* t = table(node);
    SeriesBuffer* records = memory::buffer(t->indexed);
    *cells_per_record = t->aux / sizeof(Cell);
    *record_count = records->used() / t->aux;
    return records->cells();
}

}  // namespace zub::hashtable
