// error! values: the formed text of every category from the built-in catalogue, with 0 to 3
// arguments, the cut of long arguments and near blocks, unknown categories and ids, and the value
// that the pending error becomes.
#include "datatypes/error_value.h"

#include <string>
#include <vector>

#include "boot/boot.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class ErrorValue : public RuntimeTest {
  protected:
    static Cell load(const std::string& text) {
        return cell::series(TypeId::block,
                            lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size())));
    }
    // The one value a text loads as.
    static Cell value(const std::string& text) { return block::abs_at(load(text), 0); }
    static std::string text(Cell s) {
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    static std::string form(Cell error) {
        const NodeId out = series::alloc_with_unit(16, 1);
        stack::push(cell::series(TypeId::string, out));
        const int32_t left = error_value::form(error, out, 1 << 20);
        EXPECT_EQ(left, (1 << 20) - static_cast<int32_t>(series::length(out)));
        const std::string result = text(stack::top_cell());
        stack::pop(1);
        return result;
    }
    static void put(Cell error, uint32_t field, Cell v) { *context::value_at(error.w1, field) = v; }
};

constexpr const char* kTail = "\n*** Where: ???\n*** Near : none";

TEST_F(ErrorValue, FormsEveryCategoryFromTheCatalogue) {
    struct Case {
        ErrorId id;
        std::vector<std::string> args;  // loaded values
        std::string message;            // the first line after "*** "
    };
    const std::vector<Case> cases = {
        {ErrorId::break_, {}, "Throw Error: no loop to break"},
        {ErrorId::throw_, {"[a 1]"}, "Throw Error: no catch for throw: [a 1]"},
        {ErrorId::no_load, {"script"}, "note: cannot load:  script"},
        // Syntax arguments are formed, the others molded.
        {ErrorId::invalid, {"\"(line 3)\"", "\"word\"", "\"a:b\""}, "Syntax Error: (line 3) invalid word at a:b"},
        {ErrorId::malconstruct, {"[x]", "\"here\""}, "Syntax Error: x invalid construction spec at here"},
        {ErrorId::no_value, {"foo"}, "Script Error: foo has no value"},
        {ErrorId::expect_arg, {"append", "integer!", "series"}, "Script Error: append does not allow integer! for its series argument"},
        {ErrorId::invalid_path, {"o/b", "b"}, "Script Error: cannot access b in path o/b"},
        {ErrorId::bad_path_type, {"p/q", "integer!", "q"}, "Script Error: q returned a integer! value, so p/q could not be accessed"},
        {ErrorId::invalid_arg, {"\"x\""}, "Script Error: invalid argument: \"x\""},
        {ErrorId::past_end, {}, "Script Error: out of range or past end"},
        {ErrorId::zero_divide, {}, "Math Error: attempt to divide by zero"},
        {ErrorId::cannot_open, {"\"nowhere\""}, "Access Error: cannot open: \"nowhere\""},
        {ErrorId::message, {"\"boom\""}, "User Error: boom"},
        {ErrorId::not_done, {}, "Internal Error: reserved for future use (or not yet implemented)"},
        {ErrorId::bad_path, {"x/y"}, "Internal Error: bad path: x/y"},
        {ErrorId::deprecated, {"old", "new"}, "Internal Error: old is DEPRECATED, please use new instead"},
    };
    for (const Case& c : cases) {
        std::vector<Cell> args;
        for (const std::string& a : c.args) args.push_back(value(a));
        const Cell error = error_value::create(c.id, args.data(), static_cast<int>(args.size()));
        stack::push(error);
        EXPECT_EQ(form(error), "*** " + c.message + kTail) << error::id_word(c.id);
        EXPECT_EQ(cell::as_integer(error_value::field(error, error_value::kCode)), error::code_of(c.id));
        stack::pop(1);
    }
}

