// The random generator (known answers of the sign-extending Mersenne Twister, seeding, ranges and
// their uniformity) and the secure source. The random action of the scalar types is in
// tests/lang/random.zub.
#include "system/random.h"

#include <cmath>
#include <limits>

#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

class Random : public NumberTest {
  protected:
    static Cell draw(Cell value, bool seed = false, bool secure = false) {
        return row(value).random(value, seed, secure, false);
    }
};

// Draws 1, 2, 3, 624 (the last seeded word), 625 (the first after regenerating) and 1300,
// computed independently from the algorithm's description.
TEST_F(Random, KnownAnswersAfterSeeding) {
    struct Case {
        uint32_t seed;
        int32_t first[3], d624, d625, d1300;
    };
    const Case cases[] = {
        {19650218, {1573102752, 2054623780, 1026451266}, 779737127, 299300835, 1903424960},
        {42, {168040107, 2058374225, 1181955946}, 1712155520, 144502293, 1304720874},
        {0xFFFFFFFF, {0, 4194449, 1288460453}, 382253902, 1108309629, 159155176},
    };
    for (const Case& c : cases) {
        random::seed(c.seed);
        int32_t d[1300];
        for (int32_t& x : d) x = random::next();
        EXPECT_EQ(d[0], c.first[0]) << c.seed;
        EXPECT_EQ(d[1], c.first[1]) << c.seed;
        EXPECT_EQ(d[2], c.first[2]) << c.seed;
        EXPECT_EQ(d[623], c.d624) << c.seed;
        EXPECT_EQ(d[624], c.d625) << c.seed;
        EXPECT_EQ(d[1299], c.d1300) << c.seed;
        for (const int32_t x : d) ASSERT_GE(x, 0) << c.seed;
    }
    // Start-up seeds with 19650218.
    random::init();
    EXPECT_EQ(random::next(), 1573102752);
}

TEST_F(Random, IntegerRangesAreUniformAndBounded) {
    random::seed(1);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(random::int_range(false, 1), 1);
        EXPECT_EQ(random::int_range(false, 0), 0);
        const int32_t neg = random::int_range(false, -6);
        ASSERT_TRUE(neg <= -1 && neg >= -6) << neg;
        ASSERT_LT(random::int_range(false, kMin), 0);
        const int32_t big = random::int_range(false, 0x7FFFFFFF);
        ASSERT_GE(big, 1);
    }
    // Counts of 1..3 over many draws stay within a few percent of a third each.
    int counts[4] = {};
    for (int i = 0; i < 30000; ++i) ++counts[random::int_range(false, 3)];
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(counts[k], 10000, 500) << k;
    // A range just above 2^30 rejects about half the draws; the upper half must still appear.
    int upper = 0;
    for (int i = 0; i < 2000; ++i) {
        const int32_t r = random::int_range(false, 0x40000001);
        ASSERT_TRUE(r >= 1 && r <= 0x40000001) << r;
        upper += r > 0x20000000;
    }
    EXPECT_NEAR(upper, 1000, 150);
}

TEST_F(Random, SecureSourceGivesThirtyOneBits) {
    bool differ = false;
    const int32_t first = random::secure_next();
    for (int i = 0; i < 64; ++i) {
        const int32_t x = random::secure_next();
        ASSERT_GE(x, 0);
        differ |= x != first;
        const int32_t r = random::int_range(true, 10);
        ASSERT_TRUE(r >= 1 && r <= 10);
        const double f = random::fraction(true);
        ASSERT_TRUE(f >= 0.0 && f <= 1.0) << f;
    }
    EXPECT_TRUE(differ);
}

}  // namespace
}  // namespace zub
