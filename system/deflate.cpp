// The DEFLATE compressor: hash chains over three-byte prefixes with lazy matching, tokens
// gathered 16,384 at a time, and each block written in the cheapest of the stored, fixed and
// dynamic encodings, with length-limited Huffman codes built for its own symbol counts.
#include "system/deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "runtime/error.h"
#include "system/deflate_tables.h"

namespace zub::deflate {
namespace {

using namespace tables;

constexpr uint32_t kWindow = 32768;
constexpr uint32_t kWindowMask = kWindow - 1;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kTokensPerBlock = 16384;
constexpr uint32_t kMaxChain = 128;
constexpr uint32_t kGoodLength = 8;    // past this, the chain is walked a quarter as far
constexpr uint32_t kNiceLength = 128;  // a match this long ends the search
constexpr uint32_t kMaxLazy = 16;      // a pending match this long is taken without looking further
constexpr uint32_t kTooFar = 4096;     // a 3-byte match further back costs more than its literals
constexpr uint32_t kStoredPiece = 65535;

// ---- Bit output ---------------------------------------------------------------------------------

// Bits leave least significant first. A byte is stored only below the end, but the cursor always
// advances, so at the end it tells the size the stream needed.
struct BitWriter {
    uint8_t* out;        // may be null with capacity 0, to measure
    size_t capacity;     // bytes that may be stored
    size_t cursor = 0;   // bytes written or that would have been
    uint64_t bits = 0;   // held bits, the oldest lowest
    uint32_t count = 0;  // how many are held

