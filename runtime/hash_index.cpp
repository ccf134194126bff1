// hash! and map! indexes. Equal values of a hash! share one bucket: its key is the position of
// the first one, or -n for chain n of the duplicate store, a series of positions. The store's
// word 0 heads a free list of released chain slots, so churn does not grow it. Values are
// grouped by plain equality; a stricter case rule is applied when a lookup picks among a chain.
#include "runtime/hash_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/assert.h"
#include "runtime/collector.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub::hash_index {
namespace {

using hashtable::Probe;
using hashtable::Table;
using hashtable::table;

constexpr uint32_t kNotIndexed = 0xFFFFFFFF;  // position array: no bucket
constexpr uint32_t kFreeSlot = 0x80000000;    // duplicate store: slot on the free list
constexpr int32_t kGroupRule = op_equal;      // the equality that puts values in one chain

Compare g_compare = nullptr;

uint32_t* words_of(NodeId series) { return reinterpret_cast<uint32_t*>(memory::buffer(series)->head_ptr()); }
uint32_t word_count(NodeId series) { return memory::buffer(series)->used() / 4; }

Cell* cells(NodeId block) { return memory::buffer(block)->cells(); }
uint32_t block_length(NodeId block) { return series::length(block); }

bool is_map(NodeId node) { return table(node)->kind == static_cast<uint32_t>(Kind::map); }

// A map! index keeps each key's whole hash beside its bucket: a probe compares hashes before it
// compares keys, and growing moves the keys without hashing them again.
uint32_t* map_hashes(NodeId node) { return words_of(table(node)->aux); }

// Chain keys are negative positions.
bool is_chain(uint32_t key) { return static_cast<int32_t>(key) < 0; }
uint32_t chain_number(uint32_t key) { return 0u - key; }
uint32_t chain_key(uint32_t n) { return 0u - n; }
NodeId chain_node(NodeId node, uint32_t n) { return words_of(table(node)->duplicates)[n]; }

uint32_t* positions(NodeId node) { return words_of(table(node)->aux); }
uint32_t positions_length(NodeId node) { return word_count(table(node)->aux); }

void set_position(NodeId node, uint32_t position, uint32_t slot) {
    if (position < positions_length(node)) positions(node)[position] = slot;
}

// Grows the position array to cover `length` block positions. May collect.
void ensure_positions(NodeId node, uint32_t length) {
    const uint32_t have = positions_length(node);
    if (have >= length) return;
    std::byte* at = series::reserve_tail(table(node)->aux, (length - have) * 4);
    std::memset(at, 0xFF, size_t{length - have} * 4);
}

// A position array of `length` unindexed positions, reusing the old one when it has room.
void reset_positions(NodeId node, uint32_t length) {
    SeriesBuffer* b = memory::buffer(table(node)->aux);
    if (b->size - b->head >= uint64_t{length} * 4) {
        std::memset(b->head_ptr(), 0xFF, size_t{length} * 4);
        b->tail = b->head + length * 4;
        return;
    }
    const NodeId fresh = hashtable::alloc_words(length, 0xFF);
    table(node)->aux = fresh;
}

void reset_duplicates(NodeId node) {
    SeriesBuffer* store = memory::buffer(table(node)->duplicates);
    store->tail = store->head + 4;
    words_of(table(node)->duplicates)[0] = 0;
}

// A new chain of two positions; answers its number. May collect.
uint32_t make_chain(NodeId node, uint32_t first, uint32_t second) {
    collector::Guard guard;  // the chain is held only here until the store lists it
    const NodeId chain = hashtable::alloc_words(2, 0);
    words_of(chain)[0] = first;
    words_of(chain)[1] = second;
    const NodeId store = table(node)->duplicates;
    const uint32_t n = words_of(store)[0];
    if (n != 0) {
        words_of(store)[0] = words_of(store)[n] & ~kFreeSlot;
        words_of(store)[n] = chain;
        return n;
    }
    series::append_int32(store, chain);
    return word_count(store) - 1;
}

void release_chain(NodeId node, uint32_t n) {
    uint32_t* store = words_of(table(node)->duplicates);
    store[n] = kFreeSlot | store[0];
    store[0] = n;
}

// Takes a position out of a chain, searching from its end where the newest positions are.
// Answers whether the chain is left empty.
bool chain_remove(NodeId chain, uint32_t position) {
    SeriesBuffer* b = memory::buffer(chain);
    uint32_t* w = words_of(chain);
    const uint32_t n = b->used() / 4;
    for (uint32_t i = n; i-- > 0;) {
        if (w[i] != position) continue;
        std::memmove(w + i, w + i + 1, size_t{n - i - 1} * 4);
        b->tail -= 4;
        return n == 1;
    }
    return n == 0;
}

// The block position of a bucket's first value.
uint32_t first_position(NodeId node, uint32_t key) {
    return is_chain(key) ? words_of(chain_node(node, chain_number(key)))[0] : key;
}

// Calls visit(position&) for every position a key stands for.
template <typename Visit>
void for_each_position(NodeId node, uint32_t& key, Visit visit) {
    if (!is_chain(key)) {
        visit(key);
        return;
    }
    const NodeId chain = chain_node(node, chain_number(key));
    uint32_t* w = words_of(chain);
    const uint32_t n = word_count(chain);
    for (uint32_t i = 0; i < n; ++i) visit(w[i]);
}

// A map! names a key of the word family by its set-word.
Cell map_key(Cell key) {
    switch (cell::type(key)) {
        case TypeId::word:
        case TypeId::lit_word:
        case TypeId::get_word: cell::set_type(key, TypeId::set_word); break;
        default: break;
    }
    return key;
}

// Equality of two values under a comparison code. Values hashed by identity are equal only when
// identical: equal contents under two identities hash apart, so comparing contents would make a
// match depend on whether their probe sequences happen to cross.
bool same_value(const Cell& a, const Cell& b, int32_t rule) {
    const TypeId t = cell::type(a);
    if (t != cell::type(b)) return false;
    const uint8_t identity = type_traits::of(t).key_words;
    if (identity) return type_traits::words_equal(a, b, identity);
    // Every NaN hashes alike and shares one chain, though the grouping equality calls no NaN
    // equal to another (the search rule, op_find, finds a NaN by a NaN itself).
    if (rule == kGroupRule && (t == TypeId::float_ || t == TypeId::percent) && std::isnan(cell::as_float(a)) &&
        std::isnan(cell::as_float(b)))
        return true;
    ZUB_ASSERT(g_compare);
    return g_compare(a, b, rule) == 0;
}

// Equality of two keys that needs no comparison entry: 1 equal, 0 different, -1 ask the entry.
// Text with the same units, length and contents is equal under every rule but same?; identity
// types compare their words.
int quick_equal(const Cell& a, const Cell& b, int32_t rule) {
    const TypeId t = cell::type(a);
    if (t != cell::type(b)) return 0;
    const uint8_t identity = type_traits::of(t).key_words;
    if (identity) return type_traits::words_equal(a, b, identity);
    if (rule == op_same || !type_group::in(type_group::text_like | type_group::bit(TypeId::binary), t)) return -1;
    SeriesBuffer* x = memory::buffer(cell::series_node(a));
    SeriesBuffer* y = memory::buffer(cell::series_node(b));
    const uint32_t unit = x->unit();
    if (unit != y->unit()) return -1;
    const uint64_t from_a = uint64_t{cell::series_index(a)} * unit, from_b = uint64_t{cell::series_index(b)} * unit;
    const uint64_t used_a = x->used(), used_b = y->used();
    const uint64_t length_a = from_a < used_a ? used_a - from_a : 0, length_b = from_b < used_b ? used_b - from_b : 0;
    if (length_a != length_b) return -1;
    return std::memcmp(x->head_ptr() + from_a, y->head_ptr() + from_b, length_a) == 0 ? 1 : -1;
}

bool wanted(const Find& how, uint32_t p) {
    const uint32_t skip = how.skip;
    if (how.last || !how.backwards) return p >= how.start && (skip <= 1 || (p - how.start) % skip == 0);
    return p < how.start && (skip <= 1 || (how.start - p) % skip == 0);
}

bool better(const Find& how, uint32_t p, uint32_t best) { return how.last || how.backwards ? p > best : p < best; }

uint32_t hash_of_key(NodeId node, uint32_t key) {
    const NodeId block = table(node)->indexed;
    const uint32_t p = first_position(node, key);
    return p < block_length(block) ? hash_value(cells(block)[p]) : 0;
}

uint32_t hash_buckets(uint32_t count) {
    const double wanted = std::min(count * 1.5, 2147483648.0);
    return std::max(hashtable::round_pow2(static_cast<uint32_t>(wanted)), 4u);
}

// Stores a map! key at a free bucket with its hash.
void put_map_key(NodeId node, uint32_t bucket, uint32_t position, uint32_t hash) {
    Table* t = table(node);
    uint32_t* states = words_of(t->states);
    if (hashtable::state_at(states, bucket) == hashtable::kEmpty) ++t->used;
    hashtable::set_state(states, bucket, hashtable::kOccupied);
    words_of(t->keys)[bucket] = position;
    words_of(t->aux)[bucket] = hash;
    ++t->count;
}

// Moves a map! index's keys to `buckets` fresh buckets by their stored hashes, dropping deleted
// buckets; with `moved` (old key position / 2 -> new position, or UINT32_MAX for a key to drop)
// the positions change as they move. May collect before the move, never during it.
void rehash_map(NodeId node, uint32_t buckets, const std::vector<uint32_t>* moved) {
    collector::Guard guard;  // the old arrays stay where they are while the keys move out of them
    const Table old = *table(node);
    hashtable::reset_buckets(node, buckets);
    const uint32_t* old_states = words_of(old.states);
    const uint32_t* old_keys = words_of(old.keys);
    const uint32_t* old_hashes = words_of(old.aux);
    Table* t = table(node);
    uint32_t* states = hashtable::state_words_of(node);
    uint32_t* keys = hashtable::key_words_of(node);
    uint32_t* hashes = map_hashes(node);
    const uint32_t mask = buckets - 1;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < old.buckets; ++i) {
        if (hashtable::state_at(old_states, i) != hashtable::kOccupied) continue;
        uint32_t position = old_keys[i];
        if (moved) {
            position = position / 2 < moved->size() ? (*moved)[position / 2] : UINT32_MAX;
            if (position == UINT32_MAX) continue;
        }
        const uint32_t hash = old_hashes[i];
        uint32_t bucket = hash & mask;
        for (uint32_t perturb = hash; hashtable::state_at(states, bucket) != hashtable::kEmpty;) {
            perturb >>= 5;
            bucket = (bucket * 5 + 1 + perturb) & mask;
        }
        hashtable::set_state(states, bucket, hashtable::kOccupied);
        keys[bucket] = position;
        hashes[bucket] = hash;
        ++kept;
    }
    t->used = kept;
    t->count = moved ? kept : old.count;  // removed entries may keep their buckets
}

