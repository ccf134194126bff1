// The crush compressor: round trips, the exact bits of known images, and hostile images that
// must be refused without reading or writing out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "runtime/lowrt.h"
#include "runtime/lz.h"

namespace zub {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t word_at(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void set_word(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// Null, or exactly the bytes produced. Checks that a refusal leaves nothing allocated.
struct Decoded {
    bool ok;
    Bytes data;
};

Decoded decode(const Bytes& image) {
    const size_t blocks = lowrt::live_blocks();
    uint32_t size = 0xDEADBEEF;
    uint8_t* out = lz::decompress(image.data(), image.size(), &size);
    if (!out) {
        EXPECT_EQ(lowrt::live_blocks(), blocks) << "a refused image left its output allocated";
        return {false, {}};
    }
    Decoded d{true, Bytes(out, out + size)};
    lz::free_buffer(out);
    return d;
}

Bytes compress(const Bytes& source) {
    Bytes image(source.size());
    const int64_t n = lz::compress(source.data(), source.size(), image.data(), image.size());
    if (n < 0) return {};
    image.resize(size_t(n));
    return image;
}

// Writes bits least significant first, as the format does, into an image with one block per
// begin_block. An independent writer so the decoder is checked against the format, not itself.
struct ImageBuilder {
    Bytes bytes = Bytes(8, 0);
    uint64_t bits = 0;
    unsigned count = 0;
    uint32_t total = 0;

    void begin_block(uint32_t length) {
        bytes.resize(bytes.size() + 4);
        set_word(bytes, bytes.size() - 4, length);
        total += length;
    }
    void put(unsigned n, uint32_t v) {
        for (unsigned i = 0; i < n; ++i) {
            bits |= uint64_t((v >> i) & 1) << count;
            if (++count == 8) {
                bytes.push_back(uint8_t(bits));
                bits = 0;
                count = 0;
            }
        }
    }
    void literal(uint8_t b) {
        put(1, 0);
        put(8, b);
    }
    // Any length 3 to 566 and distance 1 to 262,144, each in the class its table gives.
    void match(uint32_t length, uint32_t distance) {
        put(1, 1);
        const uint32_t n = length - 3;
        if (n < 4) {
            put(1, 1);
            put(2, n);
        } else if (n < 8) {
            put(2, 2);
            put(2, n - 4);
        } else if (n < 12) {
            put(3, 4);
            put(2, n - 8);
        } else if (n < 20) {
            put(4, 8);
            put(3, n - 12);
        } else if (n < 52) {
            put(5, 16);
            put(5, n - 20);
        } else {
            put(5, 0);
            put(9, n - 52);
        }
        const uint32_t d = distance - 1;
        if (d < 8) {
            put(4, 0);
            put(3, d);
            return;
        }
        unsigned m = 3;
        while (d >= (uint32_t(2) << m)) ++m;
        put(4, m - 2);
        put(m, d - (uint32_t(1) << m));
    }
    void end_block() {
        put(7, 0);
        bits = 0;
        count = 0;
    }
    Bytes finish() {
        set_word(bytes, 0, uint32_t(bytes.size() - 8));
        set_word(bytes, 4, total);
        return bytes;
    }
};

// The tokens of a one-block image, read with the format's tables: what the compressor chose.
struct Token {
    uint32_t at;        // output position
    uint32_t length;    // 1 for a literal
    uint32_t distance;  // 0 for a literal
};

std::vector<Token> tokens_of(const Bytes& image) {
    size_t bit = 12 * 8;
    auto get = [&](unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i, ++bit) v |= uint32_t((image.at(bit / 8) >> (bit % 8)) & 1) << i;
        return v;
    };
    std::vector<Token> out;
    for (uint32_t at = 0; at < word_at(image, 8);) {
        if (get(1) == 0) {
            get(8);
            out.push_back({at++, 1, 0});
            continue;
        }
        uint32_t n;
        if (get(1)) n = get(2);
        else if (get(1)) n = 4 + get(2);
        else if (get(1)) n = 8 + get(2);
        else if (get(1)) n = 12 + get(3);
        else if (get(1)) n = 20 + get(5);
        else n = 52 + get(9);
        const uint32_t k = get(4);
        const uint32_t d = k == 0 ? get(3) : (uint32_t(1) << (k + 2)) + get(k + 2);
        out.push_back({at, 3 + n, d + 1});
        at += 3 + n;
    }
    return out;
}

Token token_at(const std::vector<Token>& tokens, uint32_t at) {
    for (const Token& t : tokens)
        if (t.at == at) return t;
    return {at, 0, 0};  // no token starts there
}

// A sea of "abc" (cheap to compress) with the given pieces written over it.
Bytes sea_with(size_t n, std::initializer_list<std::pair<size_t, std::string>> pieces) {
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = uint8_t("abc"[i % 3]);
    for (const auto& [at, text] : pieces) std::copy(text.begin(), text.end(), data.begin() + long(at));
    return data;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

Bytes text_like(size_t n, uint32_t seed) {
    static const char* const words[] = {
        "the",   "series", "block",  "word",    "value",   "append",   "collector",  "of",    "and",   "frame",
        "node",  "make",   "to",     "is",      "a",       "function", "context",    "bind",  "print", "either",
        "while", "loop",   "string", "integer", "decimal", "path",     "refinement", "parse", "rule",
    };
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % std::size(words)];
        s += (rng() % 11 == 0) ? "\n    " : " ";
        if (rng() % 17 == 0) s += std::to_string(rng() % 100000);
    }
    return Bytes(s.begin(), s.begin() + long(n));
}

// ---------------------------------------------------------------------------------------------

TEST(Crush, RoundTripsVariedData) {
    struct Case {
        const char* name;
        Bytes data;
    };
    Bytes repeats(5000);
    for (size_t i = 0; i < repeats.size(); ++i) repeats[i] = uint8_t("abcab"[i % 5]);
    Bytes runs;
    for (int r = 0; r < 300; ++r) runs.insert(runs.end(), size_t(r % 37 + 1), uint8_t(r));
    Bytes short_periods;  // periods 1 to 9: the run fill, the byte-by-byte copy, the 8-byte one
    for (int p = 1; p <= 9; ++p)
        for (int i = 0; i < 700; ++i) short_periods.push_back(uint8_t(p * 16 + i % p));
    Bytes sparse = random_bytes(200000, 3);
    for (size_t i = 0; i < sparse.size(); ++i)
        if (i % 64 >= 4) sparse[i] = 0;
    const Case cases[] = {
        {"128 zero bytes", Bytes(128, 0)},
        {"129 equal bytes", Bytes(129, 'x')},
        {"repeated pattern", repeats},
        {"runs", runs},
        {"short periods", short_periods},
        {"text", text_like(100000, 1)},
        {"mostly zeros", sparse},
        {"all zeros across blocks", Bytes(2 * 0x100000 + 17, 0)},
        {"text across blocks", text_like(3 * 0x100000 + 12345, 2)},
        {"exactly one block", text_like(0x100000, 4)},
        {"one block and a byte", text_like(0x100000 + 1, 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes image = compress(c.data);
        ASSERT_FALSE(image.empty());
        EXPECT_EQ(word_at(image, 0), image.size() - 8);
        EXPECT_EQ(word_at(image, 4), c.data.size());
        const Decoded d = decode(image);
        ASSERT_TRUE(d.ok);
        EXPECT_TRUE(d.data == c.data);
    }
}

TEST(Crush, CompressRefusesWhatWouldNotShrink) {
    Bytes out(4096);
    for (size_t n : {0, 1, 100, 127}) {
        const Bytes zeros(n, 0);
        EXPECT_EQ(lz::compress(zeros.data(), n, out.data(), out.size()), -1) << n;
    }
    const Bytes noise = random_bytes(100000, 7);
    Bytes big(noise.size());
    EXPECT_EQ(lz::compress(noise.data(), noise.size(), big.data(), big.size()), -1);

    // The capacity given binds too: the image of this text takes more than 64 bytes.
    const Bytes text = text_like(2000, 8);
    EXPECT_EQ(lz::compress(text.data(), text.size(), out.data(), 64), -1);
    EXPECT_EQ(lz::compress(text.data(), text.size(), out.data(), 7), -1);
    const int64_t full = lz::compress(text.data(), text.size(), out.data(), out.size());
    ASSERT_GT(full, 8);
    EXPECT_EQ(lz::compress(text.data(), text.size(), out.data(), size_t(full)), full);
    EXPECT_EQ(lz::compress(text.data(), text.size(), out.data(), size_t(full) - 1), -1);
}

// 128 bytes: k distinct literals (9 bits each) then a run copied at distance 1 (18 bits with
// the 7 bits of padding). k = 101 needs 927 bits, a block area of 4 + 116 = 120 bytes, so the
// image is exactly 128 bytes; k = 102 needs 121 and is refused.
TEST(Crush, OneHundredTwentyEightBytesCompressOnlyIntoOneHundredTwentyBytesOfBlocks) {
    struct Case {
        int k;
        bool fits;
    };
    for (const Case& c : {Case{100, true}, Case{101, true}, Case{102, false}}) {
        const int k = c.k;
        Bytes data(128);
        for (int i = 0; i < 128; ++i) data[size_t(i)] = uint8_t(std::min(i, k - 1));
        Bytes out(1000);
        const int64_t n = lz::compress(data.data(), data.size(), out.data(), out.size());
        SCOPED_TRACE(k);
        if (!c.fits) {
            EXPECT_EQ(n, -1);
            continue;
        }
        ASSERT_EQ(n, k == 101 ? 128 : 127);
        out.resize(size_t(n));
        EXPECT_EQ(word_at(out, 0), uint32_t(n - 8));
        EXPECT_TRUE(decode(out).data == data);
    }
}

TEST(Crush, SixEqualBytesAtABlockStartAreALiteralThenAMatchOfDistanceOne) {
    Bytes data(6, 'A');
    data.resize(128, 'B');
    const Bytes image = compress(data);

    ImageBuilder expected;
    expected.begin_block(128);
    expected.literal('A');
    expected.put(1, 1);  // match
    expected.put(1, 1);  // length class 3 to 6
    expected.put(2, 2);  // length 5
    expected.put(4, 0);  // distance class 1 to 8
    expected.put(3, 0);  // distance 1
    expected.literal('B');
    expected.match(121, 1);
    expected.end_block();
    EXPECT_EQ(image, expected.finish());
}

TEST(Crush, DecodesEveryLengthClassBoundary) {
    for (uint32_t length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 300u, 566u}) {
        ImageBuilder b;
        b.begin_block(length + 1);
        b.literal('q');
        b.match(length, 1);
        b.end_block();
        const Decoded d = decode(b.finish());
        ASSERT_TRUE(d.ok) << length;
        EXPECT_EQ(d.data, Bytes(length + 1, 'q')) << length;
    }
}

TEST(Crush, DecodesEveryDistanceClassBoundary) {
    // A prefix where every 3-byte window differs, so a copied triple shows where it came from.
    Bytes prefix(5000);
    for (size_t i = 0; i < prefix.size(); ++i) prefix[i] = uint8_t(i * 7 + i / 256);
    for (uint32_t distance : {1u, 2u, 8u, 9u, 16u, 17u, 32u, 33u, 1024u, 1025u, 4096u, 4999u}) {
        ImageBuilder b;
        b.begin_block(uint32_t(prefix.size()) + 3);
        for (uint8_t x : prefix) b.literal(x);
        b.match(3, distance);
        b.end_block();
        const Decoded d = decode(b.finish());
        ASSERT_TRUE(d.ok) << distance;
        const size_t from = prefix.size() - distance;
        Bytes expected = prefix;
        for (size_t i = 0; i < 3; ++i) expected.push_back(expected[from + i]);
        EXPECT_EQ(d.data, expected) << distance;
    }
}

// "xyz", then z up to position `at`, then a 3-byte match with distance code k and its bits.
Bytes far_match_image(uint32_t at, uint32_t raw_k, uint32_t raw_d) {
    ImageBuilder b;
    b.begin_block(at + 3);
    b.literal('x');
    b.literal('y');
    b.literal('z');
    uint32_t pos = 3;
    while (pos < at) {
        const uint32_t len = std::min(566u, at - pos);
        if (len < 3) {
            b.literal('z');
            ++pos;
            continue;
        }
        b.match(len, 1);
        pos += len;
    }
    b.put(1, 1);
    b.put(1, 1);
    b.put(2, 0);  // length 3
    b.put(4, raw_k);
    b.put(raw_k + 2, raw_d);
    b.end_block();
    return b.finish();
}

TEST(Crush, LongestDistanceDecodesAndNoDistanceReachesBeforeTheBlock) {
    // k = 15 and seventeen one bits: distance 262,144, from position 262,144 back to 0.
    const Decoded far = decode(far_match_image(262144, 15, 0x1FFFF));
    ASSERT_TRUE(far.ok);
    ASSERT_EQ(far.data.size(), 262147u);
    EXPECT_EQ(far.data[262144], 'x');
    EXPECT_EQ(far.data[262145], 'y');
    EXPECT_EQ(far.data[262146], 'z');
    EXPECT_EQ(far.data[262143], 'z');
    // The same distance one byte earlier would start before the block.
    EXPECT_FALSE(decode(far_match_image(262143, 15, 0x1FFFF)).ok);

    ImageBuilder near;
    near.begin_block(4);
    near.literal('a');
    near.match(3, 2);
    near.end_block();
    EXPECT_FALSE(decode(near.finish()).ok);
}

TEST(Crush, MatchesNeverReachIntoAnEarlierBlock) {
    ImageBuilder b;
    b.begin_block(3);
    for (uint8_t x : {'a', 'b', 'c'}) b.literal(x);
    b.end_block();
    b.begin_block(3);
    b.match(3, 3);
    b.end_block();
    EXPECT_FALSE(decode(b.finish()).ok);
}

TEST(Crush, CompressorUsesDistancesUpToExactlyTheLimit) {
    // A random 4 KB piece and a far copy of it in a sea of a short period: at 262,144 the copy
    // can be a match, one byte further it must be literals.
    auto sized = [](uint32_t gap) {
        Bytes data(600000);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t("-=+"[i % 3]);
        const Bytes piece = random_bytes(4096, 11);
        std::copy(piece.begin(), piece.end(), data.begin() + 1000);
        std::copy(piece.begin(), piece.end(), data.begin() + 1000 + gap);
        const Bytes image = compress(data);
        EXPECT_FALSE(image.empty());
        EXPECT_TRUE(decode(image).data == data);
        return image.size();
    };
    const size_t reachable = sized(262144);
    const size_t unreachable = sized(262145);
    EXPECT_LT(reachable + 3000, unreachable);
}

TEST(Crush, ThreeByteMatchesFartherThanSixtyFourKilobytesBecomeLiterals) {
    for (const uint32_t distance : {0x10000u, 0x10001u}) {
        const Bytes data = sea_with(0x10000 + 200, {{10, "XYZQ"}, {10 + distance, "XYZR"}});
        const Bytes image = compress(data);
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(decode(image).data == data);
        const auto tokens = tokens_of(image);
        const Token t = token_at(tokens, 10 + distance);
        SCOPED_TRACE(distance);
        if (distance == 0x10000) {
            EXPECT_EQ(t.length, 3u);
            EXPECT_EQ(t.distance, distance);
        } else {
            for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(token_at(tokens, 10 + distance + i).length, 1u);
        }
    }
}

// At 52,000 the copy "KLMN..." has a 4-byte match 48 back and a longer one 50,000 back. The far
// one costs a penalty of 2 (50,000 / 16 shifted right by 3 twice is 48, no larger than 48): it
// wins only when longer than 4 + 2. The unique "#" before the copy makes a token start there.
TEST(Crush, FartherCandidateMustBeLongerByTheDistancePenalty) {
    struct Case {
        const char* far;
        uint32_t length;
        uint32_t distance;
    };
    const Case cases[] = {
        {"KLMNOxx", 4, 48},
        {"KLMNOPx", 4, 48},
        {"KLMNOPQ", 7, 50000},
        {"KLMNOPQy", 8, 50000},
    };
    for (const Case& c : cases) {
        const Bytes data = sea_with(60000, {{2000, c.far}, {51952, "KLMNz"}, {51999, "#KLMNOPQy"}});
        const Bytes image = compress(data);
        ASSERT_FALSE(image.empty());
        ASSERT_TRUE(decode(image).data == data);
        const Token t = token_at(tokens_of(image), 52000);
        EXPECT_EQ(t.length, c.length) << c.far;
        EXPECT_EQ(t.distance, c.distance) << c.far;
    }
}

TEST(Crush, RejectsBadBlockLengths) {
    const Bytes data = text_like(5000, 9);
    const Bytes good = compress(data);
    ASSERT_FALSE(good.empty());
    for (uint32_t length : {0u, 0x100001u, 0xFFFFFFFFu, 4999u, 5001u}) {
        Bytes image = good;
        set_word(image, 8, length);
        if (length > 0 && length <= 0x100000) set_word(image, 4, length);  // header agrees
        EXPECT_FALSE(decode(image).ok) << length;
    }
    // A full-size block is accepted: 0x100000 is the largest length, not past it.
    ImageBuilder b;
    b.begin_block(0x100000);
    b.literal(7);
    for (uint32_t pos = 1; pos < 0x100000;) {
        const uint32_t len = std::min(566u, 0x100000 - pos);
        if (len < 3) {
            b.literal(7);
            ++pos;
        } else {
            b.match(len, 1);
            pos += len;
        }
    }
    b.end_block();
    const Decoded d = decode(b.finish());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.data, Bytes(0x100000, 7));
}

TEST(Crush, RejectsHeadersThatDisagree) {
    const Bytes data = text_like(20000, 10);
    const Bytes good = compress(data);
    ASSERT_FALSE(good.empty());
    struct Case {
        const char* name;
        uint32_t area_delta;  // added to the first word
        uint32_t total;       // second word
    };
    const uint32_t n = uint32_t(data.size());
    const Case cases[] = {
        {"area one short", uint32_t(-1), n},
        {"area one long", 1, n},
        {"total one short", 0, n - 1},  // the block would produce more than declared
        {"total one long", 0, n + 1},   // the blocks end before producing it all
        {"total huge", 0, 0xFFFFFFFF},  // refused before allocating
        {"total zero", 0, 0},
    };
    for (const Case& c : cases) {
        Bytes image = good;
        set_word(image, 0, word_at(good, 0) + c.area_delta);
        set_word(image, 4, c.total);
        EXPECT_FALSE(decode(image).ok) << c.name;
    }
    for (size_t len : {0, 1, 7}) EXPECT_EQ(lz::decompress(good.data(), len, nullptr), nullptr);
    EXPECT_EQ(lz::decompress(nullptr, 0, nullptr), nullptr);

    // With the output size not asked for, the data still comes back.
    uint8_t* out = lz::decompress(good.data(), good.size(), nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::memcmp(out, data.data(), data.size()), 0);
    lz::free_buffer(out);
}

TEST(Crush, EmptyBlockAreaDeclaringNothingIsEmptyData) {
    const Bytes image(8, 0);
    const Decoded d = decode(image);
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.data.empty());
}

