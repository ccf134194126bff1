// Word internals: the comparisons no native makes and index? by binding. The rest is in
// tests/lang/word.zub.
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Words : public RuntimeTest {
  protected:
    static std::string text(NodeId node) {
        Cell s = cell::series(TypeId::string, node);
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    static std::string mold(Cell v) {
        const NodeId out = series::alloc_with_unit(8, 1);
        const int32_t left = registry::actions(cell::type(v)).mold(v, out, MoldFlags{}, 1000);
        EXPECT_EQ(left, 1000 - static_cast<int32_t>(series::length(out)));
        return text(out);
    }
    static std::string form(Cell v) {
        const NodeId out = series::alloc_with_unit(8, 1);
        registry::actions(cell::type(v)).form(v, out, 1000);
        return text(out);
    }
    static int32_t compare(Cell a, Cell b, int32_t op) { return registry::actions(cell::type(a)).compare(a, b, op); }
    static Cell datatype(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }
};

// The comparisons of words that no comparison native makes: by word (binding-blind, case-sensitive)
// and by canonical spelling.
TEST_F(Words, CompareByWordAndCanonical) {
    const Cell foo = word("foo");
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t answer;
    };
    const Case cases[] = {
        {foo, word("foo", TypeId::lit_word), op_equal_word, 0},
        {foo, word("Foo", TypeId::lit_word), op_equal_word, 1},
        {foo, word("Foo", TypeId::lit_word), op_equal_canonical, 0},
        {foo, word("foo", TypeId::get_word), op_equal_canonical, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.answer) << c.op;
}

TEST_F(Words, IndexOf) {
    const Cell w = word("some-word");
    EXPECT_EQ(cell::as_integer(registry::actions(TypeId::word).index_q(w)), static_cast<int32_t>(w.w3) + 1);
    const Cell unbound = cell::make(TypeId::word, 0, w.w2, 0xFFFFFFFF);
    EXPECT_TRUE(cell::is(registry::actions(TypeId::word).index_q(unbound), TypeId::none));
    EXPECT_THROW(registry::actions(TypeId::refinement).index_q(word("x", TypeId::refinement)), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);
}

}  // namespace
}  // namespace zub
