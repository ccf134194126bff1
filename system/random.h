// The random sources behind the `random` action: a Mersenne Twister that random/seed reseeds,
// so a seeded sequence repeats exactly, and the kernel's cryptographic source for random/secure.
// Every draw is a 31-bit value, 0 to 2147483647; the datatypes build their ranges on these.
#pragma once

#include <cstdint>

namespace zub::random {

// Seeds the generator with 19650218. Once at start (and again by tests for a known sequence).
void init();
// Reseeds the generator: the same seed always gives the same draws. Never allocates.
void seed(uint32_t value);

// The generator's next value, 0 to 2147483647. Never allocates.
int32_t next();
// 31 bits from the kernel's cryptographic source. Raises internal feature-na when the system
// cannot give them.
int32_t secure_next();
inline int32_t draw(bool secure) { return secure ? secure_next() : next(); }

// A uniform integer: 1 to n for n > 0, -1 to n for n < 0, 0 for n = 0. Draws beyond the largest
// multiple of |n| are drawn again, so every value is equally likely.
int32_t int_range(bool secure, int32_t n);

// A fraction for scaling a float: 0.0 to 1.0 from the generator (a draw over 2147483647), 0.0 to
// below 1.0 from the secure source (two draws, 62 bits).
double fraction(bool secure);

}  // namespace zub::random
