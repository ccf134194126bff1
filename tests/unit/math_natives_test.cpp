// The comparison, logic and math natives called as the interpreter calls them: arguments on the
// stack after a frame, refinement positions, the argument checks its spec block gives, the result in cell 0.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "evaluator/natives.h"
#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

using natives::Native;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

Cell yes() { return cell::logic(true); }
Cell no() { return cell::logic(false); }
Cell pair(int32_t x, int32_t y) { return cell::make(TypeId::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)); }
Cell point2(float x, float y) {
    return cell::make(TypeId::point2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
}
Cell point3(float x, float y, float z) {
    return cell::make(TypeId::point3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y), std::bit_cast<uint32_t>(z));
}
Cell tuple(std::initializer_list<uint8_t> bytes) {
    Cell t = cell::make(TypeId::tuple);
    t.header |= static_cast<uint32_t>(bytes.size()) << 19;
    uint8_t raw[12] = {};
    std::copy(bytes.begin(), bytes.end(), raw);
    std::memcpy(&t.w1, raw, 12);
    return t;
}
// A money cell: sign in header bit 14, the digits after the currency byte (any non-zero digit
// makes a non-zero amount).
Cell money(int sign) {
    Cell m = cell::make(TypeId::money);
    if (sign != 0) m.w3 = 0x10;
    if (sign < 0) m.header |= 0x4000;
    return m;
}

struct Case {
    Native native;
    std::vector<Cell> args;
    std::vector<int32_t> refs;
    Expect expect;
};

class MathNatives : public NumberTest {
  protected:
    // Calls the native with its fixed arguments, then one slot per refinement argument; `refs`
    // gives each refinement's position (-1 absent). With `check` the types its spec block names are checked.
    static Outcome call(Native n, std::vector<Cell> arguments, std::vector<int32_t> refs = {}, bool check = true) {
        const uint32_t index = natives::index_of(n);
        refs.resize(8, -1);
        return run([&] {
            stack::Call frame(stack::FrameType::native, word(std::string(natives::word(index)).c_str()));
            for (const Cell& c : arguments) stack::push(c);
            (void)natives::call(index, refs.data(), check);
            return stack::args()[0];
        });
    }
    static void check_all(const std::vector<Case>& cases, bool check = true) {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Case& c = cases[i];
            const Outcome got = call(c.native, c.args, c.refs, check);
            EXPECT_TRUE(matches(got, c.expect)) << natives::word(natives::index_of(c.native)) << " case " << i
                                                << ": got " << show(got) << ", expected " << show(c.expect);
        }
    }
    static std::string issue_text(const Cell& v) {
        return cell::is(v, TypeId::issue) ? std::string(symbol::utf8(v.w2)) : "(not an issue)";
    }
};

TEST_F(MathNatives, ComparisonsAcrossNumberTypes) {
    check_all({
        {Native::equal_q, {num(1), flt(1.0)}, {}, gives(yes())},
        {Native::equal_q, {flt(0.1 + 0.2), flt(0.3)}, {}, gives(yes())},
        {Native::strict_equal_q, {flt(0.1 + 0.2), flt(0.3)}, {}, gives(no())},
        {Native::strict_equal_q, {num(1), flt(1.0)}, {}, gives(no())},
        {Native::equal_q, {chr('a'), num(97)}, {}, gives(yes())},
        {Native::equal_q, {flt(kNaN), flt(kNaN)}, {}, gives(no())},
        {Native::not_equal_q, {flt(kNaN), flt(kNaN)}, {}, gives(yes())},
        {Native::lesser_q, {flt(kNaN), flt(1.0)}, {}, gives(no())},
        {Native::greater_or_equal_q, {flt(kNaN), flt(1.0)}, {}, gives(no())},
        {Native::lesser_q, {num(kMin), num(kMax)}, {}, gives(yes())},
        {Native::greater_q, {num(kMax), flt(2147483647.5)}, {}, gives(no())},
        {Native::lesser_or_equal_q, {tim(60), num(60)}, {}, gives(yes())},
        {Native::greater_q, {pct(0.5), flt(0.4)}, {}, gives(yes())},
        // Values without an order: equality answers, ordering raises.
        {Native::equal_q, {yes(), num(1)}, {}, gives(no())},
        {Native::lesser_q, {yes(), no()}, {}, raises(ErrorId::invalid_compare)},
        {Native::lesser_q, {num(1), cell::none()}, {}, raises(ErrorId::invalid_compare)},
        {Native::equal_q, {cell::unset(), cell::unset()}, {}, gives(yes())},
    });
}

