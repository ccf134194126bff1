// The console's byte-text print hook, which only the runtime's own C++ output reaches: UTF-8 bytes
// become terminal lines, an ill-formed sequence shows as U+FFFD, and the reused string never
// leaks into lines already kept. Runs without a display.
#include <gtest/gtest.h>

#include <string>

#include "boot/boot.h"
#include "boot/runtime.h"
#include "boot/session.h"
#include "console/print_hooks.h"

namespace zub {
namespace {

class ConsoleHooks : public ::testing::Test {
  protected:
    void SetUp() override {
        boot::start(&console_window::extension());
        // The terminal takes output once its face has a state block; this one has no window.
        eval(R"(
            system/console: make object! [size: 0x0 history: make block! 8 prompt: ">> "]
            set-quiet in gui-console-ctx/console 'state reduce [none 0 none false]
            set-quiet in gui-console-ctx/console 'size 640x480
            gui-console-ctx/terminal/update-cfg make font! [name: "DejaVu Sans Mono" size: 11] none
            gui-console-ctx/terminal/resize 640x480
        )");
    }
    void TearDown() override { runtime::cleanup(); }

    static std::string eval(std::string_view code) {
        const session::Outcome outcome = session::evaluate(code, false);
        EXPECT_TRUE(outcome.ok) << code << ": " << outcome.text;
        return outcome.text;
    }
    static void hook(std::string_view bytes) { console_window::text_hook(bytes.data(), bytes.size()); }
    static std::string lines() { return eval("gui-console-ctx/terminal/lines"); }
};

TEST_F(ConsoleHooks, BytesBecomeLinesWithReplacementForIllFormedSequences) {
    struct Case {
        std::string_view bytes;
        std::string_view lines;
    };
    const Case cases[] = {
        {"plain\n", R"(["plain" ""])"},
        {"caf\xC3\xA9 \xF0\x9F\x99\x82\n", "[\"caf\xC3\xA9 \xF0\x9F\x99\x82\" \"\"]"},
        {"a\xFF"
         "b\n",
         "[\"a\xEF\xBF\xBD"
         "b\" \"\"]"},                                                          // a byte no sequence starts with
        {"\xC0\xAF!\n", "[\"\xEF\xBF\xBD\xEF\xBF\xBD!\" \"\"]"},                // an overlong form
        {"\xED\xA0\x80\n", "[\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\" \"\"]"},  // a surrogate
        {"cut \xE2\x82", "[\"cut \xEF\xBF\xBD\"]"},                             // cut short at the end
    };
    for (const Case& c : cases) {
        eval(
            "gui-console-ctx/terminal/clean gui-console-ctx/terminal/lines: clear head gui-console-ctx/terminal/lines "
            "gui-console-ctx/terminal/prin?: false gui-console-ctx/terminal/newline?: true");
        hook(c.bytes);
        EXPECT_EQ(lines(), c.lines) << c.bytes;
    }
}

TEST_F(ConsoleHooks, TheReusedStringNeverChangesKeptLines) {
    hook("first \xCE\xB1\n");
    hook("second\n");
    hook("x");
    EXPECT_EQ(eval("copy/part gui-console-ctx/terminal/lines 3"), "[\"first \xCE\xB1\" \"second\" \"x\"]");
}

}  // namespace
}  // namespace zub
