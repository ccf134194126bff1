// typeset!: the bit layout, make and to from blocks of datatypes and words, mold and form,
// comparison, the bitwise actions and the set operations, complement and find.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "datatypes/typeset.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

const ActionTable& act() { return registry::actions(TypeId::typeset); }


Cell datatype(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }

class Typeset : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        // What the start-up data does: each datatype's word holds its datatype.
        for (TypeId t : {TypeId::integer, TypeId::float_, TypeId::string, TypeId::block, TypeId::none})
            context::set(words::type_word(t), datatype(t));
    }

    static std::string text(NodeId node) {
        Cell s = cell::series(TypeId::string, node);
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    static std::string mold(Cell v, bool only = false, int32_t limit = 1000) {
        const NodeId out = series::alloc_with_unit(8, 1);
        const int32_t left = act().mold(v, out, MoldFlags{only, false, false, 0}, limit);
        EXPECT_EQ(left, limit - static_cast<int32_t>(series::length(out)));
        return text(out);
    }
    static std::string form(Cell v) {
        const NodeId out = series::alloc_with_unit(8, 1);
        act().form(v, out, 1000);
        return text(out);
    }
    static Cell make(std::initializer_list<Cell> spec) { return act().make(TypeId::typeset, cell::none(), block_of(spec)); }
    static Cell type_word(TypeId t) { return words::type_word(t); }
};

TEST_F(Typeset, TypeIdIsBitOfThePayloadBytesMostSignificantFirst) {
    struct Case { TypeId type; uint32_t w1, w2, w3; };
    const Case cases[] = {
        {TypeId::datatype, 0x40, 0, 0},          // id 1: byte 0, mask 40h
        {TypeId::integer, 0x1000, 0, 0},         // id 11: byte 1, mask 10h
        {TypeId::block, 0x04, 0, 0},             // id 5
        {TypeId::typeset, 0, 0x40, 0},           // id 33: byte 4
        {TypeId::series, 0, 0x2000, 0},          // id 42: byte 5, mask 20h
        {TypeId::event, 0, 0x20000, 0},          // id 54: byte 6, mask 02h
    };
    for (const Case& c : cases) {
        Cell set = typeset::make_empty();
        typeset::add(set, c.type);
        uint8_t bytes[12];
        std::memcpy(bytes, &set.w1, 12);
        const auto id = static_cast<uint32_t>(c.type);
        for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(bytes[i], i == id >> 3 ? 0x80 >> (id & 7) : 0) << id << " " << i;
        EXPECT_EQ(set.w1, c.w1);
        EXPECT_EQ(set.w2, c.w2);
        EXPECT_EQ(set.w3, c.w3);
        EXPECT_TRUE(typeset::contains(set, c.type));
        EXPECT_EQ(typeset::count(set), 1u);
    }
}

TEST_F(Typeset, MakeAndToFromBlocks) {
    const Cell mine = typeset::make_of({TypeId::string, TypeId::block});
    context::set(word("my-types"), mine);
    struct Case { const char* what; Cell spec; Cell expected; };
    const Case cases[] = {
        {"datatype words", block_of({type_word(TypeId::float_), type_word(TypeId::integer)}),
         typeset::make_of({TypeId::integer, TypeId::float_})},
        {"datatype values", block_of({datatype(TypeId::none)}), typeset::make_of({TypeId::none})},
        {"a word for a typeset", block_of({word("my-types"), type_word(TypeId::none)}),
         typeset::make_of({TypeId::string, TypeId::block, TypeId::none})},
        {"a typeset value", block_of({mine}), mine},
        {"from the block's head", cell::series(TypeId::block, block_of({datatype(TypeId::none), type_word(TypeId::block)}).w2, 1),
         typeset::make_of({TypeId::block})},
        {"nothing", block_of({}), typeset::make_empty()},
        {"a typeset itself", mine, mine},
    };
    for (const Case& c : cases) {
        for (const MakeFn entry : {act().make, act().to}) {
            const Cell set = entry(TypeId::typeset, cell::none(), c.spec);
            EXPECT_TRUE(cell::is(set, TypeId::typeset)) << c.what;
            EXPECT_EQ(act().compare(set, c.expected, op_equal), 0) << c.what << ": " << mold(set);
        }
    }
}