// Hostile images: each one must be refused or decode to exactly its declared size.

void expect_refused_or_whole(const Bytes& image) {
    const Decoded d = decode(image);
    if (d.ok) {
        EXPECT_EQ(d.data.size(), word_at(image, 4));
    }
}

TEST(Crush, EveryTruncationIsRefused) {
    const Bytes data = text_like(3000, 12);
    const Bytes good = compress(data);
    ASSERT_FALSE(good.empty());
    for (size_t len = 0; len < good.size(); ++len) {
        Bytes cut(good.begin(), good.begin() + long(len));
        EXPECT_FALSE(decode(cut).ok) << len;
        // Still refused when the header is patched to agree with the cut: the stream runs out.
        if (len >= 8) {
            set_word(cut, 0, uint32_t(len - 8));
            EXPECT_FALSE(decode(cut).ok) << len;
        }
    }
}

TEST(Crush, BitFlipsAreRefusedOrDecodeToTheDeclaredSize) {
    const Bytes data = text_like(0x100000 + 4000, 13);  // two blocks
    const Bytes good = compress(data);
    ASSERT_FALSE(good.empty());
    std::mt19937 rng(14);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes image = good;
        const int flips = 1 + int(rng() % 3);
        for (int f = 0; f < flips; ++f) {
            // Half of the flips land near the start and the block boundary, where they matter most.
            const size_t at = rng() % 2 ? 8 + rng() % 64 : rng() % image.size();
            image[at] ^= uint8_t(1u << (rng() % 8));
        }
        expect_refused_or_whole(image);
    }
}