// Makes room before an insertion when the used buckets have reached the bound. The live entries
// move to the new arrays by their hashes: the same result as indexing the block again while the
// index is in step, without taking in values the caller has yet to add. A hash! index that is
// mostly deleted buckets keeps its size (x 1.5 on one bucket less would still double it, and
// remove/add churn would grow it without end); else it doubles, as a map! index always does.
// May collect.
void grow(NodeId node) {
    const Table* t = table(node);
    if (t->used < t->bound) return;
    if (is_map(node)) return rehash_map(node, hashtable::round_pow2(t->buckets + 1), nullptr);
    const auto hash_of = [node](uint32_t key) { return hash_of_key(node, key); };
    const uint32_t buckets = t->count * 2 < t->buckets ? t->buckets : hash_buckets(t->buckets + 1);
    hashtable::rehash_positions(node, buckets, hash_of, [node](uint32_t key, uint32_t bucket) {
        for_each_position(node, key, [&](uint32_t& p) { set_position(node, p, bucket + 1); });
    });
    table(node)->bound = hashtable::bound_for_new(buckets);
}

bool walk_ended_empty(NodeId node, const Probe& p) { return !hashtable::probe_exhausted(node, p); }

void add_key(NodeId node, uint32_t position) {
    grow(node);
    const NodeId block = table(node)->indexed;
    Probe p = hashtable::probe_start(node, hash_value(cells(block)[position]));
    if (hashtable::probe_walk(node, p, [&](uint32_t key) { return key == position; })) return;
    put_map_key(node, hashtable::probe_free(p, walk_ended_empty(node, p)), position, p.hash);
}

