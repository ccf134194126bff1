// The path family and paren!: mold and form with their joins, prefixes and suffixes, budgets and
// cycles; make, to and copy; the actions a path refuses and those it shares with block!.
#include "datatypes/typeset.h"
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

TEST_F(Path, Mold) {
    const MoldFlags none{}, only{true, false, false, 0}, all{false, true, false, 0};
    struct Case { Cell value; MoldFlags flags; const char* mold; };
    const Case cases[] = {
        {path({a(), b(), c()}), none, "a/b/c"},
        {path({a(), b(), c()}, TypeId::lit_path), none, "'a/b/c"},
        {path({a(), b()}, TypeId::set_path), none, "a/b:"},
        {path({a(), b()}, TypeId::get_path), none, ":a/b"},
        {path({a(), i(1)}), none, "a/1"},
        {path({a()}), none, "a"},
        {path({}), none, ""},
        {path({}, TypeId::lit_path), none, "'"},
        {at(path({a(), b(), c()}), 1), none, "b/c"},
        {path({a(), block_of({b(), c()}, TypeId::paren)}), none, "a/(b c)"},
        {path({a(), block_of({b(), c()})}), only, "a/[b c]"},  // /only is not passed to the items
        {path({a(), cell::logic(true)}), all, "a/#(true)"},
        {path({a(), nl(b()), block_of({nl(c())})}), none, "a/b/[\n    c\n]"},  // a path stays on one line
        {path({a(), path({b(), c()})}), none, "a/b/c"},
        {block_of({nl(path({a(), b()}, TypeId::set_path)), nl(i(1))}), none, "[\n    a/b:\n    1\n]"},
    };
    for (const Case& k : cases) EXPECT_EQ(mold(k.value, k.flags), k.mold);
}

TEST_F(Path, Form) {
    struct Case { Cell value; int32_t limit; const char* form; };
    const Case cases[] = {
        {path({a(), b(), c()}), kNoLimit, "a/b/c"},
        {path({a(), b()}, TypeId::set_path), kNoLimit, "a/b"},
        {path({a(), b()}, TypeId::get_path), kNoLimit, "a/b"},
        {path({a(), block_of({b(), c()})}), kNoLimit, "a/b c"},
        // With a budget of 2, a and b are formed and the walk stops; the caller cuts to 2.
        {path({a(), b(), c()}), 2, "a/b"},
        {path({word("abc"), b()}), 2, "abc"},
        {path({a(), b(), c()}), 3, "a/b"},
        {path({a(), b(), c()}), 4, "a/b/c"},
    };
    for (const Case& k : cases) EXPECT_EQ(form(k.value, k.limit), k.form);
}

TEST_F(Path, CutAtEveryLimit) {
    const Cell values[] = {
        path({a(), i(22), block_of({b(), c()}, TypeId::paren)}, TypeId::get_path),
        block_of({path({a(), b()}, TypeId::lit_path), block_of({nl(c())}, TypeId::paren)}),
    };
    for (const Cell& v : values) {
        const std::string full = mold(v), full_form = form(v);
        for (int32_t limit = 1; limit <= static_cast<int32_t>(full.size()) + 1; ++limit) {
            EXPECT_EQ(mold(v, {}, limit).substr(0, limit), full.substr(0, limit)) << full << " " << limit;
            EXPECT_EQ(form(v, limit).substr(0, limit), full_form.substr(0, limit)) << full_form << " " << limit;
        }
    }
}

TEST_F(Path, Cycles) {
    struct Case { TypeId type; const char* mold; const char* form; };
    const Case cases[] = {
        {TypeId::path, "a/...", "a/..."},
        {TypeId::set_path, "a/...:", "a/..."},  // the marker stands for the whole inner path
        {TypeId::get_path, ":a/...", "a/..."},
        {TypeId::lit_path, "'a/...", "a/..."},
        {TypeId::paren, "(a (...))", "a ..."},
    };
    for (const Case& k : cases) {
        const Cell p = path({a()}, k.type);
        series::append_cell(p.w2, p);
        EXPECT_EQ(mold(p), k.mold);
        EXPECT_EQ(form(p), k.form);
        EXPECT_EQ(raised([&] { row(p).copy(p, CopyOptions{nullptr, true, nullptr}); }), ErrorId::no_cycle);
    }
    // A path inside a block inside itself.
    const Cell blk = block_of({a()});
    series::append_cell(blk.w2, path({b(), blk}));
    EXPECT_EQ(mold(blk), "[a b/[...]]");
}

TEST_F(Path, Paren) {
    const MoldFlags only{true, false, false, 0};
    struct Case { Cell value; MoldFlags flags; const char* mold; };
    const Case cases[] = {
        {path({i(1), i(2)}, TypeId::paren), {}, "(1 2)"},
        {path({i(1), i(2)}, TypeId::paren), only, "1 2"},
        {path({}, TypeId::paren), {}, "()"},
        {path({path({a()}, TypeId::paren)}, TypeId::paren), {}, "((a))"},
        {path({nl(a()), b()}, TypeId::paren), {}, "(\n    a b\n)"},
        {path({nl(a()), nl(b())}, TypeId::paren), only, "a\nb"},
    };
    for (const Case& k : cases) EXPECT_EQ(mold(k.value, k.flags), k.mold);
    EXPECT_EQ(form(path({a(), path({b()}, TypeId::paren)}, TypeId::paren)), "a b");
}

