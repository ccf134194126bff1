// block!: mold and form layout (new-line markers, indentation, flags, budgets, cycles), comparison,
// append/insert/change, copy, take, trim, swap, make and to, path steps, and the primitives.
#include <functional>
#include <tuple>
#include <vector>

#include "datatypes/typeset.h"
#include "evaluator/actions.h"
#include "datatypes/ownership.h"
#include "tests/unit/block_fixture.h"

namespace zub {
namespace {

class Block : public BlockTest {
  protected:
    Cell a() { return word("a"); }
    Cell b() { return word("b"); }
    Cell c() { return word("c"); }

    // A block nested `depth` times around an empty one.
    static Cell nested(uint32_t depth) {
        Cell inner = block_of({});
        for (uint32_t k = 0; k < depth; ++k) inner = block_of({inner});
        return inner;
    }
    // A block holding itself after its other values.
    static Cell holding_itself(std::initializer_list<Cell> cells, TypeId type = TypeId::block) {
        const Cell blk = block_of(cells, type);
        series::append_cell(blk.w2, blk);
        return blk;
    }
    static InsertOptions plain() { return InsertOptions{-1, false, 1}; }
};

// ---- mold and form -------------------------------------------------------------------------------

TEST_F(Block, MoldLayout) {
    struct Case { Cell value; MoldFlags flags; const char* mold; };
    const MoldFlags none{}, only{true, false, false, 0}, all{false, true, false, 0}, flat{false, false, true, 0};
    const Case cases[] = {
        {block_of({}), none, "[]"},
        {block_of({i(1), i(2), i(3)}), none, "[1 2 3]"},
        {block_of({a(), block_of({b(), c()}), block_of({})}), none, "[a [b c] []]"},
        {block_of({word("x", TypeId::set_word), word("y", TypeId::lit_word), word("z", TypeId::get_word)}), none,
         "[x: 'y :z]"},
        {block_of({block_of({a()}, TypeId::paren), block_of({a(), b()}, TypeId::path)}), none, "[(a) a/b]"},
        {block_of({a(), b()}, TypeId::paren), none, "(a b)"},
        // A marked first value indents the body and puts the closing bracket on its own line.
        {block_of({nl(a()), nl(b())}), none, "[\n    a\n    b\n]"},
        {block_of({nl(a()), b()}), none, "[\n    a b\n]"},
        // A later marker only breaks the line at the current level.
        {block_of({a(), nl(b())}), none, "[a\nb]"},
        {block_of({nl(a()), block_of({nl(b())})}), none, "[\n    a [\n        b\n    ]\n]"},
        {block_of({a(), block_of({nl(b()), nl(c())})}), none, "[a [\n    b\n    c\n]]"},
        {block_of({a(), block_of({b(), nl(c())})}), none, "[a [b\nc]]"},
        {block_of({nl(a())}, TypeId::paren), none, "(\n    a\n)"},
        // /only: no brackets, no line feed before a marked first value and no extra level.
        {block_of({nl(a()), nl(b())}), only, "a\nb"},
        {block_of({a(), block_of({b()})}), only, "a [b]"},
        {block_of({a(), b()}, TypeId::paren), only, "a b"},
        {block_of({block_of({nl(a())})}), only, "[\n    a\n]"},
        // /flat ignores every marker, nested ones too.
        {block_of({nl(a()), block_of({nl(b()), nl(c())})}), flat, "[a [b c]]"},
        // /all reaches the nested values.
        {block_of({cell::logic(true), block_of({cell::none()})}), all, "[#(true) [#(none)]]"},
        {block_of({cell::logic(true), cell::none()}), none, "[true none]"},
        {block_of({nl(str("a")), str("b"), block_of({str("")})}), none, "[\n    \"a\" \"b\" [\"\"]\n]"},
    };
    for (const Case& k : cases) EXPECT_EQ(mold(k.value, k.flags), k.mold);
}

TEST_F(Block, MoldFromTheHead) {
    const Cell blk = block_of({a(), nl(b()), c()});
    EXPECT_EQ(mold(at(blk, 1)), "[\n    b c\n]");  // the head's marker counts as a first value's
    EXPECT_EQ(mold(at(blk, 3)), "[]");
    EXPECT_EQ(mold(at(blk, 9)), "[]");  // past the tail
}

TEST_F(Block, MoldIndentFollowsTheLevelReceived) {
    const Cell blk = block_of({nl(a())});
    EXPECT_EQ(mold(blk, MoldFlags{false, false, false, 2}), "[\n            a\n        ]");
}

// Cut to any limit, the text is the start of the whole mold, and the budget matches the text.
TEST_F(Block, MoldAndFormCutAtEveryLimit) {
    const Cell values[] = {
        block_of({i(10), block_of({nl(a()), b()}), nl(c()), block_of({}, TypeId::paren)}),
        block_of({nl(block_of({nl(i(1)), i(22)})), nl(i(333))}),
        block_of({a(), block_of({b(), c()}, TypeId::path), cell::none()}),
    };
    for (const Cell& v : values) {
        const std::string full = mold(v);
        const std::string full_form = form(v);
        for (int32_t limit = 1; limit <= static_cast<int32_t>(full.size()) + 1; ++limit) {
            EXPECT_EQ(mold(v, {}, limit).substr(0, limit), full.substr(0, limit)) << full << " " << limit;
            EXPECT_EQ(form(v, limit).substr(0, limit), full_form.substr(0, limit)) << full_form << " " << limit;
        }
    }
}

TEST_F(Block, MoldStopsSoonAfterTheLimit) {
    const NodeId node = memory::alloc_cells(100000);
    for (int32_t k = 0; k < 100000; ++k) series::append_cell(node, i(k));
    const Cell big = cell::series(TypeId::block, node);
    EXPECT_LT(mold(big, {}, 10).size(), 20u);
    EXPECT_LT(form(big, 10).size(), 20u);
}

TEST_F(Block, Form) {
    struct Case { Cell value; const char* form; };
    const Case cases[] = {
        {block_of({}), ""},
        {block_of({a(), b(), c()}), "a b c"},
        {block_of({a(), block_of({b(), c()}), block_of({}, TypeId::paren)}), "a b c "},
        {block_of({nl(a()), nl(b())}), "a b"},  // markers mean nothing to form
        {block_of({word("x", TypeId::set_word), cell::logic(false), i(-4)}), "x false -4"},
        // No space after a value whose text ends a line or in a tab.
        {block_of({cell::character('\n'), a()}), "\na"},
        {block_of({a(), cell::character('\t'), b(), cell::character('\r')}), "a \tb \r"},
        {block_of({str("ab\n"), str("c"), str("d")}), "ab\nc d"},
        {block_of({str(""), str("c")}), " c"},
    };
    for (const Case& k : cases) EXPECT_EQ(form(k.value), k.form);
}

TEST_F(Block, CyclesMoldAndFormAMarker) {
    struct Case { Cell value; const char* mold; const char* form; };
    const Cell outer = block_of({a()});
    const Cell inner = block_of({outer}, TypeId::paren);
    series::append_cell(outer.w2, inner);
    const Case cases[] = {
        {holding_itself({a()}), "[a [...]]", "a ..."},
        {holding_itself({}), "[[...]]", "..."},
        {holding_itself({a()}, TypeId::paren), "(a (...))", "a ..."},
        {outer, "[a ([...])]", "a ..."},
        {inner, "([a (...)])", "a ..."},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(mold(k.value), k.mold);
        EXPECT_EQ(form(k.value), k.form);
    }
}

TEST_F(Block, DeepNestingIsAnErrorNotACrash) {
    const Cell shallow = nested(900);
    EXPECT_EQ(mold(shallow).size(), 2u * 901);
    const Cell deep = nested(5000);
    const NodeId out = series::alloc_with_unit(16, 1);
    EXPECT_EQ(raised([&] { row(deep).mold(deep, out, {}, kNoLimit); }), ErrorId::too_deep);
    EXPECT_EQ(raised([&] { row(deep).form(deep, out, kNoLimit); }), ErrorId::too_deep);
    EXPECT_EQ(raised([&] { row(deep).compare(deep, nested(5000), op_equal); }), ErrorId::too_deep);
    EXPECT_EQ(raised([&] { row(deep).copy(deep, CopyOptions{nullptr, true, nullptr}); }), ErrorId::too_deep);
    EXPECT_EQ(mold(shallow).size(), 2u * 901);  // the guard is usable again
}

// ---- compare -------------------------------------------------------------------------------------

TEST_F(Block, Compare) {
    const Cell x = block_of({i(1), i(2)});
    const Cell self_a = holding_itself({i(1)}), self_b = holding_itself({i(1)});
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {block_of({}), block_of({i(1)}), op_lesser, -1},
        {block_of({i(1)}), block_of({}), op_lesser, 1},
        {block_of({}), block_of({i(1)}), op_equal, 1},  // lengths differ: unequal
        {block_of({}), block_of({}), op_equal, 0},
        {x, block_of({i(1), i(2)}), op_equal, 0},
        {x, block_of({i(1), i(3)}), op_lesser, -1},
        {x, block_of({i(1), i(2), i(0)}), op_lesser, -1},  // a shorter remainder is smaller
        {x, block_of({i(1), i(2), i(0)}), op_equal, 1},
        {at(block_of({i(0), i(1), i(2)}), 1), x, op_equal, 0},  // from the heads
        {block_of({a()}), block_of({word("A")}), op_equal, 0},
        {block_of({a()}), block_of({word("A")}), op_strict_equal, 1},
        {block_of({a()}), block_of({word("a", TypeId::set_word)}), op_equal, 0},  // any-words compare
        {block_of({i(1)}), block_of({cell::floating(1.0)}), op_equal, 0},       // numbers compare
        {block_of({i(1)}), block_of({a()}), op_lesser, -1},  // other pairs: by type id
        {block_of({a()}), block_of({i(1)}), op_lesser, 1},
        {block_of({block_of({i(1), i(2)}), i(3)}), block_of({block_of({i(1), i(2)}), i(3)}), op_equal, 0},
        {block_of({block_of({i(1), i(2)})}), block_of({block_of({i(1), i(3)})}), op_lesser, -1},
        {block_of({a()}), block_of({a()}, TypeId::paren), op_equal, kNotComparable},
        {block_of({a()}, TypeId::path), block_of({a()}, TypeId::lit_path), op_equal, kNotComparable},
        {block_of({a()}, TypeId::path), block_of({a()}, TypeId::lit_path), op_equal_word, 0},
        {block_of({a()}, TypeId::lit_path), block_of({a()}, TypeId::path), op_equal_canonical, 0},
        {x, x, op_same, 0},
        {x, at(x, 1), op_same, -1},
        {x, block_of({i(1), i(2)}), op_same, -1},
        {x, x, op_lesser, 0},
        {self_a, self_b, op_equal, 0},  // both cycles end at once
        {block_of({str("a")}), block_of({str("A")}), op_equal, 0},
        {block_of({str("a")}), block_of({str("A")}), op_strict_equal, 1},
        {block_of({str("a")}), block_of({str("b")}), op_lesser, -1},
        {block_of({cell::logic(true)}), block_of({cell::logic(false)}), op_lesser, kNotComparable},
    };
    for (const Case& k : cases) EXPECT_EQ(row(k.a).compare(k.a, k.b, k.op), k.answer) << mold(k.a) << " " << mold(k.b);
}

TEST_F(Block, CompareThroughTheEntry) {
    EXPECT_TRUE(actions::compare(block_of({i(1)}), block_of({i(1)}), op_equal));
    EXPECT_FALSE(actions::compare(block_of({i(1)}), block_of({i(1)}, TypeId::paren), op_equal));
    EXPECT_TRUE(actions::compare(block_of({}), block_of({i(1)}), op_lesser));
    EXPECT_EQ(raised([&] { actions::compare(block_of({cell::logic(true)}), block_of({cell::logic(false)}), op_lesser); }),
              ErrorId::invalid_compare);
}

// ---- append, insert, change ----------------------------------------------------------------------

TEST_F(Block, AppendInsertChange) {
    enum Kind { append, insert, change };
    struct Case {
        Kind kind;
        std::function<Cell()> target;  // made fresh for each case
        std::function<Cell()> value;
        InsertOptions options;
        const char* whole;  // the target's buffer afterwards
        uint32_t index;     // of the result
    };
    const auto one_two = [] { return block_of({i(1), i(2)}); };
    const auto one_to_four = [] { return block_of({i(1), i(2), i(3), i(4)}); };
    const auto ab = [this] { return block_of({a(), b()}); };
    const auto zero = [] { return i(0); };
    const InsertOptions o = plain();
    const Case cases[] = {
        {append, one_two, zero, o, "[1 2 0]", 0},
        {append, [&] { return at(one_two(), 1); }, zero, o, "[1 2 0]", 0},  // the head is the result
        {append, one_two, ab, o, "[1 2 a b]", 0},
        {append, one_two, ab, {-1, true, 1}, "[1 2 [a b]]", 0},
        {append, one_two, ab, {1, false, 1}, "[1 2 a]", 0},
        {append, one_two, ab, {5, false, 1}, "[1 2 a b]", 0},  // a part beyond the value is ignored
        {append, one_two, ab, {0, false, 1}, "[1 2]", 0},
        {append, one_two, zero, {-1, false, 3}, "[1 2 0 0 0]", 0},
        {append, one_two, ab, {-1, false, 3}, "[1 2 a b a b a b]", 0},
        {append, one_two, ab, {1, false, 2}, "[1 2 a a]", 0},
        {append, one_two, [] { return block_of({}); }, o, "[1 2]", 0},
        {append, one_two, [this] { return at(block_of({a(), b()}), 5); }, o, "[1 2]", 0},
        {append, one_two, [this] { return block_of({a()}, TypeId::paren); }, o, "[1 2 a]", 0},
        {insert, one_two, zero, o, "[0 1 2]", 1},
        {insert, [&] { return at(one_two(), 1); }, ab, o, "[1 a b 2]", 3},
        {insert, [&] { return at(one_two(), 2); }, ab, o, "[1 2 a b]", 4},
        {insert, [&] { return at(one_two(), 7); }, zero, o, "[1 2 0]", 3},  // past the tail: at it
        {insert, one_two, zero, {-1, false, 3}, "[0 0 0 1 2]", 3},
        {insert, one_two, ab, {-1, true, 2}, "[[a b] [a b] 1 2]", 2},
        {insert, one_two, ab, {1, false, 1}, "[a 1 2]", 1},
        {change, one_to_four, ab, o, "[a b 3 4]", 2},
        {change, one_to_four, ab, {1, false, 1}, "[a b 2 3 4]", 2},  // replaces one, writes two
        {change, one_to_four, ab, {3, false, 1}, "[a b 4]", 2},
        {change, one_to_four, ab, {9, false, 1}, "[a b]", 2},
        {change, one_two, [&] { return one_to_four(); }, o, "[1 2 3 4]", 4},
        {change, [&] { return at(one_to_four(), 1); }, zero, o, "[1 0 3 4]", 2},
        {change, one_to_four, zero, {-1, false, 2}, "[0 0 3 4]", 2},
        {change, one_to_four, ab, {-1, true, 1}, "[[a b] 2 3 4]", 1},
        {change, one_to_four, [] { return block_of({}); }, {2, false, 1}, "[3 4]", 0},
        {change, [&] { return at(one_two(), 2); }, zero, o, "[1 2 0]", 3},
        {change, [&] { return at(one_two(), 1); }, ab, {-1, false, 2}, "[1 a b a b]", 5},
    };
    for (const Case& k : cases) {
        const Cell target = k.target();
        const Cell value = k.value();
        const ActionTable& r = row(target);
        const Cell result = (k.kind == append ? r.append : k.kind == insert ? r.insert : r.change)(target, value, k.options);
        EXPECT_EQ(whole(target), k.whole) << k.kind << " " << mold(value);
        EXPECT_EQ(result.w2, target.w2);
        EXPECT_EQ(result.w1, k.index) << k.kind << " " << k.whole;
    }
}

TEST_F(Block, ABlockWrittenIntoItself) {
    struct Case {
        const char* action;
        uint32_t target_index, value_index;
        int32_t part;
        const char* whole;
    };
    const Case cases[] = {
        {"append", 0, 0, -1, "[1 2 3 1 2 3]"}, {"append", 0, 2, -1, "[1 2 3 3]"},
        {"insert", 0, 0, -1, "[1 2 3 1 2 3]"}, {"insert", 1, 0, -1, "[1 1 2 3 2 3]"},
        {"insert", 2, 1, -1, "[1 2 2 3 3]"},   {"insert", 3, 0, -1, "[1 2 3 1 2 3]"},
        {"insert", 0, 1, -1, "[2 3 1 2 3]"},   {"insert", 1, 1, 1, "[1 2 2 3]"},
        {"change", 0, 1, -1, "[2 3 3]"},       {"change", 1, 0, -1, "[1 1 2 3]"},
        {"change", 0, 0, -1, "[1 2 3]"},       {"change", 2, 0, -1, "[1 2 1 2 3]"},
        {"change", 0, 1, 1, "[2 3 2 3]"},      {"change", 1, 0, 0, "[1 1 2 3 2 3]"},
        {"change", 0, 2, 3, "[3]"},
    };
    for (const Case& k : cases) {
        const Cell blk = block_of({i(1), i(2), i(3)});
        const ActionTable& r = row(blk);
        const std::string action = k.action;
        const auto fn = action == "append" ? r.append : action == "insert" ? r.insert : r.change;
        fn(at(blk, k.target_index), at(blk, k.value_index), InsertOptions{k.part, false, 1});
        EXPECT_EQ(whole(blk), k.whole) << k.action << " " << k.target_index << " " << k.value_index;
    }
}

TEST_F(Block, AppendGrowsByDoubling) {
    const Cell blk = block::make(1);
    uint32_t moves = 0;  // growth by doubling moves the buffer a logarithmic number of times
    for (int32_t k = 0; k < 5000; ++k) {
        const SeriesBuffer* before = memory::buffer(blk.w2);
        row(blk).append(blk, i(k), plain());
        moves += memory::buffer(blk.w2) != before;
    }
    EXPECT_LT(moves, 20u);
    ASSERT_EQ(block::length(blk), 5000u);
    for (uint32_t k = 0; k < 5000; ++k) ASSERT_EQ(cell::as_integer(block::abs_at(blk, k)), static_cast<int32_t>(k));
    EXPECT_LE(memory::buffer(blk.w2)->size, 2u * 5000 * sizeof(Cell));

    const Cell many = block::make(1);
    row(many).append(many, i(7), InsertOptions{-1, false, 1000});
    ASSERT_EQ(block::length(many), 1000u);
    for (uint32_t k = 0; k < 1000; ++k) ASSERT_EQ(cell::as_integer(block::abs_at(many, k)), 7);
}

TEST_F(Block, SizesBeyondTheLimitAreRefusedUntouched) {
    const Cell blk = block_of({i(1)});
    const Cell pair = block_of({i(1), i(2)});
    struct Case { Cell value; int32_t dup; };
    const Case cases[] = {
        {i(0), 0x10000000},  // 2^28 cells
        {pair, 0x40000000},  // 2^31 cells: past 32 bits
        {pair, 0x7FFFFFFF},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(raised([&] { row(blk).append(blk, k.value, InsertOptions{-1, false, k.dup}); }), ErrorId::no_memory);
        EXPECT_EQ(raised([&] { row(blk).insert(blk, k.value, InsertOptions{-1, false, k.dup}); }), ErrorId::no_memory);
        EXPECT_EQ(raised([&] { row(blk).change(blk, k.value, InsertOptions{-1, false, k.dup}); }), ErrorId::no_memory);
        EXPECT_EQ(whole(blk), "[1]");
    }
}

// ---- owner notification --------------------------------------------------------------------------

struct Notice {
    std::string action;
    int32_t index, part;
};
std::vector<Notice> g_notices;
std::function<void(const std::string&)> g_on_notice;

class OwnedBlock : public Block {
  protected:
    void SetUp() override {
        Block::SetUp();
        ownership::init();
        g_notices.clear();
        g_on_notice = nullptr;
        ownership::set_notify([](const Cell&, const Cell&, const Cell&, Cell action, int32_t index, int32_t part) {
            const std::string word(symbol::utf8(action.w2));
            g_notices.push_back({word, index, part});
            if (g_on_notice) g_on_notice(word);
        });
    }
    void TearDown() override {
        ownership::set_notify(nullptr);
        g_on_notice = nullptr;
        Block::TearDown();
    }
    static Cell owned(Cell blk) {
        ownership::set(blk, cell::make(TypeId::object, 78, 0, 1), word("field"));
        return blk;
    }
    static std::string notices() {
        std::string s;
        for (const Notice& n : g_notices) s += n.action + " " + std::to_string(n.index) + " " + std::to_string(n.part) + ";";
        return s;
    }
};

TEST_F(OwnedBlock, ModifyingActionsNotifyBeforeAndAfter) {
    struct Case {
        std::function<void(Cell)> act;
        const char* notices;
    };
    const Case cases[] = {
        {[&](Cell t) { row(t).append(t, block_of({a(), b()}), plain()); }, "append 3 2;appended 3 2;"},
        {[&](Cell t) { row(t).insert(at(t, 1), a(), InsertOptions{-1, false, 3}); }, "insert 1 3;inserted 1 3;"},
        {[&](Cell t) { row(t).change(at(t, 1), block_of({a(), b()}), InsertOptions{1, false, 1}); },
         "change 1 1;changed 1 2;"},
        {[&](Cell t) { row(t).swap(at(t, 2), block_of({a()})); }, "swap 2 1;swaped 2 1;"},
        {[&](Cell t) { row(t).trim(at(t, 1), TrimOptions{}); }, "trim 1 0;trimmed 1 0;"},
    };
    for (const Case& k : cases) {
        g_notices.clear();
        k.act(owned(block_of({i(1), cell::none(), i(3)})));
        EXPECT_EQ(notices(), k.notices);
    }
}

TEST_F(OwnedBlock, AHandlerThatEmptiesTheBlockFirst) {
    struct Case {
        const char* before;
        std::function<Cell(Cell)> act;
        const char* whole;
        uint32_t index;  // of the result
    };
    const Case cases[] = {
        {"insert", [&](Cell t) { return row(t).insert(at(t, 2), i(9), plain()); }, "[9]", 1},
        {"append", [&](Cell t) { return row(t).append(t, i(9), plain()); }, "[9]", 0},
        {"append", [&](Cell t) { return row(t).append(t, t, plain()); }, "[]", 0},  // the value went too
        {"insert", [&](Cell t) { return row(t).insert(t, at(t, 1), plain()); }, "[]", 0},
        {"change", [&](Cell t) { return row(t).change(at(t, 1), block_of({a(), b()}), plain()); }, "[a b]", 2},
        {"swap", [&](Cell t) { return row(t).swap(t, block_of({a()})); }, "[]", 0},
        {"trim", [&](Cell t) { return row(t).trim(at(t, 1), TrimOptions{}); }, "[]", 1},
    };
    for (const Case& k : cases) {
        const Cell target = owned(block_of({i(1), cell::none(), i(3)}));
        const std::string before = k.before;
        g_on_notice = [&](const std::string& action) {
            if (action == before) block::clear(at(target, 0));
        };
        const Cell result = k.act(target);
        EXPECT_EQ(whole(target), k.whole) << k.before;
        EXPECT_EQ(result.w1, k.index) << k.before;
    }
}

// ---- copy, clone, take ---------------------------------------------------------------------------

TEST_F(Block, CopyPartKeepsTypeAndMarker) {
    const Cell blk = block_of({i(1), nl(i(2)), i(3)});
    const Cell part = i(1);
    Cell copy = row(blk).copy(at(blk, 1), CopyOptions{&part, false, nullptr});
    EXPECT_EQ(mold(copy), "[\n    2\n]");
    EXPECT_NE(copy.w2, blk.w2);
    EXPECT_EQ(copy.w1, 0u);

    for (TypeId t : {TypeId::paren, TypeId::path, TypeId::set_path}) {
        const Cell src = nl(block_of({a(), b()}, t));
        copy = row(src).copy(src, CopyOptions{});
        EXPECT_EQ(cell::type(copy), t);
        EXPECT_TRUE(cell::new_line(copy));
        EXPECT_EQ(mold(copy), mold(src));
    }
}

TEST_F(Block, CopyDeepCopiesEverySeries) {
    const Cell inner = block_of({i(2), block_of({i(3)})});
    const Cell paren = block_of({a()}, TypeId::paren);
    const Cell path = block_of({a(), b()}, TypeId::path);
    const Cell blk = block_of({i(1), nl(inner), paren, path, inner, str("s")});
    const Cell shallow = row(blk).copy(blk, CopyOptions{});
    EXPECT_EQ(block::abs_at(shallow, 1).w2, inner.w2);

    const Cell deep = row(blk).copy(blk, CopyOptions{nullptr, true, nullptr});
    EXPECT_EQ(mold(deep), mold(blk));
    for (uint32_t k = 1; k < 6; ++k) EXPECT_NE(block::abs_at(deep, k).w2, block::abs_at(blk, k).w2) << k;
    EXPECT_NE(block::abs_at(deep, 1).w2, block::abs_at(deep, 4).w2);  // each occurrence copied
    EXPECT_NE(block::abs_at(block::abs_at(deep, 1), 1).w2, block::abs_at(inner, 1).w2);
    EXPECT_TRUE(cell::new_line(block::abs_at(deep, 1)));
}

TEST_F(Block, CopyDeepOfACycleIsAnError) {
    const Cell outer = block_of({a()});
    series::append_cell(outer.w2, block_of({block_of({outer})}));
    for (const Cell& v : {holding_itself({a()}), outer, holding_itself({}, TypeId::paren)}) {
        EXPECT_EQ(raised([&] { row(v).copy(v, CopyOptions{nullptr, true, nullptr}); }), ErrorId::no_cycle);
        EXPECT_NO_THROW(row(v).copy(v, CopyOptions{}));
    }
    const Cell self = holding_itself({a()});
    const Cell types = datatype(TypeId::block);
    EXPECT_EQ(raised([&] { row(self).copy(self, CopyOptions{nullptr, true, &types}); }), ErrorId::no_cycle);
    EXPECT_NO_THROW(row(self).copy(self, CopyOptions{nullptr, false, &types}));  // one level only
}

TEST_F(Block, CopyTypes) {
    const Cell blk = block_of({block_of({block_of({i(1)})}), block_of({a()}, TypeId::paren), i(5)});
    struct Case { Cell types; bool deep; bool block_copied, paren_copied, nested_copied; };
    const Case cases[] = {
        {datatype(TypeId::block), false, true, false, false},
        {datatype(TypeId::block), true, true, false, true},
        {datatype(TypeId::paren), false, false, true, false},
        {datatype(TypeId::integer), false, false, false, false},  // not a series: never copied
        {typeset::make_of({TypeId::block, TypeId::paren}), false, true, true, false},
    };
    for (const Case& k : cases) {
        const Cell copy = row(blk).copy(blk, CopyOptions{nullptr, k.deep, &k.types});
        EXPECT_EQ(mold(copy), "[[[1]] (a) 5]");
        const Cell nested_block = block::abs_at(copy, 0);
        EXPECT_EQ(nested_block.w2 != block::abs_at(blk, 0).w2, k.block_copied);
        EXPECT_EQ(block::abs_at(copy, 1).w2 != block::abs_at(blk, 1).w2, k.paren_copied);
        EXPECT_EQ(block::abs_at(nested_block, 0).w2 != block::abs_at(block::abs_at(blk, 0), 0).w2, k.nested_copied);
    }
    const Cell word_types = a();
    EXPECT_EQ(raised([&] { row(blk).copy(blk, CopyOptions{nullptr, false, &word_types}); }), ErrorId::expect_arg);
}

TEST_F(Block, Clone) {
    const Cell inner = block_of({i(1)});
    const Cell paren = block_of({inner}, TypeId::paren);
    const Cell blk = at(block_of({i(0), inner, paren}), 1);
    const Cell shallow = block::clone(blk, false, false);
    EXPECT_EQ(mold(shallow), "[[1] ([1])]");
    EXPECT_EQ(block::abs_at(shallow, 0).w2, inner.w2);
    const Cell deep = block::clone(blk, true, false);
    EXPECT_NE(block::abs_at(deep, 0).w2, inner.w2);
    EXPECT_EQ(block::abs_at(deep, 1).w2, paren.w2);
    const Cell all = block::clone(blk, true, true);
    EXPECT_NE(block::abs_at(all, 1).w2, paren.w2);
    EXPECT_NE(block::abs_at(block::abs_at(all, 1), 0).w2, inner.w2);
    EXPECT_EQ(mold(all), "[[1] ([1])]");

    const Cell empty = block::clone(block_of({}), false, false);
    EXPECT_GE(memory::buffer(empty.w2)->size, sizeof(Cell));
    const Cell self = holding_itself({});
    EXPECT_EQ(raised([&] { block::clone(self, true, false); }), ErrorId::no_cycle);
}

TEST_F(Block, Take) {
    const Cell inner = block_of({i(2)});
    struct Case {
        Cell part;  // none: no /part
        bool deep, last;
        const char* taken;
        const char* left;
        bool inner_first;  // the taken block starts with the nested one
    };
    const Case cases[] = {
        {cell::none(), false, false, "1", "[[2] 3]", false},
        {cell::none(), false, true, "3", "[1 [2]]", false},
        {i(2), false, false, "[1 [2]]", "[3]", false},
        {i(2), false, true, "[[2] 3]", "[1]", true},
        {i(2), true, true, "[[2] 3]", "[1]", true},
        {i(9), false, false, "[1 [2] 3]", "[]", false},
    };
    for (const Case& k : cases) {
        const Cell blk = block_of({i(1), inner, nl(i(3))});
        const bool with_part = !cell::is(k.part, TypeId::none);
        const Cell taken = row(blk).take(blk, with_part ? &k.part : nullptr, k.deep, k.last);
        Cell flat = taken;
        cell::clear_new_line(flat);
        EXPECT_EQ(mold(flat, MoldFlags{false, false, true, 0}), k.taken);
        EXPECT_EQ(mold(blk, MoldFlags{false, false, true, 0}), k.left);
        if (k.inner_first) {
            EXPECT_EQ(block::abs_at(taken, 0).w2 == inner.w2, !k.deep);
        }
    }
    // The taken value keeps its marker; take of an empty block is none.
    const Cell blk = block_of({nl(a())});
    EXPECT_TRUE(cell::new_line(row(blk).take(blk, nullptr, false, false)));
    EXPECT_TRUE(cell::is(row(blk).take(blk, nullptr, false, false), TypeId::none));
}

TEST_F(Block, TakeDeep) {
    const Cell inner = block_of({i(2), block_of({i(3)})});
    const Cell blk = block_of({inner, i(4)});
    const Cell taken = row(blk).take(blk, nullptr, true, false);
    EXPECT_EQ(mold(taken), "[2 [3]]");
    EXPECT_NE(taken.w2, inner.w2);
    EXPECT_NE(block::abs_at(taken, 1).w2, block::abs_at(inner, 1).w2);
    // Once taken out, a block that held itself holds itself no more.
    const Cell self = holding_itself({a()});
    const Cell copy = row(self).take(at(self, 1), nullptr, true, false);
    EXPECT_EQ(mold(copy), "[a]");
    EXPECT_NE(copy.w2, self.w2);
}

// ---- trim, swap ----------------------------------------------------------------------------------

TEST_F(Block, Trim) {
    const Cell n = cell::none();
    struct Case { Cell value; const char* whole; };
    const Case cases[] = {
        {block_of({n, i(1), n, n, i(2), n}), "[1 2]"},
        {at(block_of({n, n, i(1), n}), 1), "[none 1]"},
        {block_of({n, n}), "[]"},
        {block_of({}), "[]"},
        {block_of({i(1), cell::logic(false), cell::unset()}), "[1 false unset]"},
    };
    for (const Case& k : cases) {
        const Cell result = row(k.value).trim(k.value, TrimOptions{true, false, false, false, true, nullptr});
        EXPECT_EQ(result.w1, k.value.w1);
        EXPECT_EQ(whole(k.value), k.whole);
    }
}

TEST_F(Block, Swap) {
    const Cell x = block_of({i(1), i(2)}), y = block_of({a(), b()}, TypeId::paren);
    EXPECT_EQ(row(x).swap(at(x, 1), y).w1, 1u);
    EXPECT_EQ(whole(x), "[1 a]");
    EXPECT_EQ(whole(y), "(2 b)");
    row(x).swap(x, at(x, 1));  // within one block
    EXPECT_EQ(whole(x), "[a 1]");
    row(x).swap(at(x, 2), y);  // at the tail: nothing
    row(x).swap(x, at(y, 2));
    EXPECT_EQ(whole(x), "[a 1]");
    EXPECT_EQ(whole(y), "(2 b)");
    EXPECT_EQ(raised([&] { row(x).swap(x, i(3)); }), ErrorId::invalid_arg);
    EXPECT_EQ(error::pending().args[0].w2, 3u);
}

// ---- make and to ---------------------------------------------------------------------------------

TEST_F(Block, Make) {
    const Cell src = block_of({a(), b()});
    struct Case { TypeId type; Cell spec; const char* mold; uint32_t room; };
    const Case cases[] = {
        {TypeId::block, i(10), "[]", 10},
        {TypeId::block, i(0), "[]", 1},
        {TypeId::block, i(-5), "[]", 1},
        {TypeId::block, cell::floating(3.9), "[]", 3},
        {TypeId::block, src, "[a b]", 2},
        {TypeId::block, at(src, 1), "[b]", 1},
        {TypeId::block, at(src, 8), "[]", 1},
        {TypeId::block, block_of({a()}, TypeId::path), "[a]", 1},
        {TypeId::paren, src, "(a b)", 2},
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).make(k.type, datatype(k.type), k.spec);
        EXPECT_EQ(cell::type(made), k.type);
        EXPECT_EQ(mold(made), k.mold);
        EXPECT_GE(memory::buffer(made.w2)->size / sizeof(Cell), k.room);
        if (block::is_block_like(cell::type(k.spec))) {
            EXPECT_NE(made.w2, k.spec.w2);
        }
    }
    struct Bad { Cell spec; ErrorId error; };
    const Bad bad[] = {
        {cell::none(), ErrorId::bad_make_arg},
        {a(), ErrorId::bad_make_arg},
        {cell::floating(0.5, TypeId::percent), ErrorId::bad_make_arg},
        {cell::make(TypeId::object), ErrorId::not_done},
        {i(0x7FFFFFFF), ErrorId::no_memory},
        {cell::floating(1e12), ErrorId::out_of_range},
    };
    for (const Bad& k : bad)
        EXPECT_EQ(raised([&] { row(TypeId::block).make(TypeId::block, datatype(TypeId::block), k.spec); }), k.error);
    raised([&] { row(TypeId::block).make(TypeId::block, datatype(TypeId::block), cell::none()); });
    EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(TypeId::block));
    EXPECT_TRUE(cell::is(error::pending().args[1], TypeId::none));
}

