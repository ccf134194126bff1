// Float <-> decimal text. The correctly rounded engines are the standard library's to_chars
// (shortest round-trip and fixed-precision digits) and from_chars; this file owns the digit
// layout, the text forms and the reading grammar around them.
#include "runtime/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace zub::float_text {
namespace {

// Digits of one conversion; `text` holds the special text instead when point >= kFinalText.
struct Digits {
    char text[kMaxDigits + 1];  // digits or the final text, NUL-terminated
    int count;                  // characters in text
    int point;                  // 0.d1d2... x 10^point, or kPointZero / kPointSpecial
    bool negative;              // sign bit (false for NaN)
};

int copy_text(char* out, const char* text) {
    const int n = static_cast<int>(std::strlen(text));
    std::memcpy(out, text, n + 1);
    return n;
}

void digits_of(double value, int precision, bool keep_point_zero, Digits& d) {
    d.negative = std::signbit(value);
    if (std::isnan(value)) {
        d.negative = false;
        d.point = kPointSpecial;
        d.count = copy_text(d.text, "1.#NaN");
        return;
    }
    if (std::isinf(value)) {
        d.point = kPointSpecial;
        d.count = copy_text(d.text, d.negative ? "-1.#INF" : "1.#INF");
        return;
    }
    if (value == 0.0) {
        d.point = kPointZero;
        d.count = copy_text(d.text, keep_point_zero ? (d.negative ? "-0.0" : "0.0") : (d.negative ? "-0" : "0"));
        return;
    }

    // Scientific form "d[.ddd]e<sign><exp>" carries the digits and the exponent without any
    // choice of layout left to the engine.
    char sci[64];
    const double magnitude = std::fabs(value);
    const std::to_chars_result r = precision <= 0
                                       ? std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific)
                                       : std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                                                       (precision > kMaxDigits ? kMaxDigits : precision) - 1);
    const char* p = sci;
    int n = 0;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') d.text[n++] = *p;
    ++p;  // 'e'
    const bool exponent_negative = *p == '-';
    int exponent = 0;
    for (++p; p < r.ptr; ++p) exponent = exponent * 10 + (*p - '0');
    if (exponent_negative) exponent = -exponent;
    while (n > 1 && d.text[n - 1] == '0') --n;  // fixed precision pads with zeros
    d.text[n] = '\0';
    d.count = n;
    d.point = exponent + 1;
}

Digits g_digits;  // the buffer float_to_digits hands out

// Past this many significant digits only whether the rest is zero can change the rounding:
// every halfway point between two doubles has at most 767 significant digits.
constexpr int kMaxSignificant = 800;

// Decimal exponents (of 0.d1d2... x 10^E) beyond which the result is certainly infinite or zero;
// they keep the exponent the engine sees small.
constexpr int64_t kOverflowExponent = 310;
constexpr int64_t kUnderflowExponent = -330;

// An exponent this large already decides the result; more digits only risk overflow.
constexpr int64_t kExponentCap = 1'000'000'000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* float_to_digits(double value, int precision, int* decimal_point, bool* negative, int* digit_count,
                            bool keep_point_zero) {
    digits_of(value, precision, keep_point_zero, g_digits);
    *decimal_point = g_digits.point;
    *negative = g_digits.negative;
    *digit_count = g_digits.count;
    return g_digits.text;
}

FloatText form_float(double value, int precision, bool keep_point_zero) {
    Digits d;
    digits_of(value, precision, keep_point_zero, d);
    FloatText t;
    if (d.point >= kFinalText) {
        t.length = static_cast<uint8_t>(copy_text(t.text, d.text));
        return t;
    }
    const int e = d.point;
    const int n = d.count;
    char* o = t.text;
    if (d.negative) *o++ = '-';
    const bool exponent_form = e >= 19 || e < -5;  // 1e18 and 1e-7 are the first in exponent form
    if (exponent_form) {
        *o++ = d.text[0];
        *o++ = '.';
        std::memcpy(o, d.text + 1, n - 1);
        o += n - 1;
    } else if (e < 1) {
        *o++ = '0';
        *o++ = '.';
        std::memset(o, '0', -e);
        o += -e;
        std::memcpy(o, d.text, n);
        o += n;
    } else if (n < e) {
        std::memcpy(o, d.text, n);
        o += n;
        std::memset(o, '0', e - n);
        o += e - n;
        *o++ = '.';
    } else {
        std::memcpy(o, d.text, e);
        o += e;
        *o++ = '.';
        std::memcpy(o, d.text + e, n - e);
        o += n - e;
    }
    if (o[-1] == '.') {
        if (keep_point_zero) *o++ = '0';
        else --o;
    }
    if (exponent_form) {
        *o++ = 'e';
        o = std::to_chars(o, t.text + sizeof t.text - 1, e - 1).ptr;
    }
    *o = '\0';
    t.length = static_cast<uint8_t>(o - t.text);
    return t;
}

double text_to_float(const char* start, const char* end, int exponent_adjust, int* error_count) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // The mantissa is normalised to 0.d1d2... x 10^point with d1 non-zero, keeping at most
    // kMaxSignificant digits and one sticky non-zero digit for whatever non-zero was dropped.
    char buf[kMaxSignificant + 1 + 24];
    int kept = 0;
    bool sticky = false;
    bool any_digit = false;
    int64_t point = 0;
    for (; p < end && is_digit(*p); ++p) {
        any_digit = true;
        if (kept == 0 && *p == '0') continue;
        ++point;
        if (kept < kMaxSignificant) buf[kept++] = *p;
        else if (*p != '0') sticky = true;
    }
    if (p < end && *p == '.') {
        const char* fraction = p + 1;
        for (p = fraction; p < end && is_digit(*p); ++p) {
            if (kept == 0 && *p == '0') {
                --point;
                continue;
            }
            if (kept < kMaxSignificant) buf[kept++] = *p;
            else if (*p != '0') sticky = true;
        }
        any_digit = any_digit || p > fraction;
    }
    if (!any_digit) {
        *error_count = static_cast<int>(end - start);
        return 0.0;
    }

    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {
            for (; q < end && is_digit(*q); ++q)
                if (exponent < kExponentCap) exponent = exponent * 10 + (*q - '0');
            if (exponent_negative) exponent = -exponent;
            p = q;
        }
    }
    *error_count = static_cast<int>(end - p);

    const double zero = negative ? -0.0 : 0.0;
    const double infinity = negative ? -HUGE_VAL : HUGE_VAL;
    if (kept == 0) return zero;
    // The adjustment joins the exponent here, before the one rounding below.
    const int64_t decimal = point + exponent + exponent_adjust;
    if (decimal > kOverflowExponent) return infinity;
    if (decimal < kUnderflowExponent) return zero;

    if (sticky) buf[kept++] = '1';
    char* o = buf + kept;
    *o++ = 'e';
    o = std::to_chars(o, buf + sizeof buf, decimal - kept).ptr;
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(buf, o, value, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) return decimal > 0 ? infinity : zero;
    return negative ? -value : value;
}

}  // namespace zub::float_text