    void emit(uint32_t word, uint32_t bytes) {
        if (cursor + bytes <= capacity) {
            for (uint32_t i = 0; i < bytes; ++i) out[cursor + i] = static_cast<uint8_t>(word >> (8 * i));
        } else {
            for (uint32_t i = 0; i < bytes; ++i)
                if (cursor + i < capacity) out[cursor + i] = static_cast<uint8_t>(word >> (8 * i));
        }
        cursor += bytes;
    }
    // Up to 32 bits at once.
    void put(uint32_t value, uint32_t n) {
        bits |= uint64_t{value} << count;
        count += n;
        if (count >= 32) {
            emit(static_cast<uint32_t>(bits), 4);
            bits >>= 32;
            count -= 32;
        }
    }
    // Pads with zero bits to a byte boundary and writes out what is held.
    void align() {
        const uint32_t bytes = (count + 7) / 8;
        emit(static_cast<uint32_t>(bits), bytes);
        bits = 0;
        count = 0;
    }
    void put_bytes(const uint8_t* data, size_t n) {
        if (cursor < capacity) std::memcpy(out + cursor, data, std::min(n, capacity - cursor));
        cursor += n;
    }
    // Bits written so far, counting those still held.
    uint64_t position() const { return uint64_t{cursor} * 8 + count; }
};

// ---- Huffman code lengths -----------------------------------------------------------------------

// Minimum-redundancy code lengths in place (Moffat and Katajainen): `a` holds n >= 2 weights in
// ascending order and is left holding each one's code length.
void minimum_redundancy(uint32_t* a, int n) {
    a[0] += a[1];
    int root = 0, leaf = 2;
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int available = 1, used = 0, depth = 0;
    root = n - 2;
    int next = n - 1;
    while (available > 0) {
        while (root >= 0 && static_cast<int>(a[root]) == depth) {
            ++used;
            --root;
        }
        while (available > used) {
            a[next--] = depth;
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

}  // namespace

void build_lengths(const uint32_t* freq, int n, int limit, uint8_t* lengths) {
    struct Leaf {
        uint32_t freq;
        uint16_t symbol;
    };
    Leaf leaves[kLitLenSymbols];
    uint32_t weights[kLitLenSymbols];
    int used = 0;
    std::memset(lengths, 0, n);
    for (int s = 0; s < n; ++s)
        if (freq[s]) leaves[used++] = {freq[s], static_cast<uint16_t>(s)};
    if (used < 2) {
        lengths[0] = 1;
        lengths[used == 1 && leaves[0].symbol >= 1 ? leaves[0].symbol : 1] = 1;
        return;
    }
    std::stable_sort(leaves, leaves + used, [](const Leaf& x, const Leaf& y) { return x.freq < y.freq; });
    for (int i = 0; i < used; ++i) weights[i] = leaves[i].freq;
    minimum_redundancy(weights, used);
    // Longest codes come first. Clamp them, then lengthen the deepest codes still short of the
    // limit until the Kraft sum fits, and shorten the most frequent ones while room is left.
    const uint32_t full = 1u << limit;
    uint32_t kraft = 0;
    for (int i = 0; i < used; ++i) {
        weights[i] = std::min<uint32_t>(weights[i], limit);
        kraft += full >> weights[i];
    }
    while (kraft > full) {
        int i = 0;
        while (weights[i] >= static_cast<uint32_t>(limit)) ++i;
        kraft -= full >> (weights[i] + 1);
        ++weights[i];
    }
    for (int i = used - 1; i >= 0 && kraft < full;) {
        if (weights[i] > 1 && kraft + (full >> weights[i]) <= full) {
            kraft += full >> weights[i];
            --weights[i];
        } else {
            --i;
        }
    }
    for (int i = 0; i < used; ++i) lengths[leaves[i].symbol] = static_cast<uint8_t>(weights[i]);
}

namespace {

uint16_t reverse_bits(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i, code >>= 1) r = r << 1 | (code & 1);
    return static_cast<uint16_t>(r);
}

// Canonical codes for the lengths, bit-reversed so that they go out least significant bit first.
void assign_codes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint16_t count[kMaxBits + 1] = {};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint16_t next[kMaxBits + 1] = {};
    uint32_t code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = static_cast<uint16_t>(code);
    }
    for (int s = 0; s < n; ++s) {
        const int len = lengths[s];
        if (!len) continue;
        const uint32_t c = next[len]++;
        codes[s] = reverse_bits(c, len);
    }
}

// ---- Symbols of lengths and distances -----------------------------------------------------------

struct SymbolTables {
    uint8_t length_code[256];  // match length - 3 -> length symbol - 257
    uint8_t dist_code[512];    // distance - 1 below 256, then 256 + ((distance - 1) >> 7)
};

constexpr SymbolTables make_symbol_tables() {
    SymbolTables t{};
    for (int code = 0; code < 29; ++code) {
        const int span = code == 28 ? 1 : 1 << kLengthExtra[code];
        for (int i = 0; i < span; ++i) t.length_code[kLengthBase[code] - 3 + i] = static_cast<uint8_t>(code);
    }
    t.length_code[255] = 28;  // 258 has a symbol of its own
    for (int code = 0; code < 30; ++code)
        for (int d = kDistBase[code]; d < kDistBase[code] + (1 << kDistExtra[code]); ++d) {
            if (d <= 256) t.dist_code[d - 1] = static_cast<uint8_t>(code);
            else if (((d - 1) & 127) == 0) t.dist_code[256 + ((d - 1) >> 7)] = static_cast<uint8_t>(code);
        }
    return t;
}

constexpr SymbolTables kSymbols = make_symbol_tables();

inline uint32_t dist_symbol(uint32_t distance) {
    const uint32_t d = distance - 1;
    return d < 256 ? kSymbols.dist_code[d] : kSymbols.dist_code[256 + (d >> 7)];
}

// ---- The compressor -----------------------------------------------------------------------------

// A token is a literal byte (0-255) or a match: distance << 8 | (length - 3).
struct Compressor {
    uint32_t head[kWindow];   // hash -> latest position + 1, 0 for none
    uint32_t chain[kWindow];  // (position + 1) & mask -> the earlier position + 1 of the same hash
    uint32_t tokens[kTokensPerBlock];
    uint32_t litlen_freq[kLitLenSymbols + 2];  // counts of this block's symbols
    uint32_t dist_freq[kDistSymbols + 2];
    uint32_t token_count;  // tokens of this block so far
    uint32_t hash_mask;    // smaller for short inputs, so the head table is cleared cheaply
    const uint8_t* in;     // the whole input
    size_t length;

    uint32_t hash(size_t p) const { return (uint32_t{in[p]} << 10 ^ uint32_t{in[p + 1]} << 5 ^ in[p + 2]) & hash_mask; }

