// date! calendar internals the language reaches only a value at a time: the day number and its
// inverse over every day the packed year holds, and the weekday they give.

#include <gtest/gtest.h>

#include "datatypes/date.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class DateCalendar : public RuntimeTest {};

// Each day number maps to the calendar date that maps back to it, days run on without gaps, and
// the weekday steps by one: the floored divisions hold before year 0 as after it.
TEST_F(DateCalendar, DayNumbersRoundTripOverThePackedYears) {
    const int64_t first = date::to_days(date::kMinYear, 1, 1), last = date::to_days(date::kMaxYear, 12, 31);
    int32_t expected_weekday = 0;  // unknown before the first day
    int32_t previous_day = 0;
    for (int64_t n = first; n <= last; ++n) {
        const uint32_t p = date::packed_of(date::from_days(n, 0, false, 0.0));
        ASSERT_EQ(date::days_of(p), n);
        ASSERT_TRUE(date::day(p) == static_cast<uint32_t>(previous_day + 1) || date::day(p) == 1) << n;
        previous_day = static_cast<int32_t>(date::day(p));
        const int32_t weekday = cell::as_integer(date::get_field(date::make(p, 0.0), 10));
        if (expected_weekday > 0) {
            ASSERT_EQ(weekday, expected_weekday) << n;
        }
        expected_weekday = weekday % 7 + 1;
    }
    EXPECT_EQ(date::to_days(1970, 1, 1), date::kEpochDay);
    EXPECT_EQ(date::to_days(0, 3, 1), 0);
    EXPECT_THROW(date::from_days(first - 1, 0, false, 0.0), Thrown);
    EXPECT_THROW(date::from_days(last + 1, 0, false, 0.0), Thrown);
}

TEST_F(DateCalendar, LeapYears) {
    const struct {
        int64_t year;
        bool leap;
    } cases[] = {{1900, false}, {2000, true}, {2024, true}, {2023, false}, {0, true}, {-4, true}, {-100, false}};
    for (const auto& c : cases) EXPECT_EQ(date::leap_year(c.year), c.leap) << c.year;
}

}  // namespace
}  // namespace zub
