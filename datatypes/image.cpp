// image!: make, to, the text form, pixel access by index and by coordinate, the size and plane
// fields, navigation, comparison, change and copy of rectangles. Decoding and encoding are the
// image codecs' (system/image_codecs.h); this file turns their pixel arrays into values.
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/mold.h"
#include "datatypes/pair.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"
#include "system/image_codecs.h"

namespace zub {
namespace image {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

inline uint32_t size_word(uint32_t w, uint32_t h) { return h << 16 | w; }

}  // namespace

Cell pixel_tuple(uint32_t pixel) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8),
                              static_cast<uint8_t>(pixel), static_cast<uint8_t>(255 - (pixel >> 24))};
    return tuple::make(bytes, 4);
}

uint32_t tuple_pixel(const Cell& value) {
    uint8_t b[tuple::kMaxBytes];
    tuple::bytes(value, b);
    const uint32_t opacity = tuple::count(value) >= 4 ? 255u - b[3] : 255u;
    return opacity << 24 | uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
}

namespace {

// A new image whose pixels are left for the caller to write.
Cell make_unfilled(int64_t w, int64_t h) {
    if (w > kMaxSide || h > kMaxSide)
        error::fire(ErrorId::out_of_range, pair::make(static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX)),
                                                      static_cast<int32_t>(std::min<int64_t>(h, INT32_MAX))));
    const auto width = static_cast<uint32_t>(std::max<int64_t>(w, 0));
    const auto height = static_cast<uint32_t>(std::max<int64_t>(h, 0));
    const uint64_t count = uint64_t{width} * height;
    if (count * 4 > 0x7FFFFFFF) error::fire(ErrorId::no_memory);
    const NodeId node = memory::alloc_series(static_cast<uint32_t>(std::max<uint64_t>(count, 1)), 4, 0);
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head + static_cast<uint32_t>(count * 4);
    return cell::make(TypeId::image, 0, node, size_word(width, height));
}

// Decoded pixels go straight into a new image, which the decoder asks for once it knows the size.
struct ImageTarget final : image_codecs::Target {
    Cell value = cell::none();
    uint32_t* pixels(uint32_t w, uint32_t h) override {
        value = make_unfilled(w, h);
        return image::pixels(value);
    }
};

}  // namespace

Cell make(int64_t w, int64_t h) {
    const Cell value = make_unfilled(w, h);
    std::fill_n(pixels(value), pixel_count(value), kOpaqueWhite);
    return value;
}

Cell from_pixels(uint32_t w, uint32_t h, const void* source) {
    const Cell value = make_unfilled(w, h);
    if (w && h) std::memcpy(pixels(value), source, size_t{w} * h * 4);
    return value;
}

uint32_t* pixels(const Cell& value) {
    return reinterpret_cast<uint32_t*>(memory::buffer(cell::series_node(value))->head_ptr());
}

Cell resized(Cell value, uint32_t w, uint32_t h) {
    const uint32_t sw = width(value), sh = height(value);
    if (sw == 0 || sh == 0) return make(w, h);
    const Cell out = make_unfilled(w, h);
    const uint32_t* from = pixels(value);  // read after the allocation
    uint32_t* to = pixels(out);
    for (uint32_t y = 0; y < h; ++y) {
        const size_t row = size_t(uint64_t{y} * sh / h) * sw;
        for (uint32_t x = 0; x < w; ++x) to[size_t{y} * w + x] = from[row + uint64_t{x} * sw / w];
    }
    return out;
}

Cell flipped_vertical(Cell value) {
    const uint32_t w = width(value), h = height(value);
    const Cell out = make_unfilled(w, h);
    for (uint32_t y = 0; y < h; ++y)
        std::memcpy(pixels(out) + size_t{y} * w, pixels(value) + size_t{h - 1 - y} * w, size_t{w} * 4);
    return out;
}

bool known_format(std::string_view bytes) { return image_codecs::format_of(bytes) != image_codecs::Format::unknown; }

