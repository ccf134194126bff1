// The comparison, logic and math natives called as the interpreter calls them, for the types that
// have no literal in the language yet (pair!, tuple!, point2D!, point3D!, money!) and without the
// argument check. The rest is in tests/lang/math.zub.
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
Cell pair(int32_t x, int32_t y) {
    return cell::make(TypeId::pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}
Cell point2(float x, float y) {
    return cell::make(TypeId::point2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
}
Cell point3(float x, float y, float z) {
    return cell::make(TypeId::point3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                      std::bit_cast<uint32_t>(z));
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

TEST_F(MathNatives, SameIsIdentityByType) {
    check_all({
        {Native::same_q, {tuple({1, 2, 3}), tuple({1, 2, 3})}, {}, gives(yes())},
        {Native::same_q, {tuple({1, 2, 3}), tuple({1, 2, 3, 0})}, {}, gives(no())},
        {Native::same_q,
         {money(0),
          [] {
              Cell m = money(0);
              m.header |= 0x4000;
              return m;
          }()},
         {},
         gives(yes())},
    });
}

TEST_F(MathNatives, SignAndZeroTests) {
    check_all({
        {Native::negative_q, {money(-1)}, {}, gives(yes())},
        {Native::positive_q, {money(0)}, {}, gives(no())},
        {Native::sign_q, {money(1)}, {}, gives(num(1))},
        {Native::zero_q, {pair(0, 0)}, {}, gives(yes())},
        {Native::zero_q, {pair(0, 1)}, {}, gives(no())},
        {Native::zero_q, {tuple({0, 0, 0})}, {}, gives(yes())},
        {Native::zero_q, {point2(-0.0f, 0.0f)}, {}, gives(yes())},
        {Native::zero_q, {point3(0.0f, 0.0f, 1e-30f)}, {}, gives(no())},
        {Native::zero_q, {money(0)}, {}, gives(yes())},
    });
    // Called without the check, a wrong type still gets the same expect-arg error.
    check_all({{Native::negative_q, {text_value("1")}, {}, raises(ErrorId::expect_arg)},
               {Native::zero_q, {text_value("")}, {}, gives(no())}},
              false);
}

TEST_F(MathNatives, MaxAndMin) {
    check_all({
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

TEST_F(MathNatives, CoordinateConstructors) {
    check_all({
        {Native::as_pair, {flt(1.9), flt(-1.9)}, {}, gives(pair(1, -1))},
        {Native::as_pair, {num(kMin), num(kMax)}, {}, gives(pair(kMin, kMax))},
        {Native::as_pair, {flt(-2147483648.9), num(0)}, {}, gives(pair(kMin, 0))},
        {Native::as_point2d, {num(1), flt(0.1)}, {}, gives(point2(1.0f, 0.1f))},
        {Native::as_point2d, {flt(1e300), flt(-1e300)}, {}, gives(point2(INFINITY, -INFINITY))},
        {Native::as_point3d, {num(1), num(2), flt(3.5)}, {}, gives(point3(1.0f, 2.0f, 3.5f))},
    });
}

}  // namespace
}  // namespace zub
