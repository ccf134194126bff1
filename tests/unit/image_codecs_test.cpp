// The image formats: every format round-trips the pixels it can hold, signatures are told apart,
// and truncated, bit-flipped or lying data is refused without a crash or a huge allocation.
#include "system/image_codecs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace zub::image_codecs {
namespace {

// A small picture with opaque and transparent pixels; smooth for a lossy format.
Pixels picture(uint32_t w, uint32_t h, bool alpha, bool smooth = false) {
    Pixels p;
    p.width = w;
    p.height = h;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t a = alpha ? ((x + y) % 3 == 0 ? 0x00u : 0xFFu) : 0xFFu;
            const uint32_t k = smooth ? 4 : 37;
            p.data.push_back(a << 24 | (x * k & 0xFF) << 16 | (y * k & 0xFF) << 8 | ((x + y) * k & 0xFF));
        }
    return p;
}

std::string encoded(Format f, const Pixels& p) {
    std::string out;
    EXPECT_TRUE(encode(f, p.width, p.height, p.data.data(), out));
    return out;
}

struct Case {
    Format format;
    bool keeps_alpha;
    int tolerance;  // per channel: JPEG is lossy
};

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, GivesThePixelsBack) {
    const Case c = GetParam();
    const Pixels in = picture(17, 9, c.keeps_alpha, c.tolerance > 0);
    const std::string bytes = encoded(c.format, in);
    EXPECT_EQ(format_of(bytes), c.format);
    Pixels out;
    ASSERT_TRUE(decode(bytes, out));
    ASSERT_EQ(out.width, in.width);
    ASSERT_EQ(out.height, in.height);
    for (size_t i = 0; i < in.data.size(); ++i) {
        const uint32_t a = in.data[i], b = out.data[i];
        ASSERT_EQ(c.keeps_alpha ? a >> 24 : 0xFF, b >> 24) << "pixel " << i;
        if ((a >> 24) == 0) continue;  // a transparent pixel's colour need not survive
        for (int shift = 0; shift < 24; shift += 8) {
            const int d = static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF);
            ASSERT_LE(std::abs(d), c.tolerance) << "pixel " << i << " channel " << shift;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(Case{Format::png, true, 0}, Case{Format::png, false, 0},
                                           Case{Format::bmp, true, 0}, Case{Format::tiff, true, 0},
                                           Case{Format::gif, true, 0}, Case{Format::jpeg, false, 12}));

TEST(ImageCodecs, GifOfManyColoursStaysClose) {
    Pixels in;
    in.width = 64;
    in.height = 64;
    for (uint32_t i = 0; i < 64 * 64; ++i) in.data.push_back(0xFF000000 | (i * 2654435761u & 0xFFFFFF));
    Pixels out;
    ASSERT_TRUE(decode(encoded(Format::gif, in), out));
    for (size_t i = 0; i < in.data.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            ASSERT_LE(
                std::abs(static_cast<int>(in.data[i] >> shift & 0xFF) - static_cast<int>(out.data[i] >> shift & 0xFF)),
                26);
}

TEST(ImageCodecs, TellsSignaturesApart) {
    EXPECT_EQ(format_of("GIF89a..."), Format::gif);
    EXPECT_EQ(format_of("GIF87a..."), Format::gif);
    EXPECT_EQ(format_of("GIF88a..."), Format::unknown);
    EXPECT_EQ(format_of(std::string("II*\0", 4)), Format::tiff);
    EXPECT_EQ(format_of(std::string("MM\0*", 4)), Format::tiff);
    EXPECT_EQ(format_of("\xFF\xD8\xFF\xE0"), Format::jpeg);
    EXPECT_EQ(format_of("BM"), Format::bmp);
    EXPECT_EQ(format_of(""), Format::unknown);
    Pixels out;
    EXPECT_FALSE(decode("no image at all", out));
}

// Every prefix of a valid file, and files with random bytes flipped, are refused or decoded
// within bounds; the sanitizer build catches any read past the data.
TEST(ImageCodecs, DamagedDataIsRefusedSafely) {
    std::mt19937 random(7);
    for (Format f : {Format::png, Format::bmp, Format::tiff, Format::gif, Format::jpeg}) {
        const std::string good = encoded(f, picture(23, 11, true));
        for (size_t n = 0; n < good.size(); n += 1 + n / 8) {
            Pixels out;
            (void)decode(std::string_view(good).substr(0, n), out);
            EXPECT_LE(out.data.size(), size_t{23} * 11);
        }
        for (int round = 0; round < 200; ++round) {
            std::string bad = good;
            for (int k = 0; k < 4; ++k) bad[random() % bad.size()] ^= static_cast<char>(1 << (random() % 8));
            Pixels out;
            if (decode(bad, out)) {
                EXPECT_EQ(out.data.size(), size_t{out.width} * out.height);
            }
        }
    }
}

TEST(ImageCodecs, HugeClaimedSizesAreRefused) {
    // A BMP header claiming 100000 x 100000 pixels over a few bytes of data.
    std::string bmp = encoded(Format::bmp, picture(2, 2, false));
    bmp[18] = '\xA0', bmp[19] = '\x86', bmp[20] = '\x01', bmp[21] = 0;
    bmp[22] = '\xA0', bmp[23] = '\x86', bmp[24] = '\x01', bmp[25] = 0;
    Pixels out;
    EXPECT_FALSE(decode(bmp, out));
    EXPECT_TRUE(out.data.empty());
}

}  // namespace
}  // namespace zub::image_codecs
