// compress and decompress: the DEFLATE codec of system/ in its three framings, chosen by a
// method word. The output binary is made at a first guess of its size; a codec that reports the
// size it needed gets one more call with exactly that.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/gzip.h"

namespace zub::natives {
namespace {

using native_args::Args;
using Codec = deflate::Status (*)(uint8_t*, size_t&, const uint8_t*, size_t);

// A binary's length is a signed 32-bit count.
constexpr size_t kMaxBinary = std::numeric_limits<int32_t>::max();

enum class Method { zlib, deflate, gzip };

// Raw DEFLATE ignores what follows its final block.
deflate::Status raw_inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    return deflate::inflate(out, size, in, length);
}

// The method word, compared case-insensitively; any other word is invalid-arg.
Method method_of(const Cell& word) {
    const symbol::Id s = symbol::resolve(word::symbol_of(word));
    if (s == symbol::resolve(words::id(words::Word::zlib))) return Method::zlib;
    if (s == symbol::resolve(words::id(words::Word::deflate))) return Method::deflate;
    if (s == symbol::resolve(words::id(words::Word::gzip))) return Method::gzip;
    error::fire(ErrorId::invalid_arg, word);
}

// Where the input bytes are: a binary's own buffer (re-read after every allocation, since the
// collector may move it) or a string's UTF-8, kept aside.
struct Input {
    Cell value;
    std::string utf8;
    bool text;

    const uint8_t* data() const {
        return text ? reinterpret_cast<const uint8_t*>(utf8.data())
                    : reinterpret_cast<const uint8_t*>(binary::bytes_of(value).data());
    }
    size_t size() const { return text ? utf8.size() : binary::bytes_of(value).size(); }
};

Input input_of(const Cell& value) {
    Input in{value, {}, !cell::is(value, TypeId::binary)};
    if (in.text) {
        const NodeId node = cell::series_node(value);
        const uint32_t length = series::length(node);
        for (uint32_t i = std::min(cell::series_index(value), length); i < length; ++i) {
            std::byte utf8[4];
            const uint32_t n = unicode::encode_utf8(string::char_at(node, i), utf8);
            in.utf8.append(reinterpret_cast<const char*>(utf8), n);
        }
    }
    return in;
}

// Runs the codec into a new binary of `capacity` bytes, and once more at the size it asks for.
// Every other failure is invalid-data, naming the method. May collect.
Cell run(Codec codec, const Input& in, size_t capacity, const Cell& method) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (capacity > kMaxBinary) error::fire(ErrorId::too_long);
        const Cell result = binary::make(static_cast<uint32_t>(capacity));
        SeriesBuffer* b = memory::buffer(cell::series_node(result));
        size_t size = capacity;
        const deflate::Status status = codec(reinterpret_cast<uint8_t*>(b->tail_ptr()), size, in.data(), in.size());
        if (status == deflate::Status::ok) {
            b->tail += static_cast<uint32_t>(size);
            return result;
        }
        if (status != deflate::Status::too_small) break;
        capacity = size;
    }
    error::fire(ErrorId::invalid_data, method);
}

Status compress(const int32_t* refinements) {
    const Args<Native::compress> args(refinements);
    const Method method = method_of(args[1]);
    const Input in = input_of(args[0]);
    const Codec codec = method == Method::zlib      ? deflate::zlib_deflate
                        : method == Method::deflate ? deflate::compress
                                                    : deflate::gzip;
    // Room for incompressible input in stored blocks and the framing.
    const size_t n = in.size();
    return args.done(run(codec, in, n + n / 2048 + 32, args[1]));
}

Status decompress(const int32_t* refinements) {
    const Args<Native::decompress> args(refinements);
    const Method method = method_of(args[1]);
    const Input in = input_of(args[0]);
    const size_t n = in.size();
    // A given size is only a first guess; a negative one counts as none, and one that no stream
    // of this length could produce is not worth allocating.
    size_t capacity = 0;
    if (const Cell* size = args.arg<"size">()) capacity = static_cast<size_t>(std::max(cell::as_integer(*size), 0));
    capacity = static_cast<size_t>(std::min<uint64_t>(capacity, deflate::max_inflated(n)));
    if (method == Method::gzip) {
        // The member's stored length, when it is believable, is the size.
        const int64_t stored = deflate::gzip_stored_size(in.data(), n);
        if (stored >= 0 && capacity == 0) capacity = static_cast<size_t>(stored);
        return args.done(run(deflate::gunzip, in, capacity, args[1]));
    }
    const Codec codec = method == Method::zlib ? deflate::zlib_inflate : raw_inflate;
    if (capacity <= n) {
        // Measure first: a pass that stores nothing costs less than a second full one.
        size_t needed = 0;
        const deflate::Status status = codec(nullptr, needed, in.data(), n);
        if (status != deflate::Status::ok && status != deflate::Status::too_small)
            error::fire(ErrorId::invalid_data, args[1]);
        capacity = needed;
    }
    return args.done(run(codec, in, capacity, args[1]));
}

}  // namespace

Status compress_entry(const int32_t* r) { return compress(r); }
Status decompress_entry(const int32_t* r) { return decompress(r); }

}  // namespace zub::natives
