// Each decoder checks the size its header claims against kMaxSide before it allocates, so a
// lying header cannot ask for gigabytes, and turns every library failure into a false answer.
#include "system/image_codecs.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace zub::image_codecs {
namespace {

bool starts_with(std::string_view bytes, std::string_view signature) {
    return bytes.size() >= signature.size() && bytes.substr(0, signature.size()) == signature;
}

bool fits(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

uint32_t* allocate(Target& out, uint64_t width, uint64_t height) {
    return fits(width, height) ? out.pixels(static_cast<uint32_t>(width), static_cast<uint32_t>(height)) : nullptr;
}

// ---- PNG -----------------------------------------------------------------------------------------

bool decode_png(std::string_view bytes, Target& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
    image.format = PNG_FORMAT_BGRA;  // memory order B, G, R, A: one 0xAARRGGBB per pixel
    uint32_t* data = allocate(out, image.width, image.height);
    if (!data) {
        png_image_free(&image);
        return false;
    }
    const bool ok = png_image_finish_read(&image, nullptr, data, 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

void png_append(png_structp png, png_bytep data, size_t n) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}
void png_flush_nothing(png_structp) {}

// Rows go straight from the pixels; an opaque picture is written as RGB, its alpha bytes dropped
// on the way, which is a quarter less to compress.
bool encode_png(uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const size_t n = size_t{width} * height;
    const bool opaque = std::all_of(pixels, pixels + n, [](uint32_t p) { return (p >> 24) == 0xFF; });
    out.clear();
    png_set_write_fn(png, &out, png_append, png_flush_nothing);
    png_set_IHDR(png, info, width, height, 8, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);  // memory order B, G, R, A
    if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + size_t{y} * width));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---- JPEG ----------------------------------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpeg_fail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
void jpeg_quiet(j_common_ptr, int) {}

bool decode_jpeg(std::string_view bytes, Target& out) {
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_fail;
    error.manager.emit_message = jpeg_quiet;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || !fits(info.image_width, info.image_height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_BGRA;  // the fourth byte comes out as FF: opaque
    jpeg_start_decompress(&info);
    uint32_t* data = allocate(out, info.output_width, info.output_height);
    if (!data) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        auto* row = reinterpret_cast<JSAMPROW>(data + size_t{info.output_scanline} * info.output_width);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool encode_jpeg(uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    jpeg_compress_struct info{};
    JpegError error{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_fail;
    error.manager.emit_message = jpeg_quiet;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRA;  // JPEG has no alpha: it is dropped
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels + size_t{info.next_scanline} * width));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out.assign(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return true;
}

// ---- GIF -----------------------------------------------------------------------------------------

struct Reader {
    std::string_view bytes;
    size_t at = 0;
};

int gif_read(GifFileType* gif, GifByteType* to, int n) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const size_t k = std::min<size_t>(static_cast<size_t>(n), r->bytes.size() - r->at);
    std::memcpy(to, r->bytes.data() + r->at, k);
    r->at += k;
    return static_cast<int>(k);
}

int gif_write(GifFileType* gif, const GifByteType* from, int n) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(from), static_cast<size_t>(n));
    return n;
}

// The first frame over the screen's background, transparent where the frame sets no pixel.
bool decode_gif(std::string_view bytes, Target& out) {
    Reader reader{bytes};
    int status = 0;
    GifFileType* gif = DGifOpen(&reader, gif_read, &status);
    if (!gif) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0 && gif->SWidth > 0 && gif->SHeight > 0;
    uint32_t* data =
        ok ? allocate(out, static_cast<uint64_t>(gif->SWidth), static_cast<uint64_t>(gif->SHeight)) : nullptr;
    ok = data != nullptr;
    if (ok) {
        const SavedImage& frame = gif->SavedImages[0];
        const GifImageDesc& d = frame.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        GraphicsControlBlock control{};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &control);
        ok = map != nullptr && frame.RasterBits != nullptr;
        const size_t width = static_cast<size_t>(gif->SWidth);
        std::fill_n(data, width * static_cast<size_t>(gif->SHeight), 0x00000000);
        for (int y = 0; ok && y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                const int px = d.Left + x, py = d.Top + y;
                if (px < 0 || py < 0 || px >= gif->SWidth || py >= gif->SHeight) continue;
                const int index = frame.RasterBits[size_t(y) * d.Width + x];
                if (index == control.TransparentColor || index >= map->ColorCount) continue;
                const GifColorType c = map->Colors[index];
                data[size_t(py) * width + static_cast<size_t>(px)] =
                    0xFF000000 | uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
            }
        }
    }
    DGifCloseFile(gif, &status);
    return ok;
}

