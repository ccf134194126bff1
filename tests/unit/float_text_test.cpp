// Float <-> decimal text: digit strings, the plain and exponent forms, reading with the exponent
// adjustment, round trips, and the degree folding of the trigonometric natives.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/float_text.h"

namespace zub {
namespace {

using Limits = std::numeric_limits<double>;

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

std::string form(double x, int precision = 0, bool keep = true) {
    const float_text::FloatText t = float_text::form_float(x, precision, keep);
    EXPECT_EQ(std::strlen(t.c_str()), t.length);
    return std::string(t.view());
}

double read(const std::string& s, int adjust = 0, int* errors = nullptr) {
    int count = -1;
    const double x = float_text::text_to_float(s.data(), s.data() + s.size(), adjust, &count);
    if (errors) *errors = count;
    return x;
}

// The C library's reader is correctly rounded and serves as the oracle.
double oracle(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

TEST(FloatText, FormTable) {
    struct Case {
        double value;
        int precision;
        bool keep;
        const char* text;
    };
    const Case cases[] = {
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {0.1, 0, true, "0.1"},
        {0.0, 0, true, "0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 0, true, "-0.0"},
        {-0.0, 0, false, "-0"},
        {-0.0, 6, false, "-0"},
        {Limits::infinity(), 0, true, "1.#INF"},
        {-Limits::infinity(), 0, false, "-1.#INF"},
        {Limits::quiet_NaN(), 0, true, "1.#NaN"},
        {-Limits::quiet_NaN(), 6, false, "1.#NaN"},
        {3.0, 0, true, "3.0"},
        {3.0, 0, false, "3"},
        {-2.5, 0, true, "-2.5"},
        {100.0, 0, true, "100.0"},
        {123.456, 0, true, "123.456"},
        {0.001, 0, true, "0.001"},
        // Up to 1e17 the digits stay plain; from 1e18 the exponent form takes over.
        {1e16, 0, true, "10000000000000000.0"},
        {12345678901234567.0, 0, true, "12345678901234568.0"},
        {99999999999999984.0, 0, true, "99999999999999980.0"},
        {1e17, 0, true, "100000000000000000.0"},
        {1e17, 0, false, "100000000000000000"},
        {123456789012345678.0, 0, true, "123456789012345680.0"},
        {1e18, 0, true, "1.0e18"},
        {1e18, 0, false, "1e18"},
        {-1e300, 0, true, "-1.0e300"},
        {1.5e300, 0, false, "1.5e300"},
        // One millionth is plain; from one ten-millionth down the exponent form takes over.
        {1e-6, 0, true, "0.000001"},
        {1e-7, 0, true, "1.0e-7"},
        {-1.5e-7, 0, true, "-1.5e-7"},
        {9.9e-7, 0, true, "9.9e-7"},
        {9.9e-6, 0, true, "0.0000099"},
        {1e-8, 0, true, "1.0e-8"},
        {1e-8, 0, false, "1e-8"},
        {1.25e-8, 0, false, "1.25e-8"},
        {Limits::max(), 0, true, "1.7976931348623157e308"},
        {Limits::min(), 0, true, "2.2250738585072014e-308"},
        {Limits::denorm_min(), 0, true, "5.0e-324"},
        {-Limits::denorm_min(), 0, false, "-5e-324"},
        {2.2250738585072009e-308, 0, true, "2.225073858507201e-308"},
        // Fixed precision: correctly rounded, exact ties to even, no trailing zeros.
        {1.0 / 3.0, 6, false, "0.333333"},
        {2.0 / 3.0, 6, false, "0.666667"},
        {123456789.0, 6, false, "123457000"},
        {123456789.0, 6, true, "123457000.0"},
        {59.9999999, 6, false, "60"},
        {9.9999996, 6, false, "10"},
        {3.25, 6, false, "3.25"},
        {-0.5, 6, false, "-0.5"},
        {1e20, 6, false, "1e20"},
        {0.000123456789, 6, false, "0.000123457"},
        {1.5e-7, 6, false, "1.5e-7"},
        {0.125, 2, false, "0.12"},
        {0.375, 2, false, "0.38"},
        {2.5, 1, false, "2"},
        {9.995, 3, false, "9.99"},  // the double lies below the tie
        {0.1, 17, true, "0.10000000000000001"},
        {0.1, 20, true, "0.10000000000000000555"},
        {0.1, 30, true, "0.100000000000000005551115123126"},
        {0.1, 99, true, "0.100000000000000005551115123126"},  // clamped to 30 digits
        {0.1, -3, true, "0.1"},                               // below 0: shortest
        // The longest text: a sign, "0.", five zeros and 30 digits.
        {-1.2345678e-6, 30, false, "-0.00000123456780000000008930835862508"},
        {-1.2345678e-7, 30, false, "-1.23456779999999987755012181151e-7"},
        {1.234e17, 30, false, "123400000000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(form(c.value, c.precision, c.keep), c.text)
            << c.value << " precision " << c.precision << " keep " << c.keep;
}

TEST(DtoaDigits, DigitsAndPointTable) {
    struct Case {
        double value;
        int precision;
        bool keep;
        const char* digits;
        int point;
        bool negative;
    };
    const Case cases[] = {
        {0.1, 0, true, "1", 0, false},
        {-2.5, 0, true, "25", 1, true},
        {1e17, 0, true, "1", 18, false},
        {1e-7, 0, true, "1", -6, false},
        {0.1 + 0.2, 0, true, "30000000000000004", 0, false},
        {Limits::denorm_min(), 0, true, "5", -323, false},
        {9.9999, 3, true, "1", 2, false},
        {123456789.0, 6, true, "123457", 9, false},
        {Limits::infinity(), 0, true, "1.#INF", float_text::kPointSpecial, false},
        {-Limits::infinity(), 0, true, "-1.#INF", float_text::kPointSpecial, true},
        {Limits::quiet_NaN(), 0, true, "1.#NaN", float_text::kPointSpecial, false},
        {-Limits::quiet_NaN(), 0, true, "1.#NaN", float_text::kPointSpecial, false},
        {0.0, 0, true, "0.0", float_text::kPointZero, false},
        {0.0, 0, false, "0", float_text::kPointZero, false},
        {-0.0, 0, true, "-0.0", float_text::kPointZero, true},
        {-0.0, 5, false, "-0", float_text::kPointZero, true},
    };
    for (const Case& c : cases) {
        int point = 0, count = 0;
        bool negative = !c.negative;
        const char* text = float_text::float_to_digits(c.value, c.precision, &point, &negative, &count, c.keep);
        EXPECT_STREQ(text, c.digits) << c.value;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.digits))) << c.value;
        EXPECT_EQ(point, c.point) << c.value;
        EXPECT_EQ(negative, c.negative) << c.value;
    }
}

TEST(FloatText, ReadTable) {
    struct Case {
        std::string text;
        int adjust;
        double value;
        int errors;
    };
    const double max = Limits::max();
    const double inf = Limits::infinity();
    const double tiny = Limits::denorm_min();
    const Case cases[] = {
        {"1.5x", 0, 1.5, 1},
        {"50", -2, 0.5, 0},
        {"0.7", -2, 0.007, 0},
        {"1.1", -2, 0.011, 0},
        {"0.035", -2, 0.00035, 0},
        {"1e400", -200, 1e200, 0},
        {"1e-400", 200, 1e-200, 0},
        {"1", 309, inf, 0},
        {"5", -324, tiny, 0},
        {"1", -324, 0.0, 0},
        {"17976931348623157", 292, max, 0},
        // The grammar and what stays unread.
        {"", 0, 0.0, 0},
        {"+", 0, 0.0, 1},
        {"-", 0, 0.0, 1},
        {".", 0, 0.0, 1},
        {"e5", 0, 0.0, 2},
        {"-e5", 0, 0.0, 3},
        {"+.e1", 0, 0.0, 4},
        {" 1", 0, 0.0, 2},
        {"1 ", 0, 1.0, 1},
        {".5", 0, 0.5, 0},
        {"-.5", 0, -0.5, 0},
        {"5.", 0, 5.0, 0},
        {"+7", 0, 7.0, 0},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"2.5E-", 0, 2.5, 2},
        {"1E3", 0, 1000.0, 0},
        {"1e+3", 0, 1000.0, 0},
        {"1e-3", 0, 0.001, 0},
        {"1.e2", 0, 100.0, 0},
        {".5e1", 0, 5.0, 0},
        {"1.5e3x", 0, 1500.0, 1},
        {"1.5.2", 0, 1.5, 2},
        {"12abc", 0, 12.0, 3},
        {"00012.50", 0, 12.5, 0},
        {"0.000123", 0, 0.000123, 0},
        {"000", 0, 0.0, 0},
        {"0", 0, 0.0, 0},
        {"-0", 0, -0.0, 0},
        {"-0.000e5", 0, -0.0, 0},
        {"0e999999999", 0, 0.0, 0},
        // Ties go to the even neighbour; anything past the tie goes up.
        {"9007199254740993", 0, 9007199254740992.0, 0},
        {"9007199254740995", 0, 9007199254740996.0, 0},
        {"9007199254740993.000000000000000000001", 0, 9007199254740994.0, 0},
        {"-9007199254740993", 0, -9007199254740992.0, 0},
        // The top of the range and overflow.
        {"1.7976931348623157e308", 0, max, 0},
        {"1.7976931348623158e308", 0, max, 0},
        {"1.7976931348623159e308", 0, inf, 0},
        {"-1e400", 0, -inf, 0},
        {"1e99999999999999999999", 0, inf, 0},
        {"1e2147483648", -2147483647 - 1, 1.0, 0},
        // Subnormals, the smallest normal and underflow with its sign.
        {"4.9406564584124654e-324", 0, tiny, 0},
        {"2.4703282292062328e-324", 0, tiny, 0},
        {"2.4703282292062327e-324", 0, 0.0, 0},
        {"-2.4703282292062327e-324", 0, -0.0, 0},
        {"2.2250738585072009e-308", 0, std::bit_cast<double>(0x000FFFFFFFFFFFFFull), 0},
        {"2.2250738585072011e-308", 0, std::bit_cast<double>(0x000FFFFFFFFFFFFFull), 0},
        {"2.2250738585072014e-308", 0, Limits::min(), 0},
        {"-1e-400", 0, -0.0, 0},
        {"1e-99999999999999999999", 0, 0.0, 0},
        // Long texts: many leading zeros, digits beyond any rounding decision.
        {"0." + std::string(400, '0') + "1e400", 0, 0.1, 0},
        {"1" + std::string(400, '0') + "e-400", 0, 1.0, 0},
        {std::string(5000, '0') + "1.25", 0, 1.25, 0},
        {"9007199254740993." + std::string(1000, '0'), 0, 9007199254740992.0, 0},
        {"9007199254740993." + std::string(1000, '0') + "1", 0, 9007199254740994.0, 0},
        {"9007199254740993" + std::string(900, '0') + "1e-901", 0, 9007199254740994.0, 0},
        {"9007199254740993" + std::string(900, '0') + "e-900", 0, 9007199254740992.0, 0},
        {"-9007199254740993" + std::string(900, '0') + "1e-901x", 0, -9007199254740994.0, 1},
    };
    for (const Case& c : cases) {
        int errors = -1;
        const double x = read(c.text, c.adjust, &errors);
        EXPECT_EQ(bits(x), bits(c.value)) << c.text.substr(0, 60) << " adjust " << c.adjust << " read " << x;
        EXPECT_EQ(errors, c.errors) << c.text.substr(0, 60);
    }
}

TEST(FloatText, AdjustmentRoundsOnceNotTwice) {
    // Reading then dividing by 100 rounds twice and misses the nearest float for these.
    for (const char* text : {"0.7", "1.1", "0.035"}) {
        const double once = read(text, -2);
        EXPECT_EQ(bits(once), bits(oracle(std::string(text) + "e-2"))) << text;
        EXPECT_NE(bits(once), bits(read(text) / 100.0)) << text;
    }
}

TEST(FloatText, RoundTripTable) {
    const double values[] = {
        0.1,
        0.1 + 0.2,
        1.0 / 3.0,
        3.141592653589793,
        2.718281828459045,
        123.456,
        Limits::denorm_min(),
        4.9406564584124654e-324,
        2.2250738585072009e-308,
        Limits::min(),
        Limits::max(),
        -Limits::max(),
        0.0,
        -0.0,
        1e16,
        1e17,
        1e18,
        1e22,
        1e23,
        9007199254740992.0,
        9007199254740994.0,
        1e-5,
        1e-6,
        1e-7,
        1e-8,
        5e-324,
        -7e-310,
        1.7976931348623155e308,
    };
    for (double x : values) {
        for (int precision : {0, 17}) {
            const std::string text = form(x, precision, true);
            int errors = -1;
            EXPECT_EQ(bits(read(text, 0, &errors)), bits(x)) << text;
            EXPECT_EQ(errors, 0) << text;
        }
    }
}

TEST(FloatText, RandomBitPatternsRoundTripWithShortestDigits) {
    std::mt19937_64 random(0x5EEDF10A7ull);
    for (int i = 0; i < 200000; ++i) {
        const double x = std::bit_cast<double>(random());
        if (!std::isfinite(x)) continue;
        const std::string text = form(x, 0, true);
        int errors = -1;
        const double back = read(text, 0, &errors);
        ASSERT_EQ(bits(back), bits(x)) << text;
        ASSERT_EQ(errors, 0) << text;
        // One digit fewer, correctly rounded, must no longer read back (away from powers of two,
        // where the nearest shorter decimal may lie on the narrow side).
        if (i % 8 != 0 || (bits(x) & 0x000FFFFFFFFFFFFFull) == 0) continue;
        int point = 0, count = 0;
        bool negative = false;
        float_text::float_to_digits(x, 0, &point, &negative, &count, true);
        if (count < 2) continue;
        char shorter[64];
        std::snprintf(shorter, sizeof shorter, "%.*e", count - 2, x);
        ASSERT_NE(bits(oracle(shorter)), bits(x)) << text << " vs " << shorter;
    }
}

TEST(FloatText, FixedPrecisionMatchesOracleDigits) {
    std::mt19937_64 random(77);
    for (int i = 0; i < 20000; ++i) {
        const double x = std::bit_cast<double>(random());
        if (!std::isfinite(x) || x == 0.0) continue;
        const int precision = 1 + static_cast<int>(random() % float_text::kMaxDigits);
        char printed[64];
        std::snprintf(printed, sizeof printed, "%.*e", precision - 1, x);
        std::string expected;
        const char* p = printed + (x < 0);
        for (; *p != 'e'; ++p)
            if (*p != '.') expected += *p;
        while (expected.size() > 1 && expected.back() == '0') expected.pop_back();
        int point = 0, count = 0;
        bool negative = false;
        const char* digits = float_text::float_to_digits(x, precision, &point, &negative, &count, true);
        ASSERT_EQ(std::string(digits, count), expected) << printed;
        ASSERT_EQ(point, std::atoi(p + 1) + 1) << printed;
        ASSERT_EQ(negative, x < 0) << printed;
    }
}

TEST(FloatText, ReadMatchesOracleOnRandomDecimals) {
    std::mt19937_64 random(2024);
    for (int i = 0; i < 50000; ++i) {
        std::string mantissa;
        const int digits = 1 + static_cast<int>(random() % 40);
        for (int k = 0; k < digits; ++k) mantissa += static_cast<char>('0' + random() % 10);
        if (random() % 3 == 0) mantissa.insert(random() % (mantissa.size() + 1), ".");
        const int exponent = static_cast<int>(random() % 700) - 350;
        const int adjust = random() % 4 == 0 ? static_cast<int>(random() % 11) - 5 : 0;
        const std::string text = mantissa + "e" + std::to_string(exponent);
        const double expected = oracle(mantissa + "e" + std::to_string(exponent + adjust));
        int errors = -1;
        ASSERT_EQ(bits(read(text, adjust, &errors)), bits(expected)) << text << " " << adjust;
        ASSERT_EQ(errors, 0) << text;
    }
}

TEST(FloatText, ExactMidpointsTieToEvenAndAnyTailRoundsUp) {
    // The exact decimal expansion of the midpoint between two neighbours runs to hundreds of
    // digits, subnormals included; long double holds the midpoint exactly.
    std::mt19937_64 random(99);
    std::string text(1200, '\0');
    for (int i = 0; i < 2000; ++i) {
        uint64_t pattern = random() & 0x7FFFFFFFFFFFFFFFull;
        if (i % 4 == 0) pattern &= 0x000FFFFFFFFFFFFFull;  // subnormal
        const double low = std::bit_cast<double>(pattern);
        const double high = std::nextafter(low, Limits::infinity());
        if (!std::isfinite(high)) continue;
        const long double middle = (static_cast<long double>(low) + high) / 2;
        const int n = std::snprintf(text.data(), text.size(), "%.900Le", middle);
        const std::string exact(text.data(), n);
        const double even = (pattern & 1) == 0 ? low : high;
        EXPECT_EQ(bits(read(exact)), bits(even)) << exact.substr(0, 40);
        // The 901st significant digit is beyond what is kept but must still count.
        std::string above = exact;
        above[above.find('e') - 1] = '1';
        EXPECT_EQ(bits(read(above)), bits(high)) << above.substr(0, 40);
        EXPECT_EQ(bits(read("-" + above)), bits(-high)) << above.substr(0, 40);
    }
}

}  // namespace
}  // namespace zub
