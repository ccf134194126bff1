// Set operations, text and data conversion natives. Each checks its arguments, picks the engine of
// the first argument's type (block!, string!, bitset!, typeset! ...) and shapes the result.
#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zub::natives {
namespace {

using native_args::Args;

// ---- Set operations -----------------------------------------------------------------------------

bool block_or_hash(TypeId t) { return t == TypeId::block || t == TypeId::hash; }

// union, intersect, unique, difference and exclude: (set1 [set2] /case /skip size).
template <Native native, int32_t op>
Status set_operation(const int32_t* refinements) {
    const Args<native> args(refinements);
    const Cell a = args[0];
    const bool two = op != block::set_unique;
    const Cell b = two ? args[1] : cell::none();
    const bool case_sensitive = args.template has<"case">();
    const Cell* skip = args.template arg<"skip">();
    const TypeId ta = cell::type(a);
    if (two) {
        const TypeId tb = cell::type(b);
        if (ta != tb && !(block_or_hash(ta) && block_or_hash(tb)))
            error::fire(ErrorId::expect_val, cell::datatype_of(b), cell::datatype_of(a));
    }
    switch (ta) {
        case TypeId::block:
        case TypeId::hash: return args.done(block::set_operation(op, a, two ? &b : nullptr, case_sensitive, skip));
        case TypeId::string: {
            const int32_t n = skip ? part_skip::skip(*skip) : 1;
            return args.done(string::set_operation(static_cast<string::SetOp>(op), a, b, case_sensitive, n));
        }
        case TypeId::bitset:
            if (two) return args.done(bitset::combine(a, b, op));
            break;
        case TypeId::typeset:
            if (two) return args.done(typeset::combine(a, b, op));
            break;
        case TypeId::date:
            if (op == block::set_difference) return args.done(date::difference(a, b));
            break;
        default: break;
    }
    raise_arg(native, 0, a);
}

// ---- Case ---------------------------------------------------------------------------------------

// uppercase and lowercase (string /part limit): in place, the value back. A /part count or
// position limits the characters mapped; a negative count maps those just before the position.
template <Native native, bool upper>
Status change_case(const int32_t* refinements) {
    const Args<native> args(refinements);
    const Cell value = args[0];
    if (cell::is(value, TypeId::char_))
        return args.done(cell::character(unicode::change_char_case(cell::as_char(value), upper)));
    if (!string::is_text(cell::type(value))) raise_arg(native, 0, value);

    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(value), length);
    int64_t start = head, count = length - head;
    if (const Cell* part = args.template arg<"part">()) {
        const Cell& limit = *part;
        const TypeId t = cell::type(limit);
        const int64_t k = t == TypeId::integer || t == TypeId::float_ || t == TypeId::percent
                              ? cell::to_int32_checked(limit)
                              : part_skip::length(value, limit);
        if (k < 0) {
            start = head - std::min<int64_t>(-k, head);
            count = head - start;
        } else {
            count = std::min<int64_t>(k, count);
        }
    }
    if (count > 0) {
        unicode::change_case(node, static_cast<uint32_t>(start), static_cast<uint32_t>(count), upper);
        series_value::notify_owner(value, upper ? words::Word::uppercase : words::Word::lowercase, start, count);
    }
    return args.done(value);
}

// ---- Base codecs --------------------------------------------------------------------------------

int32_t base_of(const Cell* base_value) {
    if (!base_value) return 64;
    if (!binary::known_base(cell::as_integer(*base_value))) error::fire(ErrorId::invalid_arg, *base_value);
    return cell::as_integer(*base_value);
}

// debase (value /base base-value /url): the decoded bytes, or none when the text is not of the
// base. /url reads base 64 in the URL-safe alphabet.
Status debase(const int32_t* refinements) {
    const Args<Native::debase> args(refinements);
    const Cell value = args[0];
    const int32_t base = base_of(args.arg<"base">());
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(value), length);
    const uint32_t unit = memory::buffer(node)->unit();
    std::string bytes;
    const binary::Text text{memory::buffer(node)->head_ptr() + size_t{head} * unit, unit, length - head};
    if (!binary::decode(base, text, bytes, false, args.has<"url">())) return args.done(cell::none());
    return args.done(binary::from_bytes(bytes));
}

// enbase (value /base base-value /url): a string's UTF-8 or a binary's bytes from its position as
// text. /url writes base 64 in the URL-safe alphabet, unpadded.
Status enbase(const int32_t* refinements) {
    const Args<Native::enbase> args(refinements);
    const Cell value = args[0];
    const int32_t base = base_of(args.arg<"base">());
    std::string bytes;
    if (cell::is(value, TypeId::binary)) {
        bytes = binary::bytes_of(value);
    } else {
        const NodeId node = cell::series_node(value);
        const uint32_t length = series::length(node);
        for (uint32_t i = std::min(cell::series_index(value), length); i < length; ++i) {
            std::byte utf8[4];
            const uint32_t n = unicode::encode_utf8(string::char_at(node, i), utf8);
            bytes.append(reinterpret_cast<const char*>(utf8), n);
        }
    }
    // Base 2 writes 8 characters a byte: the text must stay within a series' reach.
    if (uint64_t{bytes.size()} * (base == 2 ? 8 : 2) > 0x7FFFFFFFu) error::fire(ErrorId::too_long);
    std::string text;
    binary::encode(base, bytes, text, args.has<"url">());
    const Cell result = string::make(static_cast<uint32_t>(text.size()));
    SeriesBuffer* b = memory::buffer(cell::series_node(result));
    if (!text.empty()) std::memcpy(b->tail_ptr(), text.data(), text.size());
    b->tail += static_cast<uint32_t>(text.size());
    return args.done(result);
}

