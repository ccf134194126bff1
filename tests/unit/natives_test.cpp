// The natives table, the built-in specs as start-up walks them, and the argument checks.
#include "evaluator/natives.h"

#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/typeset.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Natives : public RuntimeTest {
  protected:
    static std::string name(symbol::Id id) { return std::string(symbol::utf8(id)); }
    static signatures::Table load(const std::string& text, const std::vector<std::string_view>& words) {
        return signatures::load(reinterpret_cast<const unsigned char*>(text.data()), static_cast<uint32_t>(text.size()),
                                words);
    }
};

TEST_F(Natives, EachNativeKeepsItsFixedIndex) {
    struct Case {
        uint32_t index;
        const char* word;
    };
    const Case cases[] = {{1, "if"},      {14, "func"},   {20, "do"},         {62, "NaN?"},
                          {77, "break"},  {84, "debase"}, {91, "enbase"},     {97, "sign?"},
                          {100, "zero?"}, {101, "size?"}, {106, "transcode"}, {107, "apply"}};
    for (const Case& c : cases) {
        EXPECT_EQ(natives::word(c.index), c.word) << c.index;
        EXPECT_EQ(name(natives::shape(c.index).word), c.word) << c.index;
    }
    EXPECT_EQ(natives::count(), 107u);
    EXPECT_TRUE(natives::filled(107));
    EXPECT_FALSE(natives::filled(108));
    EXPECT_FALSE(natives::filled(0));
}

// The natives listed but not written yet: exactly these share the planned entry, and each raises
// internal not-done, as do indexes outside the table. A native that lands leaves this list.
TEST_F(Natives, PlannedNativesAndIndexesOutsideRaiseNotDone) {
    using natives::Native;
    const std::vector<Native> planned;  // every native is written now
    std::vector<uint32_t> expected;
    for (Native n : planned) expected.push_back(natives::index_of(n));
    std::vector<uint32_t> found;
    for (uint32_t i = 1; i <= natives::count(); ++i)
        if (natives::entry(i) == &natives::planned) found.push_back(i);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    std::vector<uint32_t> raising = expected;
    raising.insert(raising.end(), {0u, natives::count() + 1, 255u});
    for (uint32_t index : raising) {
        stack::Call call(stack::FrameType::native, word("x"));
        const int32_t refinements[12] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
        EXPECT_THROW((void)natives::entry(index)(refinements), Thrown) << index;
        EXPECT_EQ(error::pending().id, ErrorId::not_done) << index;
    }
}

// What the walk must find in the specs: arguments before the refinements, refinements, and all
// arguments, refinement arguments included.
TEST_F(Natives, SpecsGiveTheTablesArgumentsAndRefinements) {
    struct Case {
        uint32_t index;
        uint16_t fixed, refinements, params;
    };
    const Case cases[] = {
        {1, 2, 0, 2},  {9, 3, 0, 3},   {15, 2, 1, 2}, {18, 2, 1, 3},  {20, 1, 4, 4},
        {22, 2, 4, 2}, {37, 0, 2, 0},  {40, 2, 3, 4}, {41, 2, 2, 3},  {77, 0, 1, 1},
        {78, 0, 0, 0}, {96, 0, 10, 0}, {99, 1, 7, 4}, {106, 1, 7, 4}, {107, 2, 2, 2},
    };
    for (const Case& c : cases) {
        const signatures::Shape& s = natives::shape(c.index);
        EXPECT_EQ(s.fixed, c.fixed) << natives::word(c.index);
        EXPECT_EQ(s.refinements, c.refinements) << natives::word(c.index);
        EXPECT_EQ(s.params, c.params) << natives::word(c.index);
    }
    // repeat takes its word unevaluated; any-type! lets unset through, series! takes no integer.
    EXPECT_TRUE(natives::param(natives::shape(9), 0).literal);
    EXPECT_FALSE(natives::param(natives::shape(9), 1).literal);
    EXPECT_TRUE(typeset::contains(natives::param(natives::shape(1), 0).types, TypeId::unset));
    EXPECT_FALSE(typeset::contains(natives::param(natives::shape(13), 1).types, TypeId::integer));
    EXPECT_TRUE(typeset::contains(natives::param(natives::shape(13), 1).types, TypeId::file));
    // An argument without a type block takes anything: do/args.
    EXPECT_EQ(name(natives::param(natives::shape(20), 1).word), "arg");
    EXPECT_TRUE(typeset::contains(natives::param(natives::shape(20), 1).types, TypeId::error));
}