// A palette of the image's own colours when it has at most 255 of them, else a fixed 6x7x6 cube;
// pixels under half opacity take the transparent entry.
bool encode_gif(uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    const size_t n = size_t{width} * height;
    std::vector<GifByteType> raster(n);
    std::unordered_map<uint32_t, int> exact;
    bool transparent = false;
    for (size_t i = 0; i < n && exact.size() <= 255; ++i) {
        if ((pixels[i] >> 24) < 128) transparent = true;
        else exact.emplace(pixels[i] & 0xFFFFFF, 0);
    }
    std::vector<GifColorType> colours;
    const bool own = exact.size() <= 255;
    if (own) {
        for (auto& [rgb, index] : exact) {
            index = static_cast<int>(colours.size());
            colours.push_back({static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
                               static_cast<GifByteType>(rgb)});
        }
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int b = 0; b < 6; ++b)
                    colours.push_back({static_cast<GifByteType>(r * 51), static_cast<GifByteType>(g * 255 / 6),
                                       static_cast<GifByteType>(b * 51)});
    }
    const int clear = static_cast<int>(colours.size());
    colours.push_back({0, 0, 0});
    for (size_t i = 0; i < n; ++i) {
        const uint32_t p = pixels[i];
        if ((p >> 24) < 128) {
            raster[i] = static_cast<GifByteType>(clear);
        } else if (own) {
            raster[i] = static_cast<GifByteType>(exact[p & 0xFFFFFF]);
        } else {
            const int r = ((p >> 16 & 0xFF) + 25) / 51, g = ((p >> 8 & 0xFF) * 6 + 127) / 255,
                      b = ((p & 0xFF) + 25) / 51;
            raster[i] = static_cast<GifByteType>((r * 7 + g) * 6 + b);
        }
    }
    int size = 2;
    while (size < static_cast<int>(colours.size())) size <<= 1;
    colours.resize(static_cast<size_t>(size), GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(size, colours.data());
    if (!map) return false;
    out.clear();
    int status = 0;
    GifFileType* gif = EGifOpen(&out, gif_write, &status);
    bool ok = gif != nullptr;
    if (ok) EGifSetGifVersion(gif, transparent);  // transparency needs the 89a extension
    // The screen and the image descriptors copy the colour map, and closing frees the copies.
    ok = ok && EGifPutScreenDesc(gif, static_cast<int>(width), static_cast<int>(height), 8, 0, map) == GIF_OK;
    if (ok && transparent) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.TransparentColor = clear;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), false, nullptr) == GIF_OK;
    for (uint32_t y = 0; ok && y < height; ++y)
        ok = EGifPutLine(gif, raster.data() + size_t{y} * width, static_cast<int>(width)) == GIF_OK;
    if (gif && EGifCloseFile(gif, &status) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok;
}

// ---- TIFF ----------------------------------------------------------------------------------------

struct Memory {
    std::string_view in;
    std::string* out;
    toff_t at = 0;
};

