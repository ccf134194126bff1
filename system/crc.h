// The two running checksums that the gzip and zlib framings carry: CRC-32 (reflected polynomial
// EDB88320h, as in gzip, PNG and Ethernet) and Adler-32 (modulus 65521, as in zlib).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zub::crc {

// The CRC-32 of the bytes, continuing from `crc` (0 to start). Never allocates.
uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

// The Adler-32 of the bytes, continuing from `adler` (1 to start). Never allocates.
uint32_t adler32(const uint8_t* data, size_t length, uint32_t adler = 1);

}  // namespace zub::crc