// The refinements of each action's spec are those its generic entry reads, in number.
TEST_F(Natives, ActionSpecsMatchTheGenericEntries) {
    struct Case {
        Slot slot;
        uint16_t fixed, refinements;
    };
    const Case cases[] = {
        {Slot::make, 2, 0},    {Slot::random, 1, 3}, {Slot::reflect, 2, 0}, {Slot::form, 1, 1},  {Slot::mold, 1, 4},
        {Slot::round, 1, 7},   {Slot::append, 2, 3}, {Slot::change, 2, 3},  {Slot::copy, 1, 3},  {Slot::find, 2, 11},
        {Slot::insert, 2, 3},  {Slot::move, 2, 1},   {Slot::poke, 3, 0},    {Slot::put, 3, 1},   {Slot::remove, 1, 2},
        {Slot::reverse, 1, 2}, {Slot::select, 2, 9}, {Slot::sort, 1, 7},    {Slot::take, 1, 3},  {Slot::trim, 1, 6},
        {Slot::modify, 3, 1},  {Slot::open, 1, 5},   {Slot::read, 1, 6},    {Slot::write, 2, 8},
    };
    for (const Case& c : cases) {
        const signatures::Shape& s = natives::action_shape(c.slot);
        EXPECT_EQ(name(s.word), registry::action_word(c.slot));
        EXPECT_EQ(s.fixed, c.fixed) << registry::action_word(c.slot);
        EXPECT_EQ(s.refinements, c.refinements) << registry::action_word(c.slot);
    }
    EXPECT_EQ(name(natives::action_shape(Slot::write).word), "write");
}

using NativeChecks = Natives;

TEST_F(NativeChecks, WrongTypesRaiseExpectArgWithTheCallTheTypeAndTheArgument) {
    const Cell i = cell::integer(1), blk = block_of({}), none = cell::none();
    struct Case {
        uint32_t index;
        std::vector<Cell> args;
        std::vector<int32_t> refinements;
        const char* error;
    };
    const Case cases[] = {
        {8, {i, blk}, {}, ""},  // loop 1 []
        {8, {blk, blk}, {}, "expect-arg loop block! count"},
        {8, {i, i}, {}, "expect-arg loop integer! body"},
        {1, {cell::unset(), blk}, {}, ""},  // if takes any-type!
        {54, {i, none}, {-1}, ""},          // absent /size: not checked
        {54, {i, none}, {1}, "expect-arg to-hex none! length"},
        {54, {i, i}, {1}, ""},
        {18, {i, blk, i}, {2}, "expect-arg switch integer! case"},  // switch/default
        {53, {i, i}, {2, 2}, ""},                                   // flags without arguments
        {99,
         {cell::series(TypeId::string, 0), none, none, i, none},
         {-1, -1, -1, -1, -1, 3, -1},
         "expect-arg call integer! out"},  // call/output
    };
    for (const Case& c : cases) {
        stack::init();
        std::string got;
        {
            stack::Call call(stack::FrameType::native, word(std::string(natives::word(c.index)).c_str()));
            for (const Cell& a : c.args) stack::push(a);
            std::vector<int32_t> r = c.refinements;
            r.resize(16, -1);
            try {
                natives::check_args(natives::shape(c.index), r.data());
            } catch (const Thrown&) {
                const error::Pending& e = error::pending();
                got = std::string(error::id_word(e.id)) + " " + name(e.args[0].w2) + " " +
                      std::string(registry::name(static_cast<TypeId>(e.args[1].w1))) + " " + name(e.args[2].w2);
            }
        }
        EXPECT_EQ(got, c.error) << natives::word(c.index);
    }
}

TEST_F(NativeChecks, CheckedCallsStopBeforeTheEntry) {
    stack::Call call(stack::FrameType::native, word("loop"));
    stack::push(cell::none());
    stack::push(block_of({}));
    const int32_t none[1] = {-1};
    EXPECT_THROW((void)natives::call(natives::index_of(natives::Native::loop), none, true), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::expect_arg);  // not the entry's not-done
}

TEST_F(Natives, MalformedSpecTextIsRefusedWithAClearError) {
    struct Case {
        const char* text;
        std::vector<std::string_view> words;
        ErrorId error;
    };
    const Case cases[] = {
        {"f [a [integer!]]", {"g"}, ErrorId::bad_func_def},  // not the expected word
        {"f [a]", {"f", "g"}, ErrorId::bad_func_def},        // a function missing
        {"f [a] g [b]", {"f"}, ErrorId::bad_func_def},       // one too many
        {"f a", {"f"}, ErrorId::bad_func_def},               // no spec block
        {"f [a [no-such-type!]]", {"f"}, ErrorId::invalid_type_spec},
        {"f [a [1]]", {"f"}, ErrorId::invalid_type_spec},
        {"f [a result: [integer!]]", {"f"}, ErrorId::bad_func_def},  // only return: is a set-word
        {"f [return: integer!]", {"f"}, ErrorId::bad_func_def},
        {"f [a 12]", {"f"}, ErrorId::bad_func_def},
        {"f [/local a /b]", {"f"}, ErrorId::bad_func_def},
    };
    for (const Case& c : cases) {
        EXPECT_THROW(load(c.text, c.words), Thrown) << c.text;
        EXPECT_EQ(error::pending().id, c.error) << c.text;
    }
    EXPECT_THROW(load("f [a [integer!]", {"f"}), Thrown);  // the lexer's syntax error
    EXPECT_EQ(error::category_of(error::pending().id), ErrorCategory::syntax);
    const signatures::Table good = load("f [\"doc\" 'a [word!] \"doc\" /r b /local c d return: [none!]]", {"f"});
    ASSERT_EQ(good.shapes.size(), 1u);
    EXPECT_EQ(good.shapes[0].fixed, 1);
    EXPECT_EQ(good.shapes[0].refinements, 1);
    EXPECT_EQ(good.shapes[0].params, 2);
}

}  // namespace
}  // namespace zub