// The position among a bucket's values that the options select, or -1.
int32_t select(NodeId node, const Cell& sought, const Find& how, uint32_t bucket) {
    const NodeId block = table(node)->indexed;
    const uint32_t key = hashtable::key_words_of(node)[bucket];
    const uint32_t n = is_chain(key) ? word_count(chain_node(node, chain_number(key))) : 1;
    int64_t best = -1;
    for (uint32_t i = 0; i < n; ++i) {
        // Re-read every time: the comparison below is outside this module's control.
        const uint32_t p = is_chain(key) ? words_of(chain_node(node, chain_number(key)))[i] : key;
        if (p >= block_length(block) || !wanted(how, p)) continue;
        if (best >= 0 && !better(how, p, static_cast<uint32_t>(best))) continue;
        if (how.rule != kGroupRule && !same_value(sought, cells(block)[p], how.rule)) continue;
        best = p;
    }
    return static_cast<int32_t>(best);
}

// probe_walk for a map! index, with the arrays read once: the stored hash is compared before the
// key, and keys equal by their words or bytes need no comparison entry. Answers the position
// found, or -1. The arrays are read again after every call of the entry, which is outside this
// module's control. Stored keys are prepared: the word family is there as set-words.
int32_t map_walk(NodeId node, const Cell& key, const Find& how, Probe& p) {
    const TypeId type = cell::type(key);
    const uint8_t identity = type_traits::of(type).key_words;
    for (;;) {
        const Table* t = table(node);
        const uint32_t mask = t->buckets - 1, limit = t->buckets + hashtable::kPerturbSteps;
        const uint32_t* states = words_of(t->states);
        const uint32_t* keys = words_of(t->keys);
        const uint32_t* hashes = words_of(t->aux);
        SeriesBuffer* block = memory::buffer(t->indexed);
        const Cell* stored = block->cells();
        const uint32_t length = block->used() / sizeof(Cell);
        for (;; ++p.step, p.perturb >>= 5, p.bucket = (p.bucket * 5 + 1 + p.perturb) & mask) {
            if (p.step >= limit) return -1;  // every bucket has been seen
            const uint32_t state = hashtable::state_at(states, p.bucket);
            if (state == hashtable::kEmpty) return -1;
            if (state == hashtable::kDeleted) {
                if (p.first_deleted == UINT32_MAX) p.first_deleted = p.bucket;
                continue;
            }
            const uint32_t k = keys[p.bucket];
            if (hashes[p.bucket] != p.hash || k >= length) continue;
            const Cell& other = stored[k];
            if (identity) {  // integers, words: equal by their words under every rule
                if (cell::type(other) != type || !type_traits::words_equal(key, other, identity)) continue;
                if (wanted(how, k)) return static_cast<int32_t>(k);
                continue;
            }
            const int quick = quick_equal(key, other, how.rule);
            if (quick == 0) continue;
            if (quick == 1) {
                if (wanted(how, k)) return static_cast<int32_t>(k);
                continue;
            }
            if (same_value(key, map_key(other), how.rule) && wanted(how, k)) return static_cast<int32_t>(k);
            break;  // read the arrays again, then go on from the next bucket
        }
        hashtable::probe_advance(node, p);
    }
}

