// The JSON codec's two halves in C++: the decoder behind `load-json` and the encoder behind
// `to-json`. The decoder follows the JSON grammar by recursive descent and keeps the same record of
// where it last stood (the mark, the line and the start of that line) that its error text reports;
// the encoder walks the value once and writes UTF-8 into a C++ buffer, made into a string at the end.
#include "environment/json_codec.h"

#include <charconv>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zub::json_codec {
namespace {

using native_args::Args;
using native_args::Plain;

constexpr int32_t kNoLimit = 0x7FFFFFFF;

// A new string of `count` units of `unit` bytes, filled by the caller through the returned
// pointer before anything else allocates. May collect.
std::byte* new_text(uint32_t count, uint32_t unit, Cell& result) {
    const NodeId node = memory::alloc_series(count ? count : 1, unit, 0);
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head + count * unit;
    result = cell::series(TypeId::string, node);
    return b->head_ptr();
}

// Molds a value into a fresh string and returns that string's node. May collect.
NodeId mold_text(Cell value, bool molded) {
    const Cell out = string::make(32);
    const ActionTable& actions = registry::actions(cell::type(value));
    if (molded) actions.mold(value, out.w2, MoldFlags{false, false, true, 0}, kNoLimit);
    else actions.form(value, out.w2, kNoLimit);
    return out.w2;
}

// ---- Decoding -----------------------------------------------------------------------------------

// Which characters may begin, and continue, a member name that becomes a word.
bool not_word_char(uint32_t c) {
    switch (c) {
        case '/':
        case '\\':
        case '^':
        case ',':
        case '[':
        case ']':
        case '(':
        case ')':
        case '{':
        case '}':
        case '"':
        case '#':
        case '%':
        case '$':
        case '@':
        case ':':
        case ';':
        case '\n':
        case 0xA0:
        case ' ':
        case '\t':
        case '\r':
        case '<':
        case '>': return true;
        default: return false;
    }
}
bool word_first(uint32_t c) { return !not_word_char(c) && !(c >= '0' && c <= '9') && c != '\''; }

// The grammar's state. The input buffer stays put while it runs: a collector guard holds every
// collection off, so `text` is valid throughout.
template <typename T>
struct Decoder {
    const T* text;      // the input from its index
    uint32_t length;    // units from the index to the tail
    uint32_t pos = 0;   // next unit to read
    uint32_t mark = 0;  // after the last complete value, name or line feed
    uint32_t last_lf = 0;
    uint32_t line = 1;
    uint32_t depth = 0;
    std::vector<uint32_t> scratch;                // a string's code points while unescaping
    std::unordered_map<std::string, Cell> names;  // member names already made words
    std::string name;                             // the UTF-8 of the member name at hand

    uint32_t at(uint32_t i) const { return static_cast<uint32_t>(text[i]); }
    bool more() const { return pos < length; }

    void skip_space() {
        while (pos < length) {
            const uint32_t c = at(pos);
            if (c == ' ' || c == '\t' || c == '\r') ++pos;
            else if (c == '\n') {
                ++pos;
                ++line;
                mark = last_lf = pos;
            } else break;
        }
    }

    bool literal(const char* word) {
        uint32_t i = 0;
        for (; word[i]; ++i)
            if (pos + i >= length || at(pos + i) != static_cast<unsigned char>(word[i])) return false;
        pos += i;
        return true;
    }

    static int hex(uint32_t c) {
        if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
        return -1;
    }
    uint32_t hex4(uint32_t i) const {
        uint32_t v = 0;
        for (uint32_t k = 0; k < 4; ++k) v = v << 4 | static_cast<uint32_t>(hex(at(i + k)));
        return v;
    }

