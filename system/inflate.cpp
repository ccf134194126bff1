// The DEFLATE inflater. Codes are decoded through two-level lookup tables (ten bits, then the
// rest of a longer code); every code table is checked to be a prefix code and every repeat and
// distance to stay in range, so no input can make it write or read outside its buffers.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "runtime/error.h"
#include "system/deflate.h"
#include "system/deflate_tables.h"

namespace zub::deflate {
namespace {

using namespace tables;

// ---- Bit input ----------------------------------------------------------------------------------

// Bits come least significant first. Past the input's end the reader supplies zero bytes, and
// counts them, so that running off the end is seen as truncation.
struct BitReader {
    const uint8_t* in;
    size_t length;
    size_t at = 0;       // next input byte to load, counting supplied zero bytes
    uint64_t bits = 0;   // held bits, the next lowest
    uint32_t count = 0;  // how many are held

    // At least 57 bits held afterwards.
    void refill() {
        if (at + 8 <= length) {
            uint64_t word;
            std::memcpy(&word, in + at, 8);
            bits |= word << count;
            at += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (at < length) bits |= uint64_t{in[at]} << count;
            ++at;
            count += 8;
        }
    }
    uint32_t peek(uint32_t n) const { return static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1)); }
    void drop(uint32_t n) {
        bits >>= n;
        count -= n;
    }
    uint32_t take(uint32_t n) {
        const uint32_t v = peek(n);
        drop(n);
        return v;
    }
    // Whether more bits were used than the input holds.
    bool overrun() const { return (at - std::min(at, length)) * 8 > count; }
    // Whole input bytes not yet used.
    size_t unused() const {
        const size_t used_bits = at * 8 - count;
        return used_bits >= length * 8 ? 0 : length - (used_bits + 7) / 8;
    }
    void align() { drop(count % 8); }
};

// ---- Decoding tables ----------------------------------------------------------------------------

// An entry: kind in bits 24-25, the bits the code takes in bits 16-23, and the symbol (or, for a
// link, the offset of the second-level table) in bits 0-15; a link keeps that table's index width
// in bits 16-23.
constexpr uint32_t kPrimaryBits = 10;
constexpr uint32_t kInvalid = 0, kSymbol = 1u << 24, kLink = 2u << 24, kKindMask = 3u << 24;
// Primary table plus at most one second-level table of 32 entries per symbol.
constexpr uint32_t kTableSize = (1u << kPrimaryBits) + 288 * 32;

struct Table {
    uint32_t entries[kTableSize];
};

uint32_t reverse_bits(uint32_t code, uint32_t length) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < length; ++i, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// Builds the table of the code whose lengths are given. False when the lengths over-subscribe
// the code space. Codes that a complete set would hold but this one leaves out decode as invalid.
bool build_table(const uint8_t* lengths, uint32_t n, Table& t) {
    uint32_t count[kMaxBits + 1] = {};
    for (uint32_t s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    int32_t left = 1;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        left = (left << 1) - static_cast<int32_t>(count[bits]);
        if (left < 0) return false;
    }
    uint32_t next[kMaxBits + 2] = {};
    for (int bits = 1; bits <= kMaxBits; ++bits) next[bits + 1] = (next[bits] + count[bits]) << 1;
    uint32_t codes[288];
    uint32_t sub_bits[1u << kPrimaryBits] = {};
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lengths[s];
        if (!len) continue;
        codes[s] = reverse_bits(next[len]++, len);
        if (len > kPrimaryBits) {
            uint32_t& b = sub_bits[codes[s] & ((1u << kPrimaryBits) - 1)];
            b = std::max(b, len - kPrimaryBits);
        }
    }
    std::fill(t.entries, t.entries + (1u << kPrimaryBits), kInvalid);
    uint32_t used = 1u << kPrimaryBits;
    for (uint32_t prefix = 0; prefix < (1u << kPrimaryBits); ++prefix) {
        if (!sub_bits[prefix]) continue;
        t.entries[prefix] = kLink | sub_bits[prefix] << 16 | used;
        std::fill(t.entries + used, t.entries + used + (1u << sub_bits[prefix]), kInvalid);
        used += 1u << sub_bits[prefix];
    }
    for (uint32_t s = 0; s < n; ++s) {
        const uint32_t len = lengths[s];
        if (!len) continue;
        const uint32_t code = codes[s];
        if (len <= kPrimaryBits) {
            for (uint32_t i = code; i < (1u << kPrimaryBits); i += 1u << len) t.entries[i] = kSymbol | len << 16 | s;
        } else {
            const uint32_t link = t.entries[code & ((1u << kPrimaryBits) - 1)];
            const uint32_t base = link & 0xFFFF, width = (link >> 16) & 0xFF;
            const uint32_t extra = len - kPrimaryBits;
            for (uint32_t i = code >> kPrimaryBits; i < (1u << width); i += 1u << extra)
                t.entries[base + i] = kSymbol | extra << 16 | s;
        }
    }
    return true;
}

