// error! values: the value that the pending error becomes. The formed texts, make error! and the
// live catalogue are in tests/lang/error.zub and error-catalog.zub.
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
        return cell::series(TypeId::block, lexer::load(reinterpret_cast<const std::byte*>(text.data()),
                                                       static_cast<uint32_t>(text.size())));
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

}  // namespace
}  // namespace zub
