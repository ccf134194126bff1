// typeset! internals: the bit layout, the tracer's forms, unknown bits and the limit in mold, find's
// and sort's comparisons, datatype operands. The rest is in tests/lang/typeset.zub.
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
    static Cell make(std::initializer_list<Cell> spec) {
        return act().make(TypeId::typeset, cell::none(), block_of(spec));
    }
    static Cell type_word(TypeId t) { return words::type_word(t); }
};

TEST_F(Typeset, TypeIdIsBitOfThePayloadBytesMostSignificantFirst) {
    struct Case {
        TypeId type;
        uint32_t w1, w2, w3;
    };
    const Case cases[] = {
        {TypeId::datatype, 0x40, 0, 0},   // id 1: byte 0, mask 40h
        {TypeId::integer, 0x1000, 0, 0},  // id 11: byte 1, mask 10h
        {TypeId::block, 0x04, 0, 0},      // id 5
        {TypeId::typeset, 0, 0x40, 0},    // id 33: byte 4
        {TypeId::series, 0, 0x2000, 0},   // id 42: byte 5, mask 20h
        {TypeId::event, 0, 0x20000, 0},   // id 54: byte 6, mask 02h
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

TEST_F(Typeset, TheTracersForms) {
    const Cell set = typeset::make_from_block(
        block_of({type_word(TypeId::integer), block_of({cell::integer(1)}), typeset::make_of({TypeId::block})}));
    EXPECT_EQ(act().compare(set, typeset::make_of({TypeId::integer, TypeId::block}), op_equal), 0);
    EXPECT_EQ(RuntimeTest::raised([&] { typeset::make_from_block(block_of({cell::integer(1)})); }),
              ErrorId::invalid_type_spec);

    const Cell all_but_unset = typeset::make_default();
    EXPECT_FALSE(typeset::contains(all_but_unset, TypeId::unset));
    EXPECT_EQ(typeset::count(all_but_unset), static_cast<uint32_t>(kTypeCount) - 1);
    EXPECT_EQ(act().compare(typeset::make_raw(set.w1, set.w2, set.w3), set, op_strict_equal), 0);
}

// Bit 0 and the ids past the registered types are never shown; with a limit the names stop once it
// is spent and the caller cuts the text.
TEST_F(Typeset, MoldSkipsUnknownBitsAndStopsAtTheLimit) {
    const Cell raw = typeset::make_raw(0x80, 0, 0xFF);
    EXPECT_EQ(mold(raw), "make typeset! []");
    EXPECT_EQ(form(raw), "make typeset! []");
    EXPECT_EQ(mold(raw, true), "");
    const Cell three = typeset::make_of({TypeId::block, TypeId::string, TypeId::integer});
    EXPECT_EQ(mold(three, false, 20), "make typeset! [block!]");
    EXPECT_EQ(mold(three, true, 8), "block! string!");
}

// find's and sort's comparisons, which no comparison native uses.
TEST_F(Typeset, CompareForFindAndSort) {
    const Cell a = typeset::make_of({TypeId::integer});
    const Cell b = typeset::make_of({TypeId::integer, TypeId::float_}), c = typeset::make_of({TypeId::block});
    struct Case {
        Cell x, y;
        int32_t op, answer;
    };
    const Case cases[] = {
        {a, c, op_find, 1}, {a, b, op_sort, -1},     {b, a, op_sort, 1},
        {a, c, op_sort, 0}, {b, c, op_sort_case, 1}, {a, cell::integer(1), op_sort, kNotComparable},
    };
    for (const Case& k : cases) EXPECT_EQ(act().compare(k.x, k.y, k.op), k.answer) << k.op;
}

// Datatype operands and the operands the natives refuse first.
TEST_F(Typeset, BitwiseActionsAndSetOperations) {
    const Cell ab = typeset::make_of({TypeId::integer, TypeId::block}),
               bc = typeset::make_of({TypeId::block, TypeId::string});
    struct Case {
        const char* what;
        Cell result;
        Cell expected;
    };
    const Case cases[] = {
        {"or~ a datatype", act().or_(ab, datatype(TypeId::none)),
         typeset::make_of({TypeId::integer, TypeId::block, TypeId::none})},
        {"and~ a datatype", act().and_(ab, datatype(TypeId::integer)), typeset::make_of({TypeId::integer})},
        {"a datatype first", typeset::combine(datatype(TypeId::string), bc, typeset::kIntersect),
         typeset::make_of({TypeId::string})},
    };
    for (const Case& c : cases) EXPECT_EQ(act().compare(c.result, c.expected, op_strict_equal), 0) << c.what;
    for (const Cell bad : {cell::integer(1), type_word(TypeId::integer), cell::none()}) {
        EXPECT_EQ(RuntimeTest::raised([&] { act().and_(ab, bad); }), ErrorId::invalid_arg);
        EXPECT_EQ(RuntimeTest::raised([&] { typeset::combine(ab, bad, typeset::kUnion); }), ErrorId::invalid_arg);
    }
}

TEST_F(Typeset, ComplementOfTheDefaultIsUnset) {
    const Cell everything = act().complement(typeset::make_empty());
    const Cell only_unset = act().xor_(everything, typeset::make_default());
    EXPECT_EQ(act().compare(only_unset, typeset::make_of({TypeId::unset}), op_equal), 0);
}

}  // namespace
}  // namespace zub