tsize_t tiff_read(thandle_t h, tdata_t to, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (m->at >= m->in.size()) return 0;
    const size_t k = std::min<size_t>(static_cast<size_t>(n), m->in.size() - m->at);
    std::memcpy(to, m->in.data() + m->at, k);
    m->at += k;
    return static_cast<tsize_t>(k);
}
tsize_t tiff_write(thandle_t h, tdata_t from, tsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->out) return 0;
    if (m->out->size() < m->at + static_cast<size_t>(n)) m->out->resize(m->at + static_cast<size_t>(n));
    std::memcpy(m->out->data() + m->at, from, static_cast<size_t>(n));
    m->at += static_cast<toff_t>(n);
    return n;
}
toff_t tiff_size(thandle_t h) {
    auto* m = static_cast<Memory*>(h);
    return m->out ? m->out->size() : m->in.size();
}
toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    const toff_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? tiff_size(h) : 0;
    m->at = base + offset;
    return m->at;
}
int tiff_close(thandle_t) { return 0; }
int tiff_map(thandle_t, tdata_t*, toff_t*) { return 0; }
void tiff_unmap(thandle_t, tdata_t, toff_t) {}

void tiff_quiet(const char*, const char*, va_list) {}

bool decode_tiff(std::string_view bytes, Target& out) {
    TIFFSetErrorHandler(tiff_quiet);
    TIFFSetWarningHandler(tiff_quiet);
    Memory m{bytes, nullptr};
    TIFF* tiff = TIFFClientOpen("memory", "rm", &m, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map,
                                tiff_unmap);
    if (!tiff) return false;
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    const bool has_photometric = TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    uint32_t* data = allocate(out, width, height);
    bool ok = data != nullptr;
    // 8-bit RGB or RGB with straight alpha, the form we write, is read as it is: the general reader
    // premultiplies straight alpha, which loses the colour of transparent pixels.
    const bool plain = has_photometric && photometric == PHOTOMETRIC_RGB && bits == 8 &&
                       planar == PLANARCONFIG_CONTIG &&
                       (samples == 3 || (samples == 4 && extra_count == 1 && extra[0] == EXTRASAMPLE_UNASSALPHA));
    if (ok && plain && static_cast<size_t>(TIFFScanlineSize(tiff)) == size_t{width} * samples) {
        std::vector<uint8_t> row(size_t{width} * samples);
        for (uint32_t y = 0; ok && y < height; ++y) {
            ok = TIFFReadScanline(tiff, row.data(), y, 0) == 1;
            for (uint32_t x = 0; ok && x < width; ++x) {
                const uint8_t* p = row.data() + size_t{x} * samples;
                const uint32_t a = samples == 4 ? p[3] : 0xFF;
                data[size_t{y} * width + x] = a << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
            }
        }
    } else if (ok) {
        // ABGR in each 32-bit word (R in the low byte), top row first.
        ok = TIFFReadRGBAImageOriented(tiff, width, height, data, ORIENTATION_TOPLEFT, 0) != 0;
        for (size_t i = 0, n = size_t{width} * height; i < n; ++i) {
            const uint32_t p = data[i];
            data[i] = (p & 0xFF00FF00) | (p & 0xFF) << 16 | (p >> 16 & 0xFF);
        }
    }
    TIFFClose(tiff);
    return ok;
}

bool encode_tiff(uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    TIFFSetErrorHandler(tiff_quiet);
    TIFFSetWarningHandler(tiff_quiet);
    out.clear();
    Memory m{{}, &out};
    TIFF* tiff = TIFFClientOpen("memory", "w", &m, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map,
                                tiff_unmap);
    if (!tiff) return false;
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> row(size_t{width} * 4);
    bool ok = true;
    for (uint32_t y = 0; ok && y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t p = pixels[size_t{y} * width + x];
            row[x * 4] = static_cast<uint8_t>(p >> 16);
            row[x * 4 + 1] = static_cast<uint8_t>(p >> 8);
            row[x * 4 + 2] = static_cast<uint8_t>(p);
            row[x * 4 + 3] = static_cast<uint8_t>(p >> 24);
        }
        ok = TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
    }
    TIFFClose(tiff);
    return ok;
}

