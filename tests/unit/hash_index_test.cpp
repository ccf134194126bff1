// hash! and map! indexes: hashes by type, chains of equal values, the find options, map keys of
// the word family, position upkeep after block edits, and churn against plain containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "datatypes/date.h"
#include "runtime/hash.h"
#include "runtime/hash_index.h"
#include "runtime_fixture.h"

namespace zub {
namespace {

using hash_index::Find;
using hashtable::Kind;

class HashIndex : public RuntimeTest {
  protected:
    static NodeId block_node(std::initializer_list<Cell> cells) { return cell::series_node(block_of(cells)); }
    static Cell at(NodeId block, uint32_t p) { return memory::buffer(block)->cells()[p]; }
    static const hashtable::Table& info(NodeId t) { return *hashtable::table(t); }
    static NodeId block_of_table(NodeId t) { return info(t).indexed; }

    static void insert_cells(NodeId block, uint32_t p, const std::vector<Cell>& values) {
        const auto n = static_cast<uint32_t>(values.size());
        series::reserve_tail(block, n * 16);
        Cell* c = memory::buffer(block)->cells();
        const uint32_t length = series::length(block);
        std::memmove(c + p + n, c + p, size_t{length - n - p} * 16);
        std::copy(values.begin(), values.end(), c + p);
    }
    static void remove_cells(NodeId block, uint32_t p, uint32_t n) { series::remove_bytes(block, p * 16, n * 16); }
    static void move_cells(NodeId block, uint32_t from, uint32_t n, uint32_t to) {
        Cell* c = memory::buffer(block)->cells();
        if (to < from) std::rotate(c + to, c + from, c + from + n);
        else std::rotate(c + from, c + from + n, c + to + n);
    }

    static int32_t find(NodeId t, Cell key, Find how = {}) { return hash_index::find(t, key, how); }

