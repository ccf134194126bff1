// The crush image reader and writer. Bits are packed least significant first; both sides keep a
// 64-bit buffer so that a whole token moves with one refill or flush.
#include "runtime/lz.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "runtime/lowrt.h"

namespace zub::lz {
namespace {

constexpr size_t kHeaderSize = 8;
constexpr uint32_t kBlockMax = 0x100000;
constexpr uint32_t kMatchMin = 3;
constexpr uint32_t kMatchMax = 566;
constexpr uint32_t kDistanceMax = 0x40000;
constexpr uint32_t kFarShortMatch = 0x10000;  // past it a 3-byte match saves 3 bits at most
constexpr size_t kMinInput = 128;

// The fewest bits per output byte come from a 566-byte match at a distance of 8 or less: flag,
// 14 bits of length, 7 of distance. So no image holds more than 566 bytes per 22 bits of block
// area; a larger claim is corrupt, and refusing it keeps the allocation within about 206 times
// the image instead of letting an 8-byte header ask for 4 GB.
constexpr uint64_t kBestBits = 22;
constexpr uint64_t kBestBytes = kMatchMax;

// Length codes: zeros before the first 1 (five zeros need no terminating 1), then value bits.
struct LengthClass {
    uint8_t prefix_bits;  // zeros plus the terminating 1, if any
    uint8_t value_bits;   // bits of v
    uint16_t base;        // n = base + v; length = 3 + n
};
constexpr LengthClass kLengthClasses[6] = {
    {1, 2, 0}, {2, 2, 4}, {3, 2, 8}, {4, 3, 12}, {5, 5, 20}, {5, 9, 52},
};

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

void store64(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

// Owns a low-level heap block until the end of the scope unless released.
class ScopedBlock {
  public:
    explicit ScopedBlock(size_t size) : block_(static_cast<uint8_t*>(lowrt::allocate(size))) {}
    ~ScopedBlock() { lowrt::free(block_); }
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;
    uint8_t* get() const { return block_; }
    uint8_t* release() { return std::exchange(block_, nullptr); }

  private:
    uint8_t* block_;
};

// ---------------------------------------------------------------------------------------------
// Reading

// Bits above `count` are either zero or the true next bits of the stream, so peeking never
// sees anything the stream does not hold; `count` alone says how much of it is real.
struct BitReader {
    const uint8_t* next;  // first byte not yet in the buffer
    const uint8_t* end;   // end of the block area: never read at or past it
    uint64_t bits = 0;    // pending bits, the next one in bit 0
    unsigned count = 0;   // pending bits that are real

    // Tops the buffer up to at least 56 bits while the area lasts.
    void refill() {
        if (end - next >= 8) {
            bits |= load64(next) << count;
            next += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count < 56 && next < end) {
                bits |= uint64_t(*next++) << count;
                count += 8;
            }
        }
    }

    uint32_t take(unsigned n) {  // caller has checked count >= n
        const uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }

    // The stream of a block ends on the byte holding its last bit; whole bytes still buffered
    // belong to whatever follows.
    const uint8_t* block_end() const { return next - count / 8; }
};

// Decodes one block of `length` bytes into out[0, length). False when the stream is short or a
// token leaves the block. The 8 bytes of slack past the whole output allow 8-byte copies.
bool decode_block(BitReader& in, uint8_t* out, uint32_t length) {
    uint32_t pos = 0;
    while (pos < length) {
        in.refill();
        if ((in.bits & 1) == 0) {
            if (in.count < 9) return false;
            out[pos++] = uint8_t(in.bits >> 1);
            in.take(9);
            continue;
        }
        // A match: the flag, the zeros that pick a length class (five at most), the class's
        // bits, then at least 4 + 3 bits of distance.
        const LengthClass& lc = kLengthClasses[std::countr_zero((in.bits >> 1) | 0x20)];
        if (in.count < 1u + lc.prefix_bits + lc.value_bits + 4) return false;
        in.take(1 + lc.prefix_bits);
        const uint32_t match_length = kMatchMin + lc.base + in.take(lc.value_bits);
        const unsigned k = in.take(4);
        uint32_t d;
        if (k == 0) {
            if (in.count < 3) return false;
            d = in.take(3);
        } else {
            const unsigned m = k + 2;
            if (in.count < m) return false;
            d = (uint32_t(1) << m) + in.take(m);
        }
        const uint32_t distance = d + 1;
        if (distance > pos || match_length > length - pos) return false;

        uint8_t* dst = out + pos;
        const uint8_t* src = dst - distance;
        if (distance >= 8) {
            // Each 8-byte source lies wholly before its destination, so the copy still repeats
            // like a byte-by-byte one; it may run up to 7 bytes past the match into the slack
            // or into bytes that later tokens overwrite.
            for (uint32_t i = 0; i < match_length; i += 8) store64(dst + i, load64(src + i));
        } else if (distance == 1) {
            std::memset(dst, src[0], match_length);  // runs are common in start-up data
        } else {
            for (uint32_t i = 0; i < match_length; ++i) dst[i] = src[i];
        }
        pos += match_length;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Writing

struct BitWriter {
    uint8_t* out;        // the whole image
    size_t capacity;     // bytes the image may take
    size_t used;         // bytes written
    uint64_t bits = 0;   // pending bits, the first in bit 0
    unsigned count = 0;  // pending bits, below 32 between calls

    // Room for n more bytes, or null when the image would exceed its capacity.
    uint8_t* reserve(size_t n) {
        if (n > capacity - used) return nullptr;
        uint8_t* p = out + used;
        used += n;
        return p;
    }

    [[nodiscard]] bool put(unsigned n, uint32_t v) {  // n <= 32
        bits |= uint64_t(v) << count;
        count += n;
        if (count < 32) return true;
        uint8_t* p = reserve(4);
        if (!p) return false;
        store32(p, uint32_t(bits));
        bits >>= 32;
        count -= 32;
        return true;
    }

    // Seven zero bits push the last partial byte out; what remains is padding and is dropped.
    [[nodiscard]] bool end_block() {
        count += 7;
        const unsigned n = count / 8;
        uint8_t* p = reserve(n);
        if (!p) return false;
        for (unsigned i = 0; i < n; ++i) p[i] = uint8_t(bits >> (8 * i));
        bits = 0;
        count = 0;
        return true;
    }
};

[[nodiscard]] bool put_match(BitWriter& w, uint32_t length, uint32_t distance) {
    const uint32_t n = length - kMatchMin;
    unsigned c = 0;
    while (c < 5 && n >= kLengthClasses[c + 1].base) ++c;
    const LengthClass& lc = kLengthClasses[c];
    // The prefix read LSB first is (prefix_bits - 1) zeros then a 1, except the last class.
    const uint32_t prefix = c == 5 ? 0 : uint32_t(1) << (lc.prefix_bits - 1);
    const uint32_t length_code = prefix | (n - lc.base) << lc.prefix_bits;
    if (!w.put(1 + lc.prefix_bits + lc.value_bits, 1 | length_code << 1)) return false;

    const uint32_t d = distance - 1;
    if (d < 8) return w.put(7, d << 4);
    const unsigned m = unsigned(std::bit_width(d)) - 1;
    return w.put(4 + m, (m - 2) | (d - (uint32_t(1) << m)) << 4);
}

// Match finder tables, reset per block. Positions are offsets in the block; -1 is empty.
constexpr uint32_t kHash3Mask = 0x7FFFF;
constexpr uint32_t kHash4Mask = 0xFFFFF;
constexpr uint32_t kLinkMask = 0x3FFFF;
constexpr int kChainWalk = 256;

struct MatchTables {
    int32_t head3[kHash3Mask + 1];  // latest position of each 3-byte hash
    int32_t head4[kHash4Mask + 1];  // latest position of each 4-byte hash
    int32_t link[kLinkMask + 1];    // previous position with the same 4-byte hash
};

uint32_t match_length(const uint8_t* block, uint32_t candidate, uint32_t pos, uint32_t limit) {
    uint32_t i = 0;
    while (i + 8 <= limit) {
        const uint64_t diff = load64(block + candidate + i) ^ load64(block + pos + i);
        if (diff) return i + unsigned(std::countr_zero(diff)) / 8;
        i += 8;
    }
    while (i < limit && block[candidate + i] == block[pos + i]) ++i;
    return i;
}

// How much longer a farther candidate must be: shifts by 3 of (distance / 16) until it is no
// larger than the best distance so far.
uint32_t distance_penalty(uint32_t distance, uint32_t best_distance) {
    uint32_t x = distance / 16;
    uint32_t penalty = 0;
    while (x > best_distance) {
        x >>= 3;
        ++penalty;
    }
    return penalty;
}

[[nodiscard]] bool compress_block(BitWriter& w, MatchTables& t, const uint8_t* block, uint32_t length) {
    uint8_t* length_word = w.reserve(4);
    if (!length_word) return false;
    store32(length_word, length);

    std::fill(std::begin(t.head3), std::end(t.head3), -1);
    std::fill(std::begin(t.head4), std::end(t.head4), -1);
    // Hashes look ahead of the position; bytes past the block read as zero.
    auto byte_at = [&](uint32_t i) -> uint32_t { return i < length ? block[i] : 0; };
    uint32_t h3 = 0, h4 = 0;
    for (uint32_t i = 0; i < 2; ++i) h3 = (h3 * 128 + byte_at(i)) & kHash3Mask;
    for (uint32_t i = 0; i < 3; ++i) h4 = (h4 * 32 + byte_at(i)) & kHash4Mask;

    uint32_t pos = 0;
    while (pos < length) {
        // Bring the hashes to the windows that start at pos.
        const uint32_t h3_here = (h3 * 128 + byte_at(pos + 2)) & kHash3Mask;
        const uint32_t h4_here = (h4 * 32 + byte_at(pos + 3)) & kHash4Mask;

        const uint32_t limit = std::min(kMatchMax, length - pos);
        uint32_t best_length = 0, best_distance = 0;
        if (limit >= kMatchMin) {
            const int32_t c3 = t.head3[h3_here];
            if (c3 >= 0 && pos - uint32_t(c3) <= kDistanceMax) {
                const uint32_t len = match_length(block, uint32_t(c3), pos, limit);
                if (len >= kMatchMin) {
                    best_length = len;
                    best_distance = pos - uint32_t(c3);
                }
            }
            int32_t c = t.head4[h4_here];
            for (int walked = 0; walked < kChainWalk && c >= 0 && best_length < limit;
                 ++walked, c = t.link[uint32_t(c) & kLinkMask]) {
                const uint32_t distance = pos - uint32_t(c);
                if (distance > kDistanceMax) break;  // the chain only gets older
                // The first match found is taken as it is; later ones must beat it by the penalty.
                const uint32_t need =
                    best_length == 0 ? kMatchMin : best_length + distance_penalty(distance, best_distance) + 1;
                // The byte at need - 1 must agree for the candidate to win: a cheap first test.
                if (need > limit) continue;
                if (block[uint32_t(c) + need - 1] != block[pos + need - 1]) continue;
                const uint32_t len = match_length(block, uint32_t(c), pos, limit);
                if (len >= need) {
                    best_length = len;
                    best_distance = distance;
                }
            }
        }
        if (best_length == kMatchMin && best_distance > kFarShortMatch) best_length = 0;

        uint32_t covered;
        if (best_length < kMatchMin) {
            if (!w.put(9, uint32_t(block[pos]) << 1)) return false;
            covered = 1;
        } else {
            if (!put_match(w, best_length, best_distance)) return false;
            covered = best_length;
        }
        for (const uint32_t stop = pos + covered; pos < stop; ++pos) {
            h3 = (h3 * 128 + byte_at(pos + 2)) & kHash3Mask;
            h4 = (h4 * 32 + byte_at(pos + 3)) & kHash4Mask;
            t.head3[h3] = int32_t(pos);
            t.link[pos & kLinkMask] = t.head4[h4];
            t.head4[h4] = int32_t(pos);
        }
    }
    return w.end_block();
}

}  // namespace

uint8_t* decompress(const uint8_t* image, size_t image_length, uint32_t* out_size) {
    if (!image || image_length < kHeaderSize) return nullptr;
    const uint32_t area = load32(image);
    const uint32_t total = load32(image + 4);
    if (area != image_length - kHeaderSize) return nullptr;
    if (uint64_t(total) * kBestBits > uint64_t(area) * 8 * kBestBytes) return nullptr;

    ScopedBlock output(size_t(total) + 8);
    const uint8_t* cursor = image + kHeaderSize;
    const uint8_t* const end = image + image_length;
    uint32_t produced = 0;
    while (cursor < end) {
        if (end - cursor < 4) return nullptr;
        const uint32_t length = load32(cursor);
        if (length < 1 || length > kBlockMax || length > total - produced) return nullptr;
        BitReader in{cursor + 4, end};
        if (!decode_block(in, output.get() + produced, length)) return nullptr;
        produced += length;
        cursor = in.block_end();
    }
    // No block may overshoot the declared size, so only falling short is left to refuse.
    if (produced != total) return nullptr;
    if (out_size) *out_size = produced;
    return output.release();
}

void free_buffer(uint8_t* buffer) { lowrt::free(buffer); }

int64_t compress(const uint8_t* source, size_t n, uint8_t* output, size_t output_capacity) {
    if (n < kMinInput || n > UINT32_MAX) return -1;
    // An image as large as the input is still written; a larger one is not worth keeping.
    const size_t capacity = std::min(n, output_capacity);
    if (capacity < kHeaderSize) return -1;

    ScopedBlock tables(sizeof(MatchTables));
    auto& t = *reinterpret_cast<MatchTables*>(tables.get());
    BitWriter w{output, capacity, kHeaderSize};
    for (size_t start = 0; start < n; start += kBlockMax) {
        const uint32_t length = uint32_t(std::min<size_t>(kBlockMax, n - start));
        if (!compress_block(w, t, source + start, length)) return -1;
    }
    store32(output, uint32_t(w.used - kHeaderSize));
    store32(output + 4, uint32_t(n));
    return int64_t(w.used);
}

}  // namespace zub::lz
