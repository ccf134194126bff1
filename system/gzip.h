// The gzip (one member) and zlib framings around raw DEFLATE, with the same calling shape and
// statuses as system/deflate.h: (output, size field, input, input length) -> status, the size
// field holding the capacity on entry and the size produced, or needed, on return. Framing faults
// are Status::bad_frame; the inflater's own statuses pass through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/deflate.h"

namespace zub::deflate {

// A gzip member: the 10-byte header 1F 8B 08 00 00000000 04 04, the DEFLATE stream, the CRC-32
// and the length of the input (both little endian). Input that already looks like gzip is
// compressed like any other, so decompressing always gives back what went in.
Status gzip(uint8_t* out, size_t& size, const uint8_t* in, size_t length);

// One gzip member, with its optional header fields. The stored length is the size needed; it is
// believed only when a DEFLATE stream of that many bytes could produce it. The stream must end
// right before the trailer, and the output must match the stored length and CRC-32.
Status gunzip(uint8_t* out, size_t& size, const uint8_t* in, size_t length);

// A zlib stream: 78 01, the DEFLATE stream, the Adler-32 of the input big endian.
Status zlib_deflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length);

// A zlib stream with any compression level and window size, and no preset dictionary; the
// DEFLATE stream must end right before the Adler-32, which must match the output.
Status zlib_inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length);

// The size a gzip member says it holds (its last four bytes), or -1 when the input is too short
// to be one or that size cannot come from its DEFLATE data. Never allocates.
int64_t gzip_stored_size(const uint8_t* in, size_t length);

}  // namespace zub::deflate