    // Puts position p at the head of its chain; the previous head (position + 1, or 0).
    uint32_t insert(size_t p) {
        const uint32_t h = hash(p);
        const uint32_t previous = head[h];
        chain[(p + 1) & kWindowMask] = previous;
        head[h] = static_cast<uint32_t>(p + 1);
        return previous;
    }

    // The length of the common prefix of the bytes at a and b, at most `limit`.
    uint32_t common(const uint8_t* a, const uint8_t* b, uint32_t limit) const {
        uint32_t n = 0;
        while (n + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<uint32_t>(std::countr_zero(x ^ y) / 8);
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

    // The longest match for position p along the chain from `candidate`, longer than `best`;
    // `best` back when none is longer.
    uint32_t longest_match(size_t p, uint32_t candidate, uint32_t best, size_t& match_at) const {
        const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, length - p));
        if (best >= limit) return best;
        uint32_t steps = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
        const uint8_t* here = in + p;
        while (candidate != 0 && steps-- > 0) {
            const size_t at = candidate - 1;
            if (p - at >= kWindow) break;
            const uint8_t* there = in + at;
            if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
                const uint32_t n = common(here, there, limit);
                if (n > best) {
                    best = n;
                    match_at = at;
                    if (n >= kNiceLength || n >= limit) break;
                }
            }
            const uint32_t next = chain[candidate & kWindowMask];
            if (next >= candidate) break;  // a slot reused by a newer position
            candidate = next;
        }
        return best;
    }

    void literal(uint8_t byte) {
        tokens[token_count++] = byte;
        ++litlen_freq[byte];
    }
    void match(uint32_t distance, uint32_t len) {
        tokens[token_count++] = distance << 8 | (len - kMinMatch);
        ++litlen_freq[257 + kSymbols.length_code[len - kMinMatch]];
        ++dist_freq[dist_symbol(distance)];
    }