// The next symbol of the code, or -1 for a code the table does not define. Needs 15 bits held.
inline int32_t decode(BitReader& r, const Table& t) {
    uint32_t e = t.entries[r.peek(kPrimaryBits)];
    if ((e & kKindMask) == kLink) {
        const uint32_t width = (e >> 16) & 0xFF;
        const uint32_t sub = static_cast<uint32_t>(r.bits >> kPrimaryBits) & ((1u << width) - 1);
        e = t.entries[(e & 0xFFFF) + sub];
        if ((e & kKindMask) != kSymbol) return -1;
        r.drop(kPrimaryBits + ((e >> 16) & 0xFF));
        return static_cast<int32_t>(e & 0xFFFF);
    }
    if ((e & kKindMask) != kSymbol) return -1;
    r.drop((e >> 16) & 0xFF);
    return static_cast<int32_t>(e & 0xFFFF);
}

// ---- The inflater -------------------------------------------------------------------------------

struct Inflater {
    Table litlen, dist;  // the current block's codes
    BitReader r;
    uint8_t* out;         // null to measure
    size_t capacity;      // bytes that may be stored
    size_t produced = 0;  // bytes decoded, stored or not

    Status stored();
    Status dynamic_tables();
    Status codes();
};

Status Inflater::stored() {
    r.align();
    r.refill();
    const uint32_t len = r.take(16);
    r.take(16);  // NLEN: a wrong complement is tolerated, as other inflaters do not all check it
    if (r.overrun()) return Status::truncated;
    // The reader holds whole bytes now; the block's bytes start where they end.
    const size_t at = r.at - r.count / 8;
    if (at > r.length || r.length - at < len) return Status::stored_overrun;
    if (produced < capacity) std::memcpy(out + produced, r.in + at, std::min<size_t>(len, capacity - produced));
    produced += len;
    r.at = at + len;
    r.bits = 0;
    r.count = 0;
    return Status::ok;
}