    // The stored structure agrees with the block: every indexed position is reached from its
    // value's bucket, every bucket's positions are indexed there, and the counts add up.
    static void expect_consistent(NodeId t, uint32_t indexed_positions) {
        const hashtable::Table& tb = info(t);
        const uint32_t* states = hashtable::state_words_of(t);
        const uint32_t* keys = hashtable::key_words_of(t);
        const auto* slots = reinterpret_cast<const uint32_t*>(memory::buffer(tb.aux)->head_ptr());
        const auto* store = reinterpret_cast<const uint32_t*>(memory::buffer(tb.duplicates)->head_ptr());
        uint32_t occupied = 0, deleted = 0, reached = 0;
        for (uint32_t b = 0; b < tb.buckets; ++b) {
            const uint32_t s = hashtable::state_at(states, b);
            if (s == hashtable::kDeleted) ++deleted;
            if (s != hashtable::kOccupied) continue;
            ++occupied;
            std::vector<uint32_t> members;
            if (static_cast<int32_t>(keys[b]) < 0) {
                const NodeId chain = store[0u - keys[b]];
                ASSERT_EQ(chain & 0x80000000u, 0u) << "bucket names a released chain";
                const auto* w = reinterpret_cast<const uint32_t*>(memory::buffer(chain)->head_ptr());
                members.assign(w, w + memory::buffer(chain)->used() / 4);
                ASSERT_FALSE(members.empty()) << "an empty chain is still in use";
            } else {
                members.push_back(keys[b]);
            }
            for (uint32_t p : members) {
                ASSERT_LT(p, series::length(tb.indexed));
                ASSERT_EQ(slots[p], b + 1) << "position " << p;
                EXPECT_EQ(hash_index::hash_value(at(tb.indexed, p)),
                          hash_index::hash_value(at(tb.indexed, members[0])));
                ++reached;
            }
        }
        EXPECT_EQ(tb.count, occupied);
        EXPECT_EQ(tb.used, occupied + deleted);
        EXPECT_LT(tb.used, tb.buckets);
        EXPECT_EQ(reached, indexed_positions);
    }
};

// ---------------------------------------------------------------------------------------------
// Hashes

TEST_F(HashIndex, ValuesEqualUnderAnyCaseRuleHashAlike) {
    const Cell a = word("hashword"), upper = word("HASHWORD");
    ASSERT_NE(a.w2, upper.w2);  // two symbols, one canonical
    const NodeId narrow = series::alloc_with_unit(8, 1), wide = series::alloc_with_unit(8, 2);
    series::append_ascii(narrow, "Some Text");
    series::append_ascii(wide, "some TEXT");
    struct Case {
        const char* what;
        Cell x, y;
    };
    const Case cases[] = {
        {"word case variants", a, upper},
        {"word and set-word", a, word("hashword", TypeId::set_word)},
        {"lit-word and get-word", word("HashWord", TypeId::lit_word), word("hashword", TypeId::get_word)},
        {"text across case and unit width", cell::series(TypeId::string, narrow), cell::series(TypeId::string, wide)},
        {"text from a position", cell::series(TypeId::file, narrow, 5), cell::series(TypeId::file, wide, 5)},
        {"integer and char of one code", cell::integer(65), cell::character(65)},
    };
    for (const Case& c : cases) EXPECT_EQ(hash_index::hash_value(c.x), hash_index::hash_value(c.y)) << c.what;
}

TEST_F(HashIndex, HashesSeeThePayloadTheTypeUses) {
    const NodeId bytes = series::alloc_with_unit(8, 1);
    series::append_ascii(bytes, "xyz");
    const NodeId tail_bytes = series::alloc_with_unit(8, 1);
    series::append_ascii(tail_bytes, "yz");
    const NodeId cells = memory::alloc_cells(2);

    Cell tuple3 = cell::make(TypeId::tuple, 0x030201), tuple4 = tuple3;
    tuple3.header |= 3u << 19;
    tuple4.header |= 4u << 19;  // 1.2.3.0: one byte longer
    Cell money = cell::make(TypeId::money, 0, 0x10000000), negative_money = money;
    negative_money.header |= 0x4000;
    Cell zero_money = cell::make(TypeId::money, 7), negative_zero = zero_money;  // currency 7, no digits
    negative_zero.header |= 0x4000 | cell_flag::new_line;

    struct Case {
        const char* what;
        Cell x, y;
        bool equal;
    };
    const Case cases[] = {
        {"binary hashes from its position", cell::series(TypeId::binary, bytes, 1),
         cell::series(TypeId::binary, tail_bytes), true},
        {"block identity includes the position", cell::series(TypeId::block, cells, 0),
         cell::series(TypeId::block, cells, 1), false},
        {"tuples equal through trailing zeros hash alike", tuple3, tuple4, true},
        {"money sign counts", money, negative_money, false},
        {"zero money has no sign", zero_money, negative_zero, true},
        {"point3D z counts", cell::make(TypeId::point3D, 1, 2, 3), cell::make(TypeId::point3D, 1, 2, 4), false},
        {"pair y counts", cell::make(TypeId::pair, 0, 1, 2), cell::make(TypeId::pair, 0, 1, 3), false},
        {"date seconds count", date::make(date::pack(2000, 1, 1, 0) | date::kHasTime, 1.0),
         date::make(date::pack(2000, 1, 1, 0) | date::kHasTime, 2.0), false},
        {"date instant, not zone", date::make(date::pack(2000, 1, 1, date::zone_bits(120)) | date::kHasTime, 3600.0),
         date::make(date::pack(2000, 1, 1, 0) | date::kHasTime, 3600.0), true},
        {"float: unused w1 ignored", cell::make(TypeId::float_, 9, 2, 3), cell::make(TypeId::float_, 0, 2, 3), true},
        {"logic by w1", cell::logic(true), cell::logic(false), false},
        {"unset and none", cell::unset(), cell::none(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hash_index::hash_value(c.x) == hash_index::hash_value(c.y), c.equal) << c.what;
    EXPECT_EQ(hash_index::hash_value(cell::none()), 0xFFFFFFFFu);
    EXPECT_EQ(hash_index::hash_value(cell::unset()), 0xFFFFFFFEu);
}

TEST_F(HashIndex, SymbolHashFoldsAsciiCapitalsOnly) {
    const Cell a = symbol::get(symbol::make("MixedCase")), b = symbol::get(symbol::make("mixedcase"));
    EXPECT_EQ(hash_index::hash_value(a), hash_index::hash_value(b));
    const Cell c = symbol::get(symbol::make("\xC3\x89t\xC3\xA9")), d = symbol::get(symbol::make("\xC3\xA9t\xC3\xA9"));
    EXPECT_NE(hash_index::hash_value(c), hash_index::hash_value(d));  // É and é differ
}

// ---------------------------------------------------------------------------------------------
// hash! chains and find

TEST_F(HashIndex, SecondEqualValueMakesAChainAndRemovingBothEmptiesTheBucket) {
    const NodeId block = block_node({cell::integer(7), cell::integer(8)});
    const NodeId t = hash_index::init(4, block, Kind::hash);
    EXPECT_EQ(info(t).count, 2u);
    series::append_cell(block, cell::integer(7));
    hash_index::add_block_value(t, 2);
    EXPECT_EQ(info(t).count, 2u);  // joined the bucket of the first 7
    EXPECT_EQ(find(t, cell::integer(7), {.start = 1}), 2);
    expect_consistent(t, 3);

    hash_index::remove_value(t, 0);
    EXPECT_EQ(find(t, cell::integer(7)), 2);
    EXPECT_EQ(info(t).count, 2u);
    hash_index::remove_value(t, 2);
    EXPECT_EQ(find(t, cell::integer(7)), -1);
    EXPECT_EQ(info(t).count, 1u);
    EXPECT_EQ(info(t).used, 2u);     // the bucket is deleted, not emptied
    hash_index::remove_value(t, 2);  // twice: nothing to do
    EXPECT_EQ(info(t).count, 1u);
    expect_consistent(t, 1);
}

TEST_F(HashIndex, ReleasedChainSlotsAreReused) {
    const NodeId block = block_node({});
    const NodeId t = hash_index::init(0, block, Kind::hash);
    for (int round = 0; round < 200; ++round) {
        const int32_t v = round % 5;
        series::append_cell(block, cell::integer(v));
        series::append_cell(block, cell::integer(v));
        hash_index::add_block_value(t, 0);
        hash_index::add_block_value(t, 1);
        ASSERT_EQ(find(t, cell::integer(v), {.start = 1}), 1);
        hash_index::remove_value(t, 1);
        hash_index::remove_value(t, 0);
        series::clear(block);
    }
    EXPECT_LE(memory::buffer(info(t).duplicates)->used(), 8u);  // the free-list head and one slot
    EXPECT_EQ(info(t).buckets, 8u);  // growth over deleted buckets does not enlarge the index
}

TEST_F(HashIndex, FindOptionsChooseAmongEqualValues) {
    // positions:           0  1  2  3  4  5
    const NodeId block = block_node(
        {cell::integer(1), cell::integer(2), cell::integer(1), cell::integer(3), cell::integer(1), cell::integer(2)});
    const NodeId t = hash_index::init(6, block, Kind::hash);
    struct Case {
        int32_t key;
        Find how;
        int32_t expected;
    };
    const Case cases[] = {
        {1, {}, 0},
        {1, {.start = 1}, 2},
        {1, {.start = 4}, 4},
        {1, {.start = 5}, -1},
        {1, {.start = 1, .skip = 2}, -1},  // 1, 3, 5 hold no 1
        {1, {.start = 0, .skip = 4}, 0},
        {1, {.start = 1, .skip = 3}, 4},
        {1, {.start = 4, .backwards = true}, 2},
        {1, {.start = 0, .backwards = true}, -1},
        {1, {.start = 5, .skip = 3, .backwards = true}, 2},
        {1, {.start = 6, .skip = 2, .backwards = true}, 4},
        {1, {.last = true}, 4},
        {1, {.start = 1, .skip = 3, .last = true}, 4},
        {1, {.start = 5, .last = true}, -1},
        {2, {.last = true}, 5},
        {2, {.start = 5, .backwards = true}, 1},
        {3, {.start = 3}, 3},
        {3, {.start = 4}, -1},
        {4, {}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(find(t, cell::integer(c.key), c.how), c.expected)
            << c.key << " start " << c.how.start << " skip " << c.how.skip << (c.how.backwards ? " backwards" : "")
            << (c.how.last ? " last" : "");
    }
    // Same hash, other type: a char never matches an integer.
    EXPECT_EQ(find(t, cell::character(1)), -1);
}

TEST_F(HashIndex, CaseRulePicksWithinAChain) {
    const Cell a = word("casey"), upper = word("CASEY");
    const NodeId block = block_node({a, upper, a, word("casey", TypeId::set_word)});
    const NodeId t = hash_index::init(4, block, Kind::hash);
    EXPECT_EQ(info(t).count, 2u);  // the words in one chain, the set-word apart
    struct Case {
        Cell key;
        Find how;
        int32_t expected;
    };
    const Case cases[] = {
        {upper, {}, 0},
        {upper, {.rule = op_strict_equal}, 1},
        {a, {.start = 1, .rule = op_strict_equal}, 2},
        {upper, {.start = 2, .rule = op_strict_equal}, -1},
        {upper, {.start = 4, .rule = op_strict_equal, .backwards = true}, 1},
        {a, {.rule = op_strict_equal, .last = true}, 2},
        {word("casey", TypeId::set_word), {}, 3},
        {word("casey", TypeId::lit_word), {}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(find(t, c.key, c.how), c.expected) << c.how.start;
}

TEST_F(HashIndex, UnitValuesAndBlocksByIdentity) {
    const NodeId inner = block_node({cell::integer(1)});
    const NodeId twin = block_node({cell::integer(1)});  // equal contents, another series
    const Cell b = cell::series(TypeId::block, inner);
    const NodeId block = block_node({cell::none(), cell::logic(true), b, cell::none(), cell::logic(false),
                                     cell::unset(), b, cell::series(TypeId::block, twin)});
    const NodeId t = hash_index::init(8, block, Kind::hash);
    struct Case {
        const char* what;
        Cell key;
        Find how;
        int32_t expected;
    };
    const Case cases[] = {
        {"none", cell::none(), {.start = 1}, 3},
        {"true", cell::logic(true), {}, 1},
        {"false", cell::logic(false), {}, 4},
        {"unset", cell::unset(), {}, 5},
        {"the block", b, {.start = 3}, 6},
        {"its twin", cell::series(TypeId::block, twin), {}, 7},
        {"the block at another index", cell::series(TypeId::block, inner, 1), {}, -1},
        {"same as paren", cell::series(TypeId::paren, inner), {}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(find(t, c.key, c.how), c.expected) << c.what;
    expect_consistent(t, 8);
}

TEST_F(HashIndex, TextGroupsAcrossCaseAndPicksByRule) {
    const auto text = [](const char* s, uint32_t unit = 1, uint32_t index = 0) {
        const NodeId node = series::alloc_with_unit(8, unit);
        series::append_ascii(node, s);
        return cell::series(TypeId::string, node, index);
    };
    const Cell first = text("abc");
    const NodeId block = block_node({first, text("ABC", 2), text("xabc", 1, 1), text("abcd"),
                                     cell::series(TypeId::file, cell::series_node(first))});
    const NodeId t = hash_index::init(5, block, Kind::hash);
    EXPECT_EQ(info(t).count, 3u);  // the three abc strings chained; abcd and the file! apart
    struct Case {
        const char* what;
        Cell key;
        Find how;
        int32_t expected;
    };
    const Case cases[] = {
        {"any case", text("aBc"), {}, 0},
        {"any case, later", text("aBc"), {.start = 1}, 1},
        {"strict", text("ABC"), {.rule = op_strict_equal}, 1},
        {"strict, from a position", text("--abc", 4, 2), {.start = 1, .rule = op_strict_equal}, 2},
        {"strict, last", text("abc"), {.rule = op_strict_equal, .last = true}, 2},
        {"same: only that series", first, {.start = 0, .rule = op_same, .last = true}, 0},
        {"longer text", text("ABCD"), {}, 3},
        {"another type", text("abc", 1), {.start = 4}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(find(t, c.key, c.how), c.expected) << c.what;
    expect_consistent(t, 5);

    const NodeId pairs = block_node({text("Key"), cell::integer(1), text("KEY"), cell::integer(2)});
    const NodeId m = hash_index::init(2, pairs, Kind::map);
    EXPECT_EQ(series::length(pairs), 2u);  // one entry: the keys are equal but for case
    EXPECT_EQ(cell::as_integer(at(pairs, 1)), 2);
    EXPECT_EQ(find(m, text("kEY")), 0);
    EXPECT_EQ(find(m, text("kEY"), {.rule = op_strict_equal}), -1);
}

TEST_F(HashIndex, RebuildSizing) {
    struct Case {
        uint32_t count, buckets, bound;
    };
    const Case cases[] = {{0, 4, 3}, {2, 4, 3}, {5, 8, 6}, {11, 16, 12}, {16, 32, 24}, {22, 64, 49}};
    const NodeId block = block_node({cell::integer(1), cell::integer(2), cell::integer(1)});
    const NodeId t = hash_index::init(0, block, Kind::hash);
    for (const Case& c : cases) {
        hash_index::rebuild(t, c.count);
        EXPECT_EQ(info(t).buckets, c.buckets) << c.count;
        EXPECT_EQ(info(t).bound, c.bound) << c.count;
        EXPECT_EQ(find(t, cell::integer(1), {.start = 1}), 2);
        expect_consistent(t, 3);
    }
}

TEST_F(HashIndex, AskedForNothingGetsEightBuckets) {
    const NodeId t = hash_index::init(0, block_node({}), Kind::hash);
    EXPECT_EQ(info(t).buckets, 8u);
    EXPECT_EQ(info(t).bound, 6u);
}

TEST_F(HashIndex, GrowthKeepsEveryValueAndChain) {
    const NodeId block = block_node({});
    const NodeId t = hash_index::init(0, block, Kind::hash);
    for (int32_t i = 0; i < 500; ++i) {
        series::append_cell(block, cell::integer(i % 100));
        hash_index::add_block_value(t, static_cast<uint32_t>(i));
    }
    EXPECT_EQ(info(t).count, 100u);
    EXPECT_GE(info(t).buckets, 128u);
    for (int32_t v = 0; v < 100; ++v) {
        EXPECT_EQ(find(t, cell::integer(v)), v);
        EXPECT_EQ(find(t, cell::integer(v), {.last = true}), 400 + v);
    }
    expect_consistent(t, 500);
}

TEST_F(HashIndex, ClearAndCopy) {
    const NodeId block = block_node({cell::integer(1), cell::integer(1), cell::integer(2)});
    const NodeId t = hash_index::init(3, block, Kind::hash);
    const NodeId copied_block = series::copy(block);
    const NodeId copy = hash_index::copy_table(t, copied_block);
    EXPECT_EQ(info(copy).indexed, copied_block);

    hash_index::remove_value(copy, 0);  // the copy's chain shrinks, the original's does not
    EXPECT_EQ(find(copy, cell::integer(1)), 1);
    EXPECT_EQ(find(t, cell::integer(1)), 0);
    expect_consistent(t, 3);
    expect_consistent(copy, 2);

    hash_index::clear(t);
    EXPECT_EQ(info(t).count, 0u);
    EXPECT_EQ(info(t).used, 0u);
    EXPECT_EQ(find(t, cell::integer(2)), -1);
    EXPECT_EQ(find(copy, cell::integer(2)), 2);
    hash_index::index_block(t, 0, 1);  // the block is still there: index it again
    EXPECT_EQ(find(t, cell::integer(1), {.start = 1}), 1);
    expect_consistent(t, 3);
}

// ---------------------------------------------------------------------------------------------
// Position upkeep

TEST_F(HashIndex, EditsKeepPositionsInStep) {
    const auto ints = [](std::initializer_list<int32_t> v) {
        std::vector<Cell> cells;
        for (int32_t i : v) cells.push_back(cell::integer(i));
        return cells;
    };
    // 1 2 3 1 2 3
    const NodeId block = block_node({});
    for (const Cell& c : ints({1, 2, 3, 1, 2, 3})) series::append_cell(block, c);
    const NodeId t = hash_index::init(6, block, Kind::hash);

    // Insert 9 9 at 1: 1 9 9 2 3 1 2 3
    insert_cells(block, 1, ints({9, 9}));
    ASSERT_TRUE(hash_index::shift_positions(t, 1, 2));
    EXPECT_EQ(find(t, cell::integer(2)), 3);  // moved before the new values are indexed
    hash_index::add_block_value(t, 1);
    hash_index::add_block_value(t, 2);
    EXPECT_EQ(find(t, cell::integer(9), {.last = true}), 2);
    EXPECT_EQ(find(t, cell::integer(3), {.last = true}), 7);
    expect_consistent(t, 8);

    // Remove 2 values at 4: 1 9 9 2 2 3
    ASSERT_TRUE(hash_index::remove_range(t, 4, 2));
    remove_cells(block, 4, 2);
    EXPECT_EQ(find(t, cell::integer(1), {.start = 1}), -1);
    EXPECT_EQ(find(t, cell::integer(2), {.last = true}), 4);
    EXPECT_EQ(find(t, cell::integer(3)), 5);
    expect_consistent(t, 6);

    // Move 2 values from 1 to 3: 1 2 2 9 9 3
    move_cells(block, 1, 2, 3);
    ASSERT_TRUE(hash_index::move_positions(t, 1, 2, 3));
    EXPECT_EQ(find(t, cell::integer(9)), 3);
    EXPECT_EQ(find(t, cell::integer(2), {.last = true}), 2);
    expect_consistent(t, 6);

    // And back, the other way: 1 9 9 2 2 3
    move_cells(block, 3, 2, 1);
    ASSERT_TRUE(hash_index::move_positions(t, 3, 2, 1));
    EXPECT_EQ(find(t, cell::integer(9), {.last = true}), 2);
    EXPECT_EQ(find(t, cell::integer(2)), 3);
    expect_consistent(t, 6);
}

TEST_F(HashIndex, ShiftingMoreThanThirtyThousandValuesAsksForARebuild) {
    struct Case {
        uint32_t values;
        bool shifted;
    };
    for (const Case c : {Case{30000, true}, Case{30001, false}}) {
        const NodeId block = memory::alloc_cells(c.values + 1);
        for (uint32_t i = 0; i < c.values; ++i) series::append_cell(block, cell::integer(static_cast<int32_t>(i % 7)));
        const NodeId t = hash_index::init(c.values, block, Kind::hash);
        insert_cells(block, 0, {cell::integer(100)});
        EXPECT_EQ(hash_index::shift_positions(t, 0, 1), c.shifted) << c.values;
        if (c.shifted) {
            hash_index::add_block_value(t, 0);
        } else {
            hash_index::rebuild(t, c.values + 1);
        }
        EXPECT_EQ(find(t, cell::integer(100)), 0);
        EXPECT_EQ(find(t, cell::integer(0)), 1);
        EXPECT_EQ(find(t, cell::integer(6), {.last = true}), static_cast<int32_t>((c.values - 7) / 7 * 7 + 6 + 1));
        expect_consistent(t, c.values + 1);
    }
}

TEST_F(HashIndex, EveryEditOverThirtyThousandValuesAsksForARebuild) {
    const NodeId block = memory::alloc_cells(30002);
    for (int32_t i = 0; i < 30002; ++i) series::append_cell(block, cell::integer(i % 5));
    const NodeId t = hash_index::init(30002, block, Kind::hash);
    struct Case {
        const char* what;
        bool done;
        bool expected;
    };
    const Case cases[] = {
        {"remove 1 at 1: 30001 values touched", hash_index::remove_range(t, 1, 1), false},
        {"remove 1 at 2: 30000 values touched", hash_index::remove_range(t, 2, 1), true},
        {"move 1 over 30001", hash_index::move_positions(t, 0, 1, 30000), false},
        {"move 1 over 30000", hash_index::move_positions(t, 0, 1, 29999), true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.done, c.expected) << c.what;
}

// ---------------------------------------------------------------------------------------------
// map!

TEST_F(HashIndex, MapKeysOfTheWordFamilyNameOneEntry) {
    const NodeId block =
        block_node({word("k", TypeId::set_word), cell::integer(1), word("k", TypeId::lit_word), cell::integer(2),
                    word("other", TypeId::set_word), cell::integer(3), word("K", TypeId::get_word), cell::integer(4)});
    const NodeId t = hash_index::init(4, block, Kind::map);
    // The later pairs gave their values to the first and left the block.
    ASSERT_EQ(series::length(block), 4u);
    EXPECT_EQ(cell::as_integer(at(block, 1)), 4);
    EXPECT_EQ(info(t).count, 2u);
    struct Case {
        Cell key;
        int32_t rule;
        int32_t expected;
    };
    const Case cases[] = {
        {word("k"), op_equal, 0},
        {word("k", TypeId::set_word), op_strict_equal, 0},
        {word("k", TypeId::lit_word), op_strict_equal, 0},
        {word("k", TypeId::get_word), op_equal, 0},
        {word("K"), op_equal, 0},
        {word("K"), op_strict_equal, -1},
        {word("k", TypeId::refinement), op_equal, -1},
        {word("other"), op_equal, 2},
        {cell::integer(1), op_equal, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(find(t, c.key, {.rule = c.rule}), c.expected) << c.rule;
}

TEST_F(HashIndex, MapIndexingPreparesKeysAndKeepsRemovedEntriesOut) {
    const NodeId block =
        block_node({word("a"), cell::integer(1), word("b"), Cell{0, 0, 0, 0}, word("c", TypeId::lit_word),
                    cell::integer(3), word("A"), cell::integer(4), word("tail")});
    const NodeId t = hash_index::init(0, block, Kind::map, [](Cell key) {
        cell::set_type(key, TypeId::set_word);
        return key;
    });
    ASSERT_EQ(series::length(block), 7u);  // a: 4 b: <removed> c: 3 tail
    EXPECT_TRUE(cell::is(at(block, 0), TypeId::set_word));
    EXPECT_TRUE(cell::is(at(block, 4), TypeId::set_word));
    EXPECT_EQ(cell::as_integer(at(block, 1)), 4);
    EXPECT_EQ(cell::type(at(block, 6)), TypeId::word);  // a key without a value is left alone
    EXPECT_EQ(info(t).count, 2u);
    EXPECT_EQ(find(t, word("b")), -1);
    EXPECT_EQ(find(t, word("c")), 4);
}

TEST_F(HashIndex, MapGrowthDoublesEvenWhenMostlyDeleted) {
    const NodeId block = block_node({});
    const NodeId t = hash_index::init(0, block, Kind::map);  // 8 buckets, bound 6
    const auto put = [&](int32_t key) {
        series::append_cell(block, cell::integer(key));
        series::append_cell(block, cell::integer(-key));
        hash_index::add_block_value(t, series::length(block) - 2);
    };
    for (int32_t k = 1; k <= 6; ++k) put(k);
    for (uint32_t p = 0; p < 10; p += 2) hash_index::remove_value(t, p);  // keys 1 to 5
    EXPECT_EQ(info(t).count, 1u);
    EXPECT_EQ(info(t).used, 6u);
    put(7);  // at the bound with 1 live entry of 8 buckets: still doubles
    EXPECT_EQ(info(t).buckets, 16u);
    EXPECT_EQ(info(t).bound, 12u);
    EXPECT_EQ(info(t).count, 2u);
    EXPECT_EQ(info(t).used, 2u);
    EXPECT_EQ(find(t, cell::integer(6)), 10);
    EXPECT_EQ(find(t, cell::integer(7)), 12);
    EXPECT_EQ(find(t, cell::integer(3)), -1);
}

TEST_F(HashIndex, FindNextVisitsEveryMatchingMapEntry) {
    // Two entries whose keys differ only in case, as a case-sensitive put leaves them.
    const NodeId block = block_node({});
    const NodeId t = hash_index::init(0, block, Kind::map);
    for (const char* name : {"Key", "key", "other", "KEY"}) {
        series::append_cell(block, word(name, TypeId::set_word));
        series::append_cell(block, cell::integer(0));
        hash_index::add_block_value(t, series::length(block) - 2);
    }
    hashtable::Probe probe;
    std::set<int32_t> seen;
    for (int32_t p = hash_index::find(t, word("kEy"), {}, &probe); p >= 0;
         p = hash_index::find_next(t, word("kEy"), {}, probe))
        seen.insert(p);
    EXPECT_EQ(seen, (std::set<int32_t>{0, 2, 6}));
    EXPECT_EQ(hash_index::find_next(t, word("kEy"), {}, probe), -1);  // stays finished
    EXPECT_EQ(find(t, word("KEY"), {.rule = op_strict_equal}), 6);
}

TEST_F(HashIndex, MapRebuildLeavesRemovedEntriesOut) {
    const NodeId block = block_node(
        {cell::integer(1), cell::integer(10), cell::integer(2), Cell{0, 0, 0, 0}, cell::integer(3), cell::integer(30)});
    const NodeId t = hash_index::init(3, block, Kind::map);
    hash_index::rebuild(t, 3);
    EXPECT_EQ(info(t).buckets, 4u);
    EXPECT_EQ(info(t).count, 2u);
    EXPECT_EQ(find(t, cell::integer(2)), -1);
    EXPECT_EQ(find(t, cell::integer(3)), 4);
}

// ---------------------------------------------------------------------------------------------
// Churn

// A hash! block edited at random: the index must answer every find as a scan of the block does.
TEST_F(HashIndex, HashChurnMatchesAScanOfTheBlock) {
    std::mt19937 rng(20240611);
    struct Value {
        bool is_char;
        int32_t n;
        bool operator==(const Value&) const = default;
    };
    const auto to_cell = [](Value v) {
        return v.is_char ? cell::character(static_cast<uint32_t>(v.n)) : cell::integer(v.n);
    };
    const auto random_value = [&] { return Value{rng() % 4 == 0, static_cast<int32_t>(rng() % 24)}; };

    std::vector<Value> oracle;
    NodeId block = block_node({});
    NodeId t = hash_index::init(0, block, Kind::hash);
    const auto check_find = [&](Value v, Find how) {
        int32_t expected = -1;
        const uint32_t skip = how.skip ? how.skip : 1;
        const auto n = static_cast<uint32_t>(oracle.size());
        for (uint32_t p = 0; p < n; ++p) {
            if (!(oracle[p] == v)) continue;
            const bool ok = how.last || !how.backwards ? p >= how.start && (p - how.start) % skip == 0
                                                       : p < how.start && (how.start - p) % skip == 0;
            if (!ok) continue;
            if (expected < 0 ||
                (how.last || how.backwards ? p > static_cast<uint32_t>(expected) : p < static_cast<uint32_t>(expected)))
                expected = static_cast<int32_t>(p);
        }
        ASSERT_EQ(find(t, to_cell(v), how), expected)
            << v.n << (v.is_char ? "c" : "") << " start " << how.start << " skip " << how.skip << " back "
            << how.backwards << " last " << how.last;
    };

    for (int step = 0; step < 20000; ++step) {
        const auto length = static_cast<uint32_t>(oracle.size());
        switch (rng() % 10) {
            case 0:
            case 1:
            case 2: {  // insert 1 to 3 values
                const uint32_t p = rng() % (length + 1);
                std::vector<Value> vs(1 + rng() % 3);
                std::vector<Cell> cs;
                for (Value& v : vs) cs.push_back(to_cell(v = random_value()));
                insert_cells(block, p, cs);
                oracle.insert(oracle.begin() + p, vs.begin(), vs.end());
                ASSERT_TRUE(hash_index::shift_positions(t, p, static_cast<int32_t>(vs.size())));
                for (uint32_t i = 0; i < vs.size(); ++i) hash_index::add_block_value(t, p + i);
                break;
            }
            case 3:
            case 4: {  // remove up to 3 values
                if (length == 0) break;
                const uint32_t p = rng() % length;
                const uint32_t n = std::min<uint32_t>(1 + rng() % 3, length - p);
                ASSERT_TRUE(hash_index::remove_range(t, p, n));
                remove_cells(block, p, n);
                oracle.erase(oracle.begin() + p, oracle.begin() + p + n);
                break;
            }
            case 5: {  // change one value in place
                if (length == 0) break;
                const uint32_t p = rng() % length;
                hash_index::remove_value(t, p);
                oracle[p] = random_value();
                memory::buffer(block)->cells()[p] = to_cell(oracle[p]);
                hash_index::add_block_value(t, p);
                break;
            }
            case 6: {  // move a run
                if (length < 2) break;
                const uint32_t n = 1 + rng() % std::min<uint32_t>(4, length - 1);
                const uint32_t from = rng() % (length - n + 1), to = rng() % (length - n + 1);
                move_cells(block, from, n, to);
                if (to < from) std::rotate(oracle.begin() + to, oracle.begin() + from, oracle.begin() + from + n);
                else std::rotate(oracle.begin() + from, oracle.begin() + from + n, oracle.begin() + to + n);
                ASSERT_TRUE(hash_index::move_positions(t, from, n, to));
                break;
            }
            default: {
                Find how;
                how.start = rng() % (length + 2);
                how.skip = rng() % 3 == 0 ? 1 + rng() % 3 : 1;
                how.backwards = rng() % 3 == 0;
                how.last = rng() % 4 == 0;
                check_find(random_value(), how);
            }
        }
        if (step % 2500 == 1249) hash_index::rebuild(t, static_cast<uint32_t>(oracle.size()));
        if (step % 5000 == 4999) {  // a whole copy goes on in place of the original
            block = series::copy(block);
            t = hash_index::copy_table(t, block);
        }
        if (step % 500 == 0) {
            std::unordered_map<int32_t, int> distinct;
            for (const Value& v : oracle) ++distinct[v.n * 2 + v.is_char];
            ASSERT_EQ(info(t).count, distinct.size()) << "step " << step;
            expect_consistent(t, static_cast<uint32_t>(oracle.size()));
            if (HasFatalFailure()) return;
        }
    }
    for (int32_t n = 0; n < 24; ++n)
        for (bool c : {false, true}) {
            check_find({c, n}, {});
            check_find({c, n}, {.last = true});
        }
}

// A map! put and removed at random against an unordered_map.
TEST_F(HashIndex, MapChurnMatchesAnUnorderedMap) {
    std::mt19937 rng(777);
    std::unordered_map<int32_t, int32_t> oracle;
    const NodeId block = block_node({});
    const NodeId t = hash_index::init(0, block, Kind::map);
    for (int step = 0; step < 40000; ++step) {
        const auto key = static_cast<int32_t>(rng() % 300);
        const int32_t p = find(t, cell::integer(key));
        ASSERT_EQ(p >= 0, oracle.count(key) == 1) << "key " << key << " step " << step;
        if (p >= 0) {
            ASSERT_EQ(cell::as_integer(at(block, static_cast<uint32_t>(p) + 1)), oracle[key]);
        }
        if (rng() % 3 != 0) {  // put
            const auto value = static_cast<int32_t>(rng());
            if (p >= 0) {
                memory::buffer(block)->cells()[p + 1] = cell::integer(value);
            } else {
                series::append_cell(block, cell::integer(key));
                series::append_cell(block, cell::integer(value));
                hash_index::add_block_value(t, series::length(block) - 2);
            }
            oracle[key] = value;
        } else if (p >= 0) {  // remove: the pair stays, its value cell emptied
            hash_index::remove_value(t, static_cast<uint32_t>(p));
            memory::buffer(block)->cells()[p + 1] = Cell{0, 0, 0, 0};
            oracle.erase(key);
        }
        ASSERT_EQ(info(t).count, oracle.size());
        if (step % 10000 == 9999) hash_index::rebuild(t, info(t).buckets);
    }
}

}  // namespace
}  // namespace zub
