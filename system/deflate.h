// DEFLATE: the raw compressed format of gzip, zlib and PNG. The compressor and the inflater work
// on whole buffers in memory: each writes into a caller's buffer of a given capacity, never past
// it, and reports the size it needed when it did not fit, so the caller can grow and call again.
// The gzip and zlib framings around this are in system/gzip.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zub::deflate {

// What a compressor, inflater or framing reports. Every value but ok and too_small means the
// input was not a sound stream of its kind.
enum class Status : int {
    ok = 0,              // done; the size field holds the bytes produced
    too_small = 1,       // the output did not fit; the size field holds the size needed
    bad_frame = 2,       // gzip or zlib framing: magic, method, flags, header, length or checksum
    stored_overrun = 3,  // a stored block's length runs past the input
    bad_block_type = 4,  // block type 3
    bad_distance = 5,    // a match reaches before the start of the output
    truncated = 6,       // the input ends before the end of the final block
    bad_code = 7,        // code lengths that make no prefix code, a repeat past the table, a
                         // symbol the code does not define
};

// Compresses the input into one raw DEFLATE stream. `size` holds the output's capacity on entry
// and the bytes produced (or needed) on return. Allocates its work area (about 330 KB) off the
// series heap; raises internal no-memory when that fails. Never collects.
Status compress(uint8_t* out, size_t& size, const uint8_t* in, size_t length);

// Decompresses one raw DEFLATE stream that must end with its final block inside the input;
// bytes after it are ignored and their count goes to `*unused` when asked. `size` as for
// compress; a null output with capacity 0 measures the decompressed size. Allocates its decoding
// tables (about 80 KB) off the series heap; raises internal no-memory when that fails. Never
// collects.
Status inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length, size_t* unused = nullptr);

// The largest output a DEFLATE stream of `length` bytes can describe: a match of 258 bytes costs
// at least two bits. Lets a framing refuse a size that no stream of that length can produce.
inline uint64_t max_inflated(size_t length) { return uint64_t{length} * 1032 + 1032; }

// Code lengths of at most `limit` bits (7 to 15) for the counts of n symbols (at most 286),
// forming a complete prefix code, the only kind every inflater accepts. Unused symbols get 0;
// with fewer than two used symbols two codes of length 1 are made. The compressor's own; in the
// header for its tests. Never allocates.
void build_lengths(const uint32_t* freq, int n, int limit, uint8_t* lengths);

}  // namespace zub::deflate