// A walk that finds nothing marks the probe finished, so find_next does not go on past the empty
// bucket that ended it.
int32_t lookup(NodeId node, const Cell& sought, const Find& how, Probe& p) {
    if (is_map(node)) {
        const int32_t at = map_walk(node, map_key(sought), how, p);
        if (at < 0) p.step = hashtable::probe_limit(node);
        return at;
    }
    const NodeId block = table(node)->indexed;
    const bool found = hashtable::probe_walk(node, p, [&](uint32_t key) {
        const uint32_t first = first_position(node, key);
        return first < block_length(block) && same_value(sought, cells(block)[first], kGroupRule);
    });
    if (found) return select(node, sought, how, p.bucket);
    p.step = hashtable::probe_limit(node);
    return -1;
}

void index_pairs(NodeId node, uint32_t from, PrepareKey prepare) {
    const NodeId block = table(node)->indexed;
    const uint32_t length = block_length(block);
    uint32_t write = from;
    uint32_t read = from;
    for (; read + 1 < length; read += 2) {
        if (prepare) {
            const Cell prepared = prepare(cells(block)[read]);
            cells(block)[read] = prepared;
        }
        const Cell key = cells(block)[read];
        const Cell value = cells(block)[read + 1];
        const bool live = value.header != 0;  // a removed entry is kept but not indexed
        if (live) {
            const int32_t earlier = find(node, key, Find{});
            if (earlier >= 0) {
                cells(block)[earlier + 1] = value;
                continue;
            }
        }
        cells(block)[write] = key;
        cells(block)[write + 1] = value;
        if (live) add_key(node, write);
        write += 2;
    }
    if (read < length) cells(block)[write++] = cells(block)[read];  // a key without a value
    SeriesBuffer* b = memory::buffer(block);
    b->tail = b->head + write * static_cast<uint32_t>(sizeof(Cell));
}

}  // namespace

