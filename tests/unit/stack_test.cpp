// The evaluation stack, call frames and non-local exits.
#include "evaluator/stack.h"
#include "evaluator/exits.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Stack : public RuntimeTest {
  protected:
    static stack::Frame* mark(stack::FrameType type, const char* name, uint8_t flags = 0) {
        stack::Frame* f = stack::mark(type, word(name));
        f->flags = flags;
        return f;
    }
};

TEST_F(Stack, PushOverflowLeavesRoomAndRaises) {
    for (uint32_t i = 0; i < stack::kCells; ++i) stack::push(cell::integer(static_cast<int32_t>(i)));
    EXPECT_THROW(stack::push(cell::none()), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::stack_overflow);
    EXPECT_EQ(stack::index_of(stack::g_top), stack::kCells - 5);
}

TEST_F(Stack, FrameOverflowRaises) {
    for (uint32_t i = 0; i < stack::kFrames; ++i) mark(stack::FrameType::native, "f");
    EXPECT_THROW(mark(stack::FrameType::native, "f"), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::stack_overflow);
    EXPECT_EQ(stack::depth(), stack::kFrames);
}

TEST_F(Stack, UnwindVariantsPlaceTheResult) {
    stack::push(cell::integer(1));  // the caller's own result cell
    mark(stack::FrameType::native, "f");
    stack::push(cell::integer(10));  // the call's arguments; cell 0 becomes the result
    stack::push(cell::integer(11));
    stack::unwind();
    EXPECT_EQ(stack::index_of(stack::g_top), 2u);
    EXPECT_EQ(cell::as_integer(stack::top_cell()), 10);

    stack::init();
    stack::push(cell::integer(1));
    stack::push(cell::integer(2));
    mark(stack::FrameType::native, "f");
    stack::push(cell::integer(20));
    stack::unwind_last();
    EXPECT_EQ(cell::as_integer(stack::at(0)), 20);
    EXPECT_EQ(stack::index_of(stack::g_top), 3u);

    stack::init();
    mark(stack::FrameType::native, "f");
    stack::push(cell::integer(30));
    stack::unwind_drop();
    EXPECT_EQ(stack::index_of(stack::g_top), 0u);
    EXPECT_EQ(stack::depth(), 0u);
}

TEST_F(Stack, FunctionFramesRestoreTheirContextWhicheverWayTheyArePopped) {
    const NodeId fn = context::make_from_spec(block_of({word("n")}), true, false, context::Kind::function);
    context::cell_of(fn).w2 = 7;  // an outer call's arguments
    {
        stack::mark_function(word("f"), fn);
        context::cell_of(fn).w2 = 42;
        stack::unwind();
    }
    EXPECT_EQ(context::cell_of(fn).w2, 7u);
    try {
        stack::Call guard(stack::FrameType::try_, word("try"));
        stack::mark_function(word("f"), fn);
        context::cell_of(fn).w2 = 43;
        error::fire(ErrorId::no_value, word("x"));
    } catch (const Thrown&) {
    }
    EXPECT_EQ(context::cell_of(fn).w2, 7u);
    EXPECT_EQ(stack::depth(), 0u);
}

TEST_F(Stack, CallWordSkipsInternalFrames) {
    EXPECT_EQ(symbol::utf8(stack::call_word().w2), "<not-found>");
    mark(stack::FrameType::native, "<body>");
    EXPECT_EQ(symbol::utf8(stack::call_word().w2), "<not-found>");
    mark(stack::FrameType::native, "append");
    mark(stack::FrameType::eval_block, "<anon>");
    EXPECT_EQ(symbol::utf8(stack::call_word().w2), "append");
}

TEST_F(Stack, ErrorsKeepTheirCallsAfterTheFramesAreGone) {
    mark(stack::FrameType::native, "outer");
    mark(stack::FrameType::native, "<body>");
    mark(stack::FrameType::native, "inner");
    EXPECT_THROW(error::fire(ErrorId::zero_divide), Thrown);
    stack::init();
    mark(stack::FrameType::native, "other");  // reuses the frames
    const error::Pending& p = error::pending();
    EXPECT_EQ(symbol::utf8(p.where), "inner");
    ASSERT_EQ(p.trace_count, 2u);
    EXPECT_EQ(symbol::utf8(p.trace[1]), "outer");
}

