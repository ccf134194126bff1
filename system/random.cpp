// MT19937 as the runtime has always run it: every right shift sign-extends, and the index starts
// at 0 after seeding, so the first 624 draws temper the seeded words themselves. The last
// tempering step clears the sign bit, which is why every draw is a 31-bit value.
#include "system/random.h"

#include "runtime/error.h"
#include "system/platform/entropy.h"

namespace zub::random {
namespace {

constexpr int kWords = 624;
constexpr int kFar = 397;
constexpr uint32_t kMatrix = 0x9908B0DF;
constexpr int32_t kMax = 0x7FFFFFFF;

uint32_t g_state[kWords];
int g_index = kWords;

// An arithmetic right shift on the bits of a word.
inline uint32_t sar(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

void regenerate() {
    for (int k = 0; k < kWords; ++k) {
        const uint32_t y = (g_state[k] & 0x80000000u) | (g_state[(k + 1) % kWords] & 0x7FFFFFFFu);
        uint32_t w = g_state[(k + kFar) % kWords] ^ sar(y, 1);
        if (y & 1) w ^= kMatrix;
        g_state[k] = w;
    }
    g_index = 0;
}

}  // namespace

void init() { seed(19650218); }

void seed(uint32_t value) {
    g_state[0] = value;
    for (uint32_t i = 1; i < kWords; ++i) g_state[i] = 1812433253u * (g_state[i - 1] ^ sar(g_state[i - 1], 30)) + i;
    g_index = 0;
}

int32_t next() {
    if (g_index >= kWords) regenerate();
    uint32_t y = g_state[g_index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);
    return static_cast<int32_t>(y);
}

int32_t secure_next() {
    unsigned char bytes[4];
    if (!platform::fill_random(bytes, sizeof bytes)) error::fire(ErrorId::feature_na);
    const uint32_t word = bytes[0] | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
    return static_cast<int32_t>(word & 0x7FFFFFFFu);
}

int32_t int_range(bool secure, int32_t n) {
    if (n == 0) return 0;
    // |n| does not fit: every negative value is a draw away.
    if (n == INT32_MIN) return -1 - draw(secure);
    const int32_t m = n < 0 ? -n : n;
    const int32_t limit = kMax / m * m;
    int32_t d;
    do d = draw(secure);
    while (d >= limit);
    const int32_t r = d % m + 1;
    return n < 0 ? -r : r;
}

double fraction(bool secure) {
    if (!secure) return next() / 2147483647.0;
    const int32_t a = secure_next();
    const int32_t b = secure_next();
    return (a + b / 2147483647.0) / 2147483648.0;
}

}  // namespace zub::random