    // A string token from its opening quote: false when its text breaks the grammar (a raw
    // control character, an unknown escape, a short \u, no closing quote). A high surrogate
    // without its low half raises script invalid-data. May collect.
    bool string_token(Cell& result) {
        ++pos;
        const uint32_t start = pos;
        uint32_t widest = 0;
        bool escapes = false;
        while (true) {
            if (pos >= length) return false;
            const uint32_t c = at(pos);
            if (c == '"') break;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (pos + 1 >= length) return false;
                const uint32_t e = at(pos + 1);
                if (e == 'u') {
                    if (pos + 6 > length) return false;
                    for (uint32_t k = 2; k < 6; ++k)
                        if (hex(at(pos + k)) < 0) return false;
                    pos += 6;
                } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
                           e == 't') {
                    pos += 2;
                } else {
                    return false;
                }
                escapes = true;
                continue;
            }
            if (c > widest) widest = c;
            ++pos;
        }
        const uint32_t end = pos++;
        if (!escapes) {
            const uint32_t unit = sizeof(T) == 1 ? 1 : string::in_place_unit(widest);
            std::byte* to = new_text(end - start, unit, result);
            if (unit == sizeof(T)) std::memcpy(to, text + start, (end - start) * sizeof(T));
            else
                for (uint32_t i = start; i < end; ++i) series::store_unit(to + (i - start) * unit, unit, at(i));
            return true;
        }
        unescape(start, end, result);
        return true;
    }

    void unescape(uint32_t start, uint32_t end, Cell& result) {
        scratch.clear();
        uint32_t widest = 0;
        for (uint32_t i = start; i < end;) {
            uint32_t c = at(i++);
            if (c == '\\') {
                const uint32_t e = at(i++);
                switch (e) {
                    case 'b': c = 0x08; break;
                    case 'f': c = 0x0C; break;
                    case 'n': c = 0x0A; break;
                    case 'r': c = 0x0D; break;
                    case 't': c = 0x09; break;
                    case 'u':
                        c = hex4(i);
                        i += 4;
                        if (c >= 0xD800 && c <= 0xDBFF) {
                            uint32_t low = 0;
                            if (i + 6 <= end && at(i) == '\\' && at(i + 1) == 'u') low = hex4(i + 2);
                            if (low < 0xDC00 || low > 0xDFFF) {
                                Cell raw;
                                std::byte* to = new_text(end - start, 4, raw);
                                for (uint32_t k = start; k < end; ++k)
                                    series::store_unit(to + (k - start) * 4, 4, at(k));
                                error::fire(ErrorId::invalid_data, raw);
                            }
                            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                            i += 6;
                        }
                        break;
                    default: c = e; break;  // the quote, the backslash and the solidus
                }
            }
            if (c > widest) widest = c;
            scratch.push_back(c);
        }
        const uint32_t unit = string::in_place_unit(widest);
        std::byte* to = new_text(static_cast<uint32_t>(scratch.size()), unit, result);
        for (size_t k = 0; k < scratch.size(); ++k) series::store_unit(to + k * unit, unit, scratch[k]);
    }

    // The number grammar: optional minus, no leading zeros, a fraction and an exponent each with
    // digits. Text without fraction or exponent that fits 32 bits is an integer!, like the loader
    // reads it; anything else a float!.
    bool number(Cell& result) {
        const uint32_t start = pos;
        if (pos < length && at(pos) == '-') ++pos;
        if (pos >= length || at(pos) < '0' || at(pos) > '9') {
            pos = start;
            return false;
        }
        if (at(pos) == '0') ++pos;
        else
            while (pos < length && at(pos) >= '0' && at(pos) <= '9') ++pos;
        bool integral = true;
        if (pos + 1 < length && at(pos) == '.' && at(pos + 1) >= '0' && at(pos + 1) <= '9') {
            integral = false;
            pos += 2;
            while (pos < length && at(pos) >= '0' && at(pos) <= '9') ++pos;
        }
        if (pos < length && (at(pos) == 'e' || at(pos) == 'E')) {
            uint32_t e = pos + 1;
            if (e < length && (at(e) == '+' || at(e) == '-')) ++e;
            if (e < length && at(e) >= '0' && at(e) <= '9') {
                while (e < length && at(e) >= '0' && at(e) <= '9') ++e;
                integral = false;
                pos = e;
            }
        }
        char digits[64];
        std::string long_digits;
        const char* first = digits;
        const uint32_t n = pos - start;
        if (n < sizeof digits) {
            for (uint32_t i = 0; i < n; ++i) digits[i] = static_cast<char>(at(start + i));
        } else {
            long_digits.resize(n);
            for (uint32_t i = 0; i < n; ++i) long_digits[i] = static_cast<char>(at(start + i));
            first = long_digits.data();
        }
        if (integral) {
            int64_t v = 0;
            const auto [end, ec] = std::from_chars(first, first + n, v);
            if (ec == std::errc{} && end == first + n && v >= INT32_MIN && v <= INT32_MAX) {
                result = cell::integer(static_cast<int32_t>(v));
                return true;
            }
        }
        int unread = 0;
        result = cell::floating(float_text::text_to_float(first, first + n, 0, &unread));
        return true;
    }

    // A member name: a word when the whole name reads as one (first character not a digit nor an
    // apostrophe, none of the delimiters), else the string itself. A name that fits that pattern
    // but that the loader does not read as a word ("+1") stays a string too. May collect.
    Cell member_name(Cell text) {
        const NodeId node = cell::series_node(text);
        const uint32_t n = series::length(node);
        if (n == 0) return text;
        const uint32_t unit = series::unit(node);
        const std::byte* p = memory::buffer(node)->head_ptr();
        if (!word_first(series::code_point_at(p, unit, 0))) return text;
        bool plain = unit == 1;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t c = series::code_point_at(p, unit, i);
            if (not_word_char(c)) return text;
            const bool simple = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                                (i > 0 && ((c >= '0' && c <= '9') || c == '-'));
            if (!simple) plain = false;
        }
        if (plain) {
            name.assign(reinterpret_cast<const char*>(p), n);
            const auto found = names.find(name);
            if (found != names.end()) return found->second;
            Cell w = words::global(symbol::make(name));
            cell::set_type(w, TypeId::word);
            names.emplace(name, w);
            return w;
        }
        try {
            Cell w = word::word_from_text(text);
            cell::set_type(w, TypeId::word);
            return w;
        } catch (const Thrown&) {
            return text;
        }
    }

    // One value with the white space around it, appended to the block `into`. False when the text
    // breaks the grammar; the mark then says where.
    bool value(NodeId into) {
        skip_space();
        if (pos >= length) return false;
        Cell v;
        switch (at(pos)) {
            case 't':
                if (!literal("true")) return false;
                v = cell::logic(true);
                break;
            case 'f':
                if (!literal("false")) return false;
                v = cell::logic(false);
                break;
            case 'n':
                if (!literal("null")) return false;
                v = cell::none();
                break;
            case '{':
            case '[':
                if (!container(into, at(pos) == '{')) return false;
                mark = pos;
                skip_space();
                return true;
            case '"':
                if (!string_token(v)) return false;
                break;
            default:
                if (!number(v)) return false;
                break;
        }
        series::append_cell(into, v);
        mark = pos;
        skip_space();
        return true;
    }

    bool container(NodeId into, bool object) {
        if (++depth > cycles::kMaxNesting) error::fire(ErrorId::parse_stack);
        ++pos;
        const uint32_t at_index = series::length(into);
        const Cell made = block::make_in(into, 8);
        const NodeId items = cell::series_node(made);
        skip_space();
        const uint32_t close = object ? '}' : ']';
        if (pos < length && at(pos) != close) {
            while (true) {
                if (object) {
                    skip_space();
                    Cell key;
                    if (pos >= length || at(pos) != '"' || !string_token(key)) return false;
                    skip_space();
                    if (pos >= length || at(pos) != ':') return false;
                    mark = ++pos;
                    series::append_cell(items, member_name(key));
                }
                if (!value(items)) return false;
                if (pos < length && at(pos) == ',') {
                    ++pos;
                    skip_space();
                    continue;
                }
                break;
            }
        }
        if (pos >= length || at(pos) != close) return false;
        ++pos;
        if (object) memory::buffer(into)->cells()[at_index] = map::init_cell(items);
        --depth;
        return true;
    }

    // The returned error value: where the mark stands, and the text there.
    Cell failure(const Cell& input) {
        std::string message = "Invalid JSON string. Line: " + std::to_string(line) +
                              " Index: " + std::to_string(cell::series_index(input) + mark + 1) +
                              " Column: " + std::to_string(mark - last_lf) + " Near: ";
        std::vector<uint32_t> near_chars;  // read before anything allocates: the input may then move
        for (uint32_t i = mark; i < length && i < mark + 40; ++i) near_chars.push_back(at(i));
        const Cell out = string::make(static_cast<uint32_t>(message.size() + 50));
        stack::Rooted kept(out);
        series::append_ascii(out.w2, message);
        if (mark >= length) {
            series::append_ascii(out.w2, "<end of input>");
        } else {
            const Cell near = string::make(static_cast<uint32_t>(near_chars.size()));
            stack::Rooted near_kept(near);
            for (const uint32_t c : near_chars) string::append_char(near.w2, c);
            registry::actions(TypeId::string).mold(near, out.w2, MoldFlags{false, false, true, 0}, kNoLimit);
        }
        return error_value::make(out);
    }
};

