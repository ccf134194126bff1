// The routines behind the image codecs: one encoder per format and one decoder for every format,
// bound by name when the codec objects are built.
#include <cstdio>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "environment/routines.h"
#include "evaluator/native_args.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zub::routines {
namespace {

using native_args::Args;
using native_args::Plain;

template <int32_t format>
Status encode_image(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(image::encode(args[0], format));
}

// The whole file, or false when it cannot be read.
bool read_whole(const char* path, std::string& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    // Sized from the end once, then read in one piece (a file that grows meanwhile is read on).
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0) out.reserve(static_cast<size_t>(size));
        std::rewind(f);
    }
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// A binary! is decoded from its bytes (none for data of no known format); a file! is read first,
// and one that cannot be read, or holds no image, is access cannot-open.
Status decode_image(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell data = args[0];
    if (cell::is(data, TypeId::binary)) return args.done(image::load_binary(binary::bytes_of(data)));
    if (!cell::is(data, TypeId::file)) error::fire(ErrorId::invalid_arg, data);
    Cell name = data;
    const unicode::Converted path = unicode::string_to_utf8(name);
    std::string bytes;
    if (!read_whole(reinterpret_cast<const char*>(path.data), bytes) || !image::known_format(bytes))
        error::fire(ErrorId::cannot_open, data);
    return args.done(image::load_binary(bytes));
}

}  // namespace

void register_image_routines() {
    (void)function::add_routine("image-encode-bmp", encode_image<0>);
    (void)function::add_routine("image-encode-png", encode_image<1>);
    (void)function::add_routine("image-encode-gif", encode_image<2>);
    (void)function::add_routine("image-encode-jpeg", encode_image<3>);
    (void)function::add_routine("image-encode-tiff", encode_image<4>);
    (void)function::add_routine("image-decode", decode_image);
}

}  // namespace zub::routines
