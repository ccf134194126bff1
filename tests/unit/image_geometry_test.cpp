// Image geometry: quadrilateral tests and mirrors, clipped copies, the bilinear mapping onto a
// shape (corners keep their pixels, degenerate shapes give nothing) and the YUY2 conversion.
#include "system/image_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zub::image_geometry {
namespace {

const Quad kSquare{{{0, 0}, {4, 0}, {4, 4}, {0, 4}}};

TEST(ImageGeometry, VectorsAndQuads) {
    Vector v{3, 4};
    EXPECT_DOUBLE_EQ(length(v), 5);
    normalize(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    Vector zero{};
    normalize(zero);
    EXPECT_EQ(zero.x, 0);
    Vector r{1, 0};
    rotate(r, 90);
    EXPECT_NEAR(r.x, 0, 1e-12);
    EXPECT_NEAR(r.y, 1, 1e-12);
    EXPECT_DOUBLE_EQ(cross({1, 0}, {0, 1}), 1);
    EXPECT_DOUBLE_EQ(dot({1, 2}, {3, 4}), 11);
    EXPECT_TRUE(point_in_quad(kSquare, 0, 0));  // a corner is on the border
    EXPECT_TRUE(point_in_quad(kSquare, 2, 2));
    EXPECT_FALSE(point_in_quad(kSquare, 5, 2));
    EXPECT_DOUBLE_EQ(edge_distance({2, 3}, {0, 0}, {4, 0}), 3);
    Quad m = kSquare;
    m.p[0].x = 2;
    mirror_x(m, 5);
    EXPECT_EQ(m.p[0].x, 8);
    mirror_y(m, 1);
    EXPECT_EQ(m.p[2].y, -2);
}

TEST(ImageGeometry, CopyPixelRectIsClipped) {
    const uint32_t source[6] = {1, 2, 3, 4, 5, 6};  // 3 x 2
    uint32_t out[6] = {};
    EXPECT_EQ(copy_pixel_rect(source, 3, 2, 1, 0, 5, 5, out), 4u);
    EXPECT_EQ(out[0], 2u);
    EXPECT_EQ(out[1], 3u);
    EXPECT_EQ(out[2], 5u);
    EXPECT_EQ(out[3], 6u);
    EXPECT_EQ(copy_pixel_rect(source, 3, 2, 3, 0, 1, 1, out), 0u);
    EXPECT_EQ(copy_pixel_rect(source, 3, 2, -1, 0, 1, 1, out), 0u);
}

TEST(ImageGeometry, MappingOntoASquareKeepsTheCorners) {
    const uint32_t source[4] = {0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000};
    const Mapped m = transform_quad(source, 2, 2, kSquare);
    ASSERT_EQ(m.width, 4);
    ASSERT_EQ(m.height, 4);
    EXPECT_EQ(m.pixels[0], source[0]);
    EXPECT_EQ(m.pixels[3], source[1]);
    EXPECT_EQ(m.pixels[12], source[2]);
    EXPECT_EQ(m.pixels[15], source[3]);
    EXPECT_EQ(scale_buffer(source, 2, 2, 4, 4), m.pixels);
}

TEST(ImageGeometry, DegenerateShapesGiveNothing) {
    const uint32_t source[1] = {0xFFFFFFFF};
    const Quad flat{{{0, 0}, {4, 0}, {4, 0}, {0, 0}}};
    const Mapped m = transform_quad(source, 1, 1, flat);
    EXPECT_TRUE(m.width == 0 || m.height == 0);
    EXPECT_TRUE(transform_quad(source, 0, 1, kSquare).pixels.empty());
    const float inf = std::numeric_limits<float>::infinity();
    const Quad wild{{{0, 0}, {inf, 0}, {4, 4}, {0, 4}}};
    EXPECT_TRUE(transform_quad(source, 1, 1, wild).pixels.empty());
    // A triangle: two corners in one place, so a point may sit on two opposite edges.
    const Quad triangle{{{0, 0}, {4, 0}, {0, 4}, {0, 4}}};
    const Mapped t = transform_quad(source, 1, 1, triangle);
    EXPECT_EQ(t.pixels.size(), size_t(t.width) * t.height);
}

TEST(ImageGeometry, Yuy2) {
    const uint8_t grey[4] = {128, 128, 128, 128};
    uint32_t out[2];
    yuy2_to_rgb32(2, 1, grey, out);
    EXPECT_EQ(out[0], 0xFF808080u);
    EXPECT_EQ(out[1], 0xFF808080u);
    // Red is strong V: it lands in the red byte.
    const uint8_t red[4] = {76, 85, 76, 255};
    yuy2_to_rgb32(2, 1, red, out);
    EXPECT_GT(out[0] >> 16 & 0xFF, 200u);
    EXPECT_LT(out[0] & 0xFF, 60u);
}

}  // namespace
}  // namespace zub::image_geometry
