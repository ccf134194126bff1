// block!: what find, select and put do that the language does not reach; sort against the standard
// library, its keyed paths, stability and comparator flags; the arguments the sort and set natives
// refuse first. The language's cases are in tests/lang/find.zub, sort.zub and sets.zub.
#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "tests/unit/block_fixture.h"

namespace zub {
namespace {

class BlockSearchBase : public BlockTest {
  protected:
    Cell a() { return word("a"); }
    Cell b() { return word("b"); }
    Cell c() { return word("c"); }

    // Where find answered: the head index, or -1 for none.
    static int64_t index_of(const Cell& found) {
        if (cell::is(found, TypeId::none)) return -1;
        EXPECT_TRUE(block::is_block_like(cell::type(found)));
        return cell::series_index(found);
    }
    static Cell find(Cell series, Cell value, const FindOptions& o = {}) { return row(series).find(series, value, o); }
    static Cell select(Cell series, Cell value, const FindOptions& o = {}) {
        return row(series).select(series, value, o);
    }
    static std::vector<int32_t> ints(const Cell& blk) {
        std::vector<int32_t> out;
        for (uint32_t k = 0; k < block::length(at(blk, 0)); ++k) out.push_back(cell::as_integer(block::abs_at(blk, k)));
        return out;
    }
    static Cell of_ints(const std::vector<int32_t>& values) {
        const NodeId node = memory::alloc_cells(static_cast<uint32_t>(values.size()));
        for (int32_t v : values) series::append_cell(node, cell::integer(v));
        return cell::series(TypeId::block, node);
    }
};

class BlockSearch : public BlockSearchBase {};
class BlockSort : public BlockSearchBase {
  protected:
    Cell sort(Cell series, const SortOptions& o = {}) { return row(series).sort(series, o); }
};
class BlockSet : public BlockSearchBase {};

// ---- find ----------------------------------------------------------------------------------------

// The refinement arguments the find native refuses before the action sees them.
TEST_F(BlockSearch, FindRefusesBadRefinements) {
    const Cell s = block_of({i(1), i(2)});
    const Cell text = str("x");
    EXPECT_EQ(raised([&] { find(s, i(1), {.skip = &text}); }), ErrorId::invalid_refine_arg);
}

// select's native has no /tail nor /match; the action ignores them.
TEST_F(BlockSearch, SelectIgnoresTailAndMatch) {
    const Cell s = block_of({a(), i(1), b()});
    EXPECT_EQ(mold(select(s, a(), {.tail = true, .match = true})), "1");
}

// A block key is one value, found and appended whole; the put native takes no block key.
TEST_F(BlockSearch, PutABlockKey) {
    const Cell s = block_of({a(), i(1)});
    row(s).put(s, block_of({i(1)}), i(0), false);
    EXPECT_EQ(mold(s), "[a 1 [1] 0]");
    row(s).put(s, block_of({i(1)}), i(6), false);
    EXPECT_EQ(mold(s), "[a 1 [1] 6]");
}

// ---- sort ----------------------------------------------------------------------------------------

TEST_F(BlockSort, StableKeepsTiesInOrder) {
    // Keys 0..9 with their original positions: ties must stay in position order.
    std::mt19937 rng(7);
    std::vector<int32_t> keys(400);
    for (auto& k : keys) k = static_cast<int32_t>(rng() % 10);
    std::vector<int32_t> flat;
    for (size_t p = 0; p < keys.size(); ++p) {
        flat.push_back(keys[p]);
        flat.push_back(static_cast<int32_t>(p));
    }
    const Cell s = of_ints(flat), two = i(2);
    sort(s, {.skip = &two, .stable = true});
    const std::vector<int32_t> got = ints(s);
    for (size_t r = 1; r < keys.size(); ++r) {
        const int32_t k0 = got[2 * r - 2], k1 = got[2 * r], p0 = got[2 * r - 1], p1 = got[2 * r + 1];
        ASSERT_TRUE(k0 < k1 || (k0 == k1 && p0 < p1)) << "record " << r;
    }
}

TEST_F(BlockSort, AgreesWithTheStandardSort) {
    std::mt19937 rng(11);
    for (bool stable : {false, true}) {
        for (size_t n : {1u, 2u, 17u, 1000u}) {
            std::vector<int32_t> values(n);
            for (auto& v : values) v = static_cast<int32_t>(rng() % 50) - 25;
            const Cell s = of_ints(values);
            sort(s, {.stable = stable});
            std::sort(values.begin(), values.end());
            EXPECT_EQ(ints(s), values) << n << (stable ? " stable" : " fast");
        }
    }
}

// Blocks whose compared cells are all integers, or all texts of one type, take comparators of
// their own; what they give must be what the general comparator gives. Texts come in every unit
// width, at heads past their first unit, with case variants and shared prefixes.
TEST_F(BlockSort, KeyedPathsAgreeWithTheGeneralComparator) {
    std::mt19937 rng(5);
    const char32_t alphabet[] = {U'a', U'A', U'b', U'B', U'\u00E9', U'\u00C9', U'\u03B1', U'\u0391', U'\U0001F600'};
    auto text_cell = [&](TypeId type) {
        const uint32_t length = rng() % 4, head = rng() % 2;
        uint32_t unit = 1u << (rng() % 3);
        std::u32string cps;
        for (uint32_t k = 0; k < length + head; ++k) cps += alphabet[rng() % std::size(alphabet)];
        for (const char32_t c : cps) unit = std::max(unit, string::in_place_unit(c));
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(cps.size()) + 1, unit);
        for (const char32_t c : cps) series::store_unit(series::reserve_tail(node, unit), unit, c);
        return cell::series(type, node, head);
    };
    auto check = [&](const Cell& s, const SortOptions& o, uint32_t n, uint32_t offset, const char* what) {
        const NodeId node = cell::series_node(s);
        std::vector<Cell> before(block::length(s));
        for (size_t k = 0; k < before.size(); ++k) before[k] = block::abs_at(s, static_cast<uint32_t>(k));
        std::vector<std::vector<Cell>> expected;
        for (size_t r = 0; r < before.size() / n; ++r)
            expected.emplace_back(before.begin() + r * n, before.begin() + (r + 1) * n);
        const int32_t op = o.case_sensitive ? op_sort_case : op_sort;
        const uint32_t flags = (o.reverse ? 1u : 0u) | offset << 2;
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
            return block::sort_compare(x.data(), y.data(), reinterpret_cast<void*>(intptr_t{op}),
                                       reinterpret_cast<void*>(uintptr_t{flags})) < 0;
        });
        sort(s, o);
        for (size_t r = 0; r < expected.size(); ++r) {
            const Cell* got = memory::buffer(node)->cells() + r * n;
            if (o.stable) {
                ASSERT_EQ(std::memcmp(got, expected[r].data(), n * sizeof(Cell)), 0) << what << " record " << r;
                continue;
            }
            // Ties may land in any order without /stable; the compared cells must still tie.
            ASSERT_EQ(block::sort_compare(got, expected[r].data(), reinterpret_cast<void*>(intptr_t{op}),
                                          reinterpret_cast<void*>(uintptr_t{offset << 2})),
                      0)
                << what << " record " << r;
        }
    };
    for (const TypeId type : {TypeId::integer, TypeId::string, TypeId::file}) {
        for (const uint32_t n : {1u, 3u}) {
            for (int variant = 0; variant < 8; ++variant) {
                const bool stable = variant & 1, reverse = variant & 2, case_sensitive = variant & 4;
                const uint32_t records = 300, offset = n == 1 ? 0 : 1;
                const NodeId node = memory::alloc_cells(records * n);
                for (uint32_t r = 0; r < records; ++r) {
                    for (uint32_t k = 0; k < n; ++k) {
                        // Integers near 0 with a few at the extremes, where a subtracting comparator
                        // would overflow.
                        const uint32_t roll = rng() % 50;
                        const int32_t v = roll == 0   ? std::numeric_limits<int32_t>::min()
                                          : roll == 1 ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(rng() % 40) - 20;
                        const Cell c = k != offset               ? i(static_cast<int32_t>(r))
                                       : type == TypeId::integer ? i(v)
                                                                 : text_cell(type);
                        series::append_cell(node, c);
                    }
                }
                const Cell s = cell::series(TypeId::block, node), skip = i(static_cast<int32_t>(n)),
                           field = i(static_cast<int32_t>(offset + 1));
                SortOptions o{};
                o.case_sensitive = case_sensitive;
                o.reverse = reverse;
                o.stable = stable;
                o.skip = n > 1 ? &skip : nullptr;
                o.compare = n > 1 ? &field : nullptr;
                const std::string what = std::string(type == TypeId::integer ? "integers" : "texts") + " n " +
                                         std::to_string(n) + " variant " + std::to_string(variant);
                check(s, o, n, offset, what.c_str());
            }
        }
    }
    // One cell of another type sends the whole sort down the general path: texts before integers.
    const Cell mixed = block_of({str("b"), i(1), str("a")});
    sort(mixed);
    EXPECT_EQ(whole(mixed), "[\"a\" \"b\" 1]");
}

