// The literal converters behind `to integer!`, `to float!` and `to money!` of a string: they read
// code points of any unit width directly and follow the lexer's rules for the same literal, but
// report failure as an error code for the caller's own script error.
#include <cstring>
#include <limits>

#include "evaluator/lexer/lexer.h"
#include "runtime/float_text.h"
#include "runtime/lowrt.h"
#include "runtime/series.h"

namespace zub::lexer {

bool decimal_text_ok(const char* text, uint32_t length);

namespace {

uint32_t at(const std::byte* data, uint32_t unit, uint32_t i) { return series::code_point_at(data, unit, i); }

}  // namespace

int32_t scan_integer(const std::byte* data, uint32_t count, uint32_t unit, int32_t& error) {
    error = 0;
    uint32_t i = 0;
    bool negative = false;
    if (count > 0 && (at(data, unit, 0) == '+' || at(data, unit, 0) == '-')) {
        negative = at(data, unit, 0) == '-';
        i = 1;
    }
    if (i == count) {
        error = -1;
        return 0;
    }
    int32_t value = 0;
    for (; i < count; ++i) {
        const uint32_t c = at(data, unit, i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            error = -1;
            return 0;
        }
        // The minimum integer has no positive counterpart: take it whole. Digits after it
        // overflow like any others.
        if (negative && value == 214748364 && c == '8') {
            bool more = false;
            for (uint32_t j = i + 1; j < count; ++j) more |= at(data, unit, j) != '\'';
            if (!more) return std::numeric_limits<int32_t>::min();
        }
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, static_cast<int32_t>(c - '0'), &value)) {
            error = -2;
            return 0;
        }
    }
    return negative ? -value : value;
}

double scan_float(const std::byte* data, uint32_t count, uint32_t unit, int32_t& error) {
    error = -1;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (count >= 313 || count == 0) return nan;
    char text[313];
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = at(data, unit, i);
        if (c == ',') c = '.';
        if (c >= 0x80) return nan;
        text[i] = static_cast<char>(c);
    }
    if (!decimal_text_ok(text, count)) return nan;
    for (uint32_t i = 0; i < count; ++i) {
        if (text[i] != '\'') text[n++] = text[i];
    }
    int errors = 0;
    const double v = float_text::text_to_float(text, text + n, 0, &errors);
    if (errors != 0) return nan;
    error = 0;
    return v;
}

bool scan_money(const std::byte* data, uint32_t count, uint32_t unit, MoneyDigits& out) {
    std::memset(&out, 0, sizeof out);
    uint32_t i = 0;
    if (i < count && (at(data, unit, i) == '+' || at(data, unit, i) == '-')) out.negative = at(data, unit, i++) == '-';
    auto letter = [](uint32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (i + 3 <= count && letter(at(data, unit, i)) && letter(at(data, unit, i + 1)) && letter(at(data, unit, i + 2))) {
        if (count - i < 5) return false;
        for (int k = 0; k < 3; ++k) out.code[k] = static_cast<char>(at(data, unit, i + k));
        i += 3;
        if (at(data, unit, i) != '$') return false;
    }
    if (i < count && at(data, unit, i) == '$') ++i;
    if (i == count) return false;
    uint32_t digits = 0, fraction = 0;
    bool point = false, any = false;
    uint32_t previous = 0;
    for (; i < count; ++i) {
        const uint32_t c = at(data, unit, i);
        if (c == '\'') {
            if (!any || previous == '\'' || point || i + 1 == count) return false;
        } else if (c == '.' || c == ',') {
            if (point || !any || i + 1 == count || previous == '\'') return false;
            point = true;
        } else if (c >= '0' && c <= '9') {
            any = true;
            if (point) {
                if (fraction == 5) return false;
                out.fraction[fraction++] = static_cast<char>(c);
            } else if (digits > 0 || c != '0') {
                if (digits == 17) return false;
                out.digits[digits++] = static_cast<char>(c);
            }
        } else {
            return false;
        }
        previous = c;
    }
    return any;
}

}  // namespace zub::lexer
