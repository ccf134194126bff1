// The output hooks, the standard-output writer (short writes, refused writes, UTF-8 of every
// string width) and print and prin as the hooks see them.
#include "system/output.h"

#include <cerrno>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "datatypes/string.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

// A write(2) stand-in: takes at most `chunk` bytes a call, fails a call with EINTR or EAGAIN now
// and then, and refuses everything with EPIPE after `limit` bytes.
struct FakeOut {
    std::string bytes;
    size_t chunk = 7;
    size_t limit = std::string::npos;
    int calls = 0;
};
FakeOut g_out;

ssize_t fake_write(int fd, const void* data, size_t length) {
    EXPECT_EQ(fd, 1);
    ++g_out.calls;
    if (g_out.calls % 5 == 0) {
        errno = g_out.calls % 10 == 0 ? EAGAIN : EINTR;
        return -1;
    }
    if (g_out.bytes.size() >= g_out.limit) {
        errno = EPIPE;
        return -1;
    }
    size_t n = std::min(length, g_out.chunk);
    if (g_out.limit != std::string::npos) n = std::min(n, g_out.limit - g_out.bytes.size());
    g_out.bytes.append(static_cast<const char*>(data), n);
    return static_cast<ssize_t>(n);
}

struct Heard {
    std::string text;
    bool new_line;
};
std::vector<Heard> g_heard;
std::vector<int> g_order;

std::string utf8_of(Cell text) {
    const std::string saved = g_out.bytes;
    g_out.bytes.clear();
    output::write_string(1, text, false);
    std::string result = g_out.bytes;
    g_out.bytes = saved;
    return result;
}

void capture(Cell text, bool new_line) { g_heard.push_back({utf8_of(text), new_line}); }

class Output : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        g_out = FakeOut{};
        g_heard.clear();
        g_order.clear();
        output::set_write_call(fake_write);
    }
    void TearDown() override {
        output::set_write_call(nullptr);
        RuntimeTest::TearDown();
    }

    static Cell text(std::initializer_list<uint32_t> code_points) {
        const Cell s = string::make(8);
        for (uint32_t cp : code_points) string::append_char(cell::series_node(s), cp);
        return s;
    }
    static Cell ascii(const std::string& bytes) {
        const Cell s = string::make(static_cast<uint32_t>(bytes.size()));
        string::append_literal(cell::series_node(s), bytes);
        return s;
    }

    // Calls print (or prin) with one value, as the interpreter would.
    static void call_print(Cell value, bool new_line) {
        stack::Call call(stack::FrameType::native, word(new_line ? "print" : "prin"));
        stack::push(value);
        const int32_t refinements[1] = {-1};
        const natives::Native which = new_line ? natives::Native::print : natives::Native::prin;
        EXPECT_EQ(natives::call(natives::index_of(which), refinements, true), Status::normal);
        EXPECT_TRUE(cell::is(stack::args()[0], TypeId::unset));
    }
};