Cell load_binary(std::string_view bytes) {
    if (!known_format(bytes)) return cell::none();
    // The bytes may lie in a binary!: making the image allocates a new series but moves none.
    ImageTarget target;
    if (!image_codecs::decode(bytes, target)) error::fire(ErrorId::bad_media);
    return target.value;
}

Cell encode(Cell value, int32_t format) {
    if (pixel_count(value) == 0) error::fire(ErrorId::bad_media);
    if (format < 0 || format > 4) error::fire(ErrorId::invalid_arg, cell::integer(format));
    // The encoder allocates nothing in the collected heap, so the pixels stay where they are.
    std::string out;
    if (!image_codecs::encode(static_cast<image_codecs::Format>(format), width(value), height(value), pixels(value),
                              out))
        error::fire(ErrorId::bad_media);
    return binary::from_bytes(out);
}

Cell (*g_face_capture)(Cell) = nullptr;

}  // namespace image

namespace {

using image::height;
using image::pixel_count;
using image::pixels;
using image::width;

int64_t head_of(const Cell& value) { return series_value::raw_head(value); }
void set_head(Cell& value, int64_t head) { value.w1 = static_cast<uint32_t>(head); }

void notify(const Cell& value, words::Word action, int64_t index, int64_t part) {
    series_value::notify_owner(value, action, index, part);
}

// The pixel index a position names: an integer n counts from the head (n >= 1: head + n - 1,
// else head + n), a pair x by y from the top-left pixel past the head. -1 for any other value.
int64_t pixel_index(const Cell& value, const Cell& position) {
    if (cell::is(position, TypeId::integer)) {
        const int64_t n = cell::as_integer(position);
        return head_of(value) + (n >= 1 ? n - 1 : n);
    }
    if (cell::is(position, TypeId::pair))
        return head_of(value) + (int64_t{pair::y(position)} - 1) * width(value) + pair::x(position) - 1;
    return -1;
}

bool inside(const Cell& value, int64_t index) { return index >= 0 && index < int64_t{pixel_count(value)}; }

Cell pick_at(const Cell& value, const Cell& position) {
    const int64_t i = pixel_index(value, position);
    return inside(value, i) ? image::pixel_tuple(pixels(value)[i]) : cell::none();
}

Cell poke_at(const Cell& value, const Cell& position, const Cell& tuple) {
    if (!cell::is(tuple, TypeId::tuple)) error::fire(ErrorId::invalid_arg, tuple);
    int64_t i = pixel_index(value, position);
    if (!inside(value, i)) error::fire(ErrorId::out_of_range, position);
    notify(value, words::Word::poke, i, 1);
    i = pixel_index(value, position);
    if (!inside(value, i)) error::fire(ErrorId::out_of_range, position);
    pixels(value)[i] = image::tuple_pixel(tuple);
    notify(value, words::Word::poked, i, 1);
    return tuple;
}

// ---- planes ---------------------------------------------------------------------------------------

enum Plane { kAlpha = 0, kRgb = 1, kArgb = 2 };

Cell extract_bytes(const Cell& value, Plane kind) {
    const uint32_t n = pixel_count(value);
    const uint32_t per = kind == kAlpha ? 1 : kind == kRgb ? 3 : 4;
    const Cell out = binary::make(n * per);
    SeriesBuffer* b = memory::buffer(cell::series_node(out));
    auto* to = reinterpret_cast<uint8_t*>(b->tail_ptr());
    const uint32_t* from = pixels(value);  // read after the allocation
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t p = from[i];
        switch (kind) {
            case kAlpha: *to++ = static_cast<uint8_t>(255 - (p >> 24)); break;
            case kRgb:
                *to++ = static_cast<uint8_t>(p >> 16);
                *to++ = static_cast<uint8_t>(p >> 8);
                *to++ = static_cast<uint8_t>(p);
                break;
            case kArgb: std::memcpy(to, &p, 4), to += 4; break;
        }
    }
    b->tail += n * per;
    return out;
}

