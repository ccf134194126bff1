// The codec's buffer contract, which the natives only ever meet with room enough: a short output
// is never written past and reports the exact size needed; a null output measures. And the
// checksums against their published values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "system/checksum.h"
#include "system/gzip.h"

namespace zub {
namespace {

using deflate::Status;
using Codec = Status (*)(uint8_t*, size_t&, const uint8_t*, size_t);

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string sample() {
    std::string s;
    for (int i = 0; i < 2000; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    return s;
}

TEST(Checksums, PublishedValues) {
    EXPECT_EQ(checksum::crc32(bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
    EXPECT_EQ(checksum::adler32(bytes("Wikipedia"), 9), 0x11E60398u);
    EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
    // Continuing from a part gives the checksum of the whole, across the sums' long runs too.
    const std::string s = sample();
    for (size_t cut : {size_t{1}, size_t{7}, size_t{5553}, s.size() - 3}) {
        EXPECT_EQ(checksum::crc32(bytes(s) + cut, s.size() - cut, checksum::crc32(bytes(s), cut)),
                  checksum::crc32(bytes(s), s.size()));
        EXPECT_EQ(checksum::adler32(bytes(s) + cut, s.size() - cut, checksum::adler32(bytes(s), cut)),
                  checksum::adler32(bytes(s), s.size()));
    }
}

// Fibonacci counts make the deepest Huffman trees: 30 symbols would need 29 bits. The lengths
// must keep to the limit and still fill the code space exactly.
TEST(Deflate, CodeLengthsAreLimitedAndComplete) {
    uint32_t fib[30] = {1, 1};
    for (int i = 2; i < 30; ++i) fib[i] = fib[i - 1] + fib[i - 2];
    struct Case {
        int n, limit;
    };
    for (const Case c : {Case{30, 15}, Case{19, 7}, Case{16, 15}, Case{2, 7}}) {
        uint8_t lengths[30];
        deflate::build_lengths(fib, c.n, c.limit, lengths);
        uint64_t kraft = 0;
        for (int s = 0; s < c.n; ++s) {
            EXPECT_GE(lengths[s], 1) << c.n << " " << s;
            EXPECT_LE(lengths[s], c.limit) << c.n << " " << s;
            kraft += uint64_t{1} << (c.limit - lengths[s]);
        }
        EXPECT_EQ(kraft, uint64_t{1} << c.limit) << c.n;
        // The rarest symbol never gets a shorter code than the most frequent one.
        EXPECT_GE(lengths[0], lengths[c.n - 1]) << c.n;
    }
    // One symbol or none still makes a complete code of two.
    const uint32_t one[5] = {0, 0, 0, 9, 0}, none[5] = {};
    uint8_t lengths[5];
    deflate::build_lengths(one, 5, 15, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), (std::vector<uint8_t>{1, 0, 0, 1, 0}));
    deflate::build_lengths(none, 5, 15, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), (std::vector<uint8_t>{1, 1, 0, 0, 0}));
}

// Every writer and reader: at every short capacity nothing lands past it, and the status and
// size tell what a full buffer then takes.
TEST(Deflate, ShortOutputsAreNeverOverrunAndTellTheSizeNeeded) {
    const std::string plain = sample();
    struct Pair {
        Codec write, read;
    };
    auto raw_inflate = [](uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
        return deflate::inflate(out, size, in, length);
    };
    for (const Pair p : {Pair{deflate::compress, raw_inflate}, Pair{deflate::zlib_deflate, deflate::zlib_inflate},
                         Pair{deflate::gzip, deflate::gunzip}}) {
        size_t full = 0;
        ASSERT_EQ(p.write(nullptr, full, bytes(plain), plain.size()), Status::too_small);
        std::vector<uint8_t> packed(full);
        size_t size = full;
        ASSERT_EQ(p.write(packed.data(), size, bytes(plain), plain.size()), Status::ok);
        ASSERT_EQ(size, full);
        for (size_t capacity : {size_t{0}, size_t{1}, size_t{17}, full / 2, full - 1}) {
            std::vector<uint8_t> out(capacity + 16, 0xAA);
            size = capacity;
            EXPECT_EQ(p.write(out.data(), size, bytes(plain), plain.size()), Status::too_small) << capacity;
            EXPECT_EQ(size, full) << capacity;
            for (size_t i = capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAA) << capacity;
        }
        size_t needed = 0;
        EXPECT_EQ(p.read(nullptr, needed, packed.data(), packed.size()), Status::too_small);
        EXPECT_EQ(needed, plain.size());
        for (size_t capacity : {size_t{0}, size_t{1}, plain.size() / 3, plain.size() - 1}) {
            std::vector<uint8_t> out(capacity + 16, 0xAA);
            size = capacity;
            EXPECT_EQ(p.read(out.data(), size, packed.data(), packed.size()), Status::too_small) << capacity;
            EXPECT_EQ(size, plain.size()) << capacity;
            for (size_t i = capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAA) << capacity;
        }
        std::vector<uint8_t> out(plain.size());
        size = out.size();
        ASSERT_EQ(p.read(out.data(), size, packed.data(), packed.size()), Status::ok);
        EXPECT_EQ(std::string(out.begin(), out.end()), plain);
    }
}

// The statuses the natives fold into one error, each from the smallest stream that shows it.
TEST(Deflate, MalformedStreamsGiveTheirStatus) {
    struct Case {
        std::vector<uint8_t> stream;
        Status status;
    };
    const Case cases[] = {
        {{}, Status::truncated},
        {{0x4A, 0x04, 0x00}, Status::truncated},  // a block that is not the last, then nothing
        {{0x07}, Status::bad_block_type},         // type 3
        {{0x01, 0x05, 0x00, 0xFA, 0xFF, 0x41}, Status::stored_overrun},
        {{0x03, 0x02, 0x00}, Status::bad_distance},                            // a match before any output
        {{0x4B, 0x1C, 0x03, 0x00, 0x00}, Status::bad_code},                    // length symbol 286
        {{0x05, 0xC0, 0x81, 0, 0, 0, 0, 0x90, 0xFF, 0x7F}, Status::bad_code},  // zeros repeated past the table
        {{0x05, 0x00, 0x92, 0, 0, 0, 0, 0}, Status::bad_code},                 // three code-length codes of one bit
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(64);
        size_t size = out.size();
        EXPECT_EQ(deflate::inflate(out.data(), size, c.stream.data(), c.stream.size()), c.status)
            << testing::PrintToString(c.stream);
    }
}

TEST(Deflate, GzipStoredLengthIsTheSizeNeededOnlyWhenBelievable) {
    const std::string plain = sample();
    std::vector<uint8_t> packed(plain.size() + 64);
    size_t size = packed.size();
    ASSERT_EQ(deflate::gzip(packed.data(), size, bytes(plain), plain.size()), Status::ok);
    packed.resize(size);
    EXPECT_EQ(deflate::gzip_stored_size(packed.data(), packed.size()), static_cast<int64_t>(plain.size()));
    uint8_t small[4];
    size = sizeof small;
    EXPECT_EQ(deflate::gunzip(small, size, packed.data(), packed.size()), Status::too_small);
    EXPECT_EQ(size, plain.size());
    // A length of 4 GB - 1 from a few hundred bytes of DEFLATE data: refused, not asked for.
    std::memset(packed.data() + packed.size() - 4, 0xFF, 4);
    EXPECT_EQ(deflate::gzip_stored_size(packed.data(), packed.size()), -1);
    size = 0;
    EXPECT_EQ(deflate::gunzip(nullptr, size, packed.data(), packed.size()), Status::bad_frame);
}

}  // namespace
}  // namespace zub