void set_compare(Compare compare) { g_compare = compare; }

uint32_t hash_value(const Cell& c) { return type_traits::of(cell::type(c)).hash(c); }

NodeId init(uint32_t size, NodeId block, Kind kind, PrepareKey prepare) {
    if (kind != Kind::hash && kind != Kind::map) lowrt::fatal(lowrt::Fatal::assertion);
    collector::Guard guard;  // the parts live only in locals until the caller holds the table
    const NodeId node = hashtable::init_positions(size, kind, block);
    if (kind == Kind::hash) {
        const NodeId position_array = hashtable::alloc_words(block_length(block), 0xFF);
        const NodeId store = hashtable::alloc_words(1, 0);
        table(node)->aux = position_array;
        table(node)->duplicates = store;
    }
    index_block(node, 0, kind == Kind::map ? 2 : 1, prepare);
    return node;
}

int32_t find(NodeId node, const Cell& key, const Find& how, Probe* at) {
    Probe p = hashtable::probe_start(node, hash_value(key));
    const int32_t found = lookup(node, key, how, p);
    if (at) *at = p;
    return found;
}

int32_t find_next(NodeId node, const Cell& key, const Find& how, Probe& at) {
    if (hashtable::probe_exhausted(node, at)) return -1;
    hashtable::probe_advance(node, at);
    return lookup(node, key, how, at);
}

void add_block_value(NodeId node, uint32_t position) {
    const NodeId block = table(node)->indexed;
    const uint32_t length = block_length(block);
    if (position >= length) return;
    if (is_map(node)) return add_key(node, position);

    ensure_positions(node, length);
    if (positions(node)[position] != kNotIndexed) return;
    grow(node);
    const Cell value = cells(block)[position];
    Probe p = hashtable::probe_start(node, hash_value(value));
    const bool equal_found = hashtable::probe_walk(node, p, [&](uint32_t key) {
        const uint32_t first = first_position(node, key);
        return first < block_length(block) && same_value(value, cells(block)[first], kGroupRule);
    });
    if (!equal_found) {
        const uint32_t bucket = hashtable::probe_free(p, walk_ended_empty(node, p));
        hashtable::add_position(node, bucket, position);
        positions(node)[position] = bucket + 1;
        return;
    }
    const uint32_t key = hashtable::key_words_of(node)[p.bucket];
    if (is_chain(key)) {
        series::append_int32(chain_node(node, chain_number(key)), position);
    } else {
        const uint32_t n = make_chain(node, key, position);
        hashtable::key_words_of(node)[p.bucket] = chain_key(n);
    }
    positions(node)[position] = p.bucket + 1;
}

