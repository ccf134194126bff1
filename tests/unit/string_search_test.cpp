// string!'s searching and editing actions over 1-, 2- and 4-byte units: what find and select do
// that the language does not reach, widening, collections while forming, long texts in the set
// operations. The cases of find, select, append, insert, change, swap, trim, sort and the set
// operations are in tests/lang/find.zub and strings.zub.
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

constexpr uint32_t kUnits[] = {1, 2, 4};

class TextTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        stack::init();
    }

    // A text value holding the code points, in units of at least `unit` bytes, head at `head`.
    static Cell text(std::u32string_view cps, uint32_t unit = 1, uint32_t head = 0, TypeId type = TypeId::string) {
        for (const char32_t c : cps) unit = std::max(unit, string::in_place_unit(c));
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(cps.size()) + 1, unit);
        for (const char32_t c : cps) series::store_unit(series::reserve_tail(node, unit), unit, c);
        Cell v = cell::series(type, node);
        v.w1 = head;
        return v;
    }
    static std::u32string points(const Cell& value) {
        const NodeId node = cell::series_node(value);
        std::u32string out;
        for (uint32_t i = cell::series_index(value); i < series::length(node); ++i)
            out += static_cast<char32_t>(string::char_at(node, i));
        return out;
    }
    static std::u32string all(const Cell& value) {
        Cell v = value;
        v.w1 = 0;
        return points(v);
    }
    static uint32_t unit(const Cell& value) { return string::unit_of(cell::series_node(value)); }
    static Cell bitset(std::initializer_list<uint8_t> bytes, bool complement = false) {
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(bytes.size()) + 1, 1);
        for (const uint8_t b : bytes) series::append_byte(node, b);
        if (complement) memory::buffer(node)->flags |= series_flag::complement;
        return cell::series(TypeId::bitset, node);
    }
};

std::string show(const std::u32string& s) {
    std::string out;
    for (const char32_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "<" + std::to_string(static_cast<uint32_t>(c)) + ">";
        }
    }
    return out;
}

// ---- find and select ----------------------------------------------------------------------------

class StringSearch : public TextTest {};

// The /with argument the find native refuses before the action sees it.
TEST_F(StringSearch, WildcardsRefuseANonTextWith) {
    const Cell s = text(U"abc"), p = text(U"b*"), bad = cell::integer(1);
    FindOptions o{};
    o.any = true;
    o.with = &bad;
    EXPECT_EQ(raised([&] { string::find(s, p, o); }), ErrorId::invalid_refine_arg);
}