TEST_F(Typeset, MakeRefusesWhatNamesNoType) {
    struct Case { const char* what; Cell spec; ErrorId id; };
    const Case cases[] = {
        {"an integer spec", cell::integer(3), ErrorId::bad_to_arg},
        {"a string spec", cell::series(TypeId::string, series::alloc_with_unit(1, 1)), ErrorId::bad_to_arg},
        {"an integer element", block_of({cell::integer(3)}), ErrorId::invalid_arg},
        {"a word holding no type", block_of({word("none")}), ErrorId::invalid_arg},
        {"a lit-word", block_of({word("integer!", TypeId::lit_word)}), ErrorId::invalid_arg},
        {"a nested block", block_of({block_of({})}), ErrorId::invalid_arg},
    };
    context::set(word("none"), cell::none());
    for (const Case& c : cases) {
        EXPECT_EQ(RuntimeTest::raised([&] { act().make(TypeId::typeset, cell::none(), c.spec); }), c.id) << c.what;
    }
    EXPECT_EQ(RuntimeTest::raised([&] { act().make(TypeId::typeset, cell::none(), cell::integer(3)); }), ErrorId::bad_to_arg);
    EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(TypeId::typeset));
}

TEST_F(Typeset, TheTracersForms) {
    const Cell set = typeset::make_from_block(
        block_of({type_word(TypeId::integer), block_of({cell::integer(1)}), typeset::make_of({TypeId::block})}));
    EXPECT_EQ(act().compare(set, typeset::make_of({TypeId::integer, TypeId::block}), op_equal), 0);
    EXPECT_EQ(RuntimeTest::raised([&] { typeset::make_from_block(block_of({cell::integer(1)})); }), ErrorId::invalid_type_spec);

    const Cell all_but_unset = typeset::make_default();
    EXPECT_FALSE(typeset::contains(all_but_unset, TypeId::unset));
    EXPECT_EQ(typeset::count(all_but_unset), static_cast<uint32_t>(kTypeCount) - 1);
    EXPECT_EQ(act().compare(typeset::make_raw(set.w1, set.w2, set.w3), set, op_strict_equal), 0);
}

TEST_F(Typeset, MoldAndForm) {
    struct Case { Cell set; const char* mold; const char* only; };
    const Case cases[] = {
        {make({type_word(TypeId::float_), type_word(TypeId::integer)}), "make typeset! [integer! float!]",
         "integer! float!"},
        {make({}), "make typeset! []", ""},
        {typeset::make_of({TypeId::event, TypeId::datatype}), "make typeset! [datatype! event!]", "datatype! event!"},
        // Bit 0 and the ids past the registered types are never shown.
        {typeset::make_raw(0x80, 0, 0xFF), "make typeset! []", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.set), c.mold);
        EXPECT_EQ(form(c.set), c.mold);
        EXPECT_EQ(mold(c.set, true), c.only);
    }
    // With a limit the names stop once it is spent; the caller cuts the text.
    const Cell three = typeset::make_of({TypeId::block, TypeId::string, TypeId::integer});
    EXPECT_EQ(mold(three, false, 20), "make typeset! [block!]");
    EXPECT_EQ(mold(three, true, 8), "block! string!");
}

TEST_F(Typeset, Compare) {
    const Cell a = typeset::make_of({TypeId::integer}), a2 = typeset::make_of({TypeId::integer});
    const Cell b = typeset::make_of({TypeId::integer, TypeId::float_}), c = typeset::make_of({TypeId::block});
    struct Case { Cell x, y; int32_t op, answer; };
    const Case cases[] = {
        {a, a2, op_equal, 0},           {a, b, op_equal, 1},
        {a, b, op_not_equal, 1},        {a, a2, op_strict_equal, 0},
        {a, a2, op_same, 0},            {a, c, op_find, 1},
        {a, b, op_sort, -1},            {b, a, op_sort, 1},
        {a, c, op_sort, 0},             {b, c, op_sort_case, 1},
        {a, b, op_lesser, kNotComparable}, {a, b, op_greater_or_equal, kNotComparable},
        {a, datatype(TypeId::integer), op_equal, kNotComparable},
        {a, cell::integer(1), op_sort, kNotComparable},
    };
    for (const Case& k : cases) EXPECT_EQ(act().compare(k.x, k.y, k.op), k.answer) << k.op;
}