void set_bytes(const Cell& value, const Cell& source, Plane kind) {
    const uint32_t n = pixel_count(value);
    if (cell::is(source, TypeId::binary)) {
        notify(value, words::Word::change, 0, n);
        const std::string_view bytes = binary::bytes_of(source);
        uint32_t* p = pixels(value);
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        switch (kind) {
            case kArgb: std::memcpy(p, in, std::min<size_t>(bytes.size(), size_t{n} * 4)); break;
            case kRgb:
                for (uint32_t i = 0; i < n && size_t{i} * 3 + 3 <= bytes.size(); ++i, in += 3)
                    p[i] = (p[i] & 0xFF000000) | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
                break;
            case kAlpha:
                for (uint32_t i = 0; i < n && i < bytes.size(); ++i)
                    p[i] = (p[i] & 0x00FFFFFF) | uint32_t(255 - in[i]) << 24;
                break;
        }
    } else if (cell::is(source, TypeId::tuple) || cell::is(source, TypeId::integer)) {
        notify(value, words::Word::change, 0, n);
        uint32_t* p = pixels(value);
        if (kind == kAlpha) {
            const uint32_t t = cell::is(source, TypeId::integer)
                                   ? static_cast<uint32_t>(cell::as_integer(source)) & 0xFF
                                   : (255 - (image::tuple_pixel(source) >> 24));
            for (uint32_t i = 0; i < n; ++i) p[i] = (p[i] & 0x00FFFFFF) | (255 - t) << 24;
        } else {
            const uint32_t colour = cell::is(source, TypeId::integer)
                                        ? static_cast<uint32_t>(cell::as_integer(source)) & 0xFFFFFF
                                        : image::tuple_pixel(source) & 0xFFFFFF;
            for (uint32_t i = 0; i < n; ++i) p[i] = (p[i] & 0xFF000000) | colour;
        }
    } else {
        error::fire(ErrorId::invalid_arg, source);
    }
    notify(value, words::Word::changed, 0, n);
}

// A new image from a fill colour, or from RGB bytes and alpha bytes (as transparency); white and
// opaque where they run out.
Cell make_bitmap(const Cell& size, const Cell* fill, const Cell* rgb, const Cell* alpha) {
    const Cell value = image::make(pair::x(size), pair::y(size));
    const uint32_t n = pixel_count(value);
    uint32_t* p = pixels(value);
    if (fill) {
        std::fill_n(p, n, image::tuple_pixel(*fill));
        return value;
    }
    if (rgb) {
        const std::string_view bytes = binary::bytes_of(*rgb);
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        const size_t whole = bytes.size() / 3;
        for (uint32_t i = 0; i < n && i < whole; ++i, in += 3)
            p[i] = 0xFF000000 | uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
    }
    if (alpha) {
        const std::string_view bytes = binary::bytes_of(*alpha);
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        for (uint32_t i = 0; i < n && i < bytes.size(); ++i) p[i] = (p[i] & 0x00FFFFFF) | uint32_t(255 - in[i]) << 24;
    }
    return value;
}

// ---- rectangles ------------------------------------------------------------------------------------

// A new image of the rectangle at column x, row y, cut to the source.
Cell copy_region(const Cell& value, int64_t x, int64_t y, int64_t w, int64_t h) {
    const int64_t sw = width(value), sh = height(value);
    if (x < 0 || y < 0 || x >= sw || y >= sh) return image::make(0, 0);
    w = std::clamp<int64_t>(w, 0, sw - x);
    h = std::clamp<int64_t>(h, 0, sh - y);
    const Cell out = image::make(w, h);
    const uint32_t* from = pixels(value);
    uint32_t* to = pixels(out);
    for (int64_t row = 0; row < h; ++row) std::memcpy(to + row * w, from + (y + row) * sw + x, size_t(w) * 4);
    return out;
}

// Copies a source image into the target with its top-left corner at column x, row y, cut to
// both images.
void blit(const Cell& target, const Cell& source, int64_t x, int64_t y) {
    const int64_t tw = width(target), th = height(target), sw = width(source), sh = height(source);
    const int64_t w = std::min(sw, tw - x), h = std::min(sh, th - y);
    if (w <= 0 || h <= 0) return;
    // The same node may be both: rows are moved, not copied.
    for (int64_t row = 0; row < h; ++row)
        std::memmove(pixels(target) + (y + row) * tw + x, pixels(source) + row * sw, size_t(w) * 4);
}