// The refinement arguments the sort native refuses before the action sees them.
TEST_F(BlockSort, RefusesBadRefinements) {
    const Cell s = block_of({i(3), i(1), i(2)});
    const Cell text = str("x");
    EXPECT_EQ(raised([&] { sort(s, {.skip = &text}); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(raised([&] { sort(s, {.compare = &text}); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(whole(s), "[3 1 2]");
}

TEST_F(BlockSort, ComparatorFlags) {
    // Two records of two cells: [1 9] and [1 2].
    const Cell x[] = {i(1), i(9)}, y[] = {i(1), i(2)};
    auto compare = [&](uint32_t flags) {
        return block::sort_compare(x, y, reinterpret_cast<void*>(intptr_t{op_sort}),
                                   reinterpret_cast<void*>(uintptr_t{flags}));
    };
    EXPECT_EQ(compare(0), 0);                  // first cells only
    EXPECT_GT(compare(1u << 2), 0);            // the cell at offset 1
    EXPECT_GT(compare(2 | (2u << 2)), 0);      // both cells
    EXPECT_LT(compare(1 | 2 | (2u << 2)), 0);  // both cells, records swapped
}

// ---- set operations ------------------------------------------------------------------------------

// The arguments the set natives refuse before the operation sees them.
TEST_F(BlockSet, RefusesBadArguments) {
    const Cell s = block_of({a()}), text = str("x"), one = i(1);
    EXPECT_EQ(raised([&] { block::set_operation(block::set_unique, s, nullptr, false, &text); }),
              ErrorId::invalid_refine_arg);
    EXPECT_EQ(raised([&] { block::set_operation(block::set_union, s, &one, false, nullptr); }), ErrorId::invalid_arg);
    EXPECT_EQ(raised([&] { block::set_operation(block::set_union, one, &s, false, nullptr); }), ErrorId::invalid_arg);
}

}  // namespace
}  // namespace zub