TEST_F(Path, Make) {
    struct Case { TypeId type; Cell spec; const char* mold; uint32_t room; };
    const Case cases[] = {
        {TypeId::path, i(0), "", 1},
        {TypeId::path, i(6), "", 6},
        {TypeId::path, cell::floating(2.7), "", 2},
        {TypeId::path, cell::floating(0.5, TypeId::percent), "", 1},
        {TypeId::path, block_of({a(), b(), c()}), "a/b/c", 3},
        {TypeId::set_path, block_of({a(), b()}), "a/b:", 2},
        {TypeId::get_path, block_of({a(), b()}), ":a/b", 2},
        {TypeId::lit_path, path({a(), b()}, TypeId::paren), "'a/b", 2},
        {TypeId::path, at(path({a(), b()}, TypeId::set_path), 1), "b", 1},
        {TypeId::paren, path({a(), b()}), "(a b)", 2},
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).make(k.type, datatype(k.type), k.spec);
        EXPECT_EQ(cell::type(made), k.type);
        EXPECT_EQ(made.w1, 0u);
        EXPECT_EQ(mold(made), k.mold);
        EXPECT_GE(memory::buffer(made.w2)->size / sizeof(Cell), k.room);
    }
    for (const Cell& spec : {cell::none(), a(), cell::make(TypeId::object)}) {
        EXPECT_EQ(raised([&] { row(TypeId::set_path).make(TypeId::set_path, datatype(TypeId::set_path), spec); }),
                  ErrorId::bad_make_arg);
        EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(TypeId::set_path));
    }
}

TEST_F(Path, To) {
    const Cell object = cell::make(TypeId::object, 5, 0, 0);
    const Cell types = typeset::make_of({TypeId::integer});
    struct Case { TypeId type; Cell value; uint32_t length; const char* mold; };
    const Case cases[] = {
        {TypeId::path, block_of({a(), b()}), 2, "a/b"},
        {TypeId::lit_path, a(), 1, "'a"},
        {TypeId::set_path, i(5), 1, "5:"},
        {TypeId::get_path, path({a(), b()}, TypeId::paren), 2, ":a/b"},
        {TypeId::path, types, 1, nullptr},  // the typeset as one item, not its datatypes
        {TypeId::path, object, 1, nullptr},
        {TypeId::paren, types, 1, "(integer!)"},  // paren! converts as a block does
    };
    for (const Case& k : cases) {
        const Cell made = row(k.type).to(k.type, datatype(k.type), k.value);
        EXPECT_EQ(cell::type(made), k.type);
        EXPECT_EQ(block::length(made), k.length);
        if (k.mold) {
            EXPECT_EQ(mold(made), k.mold);
        } else {
            EXPECT_EQ(cell::type(block::abs_at(made, 0)), cell::type(k.value));
        }
    }
}

TEST_F(Path, CopyKeepsTheType) {
    for (TypeId t : {TypeId::path, TypeId::lit_path, TypeId::set_path, TypeId::get_path, TypeId::paren}) {
        const Cell p = path({a(), path({b()}, TypeId::paren), c()}, t);
        const Cell shallow = row(p).copy(at(p, 1), CopyOptions{});
        EXPECT_EQ(cell::type(shallow), t);
        EXPECT_EQ(block::length(shallow), 2u);
        const Cell deep = row(p).copy(p, CopyOptions{nullptr, true, nullptr});
        EXPECT_EQ(cell::type(deep), t);
        EXPECT_EQ(mold(deep), mold(p));
        EXPECT_NE(block::abs_at(deep, 1).w2, block::abs_at(p, 1).w2);
    }
}

TEST_F(Path, RefusesWhatABlockAllows) {
    for (TypeId t : {TypeId::path, TypeId::lit_path, TypeId::set_path, TypeId::get_path}) {
        const Cell p = path({cell::none(), a()}, t);
        EXPECT_EQ(raised([&] { row(p).trim(p, TrimOptions{}); }), ErrorId::expect_arg);
        EXPECT_EQ(raised([&] { row(p).sort(p, SortOptions{}); }), ErrorId::expect_arg);
        EXPECT_EQ(raised([&] { row(p).random(p, false, false, false); }), ErrorId::expect_arg);
        EXPECT_EQ(raised([&] { row(p).add(p, i(1)); }), ErrorId::expect_arg);
        EXPECT_EQ(block::length(p), 2u);
    }
    // A paren trims as a block does.
    const Cell paren = path({cell::none(), a()}, TypeId::paren);
    row(paren).trim(paren, TrimOptions{});
    EXPECT_EQ(mold(paren), "(a)");
}

TEST_F(Path, SharesTheBlockActions) {
    const Cell p = path({a(), b()});
    row(p).append(p, c(), InsertOptions{-1, false, 1});
    EXPECT_EQ(mold(p), "a/b/c");
    row(p).insert(at(p, 1), block_of({i(1), i(2)}), InsertOptions{-1, false, 1});
    EXPECT_EQ(mold(p), "a/1/2/b/c");
    row(p).change(at(p, 1), word("x"), InsertOptions{2, false, 1});
    EXPECT_EQ(mold(p), "a/x/b/c");
    const PathStep get{nullptr, p, cell::none(), 1, false};
    EXPECT_EQ(row(p).eval_path(p, i(2), get).w2, word("x").w2);
    // Paths compare with their own kind; a lit-path matches a path only under the word equalities.
    EXPECT_EQ(row(p).compare(p, path({a(), word("X"), b(), c()}), op_equal), 0);
    EXPECT_EQ(row(p).compare(p, path({a(), word("x"), b(), c()}, TypeId::lit_path), op_equal), kNotComparable);
    EXPECT_EQ(row(p).compare(p, path({a(), word("x"), b(), c()}, TypeId::lit_path), op_equal_word), 0);
    EXPECT_EQ(row(p).compare(p, path({a(), word("x"), b(), c()}, TypeId::set_path), op_equal_word), kNotComparable);
}

}  // namespace
}  // namespace zub
