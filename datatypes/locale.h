// What money! and date! read from the system object's locale and options: the currency codes, the
// month names and the money digits option. The currency list is held here, in its fixed order,
// until the system object carries it; the others are read from `system` when it has them.
#pragma once

#include <cstdint>
#include <string_view>

namespace zub::locale {

// The currency codes money! accepts: a money! value records a code's 1-based position.
inline constexpr uint32_t kCurrencyCount = 170;
// The 1-based position of a three-letter code (ASCII letters in any case), or -1. Never allocates.
int32_t currency_index(std::string_view code);
// The upper-case code at a 1-based position; "" for 0 or past the list.
std::string_view currency_code(uint32_t index);

// system/options/money-digits when it is an integer!, else 2. Never allocates.
int32_t money_digits();

// The first three characters of a month's name (1 to 12), from system/locale/months when the
// system object has it (an entry past the block's tail or not a string! raises script
// invalid-months), else from the English names. Never allocates.
struct MonthText {
    uint32_t chars[3];  // code points
    uint8_t count;      // characters used
};
MonthText month_abbreviation(uint32_t month);

}  // namespace zub::locale