// ---- Percent encoding --------------------------------------------------------------------------

int hex_digit(uint32_t cp) {
    if (cp >= '0' && cp <= '9') return static_cast<int>(cp - '0');
    if (cp >= 'A' && cp <= 'F') return static_cast<int>(cp - 'A' + 10);
    if (cp >= 'a' && cp <= 'f') return static_cast<int>(cp - 'a' + 10);
    return -1;
}

// The byte of a %XX escape at `i`, or -1 when the text there is not one.
int escaped_byte(NodeId node, uint32_t i, uint32_t length) {
    if (i + 2 >= length) return -1;
    if (string::char_at(node, i) != '%') return -1;
    const int hi = hex_digit(string::char_at(node, i + 1)), lo = hex_digit(string::char_at(node, i + 2));
    return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
}

// dehex (value): escapes become bytes, and the escapes of one UTF-8 sequence one character. An
// escape that starts no well-formed sequence stays as it is written, so nothing is lost and
// nothing ill-formed gets into the text.
Status dehex(const int32_t* refinements) {
    const Args<Native::dehex> args(refinements);
    const Cell value = args[0];
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    uint32_t i = std::min(cell::series_index(value), length);
    const Cell result = string::make(length - i);
    const NodeId out = cell::series_node(result);
    while (i < length) {
        const int lead = escaped_byte(node, i, length);
        if (lead < 0) {
            string::append_char(out, string::char_at(node, i++));
            continue;
        }
        const uint32_t n = unicode::utf8_sequence_length(static_cast<uint8_t>(lead));
        std::byte bytes[4];
        uint32_t got = 0;
        for (; n > 0 && got < n; ++got) {
            const int b = escaped_byte(node, i + 3 * got, length);
            if (b < 0) break;
            bytes[got] = static_cast<std::byte>(b);
        }
        const unicode::Decoded d = got == n && n > 0 ? unicode::decode_utf8_char(bytes, n) : unicode::Decoded{-1, 0};
        if (d.cp < 0 || d.length != n) {
            string::append_char(out, '%');  // the escape as written; its digits follow as text
            ++i;
            continue;
        }
        string::append_char(out, static_cast<uint32_t>(d.cp));
        i += 3 * n;
    }
    return args.done(result);
}

// enhex (value): the UTF-8 bytes of the text, each kept or written %XX. A string! keeps only
// letters, digits and - . _ ~; the other text types (urls, files ...) keep the characters a url
// may hold as well.
Status enhex(const int32_t* refinements) {
    const Args<Native::enhex> args(refinements);
    const Cell value = args[0];
    const bool strict = cell::is(value, TypeId::string);
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(value), length);
    const Cell result = string::make(length - head);
    const NodeId out = cell::series_node(result);
    for (uint32_t i = head; i < length; ++i) {
        std::byte utf8[4];
        const uint32_t n = unicode::encode_utf8(string::char_at(node, i), utf8);
        for (uint32_t k = 0; k < n; ++k) {
            const auto byte = static_cast<uint8_t>(utf8[k]);
            const bool alnum =
                (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
            const std::string_view kept = strict ? "-._~" : "-._~!#$&'()*+,/:=?@";
            if (alnum || (byte < 0x80 && kept.find(static_cast<char>(byte)) != std::string_view::npos)) {
                string::append_char(out, byte);
                continue;
            }
            char escape[3] = {'%'};
            string::byte_to_hex(byte, escape + 1);
            series::append_ascii(out, std::string_view(escape, 3));
        }
    }
    return args.done(result);
}

// complement? (bits): the bitset's complement flag.
Status complement_q(const int32_t* refinements) {
    const Args<Native::complement_q> args(refinements);
    const Cell bits = args[0];
    if (!cell::is(bits, TypeId::bitset)) raise_arg(Native::complement_q, 0, bits);
    return args.done(cell::logic(bitset::complemented(bits)));
}

}  // namespace

Status union_entry(const int32_t* r) { return set_operation<Native::union_, block::set_union>(r); }
Status intersect_entry(const int32_t* r) { return set_operation<Native::intersect, block::set_intersect>(r); }
Status unique_entry(const int32_t* r) { return set_operation<Native::unique, block::set_unique>(r); }
Status difference_entry(const int32_t* r) { return set_operation<Native::difference, block::set_difference>(r); }
Status exclude_entry(const int32_t* r) { return set_operation<Native::exclude, block::set_exclude>(r); }
Status uppercase_entry(const int32_t* r) { return change_case<Native::uppercase, true>(r); }
Status lowercase_entry(const int32_t* r) { return change_case<Native::lowercase, false>(r); }
Status debase_entry(const int32_t* r) { return debase(r); }
Status enbase_entry(const int32_t* r) { return enbase(r); }
Status complement_q_entry(const int32_t* r) { return complement_q(r); }
Status dehex_entry(const int32_t* r) { return dehex(r); }
Status enhex_entry(const int32_t* r) { return enhex(r); }

// Objects gain fields only through make; extending one waits for that road.
Status extend_entry(const int32_t* refinements) {
    const Args<Native::extend> args(refinements);
    const Cell target = args[0];
    if (!cell::is(target, TypeId::map)) error::fire(ErrorId::not_done);
    map::extend(target, args[1], args.has<"case">());
    return args.done(target);
}

}  // namespace zub::natives
