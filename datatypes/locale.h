// What money! and date! read from the system object's locale and options: the currency codes, the
// month names and the money digits option. The fixed currency codes are held here; the codes a
// script appends to system/locale/currencies/list follow them.
#pragma once

#include <cstdint>
#include <string_view>

namespace zub::locale {

// The fixed currency codes (datatypes/currencies.def): a money! value records a code's 1-based
// position, in one byte, so the list with the appended codes holds at most kMaxCurrencies.
inline constexpr uint32_t kCurrencyCount = 170;
inline constexpr uint32_t kMaxCurrencies = 255;
// The 1-based position of a three-letter code (ASCII letters in any case), or -1. Never allocates.
int32_t currency_index(std::string_view code);
// The upper-case code at a 1-based position; "" for 0 or past the list. Valid until the next
// allocation.
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
