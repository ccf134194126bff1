// The checksum native: picks a method of system/checksum by word and shapes its answer, an
// integer! for CRC-32, Adler-32 and the Internet checksum, a binary! for a digest or an HMAC.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"
#include "system/checksum.h"
#include "system/platform/whole_file.h"

namespace zub::natives {
namespace {

using checksum::Method;
using native_args::Args;

// The bytes a string! (as UTF-8, from its head) or a binary! (from its head) stands for. Valid
// until the next allocation. The value must live on the stack. May collect.
std::string_view bytes_of(Cell& value) {
    if (cell::is(value, TypeId::binary)) return binary::bytes_of(value);
    const unicode::Converted utf8 = unicode::string_to_utf8(value);
    return {reinterpret_cast<const char*>(utf8.data), utf8.size};
}

[[noreturn]] void refuse_with(const Cell& culprit) {
    error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::with), culprit);
}

// The integer checksums hand back all 32 bits, so a CRC-32 with its top bit set is negative.
Cell checksum_of(Method method, std::string_view bytes) {
    switch (method) {
        case Method::crc32: return cell::integer(static_cast<int32_t>(checksum::crc32(bytes.data(), bytes.size())));
        case Method::adler32: return cell::integer(static_cast<int32_t>(checksum::adler32(bytes.data(), bytes.size())));
        default: return cell::integer(checksum::tcp(bytes.data(), bytes.size()));
    }
}

}  // namespace

// checksum (data method /with spec). Every combination of method and /with is checked before a
// file is read. A hash of a given size is not built: asking for one raises not-done rather than
// answering a number that is not a hash.
Status checksum_entry(const int32_t* refinements) {
    const Args<Native::checksum> args(refinements);
    const Cell method_word = args[1];
    const std::optional<Method> found = checksum::method_named(symbol::utf8(word::symbol_of(method_word)));
    if (!found) error::fire(ErrorId::invalid_arg, method_word);
    const Method method = *found;
    Cell* spec = args.arg<"with">();
    const bool keyed = spec && (cell::is(*spec, TypeId::string) || cell::is(*spec, TypeId::binary));

    if (!checksum::is_digest(method)) {
        if (method != Method::hash) {
            if (spec) refuse_with(method_word);
        } else if (!spec) {
            refuse_with(method_word);
        } else if (keyed) {
            refuse_with(*spec);
        } else if (cell::is(*spec, TypeId::integer)) {
            error::fire(ErrorId::not_done);
        } else {
            error::fire(ErrorId::invalid_arg, *spec);
        }
    } else if (spec && !keyed) {
        if (cell::is(*spec, TypeId::integer)) refuse_with(*spec);
        error::fire(ErrorId::invalid_arg, *spec);
    }

    // The key is copied out first: reading the data as UTF-8 may move the key's bytes.
    std::string key;
    if (keyed) key = bytes_of(*spec);
    std::string file;
    std::string_view data;
    if (cell::is(args[0], TypeId::file)) {
        if (!platform::read_whole_file(bytes_of(args[0]), file)) error::fire(ErrorId::cannot_open, args[0]);
        data = file;
    } else {
        data = bytes_of(args[0]);
    }

    if (!checksum::is_digest(method)) return args.done(checksum_of(method, data));
    uint8_t out[checksum::kMaxDigest];
    const bool ok = keyed ? checksum::hmac(method, data.data(), data.size(), key.data(), key.size(), out)
                          : checksum::digest(method, data.data(), data.size(), out);
    if (!ok) error::fire(ErrorId::feature_na);
    return args.done(
        binary::from_bytes(std::string_view(reinterpret_cast<const char*>(out), checksum::digest_size(method))));
}

}  // namespace zub::natives