Status Inflater::dynamic_tables() {
    r.refill();
    const uint32_t hlit = r.take(5) + 257, hdist = r.take(5) + 1, hclen = r.take(4) + 4;
    if (hlit > kLitLenSymbols || hdist > kDistSymbols) return Status::bad_code;
    uint8_t cl_lengths[kCodeLenSymbols] = {};
    for (uint32_t i = 0; i < hclen; ++i) {
        r.refill();
        cl_lengths[kCodeLenOrder[i]] = static_cast<uint8_t>(r.take(3));
    }
    if (!build_table(cl_lengths, kCodeLenSymbols, litlen)) return Status::bad_code;
    // Both tables' lengths form one sequence, and a repeat may run from one into the other; it
    // may not run past the end.
    uint8_t lengths[kLitLenSymbols + kDistSymbols] = {};
    const uint32_t total = hlit + hdist;
    for (uint32_t i = 0; i < total;) {
        r.refill();
        if (r.overrun()) return Status::truncated;
        const int32_t s = decode(r, litlen);
        if (s < 0) return Status::bad_code;
        if (s < 16) {
            lengths[i++] = static_cast<uint8_t>(s);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (s == 16) {
            if (i == 0) return Status::bad_code;
            value = lengths[i - 1];
            repeat = 3 + r.take(2);
        } else if (s == 17) {
            repeat = 3 + r.take(3);
        } else {
            repeat = 11 + r.take(7);
        }
        if (repeat > total - i) return Status::bad_code;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    // A block that cannot end is no block.
    if (!lengths[kEndOfBlock]) return Status::bad_code;
    if (!build_table(lengths, hlit, litlen) || !build_table(lengths + hlit, hdist, dist)) return Status::bad_code;
    return Status::ok;
}

Status Inflater::codes() {
    for (;;) {
        r.refill();
        if (r.overrun()) return Status::truncated;
        const int32_t s = decode(r, litlen);
        if (s < 0) return Status::bad_code;
        if (s < 256) {
            if (produced < capacity) out[produced] = static_cast<uint8_t>(s);
            ++produced;
            continue;
        }
        if (s == kEndOfBlock) return Status::ok;
        const uint32_t lc = static_cast<uint32_t>(s) - 257;
        if (lc >= 29) return Status::bad_code;
        const uint32_t len = kLengthBase[lc] + r.take(kLengthExtra[lc]);
        r.refill();
        const int32_t ds = decode(r, dist);
        if (ds < 0 || ds >= kDistSymbols) return Status::bad_code;
        const uint32_t distance = kDistBase[ds] + r.take(kDistExtra[ds]);
        if (distance > produced) return Status::bad_distance;
        if (produced + len + 8 <= capacity) {
            uint8_t* to = out + produced;
            const uint8_t* from = to - distance;
            if (distance >= 8) {
                // Eight bytes at a time: each chunk's source lies wholly before its destination.
                for (uint32_t i = 0; i < len; i += 8) std::memcpy(to + i, from + i, 8);
            } else {
                for (uint32_t i = 0; i < len; ++i) to[i] = from[i];
            }
        } else if (produced < capacity) {
            for (uint32_t i = 0; i < len; ++i)
                if (produced + i < capacity) out[produced + i] = out[produced + i - distance];
        }
        produced += len;
    }
}

}  // namespace

Status inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length, size_t* unused) {
    std::unique_ptr<Inflater> state(new (std::nothrow) Inflater);
    if (!state) error::fire(ErrorId::no_memory);
    Inflater& f = *state;
    f.r = BitReader{in, length};
    f.out = out;
    f.capacity = out ? size : 0;
    for (bool final = false; !final;) {
        f.r.refill();
        final = f.r.take(1);
        const uint32_t type = f.r.take(2);
        if (f.r.overrun()) return Status::truncated;
        Status status = Status::ok;
        switch (type) {
            case 0: status = f.stored(); break;
            case 1: {
                uint8_t lengths[288 + 30];
                for (int s = 0; s < 288; ++s) lengths[s] = fixed_litlen_length(s);
                std::memset(lengths + 288, 5, 30);
                build_table(lengths, 288, f.litlen);
                build_table(lengths + 288, 30, f.dist);
                status = f.codes();
                break;
            }
            case 2:
                status = f.dynamic_tables();
                if (status == Status::ok) status = f.codes();
                break;
            default: return Status::bad_block_type;
        }
        if (status != Status::ok) return status;
        if (f.r.overrun()) return Status::truncated;
    }
    if (unused) *unused = f.r.unused();
    const bool fits = f.produced <= f.capacity;
    size = f.produced;
    return fits ? Status::ok : Status::too_small;
}

}  // namespace zub::deflate
