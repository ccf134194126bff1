// Correctly rounded conversion between binary64 floats and decimal text: the digits and the
// plain/exponent text that mold, form and money! print, and the reader the lexer, `to float!`
// and the percent loader use. Also the degree folding of the trigonometric natives.
#pragma once

#include <cstdint>
#include <string_view>

namespace zub::float_text {

// Decimal-point positions at or above this mark a final text ("1.#INF", "0.0", ...) that callers
// print as it is.
inline constexpr int kFinalText = 9998;
inline constexpr int kPointZero = 9998;     // position reported for a zero
inline constexpr int kPointSpecial = 9999;  // position reported for an infinity or NaN

// The most significant digits a conversion produces; larger precisions are clamped to it.
inline constexpr int kMaxDigits = 30;

// Digits of |value| and where the decimal point goes: value = 0.d1d2...dn x 10^decimal_point.
// precision 0 (or below) gives the shortest digits that read back to the same float; a positive
// precision gives at most that many significant digits, correctly rounded (exact ties to even).
// No trailing zeros. The sign goes to *negative, not into the digits.
// Infinities and NaN give "1.#INF", "-1.#INF" or "1.#NaN" with position kPointSpecial; a zero
// gives "0.0"/"-0.0" (keep_point_zero) or "0"/"-0" with position kPointZero. For those final
// texts the sign is part of the text (NaN reports not negative) and *digit_count is its length.
// The text lives in one static buffer that the next call overwrites; copy it out at once.
// Never allocates.
const char* float_to_digits(double value, int precision, int* decimal_point, bool* negative, int* digit_count,
                            bool keep_point_zero);

// A formed float: NUL-terminated text in place, no heap. 40 bytes hold the longest form
// ("-0.000000" and 30 digits).
struct FloatText {
    char text[40];   // the characters, NUL-terminated
    uint8_t length;  // characters before the NUL
    const char* c_str() const { return text; }
    std::string_view view() const { return {text, length}; }
};

// The text form of a float: plain digits with a '.' while the decimal-point position e is in
// -5..18 (1e-6 up to below 1e18), exponent form "d.ddde<exp>" otherwise (no '+', no leading
// zeros in the exponent).
// A text that would end in '.' gets "0" with keep_point_zero and loses the '.' without it.
// Final texts (infinities, NaN, zeros) as float_to_digits gives them. Precision as there.
// mold uses (0, true); the time! seconds (6, false). Never allocates.
FloatText form_float(double value, int precision, bool keep_point_zero);

// Reads [start, end): an optional '+' or '-', digits, an optional '.' and digits (at least one
// digit in all), an optional 'e' or 'E' with an optional sign and at least one digit. The result
// is the float nearest to the number times 10^exponent_adjust, rounded once (ties to even);
// too large gives an infinity, too small a zero, both with the text's sign.
// *error_count is the number of bytes after the accepted number (0: the whole text is a number);
// an exponent marker without digits is not accepted ("1e" reads 1 and leaves 1 byte).
// A text with no digit before any exponent (empty, "+", "-", ".", "e5") is no number: the result
// is +0.0 and *error_count the whole length -- which is 0 for an empty text, so a caller must
// reject an empty text itself. No whitespace or INF/NaN spellings are accepted. Never allocates.
double text_to_float(const char* start, const char* end, int exponent_adjust, int* error_count);

}  // namespace zub::float_text
