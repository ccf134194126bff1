// The path family: the form budget, the room make reserves and the by-word comparison. The rest is
// in tests/lang/path.zub.
#include "tests/unit/block_fixture.h"

namespace zub {
namespace {

class Path : public BlockTest {
  protected:
    Cell a() { return word("a"); }
    Cell b() { return word("b"); }
    Cell c() { return word("c"); }
    Cell path(std::initializer_list<Cell> items, TypeId type = TypeId::path) { return block_of(items, type); }
};

// With a budget the walk stops once it is spent; the caller cuts the text (form/part in the
// language shows only the cut).
TEST_F(Path, FormStopsOnceTheLimitIsSpent) {
    struct Case {
        Cell value;
        int32_t limit;
        const char* form;
    };
    const Case cases[] = {
        {path({a(), b(), c()}), 2, "a/b"},
        {path({word("abc"), b()}), 2, "abc"},
        {path({a(), b(), c()}), 3, "a/b"},
        {path({a(), b(), c()}), 4, "a/b/c"},
    };
    for (const Case& k : cases) EXPECT_EQ(form(k.value, k.limit), k.form);
}

TEST_F(Path, MakeReservesRoom) {
    struct Case {
        TypeId type;
        Cell spec;
        uint32_t room;
    };
    const Case cases[] = {
        {TypeId::path, i(0), 1},
        {TypeId::path, i(6), 6},
        {TypeId::path, cell::floating(2.7), 2},
        {TypeId::path, cell::floating(0.5, TypeId::percent), 1},
        {TypeId::path, block_of({a(), b(), c()}), 3},
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).make(k.type, datatype(k.type), k.spec);
        EXPECT_GE(memory::buffer(made.w2)->size / sizeof(Cell), k.room);
    }
}

// A lit-path matches a path only under the word equalities, which no comparison native uses.
TEST_F(Path, CompareByWord) {
    const Cell p = path({a(), word("x"), b(), c()});
    EXPECT_EQ(row(p).compare(p, path({a(), word("x"), b(), c()}, TypeId::lit_path), op_equal_word), 0);
    EXPECT_EQ(row(p).compare(p, path({a(), word("x"), b(), c()}, TypeId::set_path), op_equal_word), kNotComparable);
}

}  // namespace
}  // namespace zub
