// The currency list, and the reads of system/options and system/locale that money! and date!
// make each time they form a value (a script may change them at any time).
#include "datatypes/locale.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::locale {
namespace {

constexpr char kCurrencies[kCurrencyCount][4] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN", "BHD",
    "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD", "CLP", "CNY",
    "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD",
    "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF",
    "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF",
    "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK",
    "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR",
    "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB", "PYG", "QAR", "ZUB", "RON", "RSD", "RUB", "RWF", "SAR",
    "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS",
    "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV",
    "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR", "ZMW"};

constexpr std::string_view kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// A field of an object held in a field of the global system object: none when either is missing.
Cell system_field(words::Word object_word, words::Word field_word) {
    const NodeId global = context::global();
    const int32_t at = context::find_word(global, words::id(words::Word::system), false);
    if (at < 0) return cell::none();
    const Cell* system = context::value_at(global, static_cast<uint32_t>(at));
    if (!system || !cell::is(*system, TypeId::object)) return cell::none();
    const Cell inner = object::select_word(*system, words::id(object_word));
    if (!cell::is(inner, TypeId::object)) return cell::none();
    return object::select_word(inner, words::id(field_word));
}

}  // namespace

int32_t currency_index(std::string_view code) {
    if (code.size() != 3) return -1;
    const char c[3] = {upper(code[0]), upper(code[1]), upper(code[2])};
    for (uint32_t i = 0; i < kCurrencyCount; ++i) {
        if (kCurrencies[i][0] == c[0] && kCurrencies[i][1] == c[1] && kCurrencies[i][2] == c[2])
            return static_cast<int32_t>(i + 1);
    }
    return -1;
}

std::string_view currency_code(uint32_t index) {
    if (index == 0 || index > kCurrencyCount) return {};
    return {kCurrencies[index - 1], 3};
}

int32_t money_digits() {
    const Cell digits = system_field(words::Word::options, words::Word::money_digits);
    return cell::is(digits, TypeId::integer) ? cell::as_integer(digits) : 2;
}

MonthText month_abbreviation(uint32_t month) {
    MonthText t{};
    const Cell months = system_field(words::Word::locale, words::Word::months);
    if (!cell::is(months, TypeId::block)) {
        for (const char c : kMonths[(month - 1) % 12]) t.chars[t.count++] = static_cast<uint8_t>(c);
        return t;
    }
    const NodeId node = cell::series_node(months);
    const uint32_t at = cell::series_index(months) + month - 1;
    if (at >= series::length(node)) error::fire(ErrorId::invalid_months);
    const Cell name = memory::buffer(node)->cells()[at];
    if (!cell::is(name, TypeId::string)) error::fire(ErrorId::invalid_months);
    const NodeId text = cell::series_node(name);
    const uint32_t length = series::length(text);
    for (uint32_t i = cell::series_index(name); i < length && t.count < 3; ++i)
        t.chars[t.count++] = string::char_at(text, i);
    return t;
}

}  // namespace zub::locale