template <typename T>
Cell decode_units(const Cell& input) {
    const NodeId node = cell::series_node(input);
    Cell* out = block::push_new(1);
    const NodeId top = cell::series_node(*out);
    bool ok;
    Decoder<T> d;
    {
        collector::Guard hold;
        d.text = reinterpret_cast<const T*>(memory::buffer(node)->head_ptr()) + cell::series_index(input);
        d.length = string::rs_length(input);
        ok = d.value(top) && d.pos == d.length;
    }
    if (!ok) return d.failure(input);
    return memory::buffer(top)->cells()[0];
}

Status decode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell input = args[0];
    switch (series::unit(cell::series_node(input))) {
        case 1: return args.done(decode_units<uint8_t>(input));
        case 2: return args.done(decode_units<uint16_t>(input));
        default: return args.done(decode_units<uint32_t>(input));
    }
}

// ---- Encoding -----------------------------------------------------------------------------------

struct Encoder {
    std::string out;         // UTF-8
    bool ascii_only = true;  // out holds no byte from 80h
    bool ascii = false;      // /ascii: every character from 80h up is escaped
    bool pretty = false;
    std::string indent;
    int32_t level = 0;

    void put_cp(uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            return;
        }
        ascii_only = false;
        std::byte bytes[4];
        out.append(reinterpret_cast<const char*>(bytes), unicode::encode_utf8(c, bytes));
    }

    void put_u(uint32_t c) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const char e[6] = {'\\', 'u', kHex[c >> 12 & 15], kHex[c >> 8 & 15], kHex[c >> 4 & 15], kHex[c & 15]};
        out.append(e, 6);
    }

    // A character that is not copied as it stands. Surrogate code points alone are always
    // escaped: UTF-8 has no form for them.
    void escape(uint32_t c) {
        switch (c) {
            case '"': out += "\\\""; return;
            case '\\': out += "\\\\"; return;
            case 0x08: out += "\\b"; return;
            case 0x0C: out += "\\f"; return;
            case 0x0A: out += "\\n"; return;
            case 0x0D: out += "\\r"; return;
            case 0x09: out += "\\t"; return;
            default: break;
        }
        if (c <= 0xFFFF) {
            put_u(c);
            return;
        }
        put_u(((c - 0x10000) >> 10) + 0xD800);
        put_u(((c - 0x10000) & 0x3FF) + 0xDC00);
    }

    bool normal(uint32_t c) const {
        if (c < 0x20 || c == '"' || c == '\\') return false;
        if (ascii) return c <= 0x7F;
        return c < 0xD800 || c > 0xDFFF;
    }

    template <typename T>
    void text_units(const T* p, uint32_t n) {
        out.push_back('"');
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t c = p[i];
            if (normal(c)) put_cp(c);
            else escape(c);
        }
        out.push_back('"');
    }

    // A text value from its head. Never allocates.
    void text(const Cell& value) {
        const NodeId node = cell::series_node(value);
        const uint32_t n = string::rs_length(value);
        const uint32_t unit = series::unit(node);
        const std::byte* p = memory::buffer(node)->head_ptr() + size_t{cell::series_index(value)} * unit;
        if (unit == 1) {
            const auto* b = reinterpret_cast<const uint8_t*>(p);
            out.push_back('"');
            uint32_t i = 0;
            while (i < n) {
                uint32_t run = i;
                while (run < n && b[run] >= 0x20 && b[run] < 0x80 && b[run] != '"' && b[run] != '\\') ++run;
                out.append(reinterpret_cast<const char*>(b + i), run - i);
                if (run == n) break;
                const uint32_t c = b[run];
                if (normal(c)) put_cp(c);
                else escape(c);
                i = run + 1;
            }
            out.push_back('"');
        } else if (unit == 2) {
            text_units(reinterpret_cast<const uint16_t*>(p), n);
        } else {
            text_units(reinterpret_cast<const uint32_t*>(p), n);
        }
    }

    void formed_text(Cell value, bool molded) {
        const NodeId node = mold_text(value, molded);
        text(cell::series(TypeId::string, node));
    }

    void new_line(int32_t change) {
        level += change;
        out.push_back('\n');
        for (int32_t i = 0; i < level; ++i) out += indent;
    }

    void number(const Cell& value) {
        const double x = cell::as_float(value);
        if (!std::isfinite(x)) {
            out += "null";  // JSON has no infinities nor NaN
            return;
        }
        // The shortest digits that read back to the same double: the formed text's fifteen
        // digits would lose precision, and the largest doubles would read back as infinities.
        out += float_text::form_float(x, 0, true).view();
    }

    // A word's name, decoded from its UTF-8 one character at a time.
    void name(std::string_view utf8) {
        out.push_back('"');
        for (size_t i = 0; i < utf8.size();) {
            uint32_t c = static_cast<unsigned char>(utf8[i]);
            const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (n > 1) {
                c &= 0x3F >> (n - 1);
                for (size_t k = 1; k < n && i + k < utf8.size(); ++k)
                    c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            }
            if (normal(c)) put_cp(c);
            else escape(c);
            i += n;
        }
        out.push_back('"');
    }

    void key(Cell k) {
        if (word::is_all_word(cell::type(k))) name(symbol::utf8(word::symbol_of(k)));
        else if (cell::is(k, TypeId::string)) text(k);
        else formed_text(k, true);
        out += pretty ? ": " : ":";
    }

    void members(const Cell& value) {
        const bool is_map = cell::is(value, TypeId::map);
        bool first = true;
        auto member = [&](const Cell& k, const Cell& v) {
            if (first) {
                out.push_back('{');
                if (pretty) new_line(1);
                first = false;
            } else {
                out.push_back(',');
                if (pretty) new_line(0);
            }
            key(k);
            encode(v);
        };
        if (is_map) {
            Cell cursor = value;
            cell::set_series_index(cursor, 0);
            Cell k, v;
            while (map::next_entry(cursor, k, v)) member(k, v);
        } else {
            const Cell names = object::words_of(value);
            stack::Rooted kept(names);
            const uint32_t n = block::length(names);
            for (uint32_t i = 0; i < n; ++i) {
                const Cell w = block::head(names)[i];
                member(w, object::select_word(value, word::symbol_of(w)));
            }
        }
        if (first) {
            out += "{}";
            return;
        }
        if (pretty) new_line(-1);
        out.push_back('}');
    }

    void elements(const Cell& value) {
        const uint32_t n = block::length(value);
        if (n == 0) {
            out += "[]";
            return;
        }
        out.push_back('[');
        if (pretty) new_line(1);
        for (uint32_t i = 0; i < n; ++i) {
            if (i) {
                out.push_back(',');
                if (pretty) new_line(0);
            }
            encode(block::head(value)[i]);
        }
        if (pretty) new_line(-1);
        out.push_back(']');
    }

    // Data that holds itself would be written for ever: it raises internal no-cycle instead, and
    // nesting past the walks' one limit raises internal too-deep.
    void nested(const Cell& value, bool object) {
        const NodeId node = cycles::series_of(value);
        if (cycles::find(node)) error::fire(ErrorId::no_cycle);
        cycles::Guard walking(node);
        if (object) members(value);
        else elements(value);
    }

    void encode(const Cell& value) {
        const TypeId type = cell::type(value);
        switch (type) {
            case TypeId::none: out += "null"; return;
            case TypeId::logic: out += cell::as_logic(value) ? "true" : "false"; return;
            case TypeId::integer: {
                char digits[16];
                const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, cell::as_integer(value));
                out.append(digits, end);
                return;
            }
            case TypeId::float_:
            case TypeId::percent: number(value); return;
            case TypeId::string: text(value); return;
            case TypeId::map:
            case TypeId::object: nested(value, true); return;
            default: break;
        }
        if (block::is_block_like(type)) nested(value, false);
        else formed_text(value, !string::is_text(type));
    }
};

// json-encode data indent ascii: indent is the /pretty string or none.
Status encode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    Encoder e;
    e.pretty = cell::is(args[1], TypeId::string);
    if (e.pretty) {
        const NodeId node = cell::series_node(args[1]);
        for (uint32_t i = cell::series_index(args[1]); i < series::length(node); ++i)
            e.put_cp(string::char_at(node, i));
        e.indent.swap(e.out);
    }
    e.ascii = cell::truthy(args[2]);
    e.out.reserve(4000);
    {
        collector::Guard hold;
        e.encode(args[0]);
    }
    return args.done(string::from_utf8(e.out, e.ascii_only));
}

}  // namespace

void register_routines() {
    (void)function::add_routine("json-decode", decode);
    (void)function::add_routine("json-encode", encode);
}

}  // namespace zub::json_codec
