// The image file formats: PNG, JPEG, GIF and TIFF through Debian's libpng, libjpeg-turbo,
// giflib and libtiff, BMP our own. Pixels are 32-bit values 0xAARRGGBB with straight (not
// premultiplied) alpha, AA the opacity, rows packed top to bottom. Nothing here touches the
// collected heap: callers copy pixels in and out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zub::image_codecs {

// The codes the image codecs pass to the encoder.
enum class Format : int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4, unknown = -1 };

// The format whose signature the bytes begin with.
Format format_of(std::string_view bytes);

struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> data;
};

// Sides above this are refused by every decoder before anything is allocated.
inline constexpr uint32_t kMaxSide = 0xFFFF;

// Decodes the first frame of the data. False for data that is truncated, corrupt, of an unknown
// format or larger than kMaxSide on a side.
bool decode(std::string_view bytes, Pixels& out);

// Encodes width x height pixels (both at least 1) in the format, replacing `out`. False when the
// library refuses them.
bool encode(Format format, uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out);

}  // namespace zub::image_codecs
