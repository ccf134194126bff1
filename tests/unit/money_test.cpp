// money! internals: the cell layout that serialised values rely on (currency in the low byte of
// w1, BCD digits from its second byte on, most significant first).

#include <gtest/gtest.h>

#include "datatypes/money.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class MoneyCell : public RuntimeTest {};

TEST_F(MoneyCell, DigitsAndCurrencyLayout) {
    Cell m;
    ASSERT_TRUE(money::make_from_digits(true, 7, "12'345", "678", m));
    // Digits 1-22 are 000000000000 12345 67800, two to a byte from w1's second byte on, each
    // word little-endian: bytes 00 00 00 | 00 00 00 12 | 34 56 78 00.
    EXPECT_EQ(m.w1, 7u);
    EXPECT_EQ(m.w2, 0x12000000u);
    EXPECT_EQ(m.w3, 0x00785634u);
    EXPECT_TRUE(money::negative(m));
    EXPECT_EQ(money::currency(m), 7u);
    EXPECT_EQ(money::to_integer(m), -12345);
    EXPECT_DOUBLE_EQ(money::to_float(m), -12345.678);
    EXPECT_FALSE(money::make_from_digits(false, 0, "123456789012345678", "", m));
    EXPECT_FALSE(money::make_from_digits(false, 0, "1", "123456", m));
    EXPECT_TRUE(money::make_from_digits(false, 0, "000000000000000000000001", "", m));
    EXPECT_EQ(money::signum(money::from_integer(0)), 0);
    EXPECT_EQ(money::to_integer(money::from_integer(-2147483647 - 1)), -2147483647 - 1);
}

}  // namespace
}  // namespace zub
