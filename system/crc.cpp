// CRC-32 eight bytes at a time (slicing by eight over tables built at compile time) and Adler-32
// with its modulus taken only as often as the sums could overflow.
#include "system/crc.h"

#include <array>
#include <cstring>

namespace zub::crc {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (size_t k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr Tables kTables = make_tables();

// The largest run of bytes whose sums stay below 2^32 before the modulus is taken.
constexpr size_t kAdlerRun = 5552;
constexpr uint32_t kAdlerBase = 65521;

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc) {
    uint32_t c = ~crc;
    while (length >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, data, 4);
        std::memcpy(&hi, data + 4, 4);
        lo ^= c;
        c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
            kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    while (length--) c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32(const uint8_t* data, size_t length, uint32_t adler) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length > 0) {
        const size_t run = length < kAdlerRun ? length : kAdlerRun;
        length -= run;
        for (size_t i = 0; i < run; ++i) {
            a += data[i];
            b += a;
        }
        data += run;
        a %= kAdlerBase;
        b %= kAdlerBase;
    }
    return b << 16 | a;
}

}  // namespace zub::crc