TEST_F(Block, To) {
    const NodeId text = series::alloc_with_unit(8, 1);
    series::append_ascii(text, "a b");
    struct Case { TypeId type; Cell value; const char* mold; };
    const Case cases[] = {
        {TypeId::block, i(5), "[5]"},
        {TypeId::block, cell::none(), "[none]"},
        {TypeId::block, a(), "[a]"},
        {TypeId::block, block_of({a(), b()}, TypeId::paren), "[a b]"},
        {TypeId::paren, i(5), "(5)"},
        {TypeId::paren, block_of({a()}), "(a)"},
        {TypeId::block, typeset::make_of({TypeId::integer, TypeId::none}), "[none! integer!]"},
        {TypeId::block, datatype(TypeId::logic), "[logic!]"},
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).to(k.type, datatype(k.type), k.value);
        EXPECT_EQ(cell::type(made), k.type);
        EXPECT_EQ(mold(made), k.mold);
    }
    const Cell loaded = row(TypeId::paren).to(TypeId::paren, datatype(TypeId::paren), cell::series(TypeId::string, text));
    EXPECT_EQ(cell::type(loaded), TypeId::paren);
    EXPECT_EQ(mold(loaded), "(a b)");
}

// ---- path steps ----------------------------------------------------------------------------------

TEST_F(Block, EvalPath) {
    const Cell blk = block_of({a(), i(1), word("b", TypeId::set_word), i(2), c()});
    struct Case { Cell element; Cell expected; };
    const Case cases[] = {
        {i(2), i(1)},
        {i(5), c()},
        {i(6), cell::none()},
        {i(0), cell::none()},
        {a(), i(1)},
        {word("B"), i(2)},       // a set-word, in any case
        {c(), cell::none()},     // the last value
        {word("d"), cell::none()},
    };
    const PathStep get{nullptr, block_of({}, TypeId::path), cell::none(), 1, false};
    for (const Case& k : cases) {
        const Cell got = row(blk).eval_path(blk, k.element, get);
        EXPECT_EQ(cell::type(got), cell::type(k.expected)) << mold(k.element);
        EXPECT_EQ(got.w2, k.expected.w2) << mold(k.element);
    }
    EXPECT_EQ(cell::as_integer(row(blk).eval_path(at(blk, 2), word("b"), get)), 2);

    const Cell value = word("x");
    const PathStep set{&value, block_of({}, TypeId::path), cell::none(), 1, false};
    EXPECT_EQ(row(blk).eval_path(blk, i(2), set).w2, value.w2);
    EXPECT_EQ(mold(blk), "[a x b: 2 c]");
    EXPECT_EQ(raised([&] { row(blk).eval_path(blk, i(6), set); }), ErrorId::out_of_range);
}