void add_map_key(NodeId node, const Probe& at, uint32_t position) {
    const uint32_t bucket = at.first_deleted != UINT32_MAX ? at.first_deleted : at.bucket;
    put_map_key(node, bucket, position, at.hash);
}

void grow_map(NodeId node, uint32_t buckets) { rehash_map(node, buckets, nullptr); }

void compact_map(NodeId node, uint32_t buckets) {
    const NodeId block = table(node)->indexed;
    const uint32_t n = block_length(block);
    std::vector<uint32_t> moved(n / 2, UINT32_MAX);
    Cell* c = cells(block);
    uint32_t write = 0;
    for (uint32_t read = 0; read + 1 < n; read += 2) {
        if (c[read + 1].header == 0) continue;  // a removed entry
        if (write != read) {
            c[write] = c[read];
            c[write + 1] = c[read + 1];
        }
        moved[read / 2] = write;
        write += 2;
    }
    series::set_tail(block, write + 1);  // 1-based
    rehash_map(node, buckets, &moved);
}

void remove_value(NodeId node, uint32_t position) {
    if (is_map(node)) {
        const NodeId block = table(node)->indexed;
        if (position >= block_length(block)) return;
        Probe p = hashtable::probe_start(node, hash_value(cells(block)[position]));
        if (hashtable::probe_walk(node, p, [&](uint32_t key) { return key == position; }))
            hashtable::remove_at(node, p.bucket);
        return;
    }
    if (position >= positions_length(node)) return;
    const uint32_t slot = positions(node)[position];
    if (slot == kNotIndexed) return;
    positions(node)[position] = kNotIndexed;
    const uint32_t bucket = slot - 1;
    const uint32_t key = hashtable::key_words_of(node)[bucket];
    if (is_chain(key)) {
        const uint32_t n = chain_number(key);
        if (!chain_remove(chain_node(node, n), position)) return;
        release_chain(node, n);
    }
    hashtable::remove_at(node, bucket);
}

void index_block(NodeId node, uint32_t from, uint32_t step, PrepareKey prepare) {
    if (is_map(node)) return index_pairs(node, from, prepare);
    if (step == 0) step = 1;
    const uint32_t length = block_length(table(node)->indexed);
    ensure_positions(node, length);
    for (uint32_t p = from; p < length; p += step) add_block_value(node, p);
}

void rebuild(NodeId node, uint32_t count) {
    const NodeId block = table(node)->indexed;
    const uint32_t length = block_length(block);
    if (is_map(node)) {
        hashtable::reset_buckets(node, std::max(hashtable::round_pow2(count), 4u));
        for (uint32_t p = 0; p + 1 < length; p += 2)
            if (cells(block)[p + 1].header != 0) add_key(node, p);
        return;
    }
    const uint32_t buckets = hash_buckets(count);
    hashtable::reset_buckets(node, buckets);
    table(node)->bound = hashtable::bound_for_new(buckets);
    reset_duplicates(node);
    reset_positions(node, length);
    for (uint32_t p = 0; p < length; ++p) add_block_value(node, p);
}

void clear(NodeId node) {
    Table* t = table(node);
    std::memset(hashtable::state_words_of(node), 0xAA, size_t{(t->buckets + 15) / 16} * 4);
    t->count = 0;
    t->used = 0;
    if (is_map(node)) return;
    reset_duplicates(node);
    SeriesBuffer* position_array = memory::buffer(t->aux);
    position_array->tail = position_array->head;
}