// ---- actions --------------------------------------------------------------------------------------

Cell image_to(TypeId, Cell, Cell spec);

Cell image_make(TypeId type, Cell proto, Cell spec) {
    if (cell::is(spec, TypeId::pair)) return image::make(pair::x(spec), pair::y(spec));
    if (!cell::is(spec, TypeId::block)) return image_to(type, proto, spec);
    const NodeId node = cell::series_node(spec);
    const uint32_t at = cell::series_index(spec), end = series_value::buffer_length(spec);
    if (at >= end) {
        if (cell::is(proto, TypeId::image)) return image_to(type, proto, proto);
        error::fire(ErrorId::invalid_arg, spec);
    }
    auto item = [&](uint32_t k) { return memory::buffer(node)->cells()[at + k]; };
    const Cell size = item(0);
    if (!cell::is(size, TypeId::pair)) error::fire(ErrorId::invalid_arg, size);
    const uint32_t count = end - at;
    const Cell second = count > 1 ? item(1) : cell::none();
    const Cell third = count > 2 ? item(2) : cell::none();
    if (count > 1 && !cell::is(second, TypeId::binary) && !cell::is(second, TypeId::tuple))
        error::fire(ErrorId::invalid_arg, second);
    if (count > 2 && !cell::is(third, TypeId::binary)) error::fire(ErrorId::invalid_arg, third);
    const bool fill = cell::is(second, TypeId::tuple);
    return make_bitmap(size, fill ? &second : nullptr, count > 1 && !fill ? &second : nullptr,
                       count > 2 ? &third : nullptr);
}

Cell image_to(TypeId, Cell, Cell spec) {
    if (cell::is(spec, TypeId::image)) return copy_region(spec, 0, 0, width(spec), height(spec));
    // A face is captured by the GUI library, when it is there and the face is shown.
    if (cell::is(spec, TypeId::object) && image::g_face_capture) {
        const Cell captured = image::g_face_capture(spec);
        if (cell::is(captured, TypeId::image)) return captured;
    }
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::image), spec);
}

void hex_pixel(uint32_t p, char* out) {
    string::byte_to_hex(static_cast<uint8_t>(p >> 16), out);
    string::byte_to_hex(static_cast<uint8_t>(p >> 8), out + 2);
    string::byte_to_hex(static_cast<uint8_t>(p), out + 4);
}

constexpr uint32_t kPixelsPerLine = 10;
constexpr uint32_t kOneLine = 30;  // pixels filling more bytes than this begin on a line of their own

int32_t image_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    if (!flags.only) limit = mold::emit(out, "make image! [", limit);
    const uint32_t w = width(value), h = height(value);
    limit = mold::emit(out, std::to_string(w) + "x" + std::to_string(h), limit);
    const uint32_t total = pixel_count(value);
    const auto head = static_cast<uint32_t>(std::min<int64_t>(head_of(value), total));
    const uint32_t count = total - head;
    if (total == 0) {
        limit = mold::emit(out, " #{}", limit);
        return flags.only ? limit : mold::emit(out, "]", limit);
    }
    const bool lines = count * 4 > kOneLine && !flags.flat;
    limit = mold::emit(out, " #{", limit);
    if (lines) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, flags.indent + 1, limit);
    }
    bool transparent = false;
    for (uint32_t i = 0; i < count; ++i) {
        if (limit <= 0) return limit;
        const uint32_t p = pixels(value)[head + i];  // emitting may move the pixels
        transparent |= (p >> 24) != 0xFF;
        char digits[6];
        hex_pixel(p, digits);
        limit = mold::emit(out, {digits, 6}, limit);
        if ((i + 1) % kPixelsPerLine == 0 && !flags.flat) {
            limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, flags.indent + 1, limit);
        }
    }
    if (lines && count % kPixelsPerLine != 0) {
        limit = mold::emit(out, "\n", limit);
        limit = mold::indent(out, flags.indent, limit);
    }
    limit = mold::emit(out, "}", limit);
    if (transparent) {
        limit = mold::emit(out, " #{", limit);
        if (!flags.flat) {
            limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, flags.indent + 1, limit);
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (limit <= 0) return limit;
            char digits[2];
            string::byte_to_hex(static_cast<uint8_t>(255 - (pixels(value)[head + i] >> 24)), digits);
            limit = mold::emit(out, {digits, 2}, limit);
            if ((i + 1) % kPixelsPerLine == 0 && i + 1 < count && !flags.flat) {
                limit = mold::emit(out, "\n", limit);
                limit = mold::indent(out, flags.indent + 1, limit);
            }
        }
        if (!flags.flat) {
            limit = mold::emit(out, "\n", limit);
            limit = mold::indent(out, flags.indent, limit);
        }
        limit = mold::emit(out, "}", limit);
    }
    return flags.only ? limit : mold::emit(out, "]", limit);
}