// ---- primitives ----------------------------------------------------------------------------------

TEST_F(Block, Primitives) {
    const Cell blk = block_of({a(), i(1), b(), i(2)});
    EXPECT_EQ(block::length(blk), 4u);
    EXPECT_EQ(block::length(at(blk, 9)), 0u);
    EXPECT_EQ(block::head_index(at(blk, 9)), 4u);
    EXPECT_TRUE(block::at_tail(at(blk, 4)));
    EXPECT_EQ(block::next(at(blk, 3)).w1, 4u);
    EXPECT_EQ(block::next(at(blk, 4)).w1, 4u);
    EXPECT_EQ(block::tail(blk) - block::head(blk), 4);

    EXPECT_EQ(cell::as_integer(block::select(blk, word("B"))), 2);
    EXPECT_TRUE(cell::is(block::select(blk, i(2)), TypeId::none));  // last
    EXPECT_TRUE(cell::is(block::select(at(blk, 1), a()), TypeId::none));
    EXPECT_EQ(cell::as_integer(block::select_word(blk, word("B"), false)), 2);
    EXPECT_TRUE(cell::is(block::select_word(blk, word("B"), true), TypeId::none));

    EXPECT_TRUE(block::remove_equal(at(blk, 1), a(), true));
    EXPECT_EQ(mold(blk), "[1 b 2]");
    EXPECT_FALSE(block::remove_equal(at(blk, 0), i(2), false));
    EXPECT_FALSE(block::remove_equal(blk, i(9), true));
    EXPECT_EQ(mold(blk), "[1 b]");

    Cell last = at(blk, 2);
    block::remove_last(last);
    EXPECT_EQ(last.w1, 1u);
    EXPECT_EQ(mold(blk), "[1]");
    block::append(blk.w2, a());
    block::append_block(blk.w2, blk);
    EXPECT_EQ(mold(blk), "[1 a 1 a]");
    block::clear_from(blk.w2, 3);
    EXPECT_EQ(mold(blk), "[1 a 1]");
    block::clear_from(blk.w2, 5);
    EXPECT_EQ(mold(blk), "[1 a 1]");
    block::clear(at(blk, 1));
    EXPECT_EQ(mold(blk), "[1]");

    Cell pos = block::insert_value(blk, i(0), false, true);
    EXPECT_EQ(pos.w1, 1u);
    pos = block::insert_block(pos, at(blk, 0), false, true);  // itself, at its own position
    EXPECT_EQ(pos.w1, 3u);
    EXPECT_EQ(mold(blk), "[0 0 1 1]");
    block::insert_value(blk, b(), true, false);
    EXPECT_EQ(mold(blk), "[0 0 1 1 b]");
}

TEST_F(Block, MakingHelpersKeepTheNewBlockReachable) {
    const Cell parent = block_of({i(1)});
    const Cell made = block::make_in(parent.w2, 3, TypeId::paren);
    EXPECT_EQ(mold(parent), "[1 ()]");
    EXPECT_EQ(block::abs_at(parent, 1).w2, made.w2);
    Cell* pushed = block::push_new(0, TypeId::path);
    EXPECT_EQ(cell::type(*pushed), TypeId::path);
    EXPECT_EQ(stack::index_of(stack::g_top), 1u);
    Cell* retyped = block::push_as(block_of({a(), b()}), TypeId::get_path);
    EXPECT_EQ(mold(*retyped), ":a/b");
    stack::pop(2);
    EXPECT_EQ(raised([] { block::make(block::kMaxCells + 1); }), ErrorId::no_memory);
}

}  // namespace
}  // namespace zub