TEST_F(ErrorValue, WhereNearAndLongArguments) {
    const Cell error = error_value::create(ErrorId::no_value, nullptr, 0);
    stack::push(error);
    put(error, error_value::kArg1, value("\"" + std::string(100, 'a') + "\""));
    put(error, error_value::kWhere, value("append"));
    Cell near = load("1 + 2 * 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 12 + 13");
    near.w1 = 2;
    put(error, error_value::kNear, near);
    // An argument is cut to 80 characters (a long string molds in braces), the near to 40,
    // molded from its index.
    EXPECT_EQ(form(error), "*** Script Error: {" + std::string(79, 'a') + " has no value\n*** Where: append\n" +
                               "*** Near : 2 * 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 ");
    put(error, error_value::kWhere, value("\"somewhere\""));
    EXPECT_NE(form(error).find("\n*** Where: somewhere\n"), std::string::npos);
    // Files, when the error carries them.
    put(error, error_value::kFiles, load("\"a.zub\" \"b.zub\""));
    EXPECT_NE(form(error).find("\n*** Files: \"a.zub\" \"b.zub\""), std::string::npos);
    stack::pop(1);
}

TEST_F(ErrorValue, UnknownCategoryOrIdFormsAsInvalidError) {
    const Cell error = error_value::create(ErrorId::no_value, nullptr, 0);
    stack::push(error);
    put(error, error_value::kType, value("bogus"));
    EXPECT_EQ(form(error), std::string("*** Internal Error: invalid error object field value: bogus") + kTail);
    put(error, error_value::kType, value("math"));  // no-value is no math id
    EXPECT_EQ(form(error), std::string("*** Internal Error: invalid error object field value: no-value") + kTail);
    put(error, error_value::kType, value("42"));
    EXPECT_EQ(form(error), std::string("*** Internal Error: invalid error object field value: 42") + kTail);
    // The error itself is left as it was.
    EXPECT_TRUE(cell::is(error_value::field(error, error_value::kType), TypeId::integer));
    stack::pop(1);
}

TEST_F(ErrorValue, FromPendingKeepsArgumentsAndCalls) {
    const Cell arg = value("[1 2]");
    try {
        error::fire(ErrorId::invalid_arg, arg);
    } catch (const Thrown&) {
    }
    const Cell error = error_value::from_pending();
    stack::push(error);
    EXPECT_TRUE(cell::is(error, TypeId::error));
    EXPECT_EQ(cell::as_integer(error_value::field(error, error_value::kCode)), 309);
    EXPECT_EQ(error_value::field(error, error_value::kArg1).w2, arg.w2);
    EXPECT_TRUE(cell::is(error_value::field(error, error_value::kWhere), TypeId::none));  // no call was running
    EXPECT_EQ(error_value::id_of(error), ErrorId::invalid_arg);
    // A value raised as it is comes back as the same value.
    const Cell raised = error_value::create(ErrorId::message, &arg, 1);
    stack::push(raised);
    try {
        error_value::raise(raised);
    } catch (const Thrown&) {
    }
    EXPECT_EQ(error::pending().id, ErrorId::message);
    EXPECT_EQ(error_value::from_pending().w1, raised.w1);
    stack::pop(2);
}

