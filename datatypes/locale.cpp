// The currency list (the fixed codes, then those a script appended to the system object's list),
// and the reads of system/options and system/locale that money! and date!
// make each time they form a value (a script may change them at any time).
#include "datatypes/locale.h"

#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::locale {
namespace {

constexpr char kCurrencies[kCurrencyCount][4] = {
#define ZUB_CURRENCY(code) code,
#include "datatypes/currencies.def"
};

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

// system/locale/currencies/list when a script has appended codes to it past the fixed ones, else
// none (also before the system object exists).
Cell appended_currencies() {
    const Cell currencies = system_field(words::Word::locale, words::Word::currencies);
    if (!cell::is(currencies, TypeId::object)) return cell::none();
    const Cell list = object::select_word(currencies, words::id(words::Word::list));
    if (!cell::is(list, TypeId::block) || series::length(cell::series_node(list)) <= kCurrencyCount)
        return cell::none();
    return list;
}

bool same_code(std::string_view a, const char* c) {
    return upper(a[0]) == c[0] && upper(a[1]) == c[1] && upper(a[2]) == c[2];
}

}  // namespace

int32_t currency_index(std::string_view code) {
    if (code.size() != 3) return -1;
    for (uint32_t i = 0; i < kCurrencyCount; ++i)
        if (same_code(code, kCurrencies[i])) return static_cast<int32_t>(i + 1);
    const Cell list = appended_currencies();
    if (cell::is(list, TypeId::none)) return -1;
    const NodeId node = cell::series_node(list);
    const uint32_t length = std::min(series::length(node), kMaxCurrencies);
    for (uint32_t i = kCurrencyCount; i < length; ++i) {
        const Cell entry = memory::buffer(node)->cells()[i];
        if (!cell::is(entry, TypeId::word)) continue;
        const std::string_view name = symbol::utf8(word::symbol_of(entry));
        if (name.size() == 3 && same_code(code, name.data())) return static_cast<int32_t>(i + 1);
    }
    return -1;
}

std::string_view currency_code(uint32_t index) {
    if (index == 0 || index > kMaxCurrencies) return {};
    if (index <= kCurrencyCount) return {kCurrencies[index - 1], 3};
    const Cell list = appended_currencies();
    if (cell::is(list, TypeId::none) || index > series::length(cell::series_node(list))) return {};
    const Cell entry = memory::buffer(cell::series_node(list))->cells()[index - 1];
    return cell::is(entry, TypeId::word) ? symbol::utf8(word::symbol_of(entry)) : std::string_view{};
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
