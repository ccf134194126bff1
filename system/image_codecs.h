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

// Sides above this are refused by every decoder before anything is allocated.
inline constexpr uint32_t kMaxSide = 0xFFFF;

// Where a decoder puts a picture: asked once, for width x height pixels (each side 1 to kMaxSide),
// which the decoder then writes whole. Null refuses the picture.
class Target {
  public:
    virtual uint32_t* pixels(uint32_t width, uint32_t height) = 0;

  protected:
    ~Target() = default;
};

// A target of its own memory.
struct Pixels final : Target {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> data;
    uint32_t* pixels(uint32_t w, uint32_t h) override {
        width = w, height = h;
        data.resize(size_t{w} * h);
        return data.data();
    }
};

// Decodes the first frame of the data into the target. False for data that is truncated,
// corrupt, of an unknown format or larger than kMaxSide on a side; the target's pixels are then
// undefined.
bool decode(std::string_view bytes, Target& out);

// Encodes width x height pixels (both at least 1) in the format, replacing `out`. False when the
// library refuses them.
bool encode(Format format, uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out);

}  // namespace zub::image_codecs