    void write_block(BitWriter& w, bool final, size_t start, size_t end);
    void write_tokens(BitWriter& w, const uint16_t* ll_codes, const uint8_t* ll_lengths, const uint16_t* d_codes,
                      const uint8_t* d_lengths) const;
};

// The run-length coded code lengths: symbols 0-18 with their extra bits in the high byte.
uint32_t run_length_code(const uint8_t* lengths, int n, uint16_t* out) {
    uint32_t count = 0;
    int previous = -1;
    for (int i = 0; i < n;) {
        const int value = lengths[i];
        int run = 1;
        while (i + run < n && lengths[i + run] == value) ++run;
        i += run;
        if (value == 0) {
            while (run >= 11) {
                const int k = std::min(run, 138);
                out[count++] = static_cast<uint16_t>(18 | (k - 11) << 8);
                run -= k;
            }
            if (run >= 3) {
                out[count++] = static_cast<uint16_t>(17 | (run - 3) << 8);
                run = 0;
            }
        } else {
            if (value != previous) {
                out[count++] = static_cast<uint16_t>(value);
                --run;
            }
            while (run >= 3) {
                const int k = std::min(run, 6);
                out[count++] = static_cast<uint16_t>(16 | (k - 3) << 8);
                run -= k;
            }
        }
        while (run-- > 0) out[count++] = static_cast<uint16_t>(value);
        previous = value;
    }
    return count;
}

constexpr uint8_t kRepeatExtra[3] = {2, 3, 7};

void Compressor::write_tokens(BitWriter& w, const uint16_t* ll_codes, const uint8_t* ll_lengths,
                              const uint16_t* d_codes, const uint8_t* d_lengths) const {
    for (uint32_t i = 0; i < token_count; ++i) {
        const uint32_t t = tokens[i];
        if (t < 256) {
            w.put(ll_codes[t], ll_lengths[t]);
            continue;
        }
        const uint32_t len = t & 0xFF, distance = t >> 8;
        const uint32_t lc = kSymbols.length_code[len];
        w.put(ll_codes[257 + lc] | (len + kMinMatch - kLengthBase[lc]) << ll_lengths[257 + lc],
              ll_lengths[257 + lc] + kLengthExtra[lc]);
        const uint32_t dc = dist_symbol(distance);
        w.put(d_codes[dc] | (distance - kDistBase[dc]) << d_lengths[dc], d_lengths[dc] + kDistExtra[dc]);
    }
    w.put(ll_codes[kEndOfBlock], ll_lengths[kEndOfBlock]);
}

// Writes the tokens gathered for input[start, end) as one block in its cheapest encoding, then
// clears the counts for the next.
void Compressor::write_block(BitWriter& w, bool final, size_t start, size_t end) {
    ++litlen_freq[kEndOfBlock];
    uint8_t ll_lengths[kLitLenSymbols + 2] = {}, d_lengths[kDistSymbols + 2] = {};
    build_lengths(litlen_freq, kLitLenSymbols, kMaxBits, ll_lengths);
    build_lengths(dist_freq, kDistSymbols, kMaxBits, d_lengths);
    int hlit = kLitLenSymbols, hdist = kDistSymbols;
    while (hlit > 257 && !ll_lengths[hlit - 1]) --hlit;
    while (hdist > 1 && !d_lengths[hdist - 1]) --hdist;

    uint8_t all[kLitLenSymbols + kDistSymbols];
    std::memcpy(all, ll_lengths, hlit);
    std::memcpy(all + hlit, d_lengths, hdist);
    uint16_t rle[kLitLenSymbols + kDistSymbols];
    const uint32_t rle_count = run_length_code(all, hlit + hdist, rle);
    uint32_t cl_freq[kCodeLenSymbols] = {};
    for (uint32_t i = 0; i < rle_count; ++i) ++cl_freq[rle[i] & 0xFF];
    uint8_t cl_lengths[kCodeLenSymbols];
    build_lengths(cl_freq, kCodeLenSymbols, 7, cl_lengths);
    int hclen = kCodeLenSymbols;
    while (hclen > 4 && !cl_lengths[kCodeLenOrder[hclen - 1]]) --hclen;

    // Costs in bits of the three encodings.
    uint64_t data_dynamic = 0, data_fixed = 0;
    for (int s = 0; s < kLitLenSymbols; ++s) {
        if (!litlen_freq[s]) continue;
        const uint32_t extra = s > 256 ? kLengthExtra[s - 257] : 0;
        data_dynamic += uint64_t{litlen_freq[s]} * (ll_lengths[s] + extra);
        data_fixed += uint64_t{litlen_freq[s]} * (fixed_litlen_length(s) + extra);
    }
    for (int s = 0; s < kDistSymbols; ++s) {
        data_dynamic += uint64_t{dist_freq[s]} * (d_lengths[s] + kDistExtra[s]);
        data_fixed += uint64_t{dist_freq[s]} * (5 + kDistExtra[s]);
    }
    uint64_t dynamic_cost = 3 + 14 + 3 * uint64_t(hclen) + data_dynamic;
    for (int s = 0; s < kCodeLenSymbols; ++s)
        dynamic_cost += uint64_t{cl_freq[s]} * (cl_lengths[s] + (s >= 16 ? kRepeatExtra[s - 16] : 0));
    const uint64_t fixed_cost = 3 + data_fixed;
    const size_t bytes = end - start;
    const uint64_t pieces = bytes == 0 ? 1 : (bytes + kStoredPiece - 1) / kStoredPiece;
    const uint64_t first_header = 3 + (8 - (w.position() + 3) % 8) % 8 + 32;
    const uint64_t stored_cost = first_header + 40 * (pieces - 1) + 8 * uint64_t{bytes};

    if (stored_cost <= dynamic_cost && stored_cost <= fixed_cost) {
        size_t at = start;
        for (uint64_t piece = 0; piece < pieces; ++piece) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kStoredPiece, end - at));
            w.put(final && piece + 1 == pieces ? 1 : 0, 3);
            w.align();
            w.put(n | (~n & 0xFFFF) << 16, 32);
            w.align();
            w.put_bytes(in + at, n);
            at += n;
        }
    } else if (dynamic_cost < fixed_cost) {
        uint16_t ll_codes[kLitLenSymbols + 2] = {}, d_codes[kDistSymbols + 2] = {}, cl_codes[kCodeLenSymbols] = {};
        assign_codes(ll_lengths, kLitLenSymbols, ll_codes);
        assign_codes(d_lengths, kDistSymbols, d_codes);
        assign_codes(cl_lengths, kCodeLenSymbols, cl_codes);
        w.put((final ? 1 : 0) | 2 << 1, 3);
        w.put((hlit - 257) | (hdist - 1) << 5 | (hclen - 4) << 10, 14);
        for (int i = 0; i < hclen; ++i) w.put(cl_lengths[kCodeLenOrder[i]], 3);
        for (uint32_t i = 0; i < rle_count; ++i) {
            const uint32_t s = rle[i] & 0xFF;
            w.put(cl_codes[s], cl_lengths[s]);
            if (s >= 16) w.put(rle[i] >> 8, kRepeatExtra[s - 16]);
        }
        write_tokens(w, ll_codes, ll_lengths, d_codes, d_lengths);
    } else {
        static const struct Fixed {
            uint8_t ll_lengths[288], d_lengths[30];
            uint16_t ll_codes[288], d_codes[30];
            Fixed() {
                for (int s = 0; s < 288; ++s) ll_lengths[s] = fixed_litlen_length(s);
                std::memset(d_lengths, 5, sizeof d_lengths);
                assign_codes(ll_lengths, 288, ll_codes);
                assign_codes(d_lengths, 30, d_codes);
            }
        } fixed;
        w.put((final ? 1 : 0) | 1 << 1, 3);
        write_tokens(w, fixed.ll_codes, fixed.ll_lengths, fixed.d_codes, fixed.d_lengths);
    }
    token_count = 0;
    std::memset(litlen_freq, 0, sizeof litlen_freq);
    std::memset(dist_freq, 0, sizeof dist_freq);
}

}  // namespace