int32_t image_form(Cell value, NodeId out, int32_t limit) { return image_mold(value, out, MoldFlags{}, limit); }

int32_t image_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::image)) return kNotComparable;
    const bool same = a.w2 == b.w2 && head_of(a) == head_of(b);
    if (op == op_same) return same ? 0 : -1;
    if (!unordered_op(op)) return kNotComparable;
    if (same) return 0;
    const uint32_t n = pixel_count(a), m = pixel_count(b);
    if (n != m) return n < m ? -1 : 1;
    const int c = std::memcmp(pixels(a), pixels(b), size_t{n} * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool word_is(const Cell& element, words::Word w) {
    return cell::is(element, TypeId::word) &&
           symbol::resolve(word::symbol_of(element)) == symbol::resolve(words::id(w));
}

Cell image_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (cell::is(element, TypeId::integer) || cell::is(element, TypeId::pair)) {
        if (step.set_value) return poke_at(parent, element, *step.set_value);
        return pick_at(parent, element);
    }
    if (word_is(element, words::Word::size)) {
        if (step.set_value) error::fire(ErrorId::invalid_path, step.path, element);
        return pair::make(static_cast<int32_t>(width(parent)), static_cast<int32_t>(height(parent)));
    }
    const Plane kind = word_is(element, words::Word::rgb)     ? kRgb
                       : word_is(element, words::Word::alpha) ? kAlpha
                       : word_is(element, words::Word::argb)  ? kArgb
                                                              : Plane(-1);
    if (kind == Plane(-1)) error::fire(ErrorId::invalid_path, step.path, element);
    if (!step.set_value) return extract_bytes(parent, kind);
    set_bytes(parent, *step.set_value, kind);
    return *step.set_value;
}

Cell image_at(Cell value, Cell position) {
    if (cell::is(position, TypeId::pair)) {
        const int64_t i = pixel_index(value, position);
        set_head(value, std::clamp<int64_t>(i, 0, pixel_count(value)));
        return value;
    }
    set_head(value, series_value::position(value, position, true));
    return value;
}

Cell image_skip(Cell value, Cell offset) {
    if (cell::is(offset, TypeId::pair)) {
        const int64_t i = head_of(value) + int64_t{pair::y(offset)} * width(value) + pair::x(offset);
        set_head(value, std::clamp<int64_t>(i, 0, pixel_count(value)));
        return value;
    }
    set_head(value, series_value::position(value, offset, false));
    return value;
}

Cell image_next(Cell value) {
    if (head_of(value) < pixel_count(value)) set_head(value, head_of(value) + 1);
    return value;
}

Cell image_tail(Cell value) {
    set_head(value, pixel_count(value));
    return value;
}

bool image_tail_q(Cell value) { return head_of(value) >= pixel_count(value); }

int32_t image_length_q(Cell value) { return static_cast<int32_t>(pixel_count(value)); }

Cell image_pick(Cell value, int32_t, Cell index) {
    if (!cell::is(index, TypeId::integer) && !cell::is(index, TypeId::pair)) error::fire(ErrorId::invalid_arg, index);
    return pick_at(value, index);
}