TEST_F(Output, WriterEncodesEveryWidthAsUtf8) {
    struct Case {
        std::initializer_list<uint32_t> cps;
        const char* utf8;
    };
    const Case cases[] = {
        {{'a', 'b', 'c'}, "abc"},
        {{0xE9, 0x20AC}, "\xC3\xA9\xE2\x82\xAC"},
        {{0x1F600, 'x'}, "\xF0\x9F\x98\x80x"},   // 4-byte units
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},  // a pair in 2-byte units: one sequence
        {{'a', 0xD83D, 'b'},
         "a\xEF\xBF\xBD"
         "b"},                                           // a lone surrogate as U+FFFD
        {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed: two lone halves
        {{0x10FFFF}, "\xF4\x8F\xBF\xBF"},
        {{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8_of(text(c.cps)), c.utf8);
}

TEST_F(Output, WriterGoesOnAfterShortAndInterruptedWrites) {
    // Long enough for several staging chunks, with multi-byte sequences across chunk ends.
    std::string expected;
    const Cell s = string::make(8);
    for (int i = 0; i < 1500; ++i) {
        const uint32_t cp = i % 3 == 0 ? 0x1F600 : i % 3 == 1 ? 0xE9 : 'a' + i % 26;
        string::append_char(cell::series_node(s), cp);
        expected += cp == 0x1F600 ? "\xF0\x9F\x98\x80" : cp == 0xE9 ? "\xC3\xA9" : std::string(1, char(cp));
    }
    stack::push(s);
    output::write_string(1, s, true);
    EXPECT_EQ(g_out.bytes, expected + "\n");
    g_out = FakeOut{};
    g_out.chunk = 1;
    output::write_string(1, text({0x1F600}), true);
    EXPECT_EQ(g_out.bytes, "\xF0\x9F\x98\x80\n");
}

TEST_F(Output, WriterStopsWhenTheDescriptorRefuses) {
    g_out.limit = 10;
    output::write_string(1, ascii(std::string(3000, 'z')), true);
    EXPECT_EQ(g_out.bytes, std::string(10, 'z'));
    EXPECT_LT(g_out.calls, 20);  // gave up rather than retrying for ever
    EXPECT_FALSE(output::write_all(1, "abc", 3));
}

TEST_F(Output, WriterStartsAtTheHeadAndClampsPastTheTail) {
    Cell s = ascii("hello");
    s.w1 = 2;
    EXPECT_EQ(utf8_of(s), "llo");
    s.w1 = 9;
    EXPECT_EQ(utf8_of(s), "");
}

TEST_F(Output, CodePointBeyondUnicodeIsRefusedBeforeWriting) {
    const Cell s = text({'a', 0x1F600});
    stack::push(s);
    series::store_unit(memory::buffer(cell::series_node(s))->head_ptr() + 4, 4, 0x110000);
    EXPECT_EQ(raised([&] { output::write_string(1, s, true); }), ErrorId::invalid_char);
    EXPECT_EQ(g_out.bytes, "");
}

TEST_F(Output, HooksRunInRegistrationOrderAndTheListsGrow) {
    static constexpr output::ValueHook hooks[] = {
        [](Cell, bool) { g_order.push_back(0); }, [](Cell, bool) { g_order.push_back(1); },
        [](Cell, bool) { g_order.push_back(2); }, [](Cell, bool) { g_order.push_back(3); },
        [](Cell, bool) { g_order.push_back(4); }, [](Cell, bool) { g_order.push_back(5); },
    };
    for (output::ValueHook h : hooks) output::add_hooks(h, nullptr);
    EXPECT_EQ(output::value_hook_count(), 6u);
    EXPECT_EQ(output::text_hook_count(), 0u);
    output::notify_value_hooks(ascii("x"), true);
    EXPECT_EQ(g_order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    output::remove_hooks(hooks[2], nullptr);
    output::remove_hooks(hooks[2], nullptr);  // absent now: nothing changes
    g_order.clear();
    output::notify_value_hooks(ascii("x"), true);
    EXPECT_EQ(g_order, (std::vector<int>{0, 1, 3, 4, 5}));
}

TEST_F(Output, LowLevelPrintReachesStdoutAndTheTextHooks) {
    static std::string heard;
    heard.clear();
    output::add_hooks(nullptr, [](const char* bytes, size_t length) { heard.append(bytes, length); });
    output::print_text("caf\xC3\xA9", true);
    EXPECT_EQ(g_out.bytes, "caf\xC3\xA9\n");
    EXPECT_EQ(heard, "caf\xC3\xA9\n");
}

TEST_F(Output, StdoutHookWritesWhatPrintAndPrinGive) {
    output::install_stdout();
    call_print(ascii("abc"), false);
    call_print(cell::integer(42), true);
    EXPECT_EQ(g_out.bytes, "abc42\n");
}

TEST_F(Output, PrintAndPrinReachOnlyTheValueHooks) {
    call_print(ascii("abc"), true);  // no hook: nothing shown, nothing fails
    EXPECT_EQ(g_out.bytes, "");
    output::add_hooks(capture, nullptr);
    struct Case {
        Cell value;
        bool new_line;
        const char* text;
    };
    Cell tail = ascii("abc");
    tail.w1 = 7;  // past the tail: printed as empty
    const Case cases[] = {
        {ascii("abc"), true, "abc"},
        {ascii("abc"), false, "abc"},
        {cell::integer(-7), true, "-7"},
        {cell::none(), true, "none"},
        {cell::character(0xE9), false, "\xC3\xA9"},
        {tail, true, ""},
        {block_of({cell::integer(1), ascii("a b"), block_of({cell::integer(2), cell::character('c')})}), true,
         "1 a b 2 c"},  // a block is formed (reduced, once the interpreter is there) with spaces
    };
    for (const Case& c : cases) {
        g_heard.clear();
        call_print(c.value, c.new_line);
        ASSERT_EQ(g_heard.size(), 1u);
        EXPECT_EQ(g_heard[0].text, c.text);
        EXPECT_EQ(g_heard[0].new_line, c.new_line);
        EXPECT_EQ(output::last_new_line(), c.new_line);
    }
    EXPECT_EQ(g_out.bytes, "");  // print itself writes nothing
}

// print and prin with the whole engine up: blocks are reduced by the interpreter.
class PrintBlocks : public ::testing::Test {
  protected:
    void SetUp() override {
        boot::start();
        g_heard.clear();
        g_out = FakeOut{};
        output::set_write_call(fake_write);
        output::add_hooks(capture, nullptr);
    }
    void TearDown() override {
        output::set_write_call(nullptr);
        runtime::cleanup();
    }
    // Runs the source; false when it raised an error.
    static bool run(std::string_view source) {
        const stack::Saved saved = stack::save();
        try {
            const NodeId code =
                lexer::load(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()));
            stack::push(cell::series(TypeId::block, code));
            (void)interp::eval(stack::top_cell(), true);
            stack::restore(saved);
            return true;
        } catch (const Thrown&) {
            stack::restore(saved);
            return false;
        }
    }
    static std::vector<std::string> texts() {
        std::vector<std::string> all;
        for (const Heard& h : g_heard) all.push_back(h.text + (h.new_line ? "|" : ""));
        return all;
    }
};

TEST_F(PrintBlocks, ABlockIsReducedAndFormedWithSpaces) {
    struct Case {
        const char* code;
        std::vector<std::string> heard;
    };
    const Case cases[] = {
        {"s: \"a\" print [1 + 1 s]", {"2 a|"}},
        {"prin [\"x\" 2 * 3 [4 5]]", {"x 6 4 5"}},
        {"print []", {"|"}},
        {"print next [1 2]", {"2|"}},
        // The inner print is heard first; its result, unset, forms as nothing.
        {"print [\"x\" print [\"nested\" 1 + 1] \"z\"]", {"nested 2|", "x  z|"}},
        {"print [\"a\" prin \"b\" \"c\" print \"d\"]", {"b", "d|", "a  c |"}},
    };
    for (const Case& c : cases) {
        g_heard.clear();
        ASSERT_TRUE(run(c.code)) << c.code;
        EXPECT_EQ(texts(), c.heard) << c.code;
    }
}

// An error or a return in the middle of a printed block prints nothing, and the next print shows
// only its own values.
TEST_F(PrintBlocks, AnErrorOrReturnInsideTheBlockLeavesTheBufferAsItWas) {
    EXPECT_FALSE(run("print [1 + 1 \"lost\" 1 / 0 3]"));
    EXPECT_TRUE(run("f: func [] [print [\"lost\" return 5] 6] f"));
    EXPECT_FALSE(run("print [\"outer\" print [\"inner\" 1 / 0]]"));
    EXPECT_TRUE(g_heard.empty());
    ASSERT_TRUE(run("print [1 + 1 \"after\"]"));
    EXPECT_EQ(texts(), (std::vector<std::string>{"2 after|"}));
    EXPECT_TRUE(output::last_new_line());
}

}  // namespace
}  // namespace zub
