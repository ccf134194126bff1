// The runtime's own LZ77 compressor ("crush") and its bit-level image format. The start-up data
// is stored this way and unpacked at start; compressed binary payloads use it too. The
// decompressor is the part that runs on every start, so it is one pass with no working memory.
//
// Image: two 32-bit little-endian words (bytes in the block area that follows, bytes of
// uncompressed data), then blocks back to back. A block is a 32-bit length (1 to 0x100000 bytes
// of output) and a bit stream of literals and matches that refer only to that block's output.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zub::lz {

// Unpacks `image` (exactly `image_length` bytes). Returns a new low-level heap buffer with room
// for the uncompressed size + 8 bytes, holding the data, and stores the number of bytes produced
// in *out_size when out_size is non-null. Returns null, with nothing left allocated, for any image
// that is truncated, inconsistent or out of range; never reads past the image nor writes past
// the buffer. Allocates from the low-level heap only (never moves series).
uint8_t* decompress(const uint8_t* image, size_t image_length, uint32_t* out_size);

// Releases a buffer that decompress returned; null is ignored.
void free_buffer(uint8_t* buffer);

// Writes the image of source[0, n) into output and returns its total size (block area + 8).
// Returns -1 when n is 127 or less, when n does not fit the 32-bit header, or when the image
// would be larger than n bytes or than output_capacity; output may then hold partial data.
// Uses about 7 MB of low-level heap as working memory, freed before returning.
int64_t compress(const uint8_t* source, size_t n, uint8_t* output, size_t output_capacity);

}  // namespace zub::lz