Cell image_poke(Cell value, int32_t, Cell index, Cell tuple) {
    if (!cell::is(index, TypeId::integer) && !cell::is(index, TypeId::pair)) error::fire(ErrorId::invalid_arg, index);
    return poke_at(value, index, tuple);
}

Cell image_change(Cell target, Cell value, const InsertOptions& options) {
    if (options.part >= 0 || options.dup != 1) error::fire(ErrorId::not_done);
    const int64_t head = head_of(target);
    if (cell::is(value, TypeId::tuple)) {
        if (head >= pixel_count(target))
            error::fire(ErrorId::out_of_range, cell::integer(static_cast<int32_t>(head + 1)));
        notify(target, words::Word::change, head, 1);
        if (head < pixel_count(target)) pixels(target)[head] = image::tuple_pixel(value);
        notify(target, words::Word::changed, head, 1);
        set_head(target, head + 1);
        return target;
    }
    if (!cell::is(value, TypeId::image)) error::fire(ErrorId::invalid_arg, value);
    if (head >= pixel_count(target)) return target;
    notify(target, words::Word::change, head, pixel_count(value));
    const uint32_t w = width(target);
    if (w && head < pixel_count(target)) blit(target, value, head % w, head / w);
    notify(target, words::Word::changed, head, pixel_count(value));
    return target;
}

Cell image_copy(Cell value, const CopyOptions& options) {
    const int64_t w = width(value), h = height(value), head = head_of(value);
    if (w == 0 || h == 0) return image::make(0, 0);
    const int64_t x = head % w, y = head / w;
    if (!options.part) {
        if (head == 0) return copy_region(value, 0, 0, w, h);
        return copy_region(value, x, y, w - x, h - y);
    }
    const Cell& part = *options.part;
    if (cell::is(part, TypeId::pair)) {
        const int64_t pw = pair::x(part), ph = pair::y(part);
        if (pw >= 1 && ph >= 1 && head < w * h) return copy_region(value, x, y, pw, ph);
        if (pw < 0 && ph < 0 && head > 0 && head <= w * h) {
            // The rectangle of that size that ends at the head.
            const int64_t x0 = std::max<int64_t>(0, x + pw), y0 = std::max<int64_t>(0, y + ph);
            return copy_region(value, x0, y0, x - x0, y - y0);
        }
        return image::make(0, 0);
    }
    if (cell::is(part, TypeId::image)) {
        if (part.w2 != value.w2) error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::part), part);
        const int64_t a = std::min(head, head_of(part)), b = std::max(head, head_of(part));
        const int64_t x0 = a % w, y0 = a / w, x1 = b % w, y1 = b / w;
        return copy_region(value, std::min(x0, x1), y0, std::abs(x1 - x0), y1 - y0);
    }
    if (cell::is(part, TypeId::integer)) error::fire(ErrorId::not_done);
    error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::part), part);
}

}  // namespace

extern const ActionTable image_actions = {
    .make = image_make,
    .random = unsupported::random,
    .reflect = unsupported::reflect,
    .to = image_to,
    .form = image_form,
    .mold = image_mold,
    .eval_path = image_eval_path,
    .compare = image_compare,
    .append = unsupported::append,
    .at = image_at,
    .change = image_change,
    .clear = unsupported::clear,
    .copy = image_copy,
    .find = unsupported::find,
    .insert = unsupported::insert,
    .length_q = image_length_q,
    .move = unsupported::move,
    .next = image_next,
    .pick = image_pick,
    .poke = image_poke,
    .put = unsupported::put,
    .remove = unsupported::remove,
    .reverse = unsupported::reverse,
    .select = unsupported::select,
    .sort = unsupported::sort,
    .skip = image_skip,
    .swap = unsupported::swap,
    .tail = image_tail,
    .tail_q = image_tail_q,
    .take = unsupported::take,
    .trim = unsupported::trim,
};

extern const type_traits::Traits image_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::none},
    .hash = type_traits::hash_w1_w2,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .key_words = type_traits::kW1 | type_traits::kW2,
    .copies = true,
};

}  // namespace zub
