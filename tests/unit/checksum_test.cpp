// The checksum service's parts the language does not reach: the running forms of CRC-32 and
// Adler-32 that the gzip and zlib framings continue chunk by chunk, the eight-byte CRC steps and
// the deferred Adler reductions against byte-at-a-time references, and reading a whole file.
// Published vectors of every method are in tests/lang/checksum.zub.
#include "system/checksum.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "system/platform/whole_file.h"

namespace zub {
namespace {

uint32_t crc32_bitwise(const std::vector<uint8_t>& bytes) {
    uint32_t c = 0xFFFFFFFF;
    for (const uint8_t b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = c & 1 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

uint32_t adler32_plain(const std::vector<uint8_t>& bytes) {
    uint32_t a = 1, b = 0;
    for (const uint8_t x : bytes) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& x : v) x = static_cast<uint8_t>(gen());
    return v;
}

// Every length around the eight-byte steps and the 16- and 64-byte folds (and their tails), at
// every misalignment of the data.
TEST(Checksum, Crc32MatchesTheBitwiseDefinition) {
    const std::vector<uint8_t> data = random_bytes(400, 1);
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t n = 0; n <= 300; ++n) {
            const std::vector<uint8_t> part(data.begin() + offset, data.begin() + offset + n);
            ASSERT_EQ(checksum::crc32(data.data() + offset, n), crc32_bitwise(part)) << offset << " " << n;
        }
}

// All-FF bytes make the sums grow fastest: lengths at and around the unreduced blocks.
TEST(Checksum, Adler32MatchesThePlainSumsOnLongRuns) {
    for (const size_t n : {5551u, 5552u, 5553u, 11104u, 11105u, 70000u}) {
        const std::vector<uint8_t> ff(n, 0xFF);
        EXPECT_EQ(checksum::adler32(ff.data(), n), adler32_plain(ff)) << n;
        const std::vector<uint8_t> r = random_bytes(n, static_cast<uint32_t>(n));
        EXPECT_EQ(checksum::adler32(r.data(), n), adler32_plain(r)) << n;
    }
}

// A stream checksummed chunk by chunk, as a framing does, gives the checksum of the whole.
TEST(Checksum, RunningChecksumsContinueAcrossChunks) {
    const std::vector<uint8_t> data = random_bytes(20000, 7);
    const uint32_t whole_crc = checksum::crc32(data.data(), data.size());
    const uint32_t whole_adler = checksum::adler32(data.data(), data.size());
    for (const size_t chunk : {1u, 3u, 8u, 13u, 5552u, 6000u}) {
        uint32_t crc = 0, adler = 1;
        for (size_t at = 0; at < data.size(); at += chunk) {
            const size_t n = std::min(chunk, data.size() - at);
            crc = checksum::crc32(data.data() + at, n, crc);
            adler = checksum::adler32(data.data() + at, n, adler);
        }
        EXPECT_EQ(crc, whole_crc) << chunk;
        EXPECT_EQ(adler, whole_adler) << chunk;
    }
    EXPECT_EQ(checksum::crc32(nullptr, 0, whole_crc), whole_crc);
    EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
}

TEST(Checksum, MethodsByNameAndTheirSizes) {
    struct Case {
        const char* name;
        checksum::Method method;
        uint32_t size;
    };
    const Case cases[] = {
        {"tcp", checksum::Method::tcp, 0},         {"CRC32", checksum::Method::crc32, 0},
        {"Adler32", checksum::Method::adler32, 0}, {"hash", checksum::Method::hash, 0},
        {"md5", checksum::Method::md5, 16},        {"SHA1", checksum::Method::sha1, 20},
        {"sha256", checksum::Method::sha256, 32},  {"sha384", checksum::Method::sha384, 48},
        {"ShA512", checksum::Method::sha512, 64},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(checksum::method_named(c.name), c.method) << c.name;
        EXPECT_EQ(checksum::digest_size(c.method), c.size) << c.name;
    }
    for (const char* name : {"", "sha", "md55", "sha224", "crc-32", "md5 "})
        EXPECT_FALSE(checksum::method_named(name).has_value()) << name;
    // Methods without a digest refuse to give one rather than leave the buffer unwritten.
    uint8_t out[checksum::kMaxDigest];
    EXPECT_FALSE(checksum::digest(checksum::Method::crc32, "a", 1, out));
    EXPECT_FALSE(checksum::hmac(checksum::Method::hash, "a", 1, "k", 1, out));
}

TEST(Checksum, ReadsAWholeFileOrSaysItCannot) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path file = dir / ("zub-checksum-" + std::to_string(::getpid()));
    const std::vector<uint8_t> data = random_bytes(200000, 3);  // past one read's chunk
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        std::fclose(f);
    }
    std::string got = "left over";
    ASSERT_TRUE(platform::read_whole_file(file.string(), got));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_EQ(checksum::crc32(got.data(), got.size()), checksum::crc32(data.data(), data.size()));
    std::filesystem::remove(file);

    EXPECT_FALSE(platform::read_whole_file(file.string(), got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(platform::read_whole_file(dir.string(), got));
    EXPECT_FALSE(platform::read_whole_file(std::string("/dev/null\0x", 11), got));
    ASSERT_TRUE(platform::read_whole_file("/dev/null", got));
    EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace zub