NodeId copy_table(NodeId node, NodeId block) {
    collector::Guard guard;  // the copies live only in locals until the new record holds them
    const NodeId copy = series::copy(node);
    const NodeId states = series::copy(table(node)->states);
    const NodeId keys = series::copy(table(node)->keys);
    table(copy)->states = states;
    table(copy)->keys = keys;
    table(copy)->indexed = block;
    if (is_map(node)) {
        const NodeId hashes = series::copy(table(node)->aux);
        table(copy)->aux = hashes;
        return copy;
    }
    const NodeId position_array = series::copy(table(node)->aux);
    const NodeId store = series::copy(table(node)->duplicates);
    table(copy)->aux = position_array;
    table(copy)->duplicates = store;
    const uint32_t slots = word_count(store);
    for (uint32_t n = 1; n < slots; ++n) {
        const uint32_t entry = words_of(store)[n];
        if (entry & kFreeSlot) continue;
        const NodeId chain = series::copy(entry);
        words_of(store)[n] = chain;
    }
    return copy;
}

bool remove_range(NodeId node, uint32_t position, uint32_t n) {
    const uint32_t length = positions_length(node);
    if (position >= length || n == 0) return true;
    if (length - position > kMaxShift) return false;
    const uint32_t end = position + std::min(n, length - position);
    for (uint32_t p = end; p-- > position;) remove_value(node, p);
    return shift_positions(node, end, -static_cast<int32_t>(end - position));
}

// Maps every stored position of the values indexed from `lo` to `hi`, visiting each chain once.
template <typename Map>
void remap_positions(NodeId node, uint32_t lo, uint32_t hi, Map map) {
    std::vector<bool> seen(word_count(table(node)->duplicates));
    uint32_t* keys = hashtable::key_words_of(node);
    const uint32_t* slots = positions(node);
    for (uint32_t p = lo; p < hi; ++p) {
        if (slots[p] == kNotIndexed) continue;
        uint32_t& key = keys[slots[p] - 1];
        if (is_chain(key)) {
            if (seen[chain_number(key)]) continue;
            seen[chain_number(key)] = true;
        }
        for_each_position(node, key, [&](uint32_t& q) { q = map(q); });
    }
}

bool shift_positions(NodeId node, uint32_t from, int32_t offset) {
    const uint32_t length = positions_length(node);
    const uint32_t affected = length > from ? length - from : 0;
    if (affected > kMaxShift) return false;
    if (offset == 0 || affected == 0) return true;
    const uint32_t distance = offset < 0 ? 0u - static_cast<uint32_t>(offset) : static_cast<uint32_t>(offset);
    if (offset < 0 && distance > from) lowrt::fatal(lowrt::Fatal::assertion);
    if (offset > 0) ensure_positions(node, length + distance);  // the last allocation here

    // The stored positions first, each chain once; then the position array itself.
    remap_positions(node, from, length, [&](uint32_t q) { return q >= from ? q + static_cast<uint32_t>(offset) : q; });
    uint32_t* array = positions(node);
    const uint32_t to = from + static_cast<uint32_t>(offset);
    std::memmove(array + to, array + from, size_t{affected} * 4);
    if (offset > 0) {
        std::fill(array + from, array + to, kNotIndexed);
    } else {
        memory::buffer(table(node)->aux)->tail -= distance * 4;
    }
    return true;
}

bool move_positions(NodeId node, uint32_t from, uint32_t n, uint32_t to) {
    if (n == 0 || from == to) return true;
    const uint32_t lo = std::min(from, to);
    const uint32_t hi = std::max(from, to) + n;
    if (hi - lo > kMaxShift) return false;
    ensure_positions(node, hi);
    const auto moved = [=](uint32_t p) {
        if (p < lo || p >= hi) return p;
        if (p >= from && p < from + n) return p - from + to;
        return to < from ? p + n : p - n;
    };
    remap_positions(node, lo, hi, moved);
    uint32_t* array = positions(node);
    if (to < from) {
        std::rotate(array + to, array + from, array + from + n);
    } else {
        std::rotate(array + from, array + from + n, array + to + n);
    }
    return true;
}

void for_each_chain(NodeId node, void (*visit)(NodeId chain)) {
    const NodeId store = table(node)->duplicates;
    if (!store) return;
    const uint32_t* w = words_of(store);
    for (uint32_t i = 1; i < word_count(store); ++i)
        if (w[i] != 0 && !(w[i] & kFreeSlot)) visit(w[i]);
}

}  // namespace zub::hash_index