TEST(Crush, RandomGarbageIsRefusedOrDecodesToTheDeclaredSize) {
    std::mt19937 rng(15);
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes image = random_bytes(8 + rng() % 400, uint32_t(rng()));
        set_word(image, 0, uint32_t(image.size() - 8));
        set_word(image, 4, rng() % 4000);
        if (image.size() >= 12) set_word(image, 8, 1 + rng() % 3000);
        expect_refused_or_whole(image);
    }
}

// A block of literals ending exactly at the end of the area, without spare padding bytes:
// the reader must take the final bits without loading anything past the image.
TEST(Crush, StreamEndingOnTheLastByteDecodes) {
    for (uint32_t literals = 1; literals <= 24; ++literals) {
        ImageBuilder b;
        b.begin_block(literals);
        for (uint32_t i = 0; i < literals; ++i) b.literal(uint8_t(i + 1));
        b.end_block();
        // Exact-size copy so ASan sees any read past the end.
        const Bytes image = b.finish();
        const Decoded d = decode(image);
        ASSERT_TRUE(d.ok) << literals;
        ASSERT_EQ(d.data.size(), literals);
        for (uint32_t i = 0; i < literals; ++i) EXPECT_EQ(d.data[i], i + 1);
    }
}

}  // namespace
}  // namespace zub