// ---- BMP -----------------------------------------------------------------------------------------

uint32_t le(std::string_view b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return v;
}

void put_le(std::string& out, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

// The shift and width of a channel mask, for masked 16- and 32-bit pixels.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    uint32_t of(uint32_t p) const {
        if (!mask) return 0;
        const uint32_t v = (p & mask) >> shift;
        return bits >= 8 ? v >> (bits - 8) : bits ? v * 255 / ((1u << bits) - 1) : 0;
    }
};
Channel channel(uint32_t mask) {
    Channel c{mask};
    if (!mask) return c;
    while (!(mask >> c.shift & 1)) ++c.shift;
    while (c.shift + c.bits < 32 && (mask >> (c.shift + c.bits) & 1)) ++c.bits;
    return c;
}

// Uncompressed BMP of 1, 4, 8, 16, 24 or 32 bits per pixel, bottom-up or top-down.
bool decode_bmp(std::string_view b, Target& out) {
    if (b.size() < 26) return false;
    const uint32_t data_at = le(b, 10, 4), header = le(b, 14, 4);
    if (header < 40 || 14 + size_t{header} > b.size()) return false;
    const auto width = static_cast<int32_t>(le(b, 18, 4)), raw_height = static_cast<int32_t>(le(b, 22, 4));
    const uint32_t bits = le(b, 28, 2), compression = le(b, 30, 4);
    uint32_t colours = le(b, 46, 4);
    const bool top_down = raw_height < 0;
    const int64_t height = top_down ? -int64_t{raw_height} : raw_height;
    if (width <= 0 || !fits(static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return false;
    const bool masked = compression == 3 || compression == 6;
    if (compression != 0 && !(masked && (bits == 16 || bits == 32))) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    Channel r, g, bl, a;
    if (masked) {
        // The masks follow a 40-byte header, or are part of a larger one.
        if (14 + size_t{40} + 16 > b.size()) return false;
        r = channel(le(b, 54, 4)), g = channel(le(b, 58, 4)), bl = channel(le(b, 62, 4));
        if (header >= 56 || compression == 6) a = channel(le(b, 66, 4));
    } else if (bits == 16) {
        r = channel(0x7C00), g = channel(0x03E0), bl = channel(0x001F);
    }
    std::vector<uint32_t> palette;
    if (bits <= 8) {
        if (colours == 0 || colours > (1u << bits)) colours = 1u << bits;
        const size_t at = 14 + size_t{header};
        if (at + size_t{colours} * 4 > b.size()) return false;
        for (uint32_t i = 0; i < colours; ++i) palette.push_back(0xFF000000 | (le(b, at + i * 4, 4) & 0xFFFFFF));
    }
    const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
    if (data_at > b.size() || stride * static_cast<size_t>(height) > b.size() - data_at) return false;
    uint32_t* data = allocate(out, static_cast<uint64_t>(width), static_cast<uint64_t>(height));
    if (!data) return false;
    bool any_alpha = false;
    for (int64_t row = 0; row < height; ++row) {
        const size_t line = data_at + stride * static_cast<size_t>(top_down ? row : height - 1 - row);
        uint32_t* to = data + static_cast<size_t>(row) * static_cast<size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            uint32_t p;
            if (bits <= 8) {
                const size_t bit = size_t(x) * bits;
                const uint32_t byte = static_cast<uint8_t>(b[line + bit / 8]);
                const uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                p = index < palette.size() ? palette[index] : 0xFF000000;
            } else if (bits == 24) {
                p = 0xFF000000 | le(b, line + size_t(x) * 3, 3);
            } else if (bits == 32 && !masked) {
                p = le(b, line + size_t(x) * 4, 4);
                any_alpha |= (p >> 24) != 0;
            } else {
                const uint32_t v = le(b, line + size_t(x) * (bits / 8), static_cast<int>(bits / 8));
                const uint32_t alpha = a.mask ? a.of(v) : 255;
                p = alpha << 24 | r.of(v) << 16 | g.of(v) << 8 | bl.of(v);
            }
            to[x] = p;
        }
    }
    // Plain 32-bit files mostly leave the fourth byte zero: then it is no alpha.
    if (bits == 32 && !masked && !any_alpha)
        for (size_t i = 0, n = size_t(width) * static_cast<size_t>(height); i < n; ++i) data[i] |= 0xFF000000;
    return true;
}

// 32 bits per pixel, bottom-up, with a header that names the alpha mask so alpha survives.
bool encode_bmp(uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    constexpr uint32_t kHeader = 108;  // carries the channel masks
    const uint64_t data = uint64_t{width} * height * 4;
    if (data + 14 + kHeader > 0xFFFFFFFF) return false;
    out.clear();
    out.reserve(static_cast<size_t>(data) + 14 + kHeader);
    out += "BM";
    put_le(out, static_cast<uint32_t>(data) + 14 + kHeader, 4);
    put_le(out, 0, 4);
    put_le(out, 14 + kHeader, 4);
    put_le(out, kHeader, 4);
    put_le(out, width, 4);
    put_le(out, height, 4);
    put_le(out, 1, 2);
    put_le(out, 32, 2);
    put_le(out, 3, 4);  // bit fields
    put_le(out, static_cast<uint32_t>(data), 4);
    put_le(out, 2835, 4);  // 72 dots per inch
    put_le(out, 2835, 4);
    put_le(out, 0, 4);
    put_le(out, 0, 4);
    put_le(out, 0x00FF0000, 4);
    put_le(out, 0x0000FF00, 4);
    put_le(out, 0x000000FF, 4);
    put_le(out, 0xFF000000, 4);
    put_le(out, 0x73524742, 4);      // "sRGB"
    out.append(kHeader - 60, '\0');  // the colour space's end points and gamma
    for (uint32_t row = height; row-- > 0;)
        for (uint32_t x = 0; x < width; ++x) put_le(out, pixels[size_t{row} * width + x], 4);
    return true;
}

}  // namespace

