// The callable values: native!, action! and op! made from the tables, function! specs, their
// locals, construction, reflection and text, and routine! with its registry.
#include "datatypes/function.h"

#include <string>

#include "datatypes/block.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Function : public RuntimeTest {
  protected:
    // The environment gives the datatype words their values; type blocks need them.
    void SetUp() override {
        RuntimeTest::SetUp();
        for (int id = 1; id <= kTypeCount; ++id) {
            const TypeId type = static_cast<TypeId>(id);
            context::set(words::type_word(type), cell::make(TypeId::datatype, static_cast<uint32_t>(type)));
        }
    }
    // The values of a text, as a block at its head.
    static Cell load(const std::string& text) {
        return cell::series(TypeId::block, lexer::load(reinterpret_cast<const std::byte*>(text.data()),
                                                       static_cast<uint32_t>(text.size())));
    }
    static std::string text(Cell s) {
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    static std::string mold(Cell value, bool only = false) {
        const NodeId out = series::alloc_with_unit(16, 1);
        registry::actions(cell::type(value)).mold(value, out, MoldFlags{only, false, true, 0}, 1 << 20);
        return text(cell::series(TypeId::string, out));
    }
    static std::string form(Cell value) {
        const NodeId out = series::alloc_with_unit(16, 1);
        registry::actions(cell::type(value)).form(value, out, 1 << 20);
        return text(cell::series(TypeId::string, out));
    }
    static Cell make(TypeId type, Cell spec) {
        return registry::actions(type).make(type, cell::make(TypeId::datatype, static_cast<uint32_t>(type)), spec);
    }
    static Cell func(const std::string& spec, const std::string& body) {
        return make(TypeId::function, load("[" + spec + "] [" + body + "]"));
    }
    static Cell reflect(Cell value, const char* field) {
        return registry::actions(cell::type(value)).reflect(value, symbol::make(field));
    }
    // The error id a call raises, or "none".
    template <typename Call>
    static std::string error_of(Call call) {
        try {
            call();
        } catch (const Thrown&) {
            return std::string(error::id_word(error::pending().id));
        }
        return "none";
    }
};

// The trace flags a spec gives the function; what specs may hold is in tests/lang/calls.zub.
TEST_F(Function, SpecTraceFlags) {
    struct Case {
        const char* spec;
        uint32_t flags;
    };
    const Case cases[] = {
        {"[trace] a", cell_flag::function_trace},
        {"[no-trace] a", cell_flag::function_no_trace},
        {"[trace no-trace] a", cell_flag::function_trace | cell_flag::function_no_trace},
        {"[foo] a", 0},
        {"a [integer!] \"doc\" b", 0},
    };
    for (const Case& c : cases) {
        uint32_t flags = 0;
        EXPECT_EQ(error_of([&] { flags = function::validate_spec(load(c.spec)); }), "none") << c.spec;
        EXPECT_EQ(flags, c.flags) << c.spec;
    }
}

TEST_F(Function, CollectLocals) {
    struct Case {
        const char* spec;
        const char* body;
        const char* result;
    };
    const Case cases[] = {
        {"", "x: 1 foreach [k v] data [] repeat i 3 []", "x k v i"},
        {"a", "x: 1 foreach [k v] data [] repeat i 3 []", "a /local x k v i"},
        {"x", "x: 1 y: 2 y: 3", "x /local y"},        // each word once, none of the function spec's
        {"a /local b", "b: 1 c: 2", "a /local b c"},  // the existing /local grows
        {"a", "a: 1", "a"},                           // nothing collected, nothing added
        {"a", "local: 1", "a"},
        {"a", "foreach w s [] remove-each :v s [] (z: 1)", "a /local w z"},
        {"a", "foreach [:k 'v] s [[y: 1]]", "a /local k v y"},
        {"a /extern y", "x: 1 y: 2", "a /local x"},             // the /extern section goes
        {"a /extern y /local z", "x: 1 y: 2", "a /local z x"},  // ... its locals stay
        {"a /extern y \"doc\" [b] :c", "c: y: 1", "a"},
    };
    for (const Case& c : cases) {
        const Cell spec = load(c.spec);
        function::collect_locals(spec, load(c.body));
        std::string got = mold(spec, true);
        if (std::string(c.spec).empty()) {
            EXPECT_EQ(got, std::string("/local ") + c.result) << c.body;
        } else {
            EXPECT_EQ(got, c.result) << c.spec << " | " << c.body;
        }
    }
    EXPECT_EQ(error_of([&] { function::collect_locals(load("a /extern 1"), load("")); }), "bad-func-extern");
}