TEST_F(Stack, BreakFindsTheInnermostLoop) {
    mark(stack::FrameType::loop, "loop");
    mark(stack::FrameType::native, "if");
    mark(stack::FrameType::native, "break");
    stack::push(cell::integer(5));
    EXPECT_EQ(exits::raise_break(true, false), Status::break_);
    EXPECT_EQ(cell::as_integer(exits::value()), 5);
    EXPECT_EQ(exits::raise_break(true, true), Status::continue_);
    EXPECT_TRUE(cell::is(exits::value(), TypeId::unset));
}

TEST_F(Stack, ExitsThatCannotArriveBecomeThrowErrors) {
    // No loop at all, and a loop behind a try/all guard.
    mark(stack::FrameType::native, "break");
    EXPECT_THROW((void)exits::raise_break(false, false), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::break_);
    stack::init();
    mark(stack::FrameType::loop, "while");
    mark(stack::FrameType::try_all, "try");
    mark(stack::FrameType::native, "continue");
    EXPECT_THROW((void)exits::raise_break(false, true), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::continue_);
    EXPECT_THROW((void)exits::raise_exit(false, false), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::return_);
    EXPECT_THROW(exits::throw_value(cell::integer(9), cell::none()), Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::throw_);
    EXPECT_EQ(cell::as_integer(error::pending().args[0]), 9);
}

TEST_F(Stack, ReturnReachesTheFunctionBody) {
    mark(stack::FrameType::function, "f", stack::frame_flag::body);
    mark(stack::FrameType::loop, "loop");
    mark(stack::FrameType::native, "return");
    stack::push(cell::integer(3));
    EXPECT_EQ(exits::raise_exit(true, false), Status::return_);
    EXPECT_EQ(cell::as_integer(exits::value()), 3);
    EXPECT_EQ(exits::raise_exit(false, false), Status::exit_);
}

TEST_F(Stack, ThrowReachesACatch) {
    mark(stack::FrameType::catch_, "catch");
    mark(stack::FrameType::native, "throw");
    try {
        exits::throw_value(cell::integer(4), word("name"));
        FAIL();
    } catch (const Thrown& t) {
        EXPECT_EQ(t.code, ThrownCode::throw_);
        EXPECT_EQ(cell::as_integer(exits::thrown_value()), 4);
        EXPECT_EQ(symbol::utf8(exits::thrown_name().w2), "name");
    }
}

}  // namespace
}  // namespace zub

namespace zub {
namespace {

class UncaughtErrors : public RuntimeTest {
  protected:
    static std::string formed() {
        const NodeId out = series::alloc_with_unit(16, 1);
        exits::form_pending_error(out, 1000);
        std::string s;
        for (uint32_t i = 0; i < series::length(out); ++i)
            s += static_cast<char>(series::code_point_at(memory::buffer(out)->head_ptr(), series::unit(out), i));
        return s;
    }
};

TEST_F(UncaughtErrors, FormFillsTheTemplate) {
    struct Case {
        ErrorId id;
        std::vector<Cell> args;
        const char* text;
    };
    const Case cases[] = {
        {ErrorId::no_value, {word("foo")}, "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none"},
        {ErrorId::zero_divide, {}, "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none"},
        {ErrorId::expect_arg,
         {word("append"), cell::make(TypeId::datatype, 4), word("series")},
         "*** Script Error: append does not allow logic! for its series argument\n*** Where: ???\n*** Near : none"},
        {ErrorId::invalid,
         {word("word"), word("x"), word("y")},
         "*** Syntax Error: word invalid x at y\n*** Where: ???\n*** Near : none"},
        {ErrorId::message, {word("custom")}, "*** User Error: custom\n*** Where: ???\n*** Near : none"},
    };
    for (const Case& c : cases) {
        try {
            switch (c.args.size()) {
                case 0: error::fire(c.id);
                case 1: error::fire(c.id, c.args[0]);
                default: error::fire(c.id, c.args[0], c.args[1], c.args[2]);
            }
        } catch (const Thrown&) {
        }
        EXPECT_EQ(formed(), c.text);  // no evaluation ran: the near is none
    }
    stack::mark(stack::FrameType::native, word("divide"));
    try {
        error::fire(ErrorId::zero_divide);
    } catch (const Thrown&) {
    }
    EXPECT_EQ(formed(), "*** Math Error: attempt to divide by zero\n*** Where: divide\n*** Near : none");
}

TEST_F(UncaughtErrors, EndTheProcessWith254) {
    EXPECT_EXIT(
        {
            try {
                error::fire(ErrorId::no_value, word("nothing"));
            } catch (const Thrown&) {
                exits::report_uncaught();
            }
        },
        ::testing::ExitedWithCode(254), "Script Error: nothing has no value");
}

}  // namespace
}  // namespace zub