// Bitsets, which have no literal in the language yet, do not fold.
TEST_F(StringSearch, BitsetsDoNotFold) {
    for (const uint32_t u : kUnits) {
        const Cell s = text(U"xyABab", u);
        FindOptions o{};
        // Bit 61h ('a') is bit 1 of byte 12 (most significant first).
        const Cell bits = bitset({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40});
        EXPECT_EQ(cell::series_index(string::find(s, bits, o)), 4u) << u;
        o.last = true;
        EXPECT_EQ(cell::series_index(string::find(s, bits, o)), 4u) << u;
        o = FindOptions{};
        o.tail = true;
        EXPECT_EQ(cell::series_index(string::find(s, bits, o)), 5u) << u;
        // Beyond its bytes a bitset answers its complement flag.
        EXPECT_TRUE(cell::is(string::find(text(U"\u0100", u), bitset({0}), FindOptions{}), TypeId::none));
        const Cell inverted = bitset({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true);
        EXPECT_EQ(cell::series_index(string::find(text(U"a\u0100", u), inverted, FindOptions{})), 1u);
    }
}

// binary! has no literal in the language yet.
TEST_F(StringSearch, RefusesBinary) {
    const Cell bytes = text(U"a", 1, 0, TypeId::binary);
    EXPECT_EQ(raised([&] { string::find(text(U"abc"), bytes, FindOptions{}); }), ErrorId::invalid_arg);
}

TEST_F(StringSearch, LargeTextFindsTheLastCandidateOnly) {
    std::u32string big(200000, U'a');
    big += U"ab";
    for (const uint32_t u : kUnits) {
        const Cell s = text(big, u);
        FindOptions o{};
        EXPECT_EQ(cell::series_index(string::find(s, text(U"ab"), o)), 200000u);
        o.case_sensitive = true;
        EXPECT_EQ(cell::series_index(string::find(s, text(U"aab"), o)), 199999u);
        EXPECT_TRUE(cell::is(string::find(s, text(U"abb"), o), TypeId::none));
    }
}

// select's native has no /tail, which the action ignores; binary! has no literal yet.
TEST_F(StringSearch, SelectIgnoresTailAndGivesBytes) {
    FindOptions o{};
    o.tail = true;
    EXPECT_EQ(string::select(text(U"abcab"), cell::character('a'), o).w2, U'b');
    const Cell bytes = text(U"\x01\x02", 1, 0, TypeId::binary);
    const Cell r = string::select(bytes, cell::integer(1), FindOptions{});
    ASSERT_TRUE(cell::is(r, TypeId::integer));
    EXPECT_EQ(cell::as_integer(r), 2);
}

// ---- append, insert, change ---------------------------------------------------------------------

class StringModify : public TextTest {
  protected:
    static InsertOptions opts(int32_t part = -1, bool only = false, int32_t dup = 1) { return {part, only, dup}; }
};

// A /part on a value that is no series counts its formed text; the append native refuses it.
TEST_F(StringModify, AppendPartOfANumber) {
    for (const uint32_t u : kUnits) {
        const Cell s = text(U"a", u);
        string::append(s, cell::integer(4567), opts(2));
        EXPECT_EQ(all(s), U"a45") << u;
    }
}

TEST_F(StringModify, CharactersWidenByTheAppendRule) {
    Cell s = text(U"ab");
    string::append(s, cell::character(0xE9), opts());
    EXPECT_EQ(unit(s), 2u);
    EXPECT_EQ(all(s), U"ab\u00E9");
    s = text(U"ab");
    string::insert(s, cell::character(0xE9), opts());
    EXPECT_EQ(unit(s), 2u);
    EXPECT_EQ(all(s), U"\u00E9ab");
    s = text(U"ab");
    string::append(s, cell::character(0x1F600), opts());
    EXPECT_EQ(unit(s), 4u);
    s = text(U"ab");
    string::append(s, text(U"\u00E9"), opts());  // text keeps its own unit
    EXPECT_EQ(unit(s), 1u);
    EXPECT_EQ(all(s), U"ab\u00E9");
}

TEST_F(StringModify, OversizedResultsRaiseNoMemoryAndChangeNothing) {
    const Cell s = text(U"abcd");
    EXPECT_EQ(raised([&] { string::append(s, text(U"wxyz"), opts(-1, false, 0x7FFFFFFF)); }), ErrorId::no_memory);
    EXPECT_EQ(all(s), U"abcd");
    EXPECT_EQ(raised([&] { string::insert(s, text(U"\u0101xyz"), opts(-1, false, 0x7FFFFFFF)); }), ErrorId::no_memory);
    EXPECT_EQ(all(s), U"abcd");
}

// The swap native refuses a non-series first; swapping in a wider character widens the target.
TEST_F(StringModify, SwapRefusesAValueAndWidens) {
    EXPECT_EQ(raised([&] { string::swap(text(U"abc"), cell::integer(1)); }), ErrorId::invalid_arg);
    const Cell narrow = text(U"ab"), wide = text(U"\u0101");
    string::swap(narrow, wide);
    EXPECT_EQ(unit(narrow), 2u);
}

// Forming a block's values allocates at every step; with the collector on, the target, the
// scratch text and the block move under the append, which must re-derive every pointer.
TEST_F(StringModify, AppendSurvivesCollectionsWhileForming) {
    std::vector<Cell> numbers;
    for (int i = 0; i < 2000; ++i) numbers.push_back(cell::integer(i % 10));
    const NodeId block = memory::alloc_cells(static_cast<uint32_t>(numbers.size()));
    for (const Cell& c : numbers) series::append_cell(block, c);
    const Cell* kept_block = stack::push(cell::series(TypeId::block, block));
    const Cell* kept_text = stack::push(text(U"\u0101", 2));
    collector::g_state.enabled = true;
    collector::g_state.eager = true;  // collections inside the allocations, as the comment says
    const uint32_t cycles = collector::g_state.cycles;
    for (int round = 0; round < 60; ++round) {
        string::append(*kept_text, *kept_block, InsertOptions{-1, false, 1});
        string::insert(*kept_text, cell::integer(round % 10), InsertOptions{-1, false, 1});
        const Cell found = string::find(*kept_text, cell::integer(789), FindOptions{});
        ASSERT_TRUE(cell::is(found, TypeId::string));
        EXPECT_EQ(cell::series_index(found),
                  static_cast<uint32_t>(round + 9));  // past the digits inserted and the first
    }
    collector::g_state.enabled = false;
    EXPECT_GT(collector::g_state.cycles, cycles);
    const std::u32string all_text = all(*kept_text);
    ASSERT_EQ(all_text.size(), 1u + 60u + 60u * 2000u);
    EXPECT_EQ(all_text[60], U'\u0101');
    for (size_t i = 61; i < all_text.size(); ++i) ASSERT_EQ(all_text[i], U'0' + (i - 61) % 10) << i;
}

// ---- trim ---------------------------------------------------------------------------------------

// ---- sort ---------------------------------------------------------------------------------------

class StringSort : public TextTest {};

// The comparator argument the sort native refuses before the action sees it.
TEST_F(StringSort, RefusesATextComparator) {
    const Cell s = text(U"abcd");
    EXPECT_EQ(raised([&] { string::sort(s, SortOptions{.compare = &s}); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(all(s), U"abcd");
}

// ---- set operations -----------------------------------------------------------------------------

class StringSet : public TextTest {};

// Long texts are indexed instead of searched; the answers must be those of the plain search: a
// reference written straight from the rules (first characters of records, looked up at the
// record starts of the other text and of the result) over random texts of mixed widths, lengths
// that do not divide into records included.
TEST_F(StringSet, LongTextsAnswerAsTheLinearSearchDoes) {
    using string::SetOp;
    std::mt19937 rng(3);
    // Enough characters (case pairs in every width among them) that records keep arriving.
    std::vector<char32_t> alphabet;
    for (char32_t c = U'A'; c <= U'z'; ++c) alphabet.push_back(c);
    for (char32_t c = 0xC0; c <= 0xFF; ++c) alphabet.push_back(c);
    for (char32_t c = 0x391; c <= 0x3C9; ++c) alphabet.push_back(c);
    for (char32_t c = 0x10400; c <= 0x1044F; ++c) alphabet.push_back(c);
    for (char32_t c = 0x4E00; c <= 0x4FFF; ++c) alphabet.push_back(c);
    auto random_text = [&](size_t n) {
        std::u32string t;
        for (size_t k = 0; k < n; ++k) t += alphabet[rng() % alphabet.size()];
        return t;
    };
    auto fold = [](char32_t c) { return static_cast<char32_t>(unicode::to_lower(c)); };
    auto has = [&](const std::u32string& t, char32_t cp, size_t step, bool cs) {
        for (size_t k = 0; k < t.size(); k += step)
            if (t[k] == cp || (!cs && fold(t[k]) == fold(cp))) return true;
        return false;
    };
    auto reference = [&](SetOp op, const std::u32string& a, const std::u32string& b, bool cs, size_t step) {
        std::u32string out;
        auto pass = [&](const std::u32string& from, const std::u32string& other) {
            for (size_t k = 0; k < from.size(); k += step) {
                const bool found = has(other, from[k], step, cs);
                if ((op == SetOp::intersect && !found) || ((op == SetOp::exclude || op == SetOp::difference) && found))
                    continue;
                if (!has(out, from[k], step, cs)) out += from.substr(k, step);
            }
        };
        pass(a, b);
        if (op == SetOp::union_ || op == SetOp::difference) pass(b, a);
        return out;
    };
    for (const uint32_t u : kUnits) {
        for (const SetOp op : {SetOp::unique, SetOp::union_, SetOp::intersect, SetOp::exclude, SetOp::difference}) {
            for (const size_t step : {1u, 2u, 3u}) {
                for (const bool cs : {false, true}) {
                    const std::u32string a = random_text(700 + rng() % 5), b = random_text(300 + rng() % 5);
                    const Cell r = string::set_operation(op, text(a, u), text(b, u), cs, static_cast<int32_t>(step));
                    EXPECT_EQ(show(points(r)), show(reference(op, a, b, cs, step)))
                        << "unit " << u << " op " << static_cast<int>(op) << " step " << step << " case " << cs;
                }
            }
        }
    }
}

TEST_F(StringSet, HasCharStepsFromTheHead) {
    for (const uint32_t u : kUnits) {
        const Cell s = text(U"xaAb", u, 1);
        EXPECT_TRUE(string::has_char(s, 'A', 1, false));
        EXPECT_TRUE(string::has_char(s, 'A', 1, true));
        EXPECT_FALSE(string::has_char(s, 'A', 2, true));
        EXPECT_TRUE(string::has_char(s, 'b', 2, true));
        EXPECT_FALSE(string::has_char(s, 'x', 1, false));
    }
}

}  // namespace
}  // namespace zub