TEST_F(Function, CountLocalSlots) {
    const Cell spec = load("a /r b /local c d");
    EXPECT_EQ(function::count_local_slots(spec.w2, 0, true), 3);
    EXPECT_EQ(function::count_local_slots(load("a").w2, 0, true), -1);
    EXPECT_EQ(function::count_local_slots(load("a").w2, 0, false), 0);
}

TEST_F(Function, RefinementDefaults) {
    const uint32_t before = stack::index_of(stack::g_top);
    function::push_refinement_defaults(3);
    ASSERT_EQ(stack::index_of(stack::g_top), before + 3);
    EXPECT_TRUE(cell::is(stack::at(before), TypeId::logic) && !cell::as_logic(stack::at(before)));
    EXPECT_TRUE(cell::is(stack::at(before + 2), TypeId::none));
}

TEST_F(Function, MakeValidatesAndBuilds) {
    const Cell f = func("a [integer!] /local b", "b: a + 1");
    ASSERT_TRUE(cell::is(f, TypeId::function));
    EXPECT_EQ(mold(f), "func [a [integer!] /local b][b: a + 1]");
    EXPECT_EQ(form(f), "?function?");
    // The context holds the function spec's names and the function as owner; the body is bound to it.
    const NodeId context = function::context_of(f);
    EXPECT_EQ(context::word_count(context), 3u);  // a, local, b: /local takes a slot too
    EXPECT_EQ(context::owner_of(context).w3, f.w3);
    const Cell body = function::more_at(f, function::kBody);
    EXPECT_EQ(memory::buffer(body.w2)->cells()[0].w1, context);
    EXPECT_TRUE(cell::is(function::more_at(f, function::kCode), TypeId::unset));

    const char* bad[] = {"[a]", "[[a] 1]", "[a [b]]", "1"};
    for (const char* value : bad) {
        const Cell v = std::string(value) == "1" ? cell::integer(1) : load(value);
        EXPECT_EQ(error_of([&] { make(TypeId::function, v); }), "bad-func-def") << value;
    }
    EXPECT_EQ(error_of([&] { func("a a", ""); }), "dup-vars");
    EXPECT_EQ(error_of([&] { func("[trace] a", ""); }), "none");
    EXPECT_TRUE(func("[trace] a", "").header & cell_flag::function_trace);
}

TEST_F(Function, BodyIsCopiedDeeplyAndTheSpecFromItsHead) {
    const Cell source = load("[a b] [a [b]]");
    const Cell spec = block::abs_at(source, 0);
    Cell body = block::abs_at(source, 1);
    const Cell f = make(TypeId::function, source);
    EXPECT_NE(function::more_at(f, function::kBody).w2, body.w2);
    memory::buffer(body.w2)->cells()[0] = cell::integer(9);  // the caller's block changes later
    EXPECT_EQ(mold(f), "func [a b][a [b]]");
    EXPECT_NE(f.w2, spec.w2);  // its own spec: the caller's block may change too

    Cell tail_spec = load("x a b");
    tail_spec.w1 = 1;
    (void)function::push(tail_spec, cell::none(), 0, 0, 0, function::kSystem);
    const Cell g = stack::top_cell();
    stack::pop(1);
    EXPECT_NE(g.w2, tail_spec.w2);
    EXPECT_EQ(mold(g), "func [x a b] none");  // a copy from the head; no body molds as none
    EXPECT_TRUE(g.header & function::kSystem);
}

TEST_F(Function, Reflect) {
    const Cell f = func("a /r b", "a");
    EXPECT_EQ(mold(reflect(f, "spec")), "[a /r b]");
    EXPECT_EQ(mold(reflect(f, "body")), "[a]");
    const Cell words = reflect(f, "words");
    EXPECT_EQ(mold(words), "[a r b]");
    EXPECT_EQ(memory::buffer(words.w2)->cells()[2].w1, function::context_of(f));
    EXPECT_EQ(memory::buffer(words.w2)->cells()[2].w3, 2u);
    EXPECT_EQ(error_of([&] { reflect(f, "values"); }), "not-done");
}

TEST_F(Function, FunctionsEqualOnlyThemselves) {
    const Cell f = func("a", "a"), g = func("a", "a");
    const CompareFn compare = registry::actions(TypeId::function).compare;
    EXPECT_EQ(compare(f, f, op_equal), 0);
    EXPECT_NE(compare(f, g, op_equal), 0);
    EXPECT_EQ(compare(f, cell::integer(1), op_equal), kNotComparable);
    EXPECT_EQ(compare(f, g, op_lesser), kNotComparable);
}

class Native : public Function {};

