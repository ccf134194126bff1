// Interning: exact spellings, ASCII case variants as aliases, growth of the table.
#include <gtest/gtest.h>

#include <string>

#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"

namespace zub {
namespace {

class Symbols : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        symbol::init();
    }
    void TearDown() override { memory::free_all(); }
};

TEST_F(Symbols, CaseVariantsAliasTheFirstSpelling) {
    const symbol::Id foo = symbol::make("foo");
    const symbol::Id Foo = symbol::make("Foo");
    const symbol::Id FOO = symbol::make("FOO");
    EXPECT_NE(Foo, foo);
    EXPECT_NE(FOO, Foo);
    EXPECT_EQ(symbol::alias(foo), -1);
    EXPECT_EQ(symbol::alias(Foo), static_cast<int32_t>(foo));
    EXPECT_EQ(symbol::alias(FOO), static_cast<int32_t>(foo));
    EXPECT_EQ(symbol::make("foo"), foo);
    EXPECT_EQ(symbol::make("FOO"), FOO);
    EXPECT_EQ(symbol::resolve(foo), foo);
    EXPECT_EQ(symbol::resolve(FOO), foo);
    EXPECT_EQ(symbol::utf8(Foo), "Foo");
}

TEST_F(Symbols, OnlyAsciiLettersFold) {
    const symbol::Id small = symbol::make("\xC3\xA9");    // é
    const symbol::Id capital = symbol::make("\xC3\x89");  // É
    EXPECT_NE(small, capital);
    EXPECT_EQ(symbol::alias(capital), -1);
    EXPECT_EQ(symbol::alias(symbol::make("a\xC3\xA9")), -1);
    EXPECT_EQ(symbol::alias(symbol::make("A\xC3\xA9")), static_cast<int32_t>(symbol::make("a\xC3\xA9")));
}

TEST_F(Symbols, SinglePassReturnsAnExistingVariant) {
    const symbol::Id word = symbol::make_exact("Word");
    EXPECT_EQ(symbol::make_exact("WORD"), word);
    EXPECT_EQ(symbol::make_exact("word"), word);
    EXPECT_EQ(symbol::count(), 1u);
}

TEST_F(Symbols, EmptyNameAndNulTerminator) {
    const symbol::Id empty = symbol::make("");
    EXPECT_EQ(symbol::utf8(empty), "");
    EXPECT_EQ(symbol::make(""), empty);
    const symbol::Id abc = symbol::make("abc");
    EXPECT_EQ(symbol::utf8(abc).data()[3], '\0');
}

TEST_F(Symbols, NameStringIsMadeOnceAndHoldsCodePoints) {
    const symbol::Id id = symbol::make("caf\xC3\xA9");
    const NodeId s = symbol::name_string(id);
    EXPECT_EQ(symbol::name_string(id), s);
    EXPECT_EQ(series::length(s), 4u);
    EXPECT_EQ(series::code_point_at(memory::buffer(s)->head_ptr(), series::unit(s), 3), 0xE9u);
    EXPECT_EQ(symbol::get(id).w2, s);
    EXPECT_EQ(cell::type(symbol::get(id)), TypeId::symbol);
}

TEST_F(Symbols, GrowthKeepsIdsAndAliases) {
    std::vector<symbol::Id> ids;
    for (int i = 0; i < 50000; ++i) ids.push_back(symbol::make("name-" + std::to_string(i)));
    for (int i = 0; i < 50000; i += 7) {
        const symbol::Id upper = symbol::make("NAME-" + std::to_string(i));
        EXPECT_EQ(symbol::resolve(upper), ids[i]);
        EXPECT_EQ(symbol::make("Name-" + std::to_string(i)) != upper, true);
    }
    for (int i = 0; i < 50000; ++i) ASSERT_EQ(symbol::make("name-" + std::to_string(i)), ids[i]) << i;
    for (int i = 0; i < 50000; i += 7) ASSERT_EQ(symbol::resolve(symbol::make("nAME-" + std::to_string(i))), ids[i]);
}

}  // namespace
}  // namespace zub