TEST_F(Typeset, BitwiseActionsAndSetOperations) {
    const Cell ab = typeset::make_of({TypeId::integer, TypeId::block}), bc = typeset::make_of({TypeId::block, TypeId::string});
    struct Case { const char* what; Cell result; Cell expected; };
    const Case cases[] = {
        {"and~", act().and_(ab, bc), typeset::make_of({TypeId::block})},
        {"or~", act().or_(ab, bc), typeset::make_of({TypeId::integer, TypeId::block, TypeId::string})},
        {"xor~", act().xor_(ab, bc), typeset::make_of({TypeId::integer, TypeId::string})},
        {"or~ a datatype", act().or_(ab, datatype(TypeId::none)), typeset::make_of({TypeId::integer, TypeId::block, TypeId::none})},
        {"and~ a datatype", act().and_(ab, datatype(TypeId::integer)), typeset::make_of({TypeId::integer})},
        {"union", typeset::combine(ab, bc, typeset::kUnion), act().or_(ab, bc)},
        {"intersect", typeset::combine(ab, bc, typeset::kIntersect), typeset::make_of({TypeId::block})},
        {"exclude", typeset::combine(ab, bc, typeset::kExclude), typeset::make_of({TypeId::integer})},
        {"exclude the other way", typeset::combine(bc, ab, typeset::kExclude), typeset::make_of({TypeId::string})},
        {"difference", typeset::combine(ab, bc, typeset::kDifference), act().xor_(ab, bc)},
        {"a datatype first", typeset::combine(datatype(TypeId::string), bc, typeset::kIntersect),
         typeset::make_of({TypeId::string})},
    };
    for (const Case& c : cases) EXPECT_EQ(act().compare(c.result, c.expected, op_strict_equal), 0) << c.what;
    for (const Cell bad : {cell::integer(1), type_word(TypeId::integer), cell::none()}) {
        EXPECT_EQ(RuntimeTest::raised([&] { act().and_(ab, bad); }), ErrorId::invalid_arg);
        EXPECT_EQ(RuntimeTest::raised([&] { typeset::combine(ab, bad, typeset::kUnion); }), ErrorId::invalid_arg);
    }
}

TEST_F(Typeset, ComplementAndFind) {
    const Cell everything = act().complement(typeset::make_empty());
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id)
        EXPECT_TRUE(typeset::contains(everything, static_cast<TypeId>(id))) << id;
    const Cell only_unset = act().xor_(everything, typeset::make_default());
    EXPECT_EQ(act().compare(only_unset, typeset::make_of({TypeId::unset}), op_equal), 0);

    const Cell numbers = typeset::make_of({TypeId::integer, TypeId::float_});
    EXPECT_EQ(act().compare(act().complement(act().complement(numbers)), numbers, op_equal), 0);
    struct Case { TypeId type; bool found; };
    const Case cases[] = {{TypeId::integer, true}, {TypeId::float_, true}, {TypeId::percent, false}, {TypeId::unset, false}};
    for (const Case& c : cases) {
        const Cell answer = act().find(numbers, datatype(c.type), FindOptions{});
        ASSERT_TRUE(cell::is(answer, TypeId::logic));
        EXPECT_EQ(cell::as_logic(answer), c.found);
    }
    EXPECT_EQ(RuntimeTest::raised([&] { act().find(numbers, word("integer!", TypeId::lit_word), FindOptions{}); }), ErrorId::invalid_arg);
    EXPECT_EQ(RuntimeTest::raised([&] { act().find(numbers, type_word(TypeId::integer), FindOptions{}); }), ErrorId::invalid_arg);
}

TEST_F(Typeset, ToBlockListsTheTypesInIdOrder) {
    const NodeId block = memory::alloc_cells(1);
    typeset::to_block(make({type_word(TypeId::string), type_word(TypeId::none), type_word(TypeId::integer)}), block);
    ASSERT_EQ(series::length(block), 3u);
    const TypeId expected[] = {TypeId::none, TypeId::string, TypeId::integer};
    for (uint32_t i = 0; i < 3; ++i) {
        const Cell c = memory::buffer(block)->cells()[i];
        EXPECT_TRUE(cell::is(c, TypeId::datatype));
        EXPECT_EQ(c.w1, static_cast<uint32_t>(expected[i]));
    }
}

TEST_F(Typeset, AreSortedBySize) {
    const Cell one = typeset::make_of({TypeId::block});
    const Cell two = typeset::make_of({TypeId::integer, TypeId::float_});
    const Cell none = typeset::make_empty();
    Cell sets[] = {two, none, one};
    std::sort(std::begin(sets), std::end(sets), [](const Cell& x, const Cell& y) { return act().compare(x, y, op_sort) < 0; });
    EXPECT_EQ(typeset::count(sets[0]), 0u);
    EXPECT_EQ(typeset::count(sets[1]), 1u);
    EXPECT_EQ(typeset::count(sets[2]), 2u);
}

}  // namespace
}  // namespace zub
