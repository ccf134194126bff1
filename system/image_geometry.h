// Pixel-buffer geometry for images built from other images: 2-D vectors, quadrilaterals, clipped
// rectangle copies and the mapping of a picture onto any four-cornered shape with bilinear
// sampling. Buffers hold 32-bit pixels, rows packed without padding.
#pragma once

#include <cstdint>
#include <vector>

namespace zub::image_geometry {

struct Vector {
    double x = 0, y = 0;
};

double length(const Vector& v);
void normalize(Vector& v);  // a zero vector stays zero
Vector between(double x1, double y1, double x2, double y2);
double cross(const Vector& a, const Vector& b);  // a.x b.y - a.y b.x
double dot(const Vector& a, const Vector& b);
// Rotates in place by the angle in degrees.
void rotate(Vector& v, double degrees);

struct Point {
    float x = 0, y = 0;
};
// Four corners in drawing order: top-left, top-right, bottom-right, bottom-left.
struct Quad {
    Point p[4];
};

// Whether the point lies outside the edge from a to b ((point - a) x (b - a) > 0), or inside.
bool turns_right(const Point& point, const Point& a, const Point& b);
bool turns_left(const Point& point, const Point& a, const Point& b);
// The point's distance from the line through a and b.
double edge_distance(const Point& point, const Point& a, const Point& b);
// Inside or on the border: no edge has the point on its right.
bool point_in_quad(const Quad& q, float x, float y);
void mirror_x(Quad& q, float c);  // every x becomes 2c - x
void mirror_y(Quad& q, float c);  // every y becomes 2c - y

// Copies the rectangle at (x, y), cut to the source, into the packed destination (its width is
// the cut width). Answers the pixels copied: 0 when (x, y) lies outside the source.
uint32_t copy_pixel_rect(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y,
                         int32_t width, int32_t height, uint32_t* destination);

// The source mapped onto the quadrilateral: a buffer of the shape's bounding box, pixels outside
// the shape fully transparent black. Empty (and a zero box) when the source is empty.
struct Mapped {
    int32_t x = 0, y = 0, width = 0, height = 0;
    std::vector<uint32_t> pixels;
};
Mapped transform_quad(const uint32_t* source, int32_t source_width, int32_t source_height, const Quad& q);

// transform_quad onto the rectangle (0,0) (w,0) (w,h) (0,h); empty unless the result has exactly
// that size.
std::vector<uint32_t> scale_buffer(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t width,
                                   int32_t height);

// Packed YUY2 (Y0 U Y1 V for two pixels) to opaque 0xAARRGGBB pixels; `width` is even.
void yuy2_to_rgb32(int32_t width, int32_t rows, const uint8_t* yuy2, uint32_t* destination);

}  // namespace zub::image_geometry