Format format_of(std::string_view bytes) {
    if (starts_with(bytes, "\x89PNG")) return Format::png;
    if (starts_with(bytes, "\xFF\xD8\xFF")) return Format::jpeg;
    if (starts_with(bytes, "BM")) return Format::bmp;
    if (starts_with(bytes, "GIF87a") || starts_with(bytes, "GIF89a")) return Format::gif;
    if (starts_with(bytes, std::string_view("II*\0", 4)) || starts_with(bytes, std::string_view("MM\0*", 4)))
        return Format::tiff;
    return Format::unknown;
}

bool decode(std::string_view bytes, Target& out) {
    switch (format_of(bytes)) {
        case Format::png: return decode_png(bytes, out);
        case Format::jpeg: return decode_jpeg(bytes, out);
        case Format::bmp: return decode_bmp(bytes, out);
        case Format::gif: return decode_gif(bytes, out);
        case Format::tiff: return decode_tiff(bytes, out);
        case Format::unknown: return false;
    }
    return false;
}

bool encode(Format format, uint32_t width, uint32_t height, const uint32_t* pixels, std::string& out) {
    if (!fits(width, height)) return false;
    switch (format) {
        case Format::png: return encode_png(width, height, pixels, out);
        case Format::jpeg: return encode_jpeg(width, height, pixels, out);
        case Format::bmp: return encode_bmp(width, height, pixels, out);
        case Format::gif: return encode_gif(width, height, pixels, out);
        case Format::tiff: return encode_tiff(width, height, pixels, out);
        case Format::unknown: return false;
    }
    return false;
}

}  // namespace zub::image_codecs
