// image!: a two-dimensional series of 32-bit pixels. The cell: word 1 the head, a pixel index
// counted row by row from the top-left pixel; word 2 the node of the pixels (unit 4, width x
// height of them, each 0xAARRGGBB with AA the opacity, so the bytes in memory are B, G, R, A);
// word 3 the size, height << 16 | width. The language shows alpha as transparency: every value
// that goes out carries 255 minus the stored opacity, and every value that comes in is turned
// back the same way.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub::image {

inline constexpr uint32_t kMaxSide = 0xFFFF;

inline uint32_t width(const Cell& value) { return value.w3 & 0xFFFF; }
inline uint32_t height(const Cell& value) { return value.w3 >> 16; }
inline uint32_t pixel_count(const Cell& value) { return width(value) * height(value); }

// A stored pixel as the tuple the language shows: R.G.B.T, T the transparency.
Cell pixel_tuple(uint32_t pixel);
// A tuple as a stored pixel: its first three bytes and an opacity of 255 minus the fourth byte
// (255 for a tuple of three bytes).
uint32_t tuple_pixel(const Cell& tuple);

// A new image of the size, every pixel opaque white. A side above 65535 is script out-of-range
// (the size given as a pair); negative sides count as 0; pixels beyond what a buffer holds are
// internal no-memory. May collect.
Cell make(int64_t width, int64_t height);
// The same, the pixels copied from `pixels` (width x height of them, which must not lie in a
// series). May collect.
Cell from_pixels(uint32_t width, uint32_t height, const void* pixels);

// The pixels of an image from the first one (not the head). Valid until the next allocation.
uint32_t* pixels(const Cell& value);

// A new image of the size holding the image scaled to it, nearest pixel first. May collect.
Cell resized(Cell value, uint32_t width, uint32_t height);
// A new image holding the image upside down. May collect.
Cell flipped_vertical(Cell value);

// How `to image!` captures a face as it shows: set by the GUI library; answers none for a face
// that shows nothing.
extern Cell (*g_face_capture)(Cell face);

// Whether the bytes begin with the signature of PNG, JPEG, BMP, GIF or TIFF data.
bool known_format(std::string_view bytes);
// An image decoded from the bytes: none when the signature is unknown, access bad-media when the
// data cannot be decoded. May collect.
Cell load_binary(std::string_view bytes);
// The bytes of the image encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) as a new
// binary!. An image of zero size is access bad-media. May collect.
Cell encode(Cell value, int32_t format);

}  // namespace zub::image