TEST_F(ErrorValue, MakeFromCodesAndBlocks) {
    const Cell made = error_value::make(cell::integer(300));
    stack::push(made);
    EXPECT_EQ(error_value::id_of(made), ErrorId::no_value);
    EXPECT_EQ(error_value::id_of(error_value::make(cell::integer(904))), ErrorId::stack_overflow);
    EXPECT_EQ(error_value::id_of(error_value::make(cell::integer(502))), ErrorId::invalid_utf8);
    EXPECT_EQ(error_value::id_of(error_value::make(load("script invalid-arg 5"))), ErrorId::invalid_arg);
    EXPECT_EQ(cell::as_integer(error_value::field(error_value::make(load("script invalid-arg 5")), error_value::kArg1)), 5);
    struct Bad {
        Cell spec;
        ErrorId error;
    };
    const Bad bad[] = {
        {cell::integer(-1), ErrorId::out_of_range},
        {cell::integer(1000), ErrorId::out_of_range},
        {cell::integer(600), ErrorId::out_of_range},  // reserved1 has no ids
        {cell::integer(304), ErrorId::no_arg},        // a valid code, for contrast
        {load("bogus x"), ErrorId::invalid_spec_field},
        {load("script"), ErrorId::invalid_spec_field},
        {load("script 5"), ErrorId::invalid_arg},
        {load("script no-such-id"), ErrorId::invalid_spec_field},
        {load("1 2"), ErrorId::invalid_error},
        {cell::logic(true), ErrorId::bad_make_arg},
    };
    for (const Bad& b : bad) {
        if (b.error == ErrorId::no_arg) {
            EXPECT_EQ(error_value::id_of(error_value::make(b.spec)), ErrorId::no_arg);
            continue;
        }
        EXPECT_EQ(raised([&] { (void)error_value::make(b.spec); }), b.error);
    }
    const Cell user = error_value::make(value("\"it broke\""));
    EXPECT_EQ(form(user), std::string("*** User Error: it broke") + kTail);
    stack::pop(1);
}

}  // namespace
}  // namespace zub

namespace zub {
namespace {

// With the environment's catalogue and settings in place: a system object made in Zub.
class LiveCatalogue : public RuntimeTest {
  protected:
    void SetUp() override { boot::start(); }
    static Cell eval(const std::string& text) {
        const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
        stack::push(cell::series(TypeId::block, code));
        EXPECT_EQ(interp::eval(stack::top_cell(), true), Status::normal);
        return stack::top_cell();
    }
    static std::string string_of(const std::string& code) {
        Cell s = eval(code);
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
};

TEST_F(LiveCatalogue, TextsTemplatesAndSettingsComeFromTheSystemObject) {
    eval("system: make object! ["
         "  catalog: make object! [errors: make object! ["
         "    throw: make object! [code: 0 type: \"Throw Error\" break: \"no loop\"]"
         "    note: make object! [code: 100 type: \"note\"]"
         "    syntax: make object! [code: 200 type: \"Syntax Error\"]"
         "    script: make object! [code: 300 type: \"Script Failure\" no-value: [:arg1 \"is missing!\"] extra: \"custom\"]"
         "  ]]"
         "  state: make object! [stack-trace: 1 source-files: [\"a.zub\"]]"
         "]");
    // A category text and template changed by the script.
    EXPECT_EQ(string_of("form/part try [undefined-word] 46"), "*** Script Failure: undefined-word is missing!");
    // An id the built-in catalogue does not have: by word and by code.
    EXPECT_EQ(string_of("form/part make error! [script extra] 30"), "*** Script Failure: custom\n***");
    EXPECT_EQ(boot::mold_utf8(eval("select make error! [script extra] 'code")), "301");
    EXPECT_EQ(boot::mold_utf8(eval("select make error! 301 'id")), "extra");
    EXPECT_EQ(raised([] { eval("make error! [math zero-divide]"); }), ErrorId::invalid_spec_field);
    // A category the live catalogue lacks forms as invalid-error, from the built-in catalogue.
    EXPECT_EQ(string_of("form/part try [1 / 0] 58"), "*** Internal Error: invalid error object field value: math");
    // The stack line lists the functions the error passed through; the files line the scripts.
    const std::string text = string_of("f: func [] [g] g: func [] [1 + none] form try [f]");
    EXPECT_NE(text.find("\n*** Stack: f g\n*** Files: \"a.zub\""), std::string::npos) << text;
    eval("system/state/stack-trace: 0");
    EXPECT_EQ(string_of("form try [f]").find("*** Stack:"), std::string::npos);
}

}  // namespace
}  // namespace zub