TEST_F(MathNatives, SameIsIdentityByType) {
    const Cell s = text_value("abc");
    Cell s2 = s;
    s2.w1 = 1;
    check_all({
        {Native::same_q, {num(3), num(3)}, {}, gives(yes())},
        {Native::same_q, {num(3), flt(3.0)}, {}, gives(no())},
        {Native::same_q, {flt(0.0), flt(-0.0)}, {}, gives(no())},  // bit patterns differ
        {Native::same_q, {flt(kNaN), flt(kNaN)}, {}, gives(yes())},
        {Native::same_q, {s, s}, {}, gives(yes())},
        {Native::same_q, {s, s2}, {}, gives(no())},
        {Native::same_q, {s, text_value("abc")}, {}, gives(no())},
        {Native::same_q, {cell::none(), cell::none()}, {}, gives(yes())},
        {Native::same_q, {tuple({1, 2, 3}), tuple({1, 2, 3})}, {}, gives(yes())},
        {Native::same_q, {tuple({1, 2, 3}), tuple({1, 2, 3, 0})}, {}, gives(no())},
        {Native::same_q, {money(0), [] { Cell m = money(0); m.header |= 0x4000; return m; }()}, {}, gives(yes())},
        {Native::not_, {cell::none()}, {}, gives(yes())},
        {Native::not_, {no()}, {}, gives(yes())},
        {Native::not_, {num(0)}, {}, gives(no())},
        {Native::not_, {cell::unset()}, {}, gives(no())},
    });
}

TEST_F(MathNatives, SignAndZeroTests) {
    check_all({
        {Native::negative_q, {num(-1)}, {}, gives(yes())},
        {Native::negative_q, {num(0)}, {}, gives(no())},
        {Native::negative_q, {flt(kNaN)}, {}, gives(no())},
        {Native::negative_q, {tim(-0.5)}, {}, gives(yes())},
        {Native::negative_q, {money(-1)}, {}, gives(yes())},
        {Native::positive_q, {flt(kNaN)}, {}, gives(no())},
        {Native::positive_q, {pct(0.01)}, {}, gives(yes())},
        {Native::positive_q, {money(0)}, {}, gives(no())},
        {Native::sign_q, {num(kMin)}, {}, gives(num(-1))},
        {Native::sign_q, {flt(-0.0)}, {}, gives(num(0))},
        {Native::sign_q, {flt(kNaN)}, {}, gives(num(0))},
        {Native::sign_q, {flt(-kInf)}, {}, gives(num(-1))},
        {Native::sign_q, {money(1)}, {}, gives(num(1))},
        {Native::sign_q, {text_value("1")}, {}, raises(ErrorId::expect_arg)},
        {Native::zero_q, {num(0)}, {}, gives(yes())},
        {Native::zero_q, {chr(0)}, {}, gives(yes())},
        {Native::zero_q, {flt(-0.0)}, {}, gives(yes())},
        {Native::zero_q, {flt(kNaN)}, {}, gives(no())},
        {Native::zero_q, {pair(0, 0)}, {}, gives(yes())},
        {Native::zero_q, {pair(0, 1)}, {}, gives(no())},
        {Native::zero_q, {tuple({0, 0, 0})}, {}, gives(yes())},
        {Native::zero_q, {point2(-0.0f, 0.0f)}, {}, gives(yes())},
        {Native::zero_q, {point3(0.0f, 0.0f, 1e-30f)}, {}, gives(no())},
        {Native::zero_q, {money(0)}, {}, gives(yes())},
        {Native::nan_q, {flt(kNaN)}, {}, gives(yes())},
        {Native::nan_q, {pct(kNaN)}, {}, gives(yes())},
        {Native::nan_q, {flt(kInf)}, {}, gives(no())},
        {Native::nan_q, {num(0)}, {}, gives(no())},
    });
    // Called without the check, a wrong type still gets the same expect-arg error.
    check_all({{Native::negative_q, {text_value("1")}, {}, raises(ErrorId::expect_arg)},
               {Native::zero_q, {text_value("")}, {}, gives(no())}},
              false);
}

