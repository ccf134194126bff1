// Interning hashes the name with ASCII capitals folded, so every case variant of a name shares
// one probe sequence: the exact spelling is sought first, then a case variant, whose first match
// is always the canonical spelling because symbols are never removed.
#include "runtime/symbol.h"

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::symbol {

NodeId g_table = 0;

namespace {

NodeId g_hash = 0;
std::vector<char> g_scratch;  // the name being interned, out of reach of moving series

constexpr uint8_t fold(uint8_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

uint32_t hash_folded(const uint8_t* p, size_t n) {
    uint32_t h = hash::g_seed;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint32_t k = uint32_t{fold(p[i])} | uint32_t{fold(p[i + 1])} << 8 | uint32_t{fold(p[i + 2])} << 16 |
                           uint32_t{fold(p[i + 3])} << 24;
        h = hash::murmur3_mix(h, k);
    }
    uint32_t k = 0;
    switch (n & 3) {
        case 3: k ^= uint32_t{fold(p[i + 2])} << 16; [[fallthrough]];
        case 2: k ^= uint32_t{fold(p[i + 1])} << 8; [[fallthrough]];
        case 1:
            k ^= fold(p[i]);
            k *= 0xCC9E2D51;
            k = hash::rotl32(k, 15);
            k *= 0x1B873593;
            h ^= k;
    }
    return hash::murmur3_finish(h, static_cast<uint32_t>(n));
}

Cell& cell_at(uint32_t position) { return memory::buffer(g_table)->cells()[position]; }

// A table entry, the symbol module's own layout, read and written only here (and by resolve in
// the header): w1 the canonical symbol of an alias (0 for a canonical one), w2 the name as a
// string once asked for (0 before), w3 the node of the name's UTF-8 bytes.
Cell make_entry(int32_t alias_of, NodeId bytes) {
    return cell::make(TypeId::symbol, static_cast<uint32_t>(alias_of), 0, bytes);
}
int32_t entry_alias(const Cell& entry) { return static_cast<int32_t>(entry.w1); }
NodeId entry_string(const Cell& entry) { return entry.w2; }
void set_entry_string(Cell& entry, NodeId string) { entry.w2 = string; }
NodeId entry_bytes(const Cell& entry) { return entry.w3; }

std::string_view name_at(uint32_t position) {
    SeriesBuffer* b = memory::buffer(entry_bytes(cell_at(position)));
    return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

bool equal_folded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<uint8_t>(a[i])) != fold(static_cast<uint8_t>(b[i]))) return false;
    return true;
}

Id create(std::string_view name, int32_t alias_of, uint32_t hash) {
    hashtable::grow_positions(g_hash, [](uint32_t position) {
        const std::string_view n = name_at(position);
        return hash_folded(reinterpret_cast<const uint8_t*>(n.data()), n.size());
    });
    const auto length = static_cast<uint32_t>(name.size());
    const NodeId bytes = memory::alloc_bytes(length + 1);
    SeriesBuffer* b = memory::buffer(bytes);
    if (length) std::memcpy(b->data(), name.data(), length);  // an empty name may have no bytes at all
    b->data()[length] = std::byte{0};
    b->tail = length;
    const uint32_t position = series::length(g_table);
    series::append_cell(g_table, make_entry(alias_of, bytes));

    uint32_t bucket;
    hashtable::find_position(
        g_hash, hash, [](uint32_t) { return false; }, &bucket);
    hashtable::add_position(g_hash, bucket, position);
    return position + 1;
}

Id intern(std::string_view utf8, bool single_pass) {
    g_scratch.assign(utf8.begin(), utf8.end());
    const std::string_view name(g_scratch.data(), g_scratch.size());
    const uint32_t hash = hash_folded(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    uint32_t bucket;
    if (!single_pass) {
        const int64_t exact = hashtable::find_position(
            g_hash, hash, [&](uint32_t position) { return name_at(position) == name; }, &bucket);
        if (exact >= 0) return static_cast<Id>(exact) + 1;
    }
    const int64_t variant = hashtable::find_position(
        g_hash, hash, [&](uint32_t position) { return equal_folded(name_at(position), name); }, &bucket);
    if (variant >= 0) {
        if (single_pass) return static_cast<Id>(variant) + 1;
        // Growth re-inserts in bucket order, so the variant met first may itself be an alias.
        return create(name, static_cast<int32_t>(resolve(static_cast<Id>(variant) + 1)), hash);
    }
    return create(name, -1, hash);
}

}  // namespace

void init() {
    collector::Guard guard;
    g_table = memory::alloc_cells(1000);
    g_hash = hashtable::init_positions(1000, hashtable::Kind::symbols, g_table);
    collector::add_root(&g_table);
    collector::add_root(&g_hash, collector::RootKind::table);
}

NodeId table() { return g_table; }
NodeId hash() { return g_hash; }
uint32_t count() { return series::length(g_table); }

Id make(std::string_view utf8) { return intern(utf8, false); }
Id make_exact(std::string_view utf8) { return intern(utf8, true); }

int32_t alias(Id id) { return entry_alias(cell_at(id - 1)); }

std::string_view utf8(Id id) { return name_at(id - 1); }

NodeId name_string(Id id) {
    if (const NodeId existing = entry_string(cell_at(id - 1))) return existing;
    const Cell& c = cell_at(id - 1);
    const NodeId string =
        unicode::load_utf8(unicode::series_input(entry_bytes(c), 0, memory::buffer(entry_bytes(c))->used()));
    set_entry_string(cell_at(id - 1), string);  // re-derived: loading may have moved the table
    return string;
}

Cell get(Id id) {
    name_string(id);
    return cell_at(id - 1);
}

int32_t compare_utf8(std::string_view x, std::string_view y, bool case_sensitive) {
    const auto* p = reinterpret_cast<const std::byte*>(x.data());
    const auto* q = reinterpret_cast<const std::byte*>(y.data());
    const std::byte* p_end = p + x.size();
    const std::byte* q_end = q + y.size();
    while (p < p_end && q < q_end) {
        const unicode::Decoded c = unicode::decode_utf8_char(p, static_cast<uint32_t>(p_end - p));
        const unicode::Decoded d = unicode::decode_utf8_char(q, static_cast<uint32_t>(q_end - q));
        uint32_t u = static_cast<uint32_t>(c.cp), v = static_cast<uint32_t>(d.cp);
        if (!case_sensitive) {
            u = unicode::to_upper(u);
            v = unicode::to_upper(v);
        }
        if (u != v) return u < v ? -1 : 1;
        p += c.length;
        q += d.length;
    }
    return (p < p_end) - (q < q_end);
}

int32_t compare_names(Id a, Id b, bool case_sensitive) { return compare_utf8(utf8(a), utf8(b), case_sensitive); }

uint32_t name_length(Id id) {
    const std::string_view name = utf8(id);
    const auto* p = reinterpret_cast<const std::byte*>(name.data());
    return unicode::count_utf8_chars(p, p + name.size());
}

void append_name(Id id, NodeId out) {
    const NodeId bytes = entry_bytes(cell_at(id - 1));
    unicode::load_utf8(unicode::series_input(bytes, 0, memory::buffer(bytes)->used()), out);
}

}  // namespace zub::symbol
