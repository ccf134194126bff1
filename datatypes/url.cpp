// file! and url!: string! series naming resources. url! takes string!'s actions and file! url!'s;
// they add their molded forms, making a url from a block, and path access on urls. Reading,
// writing and the other input and output actions hand over to the file and network services.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "runtime/unicode.h"
#include "system/files.h"
#include "system/url_io.h"

namespace zub {

extern const ActionTable string_actions;

namespace {

// The bytes below 80h a url keeps as they are when molded; every other byte is written %XX.
// Parentheses are written escaped too: the lexer ends a url at them.
constexpr bool kept_in_url(uint32_t byte) {
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')) return true;
    return std::string_view("-._~!#$&'*+,/:=?@").find(static_cast<char>(byte)) != std::string_view::npos;
}

// The characters that put a file name between double quotes when molded: they would end the
// token or change its meaning (the lexer ends an unquoted file at a colon or an at sign too).
constexpr bool forces_quotes(uint32_t cp) {
    return cp <= 0x20 || cp == 0x7F ||
           std::string_view("\"%;<>[\\]^`{|}():@").find(static_cast<char>(cp)) != std::string_view::npos;
}

// The characters of the text from the head, limited to `count`.
template <typename Each>
void each_char(const Cell& value, uint32_t count, Each each) {
    const NodeId node = cell::series_node(value);
    const uint32_t head = cell::series_index(value);
    for (uint32_t i = 0; i < count; ++i) each(string::char_at(node, head + i));
}

// A file molds as % and its name. A name with a character that would end the token goes between
// double quotes, where carets escape as in a string; an empty name is %"". A name with a double
// quote or a control character cannot be quoted that way (the quotes end at its first double
// quote, on its line), so it is written unquoted, those characters and "%" as %XX escapes.
int32_t file_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    const uint32_t length = string::rs_length(value);
    const auto count = static_cast<uint32_t>(std::clamp<int64_t>(limit - 1, 0, length));
    bool quoted = length == 0, escaped = false;
    each_char(value, length, [&](uint32_t cp) {
        quoted = quoted || forces_quotes(cp);
        escaped = escaped || cp < 0x20 || cp == '"' || cp == 0x7F;
    });
    if (escaped) quoted = false;
    series::append_ascii(out, quoted ? "%\"" : "%");
    each_char(value, count, [&](uint32_t cp) {
        if (escaped && forces_quotes(cp)) {
            char escape[3] = {'%'};
            string::byte_to_hex(static_cast<uint8_t>(cp), escape + 1);
            series::append_ascii(out, std::string_view(escape, 3));
        } else if (quoted) {
            string::append_escaped_char(out, cp, false);
        } else {
            string::append_char(out, cp);
        }
    });
    if (quoted) series::append_ascii(out, "\"");
    return limit - static_cast<int32_t>(length) - 1;
}

// A url molds as its UTF-8 bytes, each kept or percent-encoded.
int32_t url_mold(Cell value, NodeId out, MoldFlags, int32_t limit) {
    const uint32_t length = string::rs_length(value);
    each_char(value, length, [&](uint32_t cp) {
        std::byte utf8[4];
        const uint32_t n = unicode::encode_utf8(cp, utf8);
        for (uint32_t k = 0; k < n; ++k) {
            if (limit <= 0) return;
            const auto byte = static_cast<uint8_t>(utf8[k]);
            if (kept_in_url(byte)) {
                string::append_char(out, byte);
                --limit;
                continue;
            }
            char escape[3] = {'%'};
            string::byte_to_hex(byte, escape + 1);
            limit = mold::emit(out, std::string_view(escape, 3), limit);
        }
    });
    return limit;
}

// A block (or paren, or hash!) builds scheme://host[:port] followed by its other items, each after
// a "/" or, for an issue!, a "#". Anything else is made as a string would be.
Cell from_block(TypeId type, Cell spec) {
    const uint32_t n = block::length(spec);
    if (n == 0) error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), spec);
    const Cell result = string::make(32, type);
    const stack::Rooted root(result);
    const NodeId out = cell::series_node(result);
    const auto item = [&](uint32_t i) { return block::abs_at(spec, block::head_index(spec) + i); };
    string::append_formed(out, item(0));
    series::append_ascii(out, "://");
    uint32_t i = 1;
    if (i < n) string::append_formed(out, item(i++));
    if (i < n && cell::is(item(i), TypeId::integer)) {
        series::append_ascii(out, ":");
        string::append_formed(out, item(i++));
    }
    for (; i < std::min(n, block::length(spec)); ++i) {
        const Cell next = item(i);  // read again: forming may run code that changes the block
        series::append_ascii(out, cell::is(next, TypeId::issue) ? "#" : "/");
        string::append_formed(out, next);
    }
    return result;
}

Cell url_make(TypeId type, Cell proto, Cell spec) {
    if (block::is_block_like(cell::type(spec))) return from_block(type, spec);
    return string_actions.make(type, proto, spec);
}

Cell url_to(TypeId type, Cell proto, Cell spec) {
    if (block::is_block_like(cell::type(spec))) return from_block(type, spec);
    return string_actions.to(type, proto, spec);
}

// Reading url/element gives a new url: the url, one "/", then the element formed. Setting is
// refused: a url is not a container.
Cell url_eval_path(Cell parent, Cell element, const PathStep& step) {
    if (step.set_value) error::fire(ErrorId::bad_path_set, step.path, element);
    const Cell result = string::make(string::rs_length(parent) + 16, cell::type(parent));
    const stack::Rooted root(result);
    const NodeId out = cell::series_node(result);
    string::concatenate(result, parent, -1, string::Concat::append);
    const uint32_t ends = series::length(out);
    const bool slash_before = ends > 0 && string::char_at(out, ends - 1) == '/';
    const uint32_t from = ends;
    string::append_formed(out, element);
    const bool slash_after = series::length(out) > from && string::char_at(out, from) == '/';
    if (slash_before && slash_after) string::remove_char(out, from);
    else if (!slash_before && !slash_after) string::insert_char(out, from, '/');
    return result;
}

// A file's second name must be a file too: a url or a port names nothing a file can move to.
Cell file_rename(Cell from, Cell to) {
    if (!cell::is(to, TypeId::file)) raise_expect_arg(Slot::rename, to, 1);
    return files::rename(from, to);
}

}  // namespace

// Neither takes string!'s randomising, reflecting, putting, sorting or trimming.
extern const ActionTable url_actions = {
    .make = url_make,
    .random = unsupported::random,
    .reflect = unsupported::reflect,
    .to = url_to,
    .mold = url_mold,
    .eval_path = url_eval_path,
    .put = unsupported::put,
    .sort = unsupported::sort,
    .trim = unsupported::trim,
    .open = url_io::open,
    .read = url_io::read,
    .write = url_io::write,
};
extern const ActionTable file_actions = {
    .mold = file_mold,
    .delete_ = files::remove,
    .query = files::query,
    .read = files::read,
    .rename = file_rename,
    .write = files::write,
};

}  // namespace zub
