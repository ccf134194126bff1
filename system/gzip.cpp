// gzip and zlib framing. The writers leave room for the trailer when they hand the rest of the
// buffer to the compressor, so a stream that fits always fits with its trailer.
#include "system/gzip.h"

#include <initializer_list>

#include "system/checksum.h"

namespace zub::deflate {
namespace {

constexpr size_t kGzipHeader = 10, kGzipTrailer = 8;
constexpr size_t kZlibHeader = 2, kZlibTrailer = 4;

enum GzipFlags : uint8_t { kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16, kReserved = 0xE0 };

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Compresses between a header and a trailer of the given sizes; the caller fills both once this
// says ok.
Status framed(uint8_t* out, size_t& size, const uint8_t* in, size_t length, size_t header, size_t trailer) {
    const size_t capacity = out ? size : 0;
    const bool room = capacity >= header + trailer;
    size_t body = room ? capacity - header - trailer : 0;
    const Status status = compress(room ? out + header : nullptr, body, in, length);
    size = body + header + trailer;
    return status;
}

// Where the DEFLATE data of a gzip member starts, or 0 when the header is not sound.
size_t gzip_body(const uint8_t* in, size_t length) {
    if (length < kGzipHeader + kGzipTrailer || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8) return 0;
    const uint8_t flags = in[3];
    if (flags & kReserved) return 0;
    const size_t end = length - kGzipTrailer;
    size_t at = kGzipHeader;
    if (flags & kExtra) {
        if (end - at < 2) return 0;
        const size_t extra = size_t{in[at]} | size_t{in[at + 1]} << 8;
        at += 2;
        if (end - at < extra) return 0;
        at += extra;
    }
    for (const uint8_t field : {kName, kComment}) {
        if (!(flags & field)) continue;
        while (at < end && in[at]) ++at;
        if (at == end) return 0;
        ++at;
    }
    if (flags & kHeaderCrc) {
        if (end - at < 2) return 0;
        const uint32_t crc = checksum::crc32(in, at) & 0xFFFF;
        if (crc != (uint32_t{in[at]} | uint32_t{in[at + 1]} << 8)) return 0;
        at += 2;
    }
    return at;
}

// Inflates the body, which must be one DEFLATE stream filling it exactly.
Status inflate_exactly(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    size_t unused = 0;
    const Status status = inflate(out, size, in, length, &unused);
    if (status == Status::ok && unused != 0) return Status::bad_frame;
    return status;
}

}  // namespace

Status gzip(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    const Status status = framed(out, size, in, length, kGzipHeader, kGzipTrailer);
    if (status != Status::ok) return status;
    static constexpr uint8_t kHeader[kGzipHeader] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
    for (size_t i = 0; i < kGzipHeader; ++i) out[i] = kHeader[i];
    put_le32(out + size - 8, checksum::crc32(in, length));
    put_le32(out + size - 4, static_cast<uint32_t>(length));
    return Status::ok;
}

int64_t gzip_stored_size(const uint8_t* in, size_t length) {
    const size_t body = gzip_body(in, length);
    if (!body) return -1;
    const uint32_t stored = le32(in + length - 4);
    return stored > max_inflated(length - body - kGzipTrailer) ? -1 : int64_t{stored};
}

Status gunzip(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    const int64_t stored = gzip_stored_size(in, length);
    if (stored < 0) return Status::bad_frame;
    const size_t expected = static_cast<size_t>(stored);
    if (!out || size < expected) {
        size = expected;
        return Status::too_small;
    }
    const size_t body = gzip_body(in, length);
    size_t produced = size;
    const Status status = inflate_exactly(out, produced, in + body, length - body - kGzipTrailer);
    // The stored length disagrees with the data when the output ran past it or fell short.
    if (status == Status::too_small) return Status::bad_frame;
    if (status != Status::ok) return status;
    if (produced != expected || checksum::crc32(out, produced) != le32(in + length - 8)) return Status::bad_frame;
    size = produced;
    return Status::ok;
}

Status zlib_deflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    const Status status = framed(out, size, in, length, kZlibHeader, kZlibTrailer);
    if (status != Status::ok) return status;
    out[0] = 0x78;
    out[1] = 0x01;
    put_be32(out + size - 4, checksum::adler32(in, length));
    return Status::ok;
}

Status zlib_inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    if (length < kZlibHeader + kZlibTrailer) return Status::bad_frame;
    const uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return Status::bad_frame;
    const Status status = inflate_exactly(out, size, in + kZlibHeader, length - kZlibHeader - kZlibTrailer);
    if (status != Status::ok) return status;
    if (checksum::adler32(out, size) != be32(in + length - 4)) return Status::bad_frame;
    return Status::ok;
}

}  // namespace zub::deflate