TEST_F(MathNatives, MaxAndMin) {
    const Cell abc = text_value("abc"), abd = text_value("abd");
    check_all({
        {Native::max, {num(1), num(2)}, {}, gives(num(2))},
        {Native::min, {flt(1.5), num(2)}, {}, gives(flt(1.5))},
        // A tie keeps value1 for max and gives value2 for min.
        {Native::max, {num(1), flt(1.0)}, {}, gives(num(1))},
        {Native::min, {num(1), flt(1.0)}, {}, gives(flt(1.0))},
        // NaN is never lost to a comparison that is always false.
        {Native::max, {flt(kNaN), num(1)}, {}, gives(flt(kNaN))},
        {Native::min, {num(1), flt(kNaN)}, {}, gives(flt(kNaN))},
        {Native::max, {abc, abd}, {}, gives(abd)},
        {Native::min, {abc, abd}, {}, gives(abc)},
        {Native::max, {num(1), text_value("a")}, {}, raises(ErrorId::invalid_compare)},
        // Coordinates and tuples component by component; a number first is swapped behind them.
        {Native::max, {pair(1, 5), num(3)}, {}, gives(pair(3, 5))},
        {Native::max, {num(3), pair(1, 5)}, {}, gives(pair(3, 5))},
        {Native::min, {pair(1, 5), flt(3.9)}, {}, gives(pair(1, 3))},
        {Native::min, {pair(1, 5), pair(4, -2)}, {}, gives(pair(1, -2))},
        {Native::max, {pair(1, 5), flt(1e10)}, {}, gives(point2(1e10f, 1e10f))},
        {Native::max, {pair(1, 5), point2(2.5f, 0.5f)}, {}, gives(point2(2.5f, 5.0f))},
        {Native::max, {point2(1.0f, 5.0f), flt(kNaN)}, {}, gives(point2(NAN, NAN))},
        {Native::min, {point3(1.0f, 5.0f, -1.0f), num(2)}, {}, gives(point3(1.0f, 2.0f, -1.0f))},
        {Native::max, {tuple({1, 200, 3}), num(100)}, {}, gives(tuple({100, 200, 100}))},
        {Native::max, {tuple({1, 200, 3}), num(1000)}, {}, gives(tuple({255, 255, 255}))},
        {Native::min, {tuple({1, 200, 3}), tuple({5, 5, 5})}, {}, gives(tuple({1, 5, 3}))},
        {Native::min, {tuple({1, 2, 3}), flt(kInf)}, {}, raises(ErrorId::type_limit)},
    });
}

TEST_F(MathNatives, ShiftAndToHex) {
    check_all({
        {Native::shift, {num(-8), num(1)}, {}, gives(num(-4))},
        {Native::shift, {num(-8), num(1)}, {-1, 0}, gives(num(2147483644))},
        {Native::shift, {num(1), num(40)}, {}, gives(num(0))},
        {Native::shift, {num(-1), num(40)}, {}, gives(num(-1))},
        {Native::shift, {num(-1), num(32)}, {-1, 0}, gives(num(0))},
        {Native::shift, {num(1), num(31)}, {0}, gives(num(kMin))},
        {Native::shift, {num(1), num(32)}, {0, 0}, gives(num(0))},
        {Native::shift, {num(5), num(-3)}, {}, gives(num(5))},
        {Native::to_hex, {num(1), num(0)}, {1}, raises(ErrorId::invalid_arg)},
        {Native::to_hex, {num(1), num(-5)}, {1}, raises(ErrorId::invalid_arg)},
    });
    struct HexCase {
        int32_t value;
        int32_t size;  // 0: no /size
        const char* digits;
    };
    const HexCase hex[] = {{255, 0, "000000FF"}, {255, 2, "FF"}, {-1, 0, "FFFFFFFF"}, {1, 10, "00000001"},
                           {kMin, 0, "80000000"}, {0x1234ABCD, 3, "BCD"}};
    for (const HexCase& h : hex) {
        const Outcome o = h.size ? call(Native::to_hex, {num(h.value), num(h.size)}, {1})
                                 : call(Native::to_hex, {num(h.value), cell::none()});
        ASSERT_FALSE(o.error) << h.digits;
        EXPECT_EQ(issue_text(o.value), h.digits);
    }
}

