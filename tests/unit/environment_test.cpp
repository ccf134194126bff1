// The environment as start-up leaves it: what the language cannot see of its functions.
#include <gtest/gtest.h>

#include "boot/boot.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

Cell eval(std::string_view text) {
    const NodeId code =
        lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
    stack::push(cell::series(TypeId::block, code));
    EXPECT_EQ(interp::eval(stack::top_cell(), true), Status::normal);
    return stack::top_cell();
}

class Environment : public RuntimeTest {
  protected:
    void SetUp() override { boot::start(); }
    static Cell global(const char* name) { return *context::get(RuntimeTest::word(name)); }
};

// Library code is reported as one call: every function and routine start-up made carries the
// bit, those inside the system object too, and nothing a program makes afterwards does.
TEST_F(Environment, LibraryCodeCarriesTheSystemBit) {
    for (const char* name : {"probe", "attempt", "to-string", "sum", "clock", "as-color", "block?", "exists?"})
        EXPECT_TRUE(global(name).header & function::kSystem) << name;
    const Cell handler = eval("get in system/options 'on-change*");
    EXPECT_TRUE(handler.header & function::kSystem);
    EXPECT_FALSE(eval("func [a] [a]").header & function::kSystem);
    EXPECT_FALSE(eval("make function! [[a] [a]]").header & function::kSystem);
}

// The option's handler drives the float text's switch, which no language value shows directly.
TEST_F(Environment, FloatPrettyOptionDrivesTheSwitch) {
    EXPECT_TRUE(float_::pretty());
    eval("system/options/float/pretty?: false");
    EXPECT_FALSE(float_::pretty());
    eval("system/options/float/full?: true system/options/float/pretty?: 1");
    EXPECT_TRUE(float_::pretty());
}

// A program's extension adds its routines and its sources after the environment's: the source
// binds the routine by name and its definitions are library code like the environment's.
Status twice(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    return args.done(cell::integer(2 * cell::as_integer(args[0])));
}

constexpr char kExtensionText[] = "Zub [] twice: make-routine 'twice [n [integer!]] doubled: func [n] [twice n]";
const uint32_t kExtensionSize = sizeof kExtensionText - 1;
const embedded::Source kExtensionSources[] = {
    {"9000-test.zub", reinterpret_cast<const unsigned char*>(kExtensionText), &kExtensionSize}};

using Extension = RuntimeTest;

TEST_F(Extension, RunsAfterTheEnvironment) {
    const boot::Extension extension{[] { (void)function::add_routine("twice", twice); }, kExtensionSources, 1};
    boot::start(&extension);
    EXPECT_EQ(cell::as_integer(eval("doubled 21")), 42);
    EXPECT_TRUE(context::get(word("doubled"))->header & function::kSystem);
    EXPECT_TRUE(cell::is(*context::get(word("make-routine")), TypeId::unset));
}

}  // namespace
}  // namespace zub