TEST_F(Native, MakeTakesASpecAndAFilledIndex) {
    struct Case {
        TypeId type;
        const char* spec;
        const char* error;
    };
    const Case cases[] = {
        {TypeId::native, "[[a] 1]", "none"},
        {TypeId::native, "[[a] 107]", "none"},
        {TypeId::native, "[[a] 0]", "bad-make-arg"},
        {TypeId::native, "[[a] 108]", "bad-make-arg"},
        {TypeId::native, "[[a] 121]", "bad-make-arg"},
        {TypeId::native, "[[a] -1]", "bad-make-arg"},
        {TypeId::native, "[[a]]", "bad-make-arg"},
        {TypeId::native, "[[a] 1 2]", "bad-make-arg"},
        {TypeId::native, "[[a] \"1\"]", "bad-make-arg"},
        {TypeId::native, "[a 1]", "bad-make-arg"},
        {TypeId::action, "[[a] 62]", "none"},
        {TypeId::action, "[[a] 63]", "bad-make-arg"},
        {TypeId::action, "[[a] 0]", "bad-make-arg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { make(c.type, block::abs_at(load(c.spec), 0)); }), c.error) << c.spec;
    EXPECT_EQ(error_of([&] { make(TypeId::native, cell::integer(1)); }), "bad-make-arg");
}

TEST_F(Native, ReflectMoldFormAndCompare) {
    const Cell n = make(TypeId::native, block::abs_at(load("[[\"doc\" a [block!]] 84]"), 0));
    EXPECT_EQ(cell::as_integer(reflect(n, "body")), 84);
    EXPECT_EQ(mold(reflect(n, "spec")), "[\"doc\" a [block!]]");
    EXPECT_EQ(error_of([&] { reflect(n, "words"); }), "not-done");
    EXPECT_EQ(mold(n), "make native! [[\"doc\" a [block!]]]");
    EXPECT_EQ(form(n), "?native?");
    const Cell a = make(TypeId::action, block::abs_at(load("[[a] 11]"), 0));
    EXPECT_EQ(mold(a), "make action! [[a]]");
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(cell::as_integer(reflect(a, "body")), 11);  // inherited from native!

    const Cell same = make(TypeId::native, block::abs_at(load("[[b] 84]"), 0));
    const Cell other = make(TypeId::native, block::abs_at(load("[[a] 85]"), 0));
    const CompareFn compare = registry::actions(TypeId::native).compare;
    EXPECT_EQ(compare(n, same, op_equal), 0);
    EXPECT_EQ(compare(n, other, op_equal), -1);
    EXPECT_EQ(compare(n, a, op_equal), kNotComparable);
    EXPECT_EQ(compare(n, other, op_greater), kNotComparable);
}

// An op! can be made from the built-in table's specs: a two-argument native and action.
TEST_F(Native, OpFromTheBuiltInSpecs) {
    const Cell spec_of_equal = natives::spec(natives::index_of(natives::Native::equal_q));
    const Cell equal = cell::make(TypeId::native, natives::index_of(natives::Native::equal_q), spec_of_equal.w2, 0);
    const Cell op = make(TypeId::op, equal);
    EXPECT_EQ(op.header & 0xFF, static_cast<uint32_t>(TypeId::op));
    EXPECT_EQ((op.header >> 16) & 0xFF, static_cast<uint32_t>(TypeId::native));
    EXPECT_EQ(cell::as_integer(reflect(op, "body")), 25);
    EXPECT_EQ(form(op), "?op?");
    EXPECT_EQ(mold(op).substr(0, 11), "make op! [[");
    const Cell add = cell::make(TypeId::action, 11, natives::action_spec(Slot::add).w2, 0);
    EXPECT_EQ(error_of([&] { make(TypeId::op, add); }), "none");
    const Cell if_ = cell::make(TypeId::native, 1, natives::spec(1).w2, 0);
    EXPECT_EQ(error_of([&] { make(TypeId::op, if_); }), "none");  // cond and then-blk: two
    const Cell either = cell::make(TypeId::native, 3, natives::spec(3).w2, 0);
    EXPECT_EQ(error_of([&] { make(TypeId::op, either); }), "bad-op-spec");
}

class Op : public Function {};

TEST_F(Op, MakeCountsTwoArguments) {
    struct Case {
        const char* spec;
        const char* error;
    };
    const Case cases[] = {
        {"a b", "none"},
        {"a b /local c", "none"},
        {"a b /only", "bad-op-spec"},
        {"a b c", "bad-op-spec"},
        {"a", "bad-op-spec"},
        {":a b", "bad-op-spec"},
        {"'a b", "bad-op-spec"},
        {"a :b", "none"},
        {"a 'b", "none"},
        {"\"doc\" a [integer!] \"x\" b [integer!] return: [integer!]", "none"},
        {"a b /extern c", "none"},
    };
    for (const Case& c : cases) {
        Cell f;
        if (std::string(c.spec).find("/extern") != std::string::npos) {
            (void)function::push(load(c.spec), cell::none(), 0, 0, 0, 0);  // not a spec make accepts
            f = stack::top_cell();
            stack::pop(1);
        } else {
            f = func(c.spec, "");
        }
        EXPECT_EQ(error_of([&] { make(TypeId::op, f); }), c.error) << c.spec;
    }
    EXPECT_EQ(error_of([&] { make(TypeId::op, cell::integer(1)); }), "invalid-type");
    EXPECT_EQ(static_cast<TypeId>(error::pending().args[0].w1), TypeId::integer);
}

TEST_F(Op, FromAFunctionKeepsTheFunction) {
    const Cell f = func("a b", "a + b");
    const Cell op = make(TypeId::op, f);
    EXPECT_EQ((op.header >> 16) & 0xFF, static_cast<uint32_t>(TypeId::function));
    EXPECT_EQ(function::more_at(f, function::kOpSelf).w3, f.w3);
    EXPECT_EQ(mold(reflect(op, "body")), "[a + b]");
    EXPECT_EQ(mold(reflect(op, "spec")), "[a b]");
    EXPECT_EQ(mold(op), "make op! func [a b][a + b]");
    EXPECT_EQ(registry::actions(TypeId::op).compare(op, make(TypeId::op, f), op_equal), 0);
    EXPECT_NE(registry::actions(TypeId::op).compare(op, make(TypeId::op, func("a b", "")), op_equal), 0);
}

class Routine : public Function {
  protected:
    static Status answer(const int32_t*) {
        *stack::args() = cell::integer(42);
        return Status::normal;
    }
    void TearDown() override {
        function::reset_routines();
        Function::TearDown();
    }
};

TEST_F(Routine, RegistryByName) {
    const uint32_t a = function::add_routine("answer", answer);
    EXPECT_EQ(function::find_routine("answer"), a);
    EXPECT_EQ(function::find_routine("question"), 0u);
    EXPECT_EQ(function::add_routine("answer", answer), a);  // again: same index
    EXPECT_EQ(function::routine_entry(a), answer);
    EXPECT_EQ(function::routine_entry(0), nullptr);
    EXPECT_EQ(function::routine_entry(a + 1), nullptr);
}

TEST_F(Routine, PushKeepsArityFlagAndCode) {
    const uint32_t code = function::add_routine("answer", answer);
    (void)function::push_routine(load("a [integer!] b /local c"), cell::none(), code, 0, true);
    const Cell r = stack::top_cell();
    stack::pop(1);
    EXPECT_TRUE(cell::is(r, TypeId::routine));
    EXPECT_EQ(function::routine_arity(r), 3u);  // every word! of the function spec
    EXPECT_TRUE(r.header & function::kRoutineFlag);
    EXPECT_EQ(cell::as_integer(function::more_at(r, function::kCode)), static_cast<int32_t>(code));
    EXPECT_TRUE(cell::is(function::more_at(r, function::kCode2), TypeId::unset));
    EXPECT_EQ(mold(r), "routine [a [integer!] b /local c] none");
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(mold(reflect(r, "spec")), "[a [integer!] b /local c]");  // inherited from function!
    EXPECT_EQ(error_of([&] { make(TypeId::routine, load("[a] [b]")); }), "expect-arg");
    const Cell op = make(TypeId::op, r);
    EXPECT_EQ((op.header >> 16) & 0xFF, static_cast<uint32_t>(TypeId::routine));
    EXPECT_EQ(function::routine_arity(op), 3u);  // the arity bits survive the retyping
}

}  // namespace
}  // namespace zub

namespace zub {
namespace {

// A collection keeps what a function value reaches (spec, body, context) and the built-in specs.
TEST_F(Function, CollectionKeepsFunctionsAndTheBuiltInSpecs) {
    (void)function::push(load("a /local b"), load("b: a [nested]"), 0, 0, 0, 0);
    for (int i = 0; i < 1000; ++i) (void)load("garbage [1 2 3] \"text\"");
    collector::g_state.enabled = true;
    collector::do_cycle();
    collector::g_state.enabled = false;
    EXPECT_EQ(mold(stack::top_cell()), "func [a /local b][b: a [nested]]");
    EXPECT_EQ(mold(natives::spec(8), true).substr(0, 30), "\"Evaluates the body a number o");
    EXPECT_EQ(natives::shape(107).fixed, 2);
}

}  // namespace
}  // namespace zub
