// The cell's layout and the checked conversion to a 32-bit integer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/cell.h"
#include "runtime/error.h"

namespace zub {
namespace {

TEST(Cell, FloatLivesInTheLastTwoWordsLowHalfFirst) {
    const Cell c = cell::floating(1.0);
    EXPECT_EQ(cell::type(c), TypeId::float_);
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(c.w3, 0x3FF00000u);
    EXPECT_EQ(cell::as_float(c), 1.0);
}

TEST(Cell, SetTypeKeepsFlags) {
    Cell c = cell::integer(7);
    cell::set_new_line(c, true);
    cell::set_type(c, TypeId::char_);
    EXPECT_EQ(cell::type(c), TypeId::char_);
    EXPECT_TRUE(cell::new_line(c));
    cell::clear_new_line(c);
    EXPECT_FALSE(cell::new_line(c));
    EXPECT_EQ(cell::as_integer(c), 7);
}

TEST(Cell, OnlyNoneAndFalseAreFalse) {
    EXPECT_FALSE(cell::truthy(cell::none()));
    EXPECT_FALSE(cell::truthy(cell::logic(false)));
    EXPECT_TRUE(cell::truthy(cell::logic(true)));
    EXPECT_TRUE(cell::truthy(cell::unset()));
    EXPECT_TRUE(cell::truthy(cell::integer(0)));
    EXPECT_FALSE(cell::truthy_checked(cell::none()));
    EXPECT_THROW(cell::truthy_checked(cell::unset()), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::no_return);
}

TEST(Cell, ToInt32CheckedRange) {
    struct Case {
        double value;
        bool ok;
        int32_t expected;
    };
    const Case cases[] = {
        {2147483647.0, true, 2147483647},
        {-2147483648.0, true, -2147483648},
        {-2.75, true, -2},
        {2147483647.5, false, 0},
        {2147483648.0, false, 0},
        {-2147483649.0, false, 0},
        {std::numeric_limits<double>::quiet_NaN(), false, 0},
        {std::numeric_limits<double>::infinity(), false, 0},
    };
    for (const Case& c : cases) {
        const Cell value = cell::floating(c.value);
        if (c.ok) {
            EXPECT_EQ(cell::to_int32_checked(value), c.expected) << c.value;
        } else {
            EXPECT_THROW(cell::to_int32_checked(value), error::Thrown) << c.value;
            EXPECT_EQ(error::pending().id, ErrorId::out_of_range);
            EXPECT_EQ(error::pending().arg_count, 1);
        }
    }
    EXPECT_EQ(cell::to_int32_checked(cell::integer(-5)), -5);
}

TEST(ErrorCatalogue, CodesFollowPositions) {
    EXPECT_EQ(error::code_of(ErrorId::invalid_arg), 309);
    EXPECT_EQ(error::code_of(ErrorId::invalid_utf8), 502);
    EXPECT_EQ(error::code_of(ErrorId::break_), 0);
    EXPECT_EQ(error::code_of(ErrorId::no_memory), 902);
    EXPECT_EQ(error::code_of(ErrorId::message), 800);
    EXPECT_EQ(error::id_word(ErrorId::zb_invalid_record), "zb-invalid-record");
    EXPECT_EQ(error::category_text(error::category_of(ErrorId::zero_divide)), "Math Error");
    EXPECT_EQ(error::category_word(ErrorCategory::reserved2), "reserved2");
}

}  // namespace
}  // namespace zub