TEST_F(MathNatives, TrigonometryInDegreesAndRadians) {
    constexpr double kPi = 3.141592653589793;
    check_all({
        {Native::sine, {num(30)}, {}, gives(flt(0.49999999999999994))},
        {Native::sine, {num(180)}, {}, gives(flt(0.0))},
        {Native::sine, {num(-540)}, {}, gives(flt(0.0))},
        {Native::cosine, {num(90)}, {}, gives(flt(0.0))},
        {Native::cosine, {flt(kPi)}, {0}, gives(flt(-1.0))},
        {Native::sine, {flt(kPi)}, {0}, gives(flt(0.0))},
        {Native::tangent, {num(90)}, {}, gives(flt(kInf))},
        {Native::tangent, {num(-90)}, {}, gives(flt(-kInf))},
        {Native::tangent, {num(270)}, {}, gives(flt(-kInf))},  // folded to -90
        {Native::tangent, {flt(kPi / 2)}, {0}, gives(flt(kInf))},
        {Native::sine, {flt(kInf)}, {}, gives(flt(kNaN))},
        {Native::arcsine, {num(1)}, {}, gives(flt(90.0))},
        {Native::arcsine, {num(2)}, {}, gives(flt(kNaN))},
        {Native::arccosine, {num(-1)}, {0}, gives(flt(kPi))},
        {Native::arctangent, {num(1)}, {}, gives(flt(45.0))},
        {Native::arctangent2, {num(1), num(-1)}, {}, gives(flt(135.0))},
        {Native::arctangent2, {num(0), num(-1)}, {0}, gives(flt(kPi))},
        {Native::sine, {text_value("1")}, {}, raises(ErrorId::expect_arg)},
    });
}

TEST_F(MathNatives, LogarithmsAndPowersPassDomainErrorsThrough) {
    check_all({
        {Native::log_2, {num(8)}, {}, gives(flt(3.0))},
        {Native::log_10, {num(1000)}, {}, gives(flt(3.0))},
        {Native::log_10, {pct(0.1)}, {}, gives(flt(-1.0))},
        {Native::log_e, {num(1)}, {}, gives(flt(0.0))},
        {Native::log_e, {num(0)}, {}, gives(flt(-kInf))},
        {Native::log_e, {num(-1)}, {}, gives(flt(kNaN))},
        {Native::exp, {num(0)}, {}, gives(flt(1.0))},
        {Native::exp, {num(1)}, {}, gives(flt(2.718281828459045))},
        {Native::exp, {num(1000)}, {}, gives(flt(kInf))},
        {Native::square_root, {num(-1)}, {}, gives(flt(kNaN))},
        {Native::square_root, {num(kMax)}, {}, gives(flt(std::sqrt(2147483647.0)))},
    });
}

TEST_F(MathNatives, CoordinateConstructors) {
    check_all({
        {Native::as_pair, {flt(1.9), flt(-1.9)}, {}, gives(pair(1, -1))},
        {Native::as_pair, {num(kMin), num(kMax)}, {}, gives(pair(kMin, kMax))},
        {Native::as_pair, {flt(kInf), num(0)}, {}, raises(ErrorId::invalid_arg)},
        {Native::as_pair, {num(0), flt(kNaN)}, {}, raises(ErrorId::invalid_arg)},
        // Beyond the 32-bit range: refused before any conversion.
        {Native::as_pair, {flt(2147483648.0), num(0)}, {}, raises(ErrorId::invalid_arg)},
        {Native::as_pair, {flt(-2147483648.9), num(0)}, {}, gives(pair(kMin, 0))},
        {Native::as_point2d, {num(1), flt(0.1)}, {}, gives(point2(1.0f, 0.1f))},
        {Native::as_point2d, {flt(1e300), flt(-1e300)}, {}, gives(point2(INFINITY, -INFINITY))},
        {Native::as_point3d, {num(1), num(2), flt(3.5)}, {}, gives(point3(1.0f, 2.0f, 3.5f))},
        {Native::as_pair, {text_value("1"), num(0)}, {}, raises(ErrorId::expect_arg)},
    });
}

}  // namespace
}  // namespace zub
