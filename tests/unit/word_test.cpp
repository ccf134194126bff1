// The word family and issue!: mold and form, comparison, index?, make and to.
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

TEST_F(Words, MoldAndForm) {
    struct Case { TypeId type; const char* mold; };
    const Case cases[] = {
        {TypeId::word, "foo"},        {TypeId::set_word, "foo:"}, {TypeId::lit_word, "'foo"},
        {TypeId::get_word, ":foo"},   {TypeId::refinement, "/foo"}, {TypeId::issue, "#foo"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(word("foo", c.type)), c.mold);
        EXPECT_EQ(form(word("foo", c.type)), "foo");
    }
    EXPECT_EQ(mold(word("Foo")), "Foo");  // its own spelling, not the canonical one
}

TEST_F(Words, NamesBeyondAsciiWidenTheOutput) {
    EXPECT_EQ(mold(word("caf\xC3\xA9", TypeId::set_word)), "caf\xC3\xA9:");
    EXPECT_EQ(mold(word("\xE2\x82\xAC" "10", TypeId::lit_word)), "'\xE2\x82\xAC" "10");
}

TEST_F(Words, Compare) {
    const Cell foo = word("foo"), Foo = word("Foo"), bar = word("bar");
    struct Case { Cell a, b; int32_t op; int32_t answer; };
    const Case cases[] = {
        {foo, Foo, op_equal, 0},
        {foo, Foo, op_strict_equal, 1},
        {foo, word("foo", TypeId::set_word), op_equal, 0},
        {foo, word("foo", TypeId::set_word), op_strict_equal, 1},
        {foo, word("foo", TypeId::lit_word), op_equal_word, 0},
        {foo, word("Foo", TypeId::lit_word), op_equal_word, 1},
        {foo, word("Foo", TypeId::lit_word), op_equal_canonical, 0},
        {foo, word("foo", TypeId::get_word), op_equal_canonical, 1},
        {foo, foo, op_same, 0},
        {foo, cell::make(TypeId::word, 0, foo.w2, foo.w3), op_same, 1},
        {foo, cell::integer(1), op_equal, kNotComparable},
        {foo, word("foo", TypeId::issue), op_equal, kNotComparable},
        {word("foo", TypeId::issue), word("FOO", TypeId::issue), op_equal, 0},
        {word("foo", TypeId::issue), foo, op_equal, kNotComparable},
    };
    for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.answer) << mold(c.a) << " " << mold(c.b);
    EXPECT_LT(compare(bar, foo, op_lesser), 0);
    EXPECT_GT(compare(foo, word("BAR"), op_greater), 0);
}

TEST_F(Words, IndexOf) {
    const Cell w = word("some-word");
    EXPECT_EQ(cell::as_integer(registry::actions(TypeId::word).index_q(w)), static_cast<int32_t>(w.w3) + 1);
    const Cell unbound = cell::make(TypeId::word, 0, w.w2, 0xFFFFFFFF);
    EXPECT_TRUE(cell::is(registry::actions(TypeId::word).index_q(unbound), TypeId::none));
    EXPECT_THROW(registry::actions(TypeId::refinement).index_q(word("x", TypeId::refinement)), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);
}

TEST_F(Words, MakeAndTo) {
    const auto& w = registry::actions(TypeId::word);
    EXPECT_EQ(mold(w.to(TypeId::word, datatype(TypeId::word), datatype(TypeId::integer))), "integer!");
    EXPECT_EQ(mold(w.make(TypeId::set_word, datatype(TypeId::set_word), cell::logic(true))), "true:");
    EXPECT_EQ(mold(w.to(TypeId::lit_word, datatype(TypeId::lit_word), word("abc", TypeId::get_word))), "'abc");
    EXPECT_THROW(w.to(TypeId::word, datatype(TypeId::word), cell::integer(3)), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::bad_to_arg);

    // Text becomes a word as the lexer reads it.
    const auto text_of = [](const char* s) {
        const NodeId node = series::alloc_with_unit(8, 1);
        series::append_ascii(node, s);
        return cell::series(TypeId::string, node);
    };
    EXPECT_EQ(mold(w.to(TypeId::word, datatype(TypeId::word), text_of("foo:"))), "foo");
    EXPECT_EQ(mold(w.to(TypeId::set_word, datatype(TypeId::set_word), text_of("'bar"))), "bar:");
    EXPECT_EQ(mold(w.to(TypeId::word, datatype(TypeId::word), cell::character('x'))), "x");
    for (const char* bad : {"a b", "123", "", "[x]", "a@@"}) {
        EXPECT_THROW(w.to(TypeId::word, datatype(TypeId::word), text_of(bad)), error::Thrown) << bad;
        EXPECT_EQ(error::pending().id, ErrorId::invalid_chars) << bad;
    }
    EXPECT_EQ(mold(w.to(TypeId::word, datatype(TypeId::word), word("ref", TypeId::refinement))), "ref");
    EXPECT_THROW(w.to(TypeId::word, datatype(TypeId::word), word("1x", TypeId::issue)), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::bad_to_arg);

    const auto& issue = registry::actions(TypeId::issue);
    const NodeId text = series::alloc_with_unit(8, 1);
    series::append_ascii(text, "a b");
    const Cell made = issue.to(TypeId::issue, datatype(TypeId::issue), cell::series(TypeId::string, text));
    EXPECT_EQ(mold(made), "#a b");
    EXPECT_EQ(mold(issue.make(TypeId::issue, datatype(TypeId::issue), cell::character(0x20AC))), "#\xE2\x82\xAC");
    EXPECT_EQ(mold(issue.to(TypeId::issue, datatype(TypeId::issue), word("zz", TypeId::refinement))), "#zz");
}

}  // namespace
}  // namespace zub