Status compress(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    std::unique_ptr<Compressor> c(new (std::nothrow) Compressor);
    if (!c) error::fire(ErrorId::no_memory);
    std::memset(c->litlen_freq, 0, sizeof c->litlen_freq);
    std::memset(c->dist_freq, 0, sizeof c->dist_freq);
    c->token_count = 0;
    c->in = in;
    c->length = length;
    int hash_bits = 8;
    while (hash_bits < 15 && (size_t{1} << hash_bits) < length) ++hash_bits;
    c->hash_mask = (1u << hash_bits) - 1;
    std::memset(c->head, 0, (size_t{c->hash_mask} + 1) * sizeof c->head[0]);

    BitWriter w{out, size};
    size_t block_start = 0, emitted = 0;
    size_t p = 0, match_at = 0, previous_at = 0;
    uint32_t match_length = kMinMatch - 1;
    bool pending = false;  // the byte before p waits as a literal or as the start of a match
    while (p < length) {
        const uint32_t candidate = p + kMinMatch <= length ? c->insert(p) : 0;
        const uint32_t previous_length = match_length;
        previous_at = match_at;
        match_length = kMinMatch - 1;
        if (candidate != 0 && previous_length < kMaxLazy && p - (candidate - 1) < kWindow) {
            const uint32_t best = std::max(previous_length, kMinMatch - 1);
            match_length = c->longest_match(p, candidate, best, match_at);
            if (match_length == best) match_length = kMinMatch - 1;
            if (match_length == kMinMatch && p - match_at > kTooFar) match_length = kMinMatch - 1;
        }
        if (previous_length >= kMinMatch && match_length <= previous_length) {
            c->match(static_cast<uint32_t>(p - 1 - previous_at), previous_length);
            const size_t stop = p - 1 + previous_length;
            for (size_t q = p + 1; q < stop; ++q)
                if (q + kMinMatch <= length) c->insert(q);
            p = stop;
            emitted = stop;
            pending = false;
            match_length = kMinMatch - 1;
        } else if (pending) {
            c->literal(in[p - 1]);
            emitted = p;
            ++p;
        } else {
            pending = true;
            ++p;
        }
        if (c->token_count == kTokensPerBlock) {
            c->write_block(w, false, block_start, emitted);
            block_start = emitted;
        }
    }
    if (pending) c->literal(in[length - 1]);
    c->write_block(w, true, block_start, length);
    w.align();
    const bool fits = w.cursor <= size;
    size = w.cursor;
    return fits ? Status::ok : Status::too_small;
}

}  // namespace zub::deflate
