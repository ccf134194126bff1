// block! internals: the indent level mold receives, how soon mold stops past a limit, growth and
// size limits, owner notification, clone, the room make reserves, and the primitives. What the
// language reaches is in tests/lang/block.zub.
#include <functional>
#include <tuple>
#include <vector>

#include "datatypes/ownership.h"
#include "datatypes/typeset.h"
#include "evaluator/actions.h"
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

TEST_F(Block, MoldIndentFollowsTheLevelReceived) {
    const Cell blk = block_of({nl(a())});
    EXPECT_EQ(mold(blk, MoldFlags{false, false, false, 2}), "[\n            a\n        ]");
}

TEST_F(Block, MoldStopsSoonAfterTheLimit) {
    const NodeId node = memory::alloc_cells(100000);
    for (int32_t k = 0; k < 100000; ++k) series::append_cell(node, i(k));
    const Cell big = cell::series(TypeId::block, node);
    EXPECT_LT(mold(big, {}, 10).size(), 20u);
    EXPECT_LT(form(big, 10).size(), 20u);
}

// ---- compare -------------------------------------------------------------------------------------

// The word equalities, which no comparison native uses.
TEST_F(Block, CompareByWord) {
    EXPECT_EQ(
        row(TypeId::path).compare(block_of({a()}, TypeId::path), block_of({a()}, TypeId::lit_path), op_equal_word), 0);
    EXPECT_EQ(row(TypeId::lit_path)
                  .compare(block_of({a()}, TypeId::lit_path), block_of({a()}, TypeId::path), op_equal_canonical),
              0);
}

// ---- append, insert, change ----------------------------------------------------------------------

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
    struct Case {
        Cell value;
        int32_t dup;
    };
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
        for (const Notice& n : g_notices)
            s += n.action + " " + std::to_string(n.index) + " " + std::to_string(n.part) + ";";
        return s;
    }
};

TEST_F(OwnedBlock, ModifyingActionsNotifyBeforeAndAfter) {
    struct Case {
        std::function<void(Cell)> act;
        const char* notices;
    };
    const Case cases[] = {
        {[&](Cell t) {
             row(t).append(t, block_of({a(), b()}), plain());
         },
         "append 3 2;appended 3 2;"},
        {[&](Cell t) {
             row(t).insert(at(t, 1), a(), InsertOptions{-1, false, 3});
         },
         "insert 1 3;inserted 1 3;"},
        {[&](Cell t) {
             row(t).change(at(t, 1), block_of({a(), b()}), InsertOptions{1, false, 1});
         },
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
        {"change",
         [&](Cell t) {
             return row(t).change(at(t, 1), block_of({a(), b()}), plain());
         },
         "[a b]", 2},
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

// A copy keeps the type and the new-line marker of the value it copies.
TEST_F(Block, CopyKeepsTypeAndMarker) {
    for (TypeId t : {TypeId::paren, TypeId::path, TypeId::set_path}) {
        const Cell src = nl(block_of({a(), b()}, t));
        const Cell copy = row(src).copy(src, CopyOptions{});
        EXPECT_EQ(cell::type(copy), t);
        EXPECT_TRUE(cell::new_line(copy));
        EXPECT_EQ(mold(copy), mold(src));
    }
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

// ---- trim, swap ----------------------------------------------------------------------------------

// The swap native refuses a non-series before the action does.
TEST_F(Block, SwapRefusesAValue) {
    const Cell x = block_of({i(1), i(2)});
    EXPECT_EQ(raised([&] { row(x).swap(x, i(3)); }), ErrorId::invalid_arg);
    EXPECT_EQ(error::pending().args[0].w2, 3u);
}

// ---- make and to ---------------------------------------------------------------------------------

TEST_F(Block, MakeReservesRoom) {
    const Cell src = block_of({a(), b()});
    struct Case {
        TypeId type;
        Cell spec;
        uint32_t room;
    };
    const Case cases[] = {
        {TypeId::block, i(10), 10},     {TypeId::block, i(0), 1},
        {TypeId::block, i(-5), 1},      {TypeId::block, cell::floating(3.9), 3},
        {TypeId::block, src, 2},        {TypeId::block, at(src, 1), 1},
        {TypeId::block, at(src, 8), 1}, {TypeId::block, block_of({a()}, TypeId::path), 1},
        {TypeId::paren, src, 2},
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).make(k.type, datatype(k.type), k.spec);
        EXPECT_GE(memory::buffer(made.w2)->size / sizeof(Cell), k.room);
    }
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
