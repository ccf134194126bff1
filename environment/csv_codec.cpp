// The CSV codec's two halves in C++: the reader behind `load-csv` (lines of fields, quoted or not,
// into rows, a flat block, records or columns) and the writer behind `to-csv` (blocks of records,
// fixed-size records, maps and objects of columns, blocks of maps or objects). Every field is
// text: the reader converts nothing, the writer forms each value.
#include "environment/csv_codec.h"

#include <charconv>
#include <string>
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
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zub::csv_codec {
namespace {

using native_args::Args;
using native_args::Plain;

constexpr int32_t kNoLimit = 0x7FFFFFFF;
constexpr std::string_view kNotAligned = "Data are not aligned";

// The error value both halves return (not raise) for data of uneven rows or columns. May collect.
Cell returned_error(std::string_view text) {
    const Cell message = string::make(static_cast<uint32_t>(text.size()));
    stack::Rooted kept(message);
    series::append_ascii(message.w2, text);
    return error_value::make(message);
}

// The code points of a text value from its head.
std::vector<uint32_t> code_points(const Cell& text) {
    std::vector<uint32_t> out;
    const NodeId node = cell::series_node(text);
    const uint32_t unit = series::unit(node);
    const uint32_t n = string::rs_length(text);
    const std::byte* p = memory::buffer(node)->head_ptr() + size_t{cell::series_index(text)} * unit;
    out.reserve(n);
    for (uint32_t i = 0; i < n; ++i) out.push_back(series::code_point_at(p, unit, i));
    return out;
}

// The delimiter: a char! or the characters of a string.
std::vector<uint32_t> delimiter_of(const Cell& value) {
    if (cell::is(value, TypeId::char_)) return {cell::as_char(value)};
    return code_points(value);
}

// ---- Reading ------------------------------------------------------------------------------------

// The reader's state. The text buffer stays put while it runs: a collector guard holds every
// collection off, so `text` is valid throughout.
template <typename T>
struct Reader {
    const T* text;
    uint32_t length;
    uint32_t pos = 0;
    std::vector<uint32_t> delimiter;
    uint32_t quote = '"';
    bool trim = false;
    std::vector<uint32_t> field;  // the value at hand

    uint32_t at(uint32_t i) const { return static_cast<uint32_t>(text[i]); }
    bool line_end(uint32_t c) const { return c == '\n' || c == '\r'; }
    bool in_delimiter(uint32_t c) const {
        for (const uint32_t d : delimiter)
            if (d == c) return true;
        return false;
    }
    bool delimiter_here() const {
        if (pos + delimiter.size() > length || delimiter.empty()) return false;
        for (size_t k = 0; k < delimiter.size(); ++k)
            if (at(pos + static_cast<uint32_t>(k)) != delimiter[k]) return false;
        return true;
    }
    // CRLF, LF or CR.
    bool newline() {
        if (pos >= length) return false;
        if (at(pos) == '\r') {
            ++pos;
            if (pos < length && at(pos) == '\n') ++pos;
            return true;
        }
        if (at(pos) == '\n') {
            ++pos;
            return true;
        }
        return false;
    }
    bool only_line_ends_left() const {
        for (uint32_t i = pos; i < length; ++i)
            if (!line_end(at(i))) return false;
        return true;
    }

    static bool space(uint32_t c) { return c == ' ' || c == '\t'; }

    // One value into `field`: quoted when a closing quote follows, else a run of plain characters.
    void value() {
        field.clear();
        if (!quoted()) {
            field.clear();
            while (pos < length && !line_end(at(pos)) && !in_delimiter(at(pos))) field.push_back(at(pos++));
        }
        if (trim) trimmed();
    }

    bool quoted() {
        if (pos >= length || at(pos) != quote) return false;
        uint32_t i = pos + 1;
        while (i < length) {
            const uint32_t c = at(i);
            if (c == quote) {
                if (i + 1 < length && at(i + 1) == quote) {
                    field.push_back(quote);
                    i += 2;
                    continue;
                }
                pos = i + 1;
                // Spaces between the closing quote and the delimiter are what /trim ignores.
                if (trim)
                    while (pos < length && (at(pos) == ' ' || at(pos) == '\t')) ++pos;
                return true;
            }
            field.push_back(c);
            ++i;
        }
        return false;
    }

    // /trim: white space off both ends, then a pair of enclosing quotes (inner doubled quotes are
    // left as they are).
    void trimmed() {
        size_t a = 0, b = field.size();
        while (a < b && space(field[a])) ++a;
        while (b > a && space(field[b - 1])) --b;
        if (b - a >= 2 && field[a] == quote && field[b - 1] == quote) ++a, --b;
        field.erase(field.begin() + static_cast<std::ptrdiff_t>(b), field.end());
        field.erase(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(a));
    }

    // The field as a new string appended to the block. May collect.
    void append_field(NodeId into) {
        uint32_t widest = 0;
        for (const uint32_t c : field) widest = c > widest ? c : widest;
        const uint32_t unit = string::in_place_unit(widest);
        const auto n = static_cast<uint32_t>(field.size());
        const NodeId node = memory::alloc_series(n ? n : 1, unit, 0);
        SeriesBuffer* b = memory::buffer(node);
        b->tail = b->head + n * unit;
        std::byte* to = b->head_ptr();
        if (unit == 1)
            for (uint32_t i = 0; i < n; ++i) to[i] = static_cast<std::byte>(field[i]);
        else
            for (uint32_t i = 0; i < n; ++i) series::store_unit(to + size_t{i} * unit, unit, field[i]);
        series::append_cell(into, cell::series(TypeId::string, node));
    }

    // The values of one line, separated by the delimiter, appended to the block.
    void line(NodeId into) {
        while (true) {
            value();
            append_field(into);
            if (!delimiter_here()) return;
            pos += static_cast<uint32_t>(delimiter.size());
        }
    }

    // What follows a line must be a line break or the end: anything else is text the reader
    // cannot place (a character after a closing quote), refused rather than dropped.
    void line_break() {
        if (pos >= length || newline()) return;
        const uint32_t n = length - pos < 40 ? length - pos : 40;
        const Cell rest = string::make(n);
        stack::Rooted kept(rest);
        for (uint32_t i = 0; i < n; ++i) string::append_char(rest.w2, at(pos + i));
        error::fire(ErrorId::invalid_data, rest);
    }
};

// The default name after `name`: A to B, Z to AA, AZ to BA. May collect.
Cell next_column_name(const Cell& name) {
    std::vector<uint32_t> cps = code_points(name);
    size_t i = cps.size();
    while (true) {
        if (i == 0) {
            cps.insert(cps.begin(), 'A');
            break;
        }
        --i;
        if (cps[i] == 'Z' || cps[i] == 'z') {
            cps[i] = 'A';
            continue;
        }
        ++cps[i];
        break;
    }
    const Cell out = string::make(static_cast<uint32_t>(cps.size()));
    stack::Rooted kept(out);
    for (const uint32_t c : cps) string::append_char(out.w2, c);
    return out;
}

// A header block of `count` default names (at least one), appended to the stack. May collect.
Cell make_header(uint32_t count) {
    Cell* header = block::push_new(count ? count : 1);
    const NodeId node = cell::series_node(*header);
    const Cell a = string::make(1);
    series::append_ascii(a.w2, "A");
    block::append(node, a);
    for (uint32_t i = 1; i < count; ++i) block::append(node, next_column_name(memory::buffer(node)->cells()[i - 1]));
    return *header;
}

enum class Shape : uint8_t { rows, flat, records, columns };

template <typename T>
Cell read_units(const Cell& data, const Cell& delimiter, uint32_t quote, bool trim, bool header_line, Shape shape) {
    const NodeId node = cell::series_node(data);
    const uint32_t length = string::rs_length(data);
    Cell* out = block::push_new(length / 80 + 1);
    const NodeId rows = cell::series_node(*out);
    Cell* line_cell = block::push_new(20);
    const NodeId line = cell::series_node(*line_cell);
    Cell* header_cell = stack::push(cell::none());
    const uint32_t header_at = stack::index_of(header_cell);

    collector::Guard hold;
    Reader<T> r;
    r.text = reinterpret_cast<const T*>(memory::buffer(node)->head_ptr()) + cell::series_index(data);
    r.length = length;
    r.delimiter = delimiter_of(delimiter);
    r.quote = quote;
    r.trim = trim;

    if (header_line) {
        const Cell names = block::make(8);
        stack::at(header_at) = names;
        r.line(names.w2);
        if (!r.newline() || r.pos >= r.length) {
            const Cell message = string::make(48);
            stack::Rooted kept(message);
            series::append_ascii(message.w2, "CSV data are too small to use /HEADER refinement");
            error_value::raise(error_value::make(message));
        }
    } else {
        stack::at(header_at) = make_header(1);
        stack::pop(1);
    }
    uint32_t longest = 0;
    bool first = true;
    while (r.pos < r.length && !r.only_line_ends_left()) {
        series::clear(line);
        r.line(line);
        r.line_break();
        const uint32_t count = series::length(line);
        if (first) longest = count, first = false;
        else if (count != longest) return returned_error(kNotAligned);
        switch (shape) {
            case Shape::records: {
                Cell header = stack::at(header_at);
                while (block::length(header) < longest) {
                    const Cell last = block::head(header)[block::length(header) - 1];
                    block::append(header.w2, next_column_name(last));
                }
                const Cell pairs = block::make_in(rows, count * 2);
                for (uint32_t i = 0; i < count; ++i) {
                    block::append(pairs.w2, block::head(header)[i]);
                    block::append(pairs.w2, memory::buffer(line)->cells()[i]);
                }
                memory::buffer(rows)->cells()[series::length(rows) - 1] = map::init_cell(pairs.w2);
                break;
            }
            case Shape::flat: block::append_block(rows, cell::series(TypeId::block, line)); break;
            default: {
                const Cell row = block::make_in(rows, count);
                block::append_block(row.w2, cell::series(TypeId::block, line));
                break;
            }
        }
    }
    if (shape != Shape::columns) return *out;

    if (block::length(stack::at(header_at)) < longest) stack::at(header_at) = make_header(longest);
    const Cell header = stack::at(header_at);
    const uint32_t names = block::length(header);
    const uint32_t row_count = series::length(rows);
    Cell* pairs_cell = block::push_new(names * 2);
    const NodeId pairs = cell::series_node(*pairs_cell);
    for (uint32_t c = 0; c < names; ++c) {
        block::append(pairs, block::head(header)[c]);
        const Cell column = block::make_in(pairs, row_count);
        for (uint32_t i = 0; i < row_count; ++i) {
            const Cell row = memory::buffer(rows)->cells()[i];
            block::append(column.w2, c < block::length(row) ? block::head(row)[c] : cell::none());
        }
    }
    return map::init_cell(pairs);
}

// csv-decode data delimiter quote trim header shape: shape 0 rows, 1 flat, 2 records, 3 columns.
Status decode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell data = args[0];
    const Cell delimiter = args[1];
    const uint32_t quote = cell::as_char(args[2]);
    const bool trim = cell::truthy(args[3]);
    const bool header = cell::truthy(args[4]);
    const auto shape = static_cast<Shape>(cell::as_integer(args[5]) & 3);
    switch (series::unit(cell::series_node(data))) {
        case 1: return args.done(read_units<uint8_t>(data, delimiter, quote, trim, header, shape));
        case 2: return args.done(read_units<uint16_t>(data, delimiter, quote, trim, header, shape));
        default: return args.done(read_units<uint32_t>(data, delimiter, quote, trim, header, shape));
    }
}

// ---- Writing ------------------------------------------------------------------------------------

struct Writer {
    std::string out;  // UTF-8
    bool ascii_only = true;
    std::vector<uint32_t> delimiter;
    uint32_t quote = '"';
    std::vector<uint32_t> field;
    Cell scratch;  // a string for forming values, rooted by the caller

    void put_cp(uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            return;
        }
        ascii_only = false;
        std::byte bytes[4];
        out.append(reinterpret_cast<const char*>(bytes), unicode::encode_utf8(c, bytes));
    }

    // Quoting is needed for the quote character, space, line breaks (CR as well as LF: a lone CR
    // left bare would read back as a line break) and the delimiter's characters.
    bool quotable(uint32_t c) const {
        if (c == ' ' || c == '\n' || c == '\r' || c == quote) return true;
        for (const uint32_t d : delimiter)
            if (d == c) return true;
        return false;
    }

    // The formed text of a value into `field`. Text values are read in place. May collect.
    void form(const Cell& value) {
        field.clear();
        Cell text = value;
        const TypeId type = cell::type(value);
        if (type == TypeId::integer) {
            char digits[16];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, cell::as_integer(value));
            for (const char* p = digits; p < end; ++p) field.push_back(static_cast<uint32_t>(*p));
            return;
        }
        if (!string::is_text(type) || type == TypeId::tag) {
            string::rs_reset(scratch.w2);
            registry::actions(type).form(value, scratch.w2, kNoLimit);
            text = scratch;
        }
        const NodeId node = cell::series_node(text);
        const uint32_t unit = series::unit(node);
        const uint32_t n = string::rs_length(text);
        const std::byte* p = memory::buffer(node)->head_ptr() + size_t{cell::series_index(text)} * unit;
        for (uint32_t i = 0; i < n; ++i) field.push_back(series::code_point_at(p, unit, i));
    }

    void escaped(const Cell& value) {
        form(value);
        bool quoted = false;
        for (const uint32_t c : field)
            if (quotable(c)) {
                quoted = true;
                break;
            }
        if (quoted) put_cp(quote);
        for (const uint32_t c : field) {
            put_cp(c);
            if (c == quote) put_cp(quote);
        }
        if (quoted) put_cp(quote);
    }

    void separator() {
        for (const uint32_t d : delimiter) put_cp(d);
    }

    // One record from `count` cells; an empty record is an empty line.
    void line(uint32_t count, NodeId node, uint32_t from) {
        for (uint32_t i = 0; i < count; ++i) {
            if (i) separator();
            escaped(memory::buffer(node)->cells()[from + i]);
        }
        out.push_back('\n');
    }
    void record(const Cell& block) { line(block::length(block), cell::series_node(block), block::head_index(block)); }
};

// The keys of a map or the words of an object, and their values, in order. May collect.
void entries(const Cell& value, NodeId keys, NodeId values) {
    if (cell::is(value, TypeId::map)) {
        Cell cursor = value;
        cell::set_series_index(cursor, 0);
        Cell k, v;
        while (map::next_entry(cursor, k, v)) {
            block::append(keys, k);
            block::append(values, v);
        }
        return;
    }
    const Cell names = object::words_of(value);
    for (uint32_t i = 0; i < block::length(names); ++i) {
        const Cell w = block::head(names)[i];
        block::append(keys, w);
        block::append(values, object::select_word(value, word::symbol_of(w)));
    }
}

bool same_key(const Cell& a, const Cell& b) {
    if (word::is_all_word(cell::type(a)) && word::is_all_word(cell::type(b)))
        return symbol::resolve(word::symbol_of(a)) == symbol::resolve(word::symbol_of(b));
    if (cell::type(a) != cell::type(b)) return false;
    return registry::actions(cell::type(a)).compare(a, b, 0) == 0;
}

// A map or an object whose values are the columns.
Cell encode_map(Writer& w, const Cell& data) {
    Cell* keys_cell = block::push_new(8);
    Cell* values_cell = block::push_new(8);
    const NodeId keys = cell::series_node(*keys_cell);
    const NodeId values = cell::series_node(*values_cell);
    entries(data, keys, values);
    const uint32_t columns = series::length(keys);
    w.line(columns, keys, 0);
    uint32_t rows = 0;
    for (uint32_t c = 0; c < columns; ++c) {
        const Cell column = memory::buffer(values)->cells()[c];
        if (!block::is_block_like(cell::type(column))) error::fire(ErrorId::invalid_arg, column);
        const uint32_t n = block::length(column);
        if (c == 0) rows = n;
        else if (n != rows) return returned_error(kNotAligned);
    }
    for (uint32_t i = 0; i < rows; ++i) {
        for (uint32_t c = 0; c < columns; ++c) {
            if (c) w.separator();
            w.escaped(block::head(memory::buffer(values)->cells()[c])[i]);
        }
        w.out.push_back('\n');
    }
    return cell::unset();
}

// A block of maps or of objects: the header is every key met, once each, in the order first met.
Cell encode_maps(Writer& w, const Cell& data) {
    Cell* columns_cell = block::push_new(8);
    Cell* keys_cell = block::push_new(8);
    Cell* values_cell = block::push_new(8);
    const NodeId columns = cell::series_node(*columns_cell);
    const NodeId keys = cell::series_node(*keys_cell);
    const NodeId values = cell::series_node(*values_cell);
    const uint32_t n = block::length(data);
    auto find = [](NodeId in, const Cell& key) -> int32_t {
        for (uint32_t i = 0; i < series::length(in); ++i)
            if (same_key(memory::buffer(in)->cells()[i], key)) return static_cast<int32_t>(i);
        return -1;
    };
    for (uint32_t i = 0; i < n; ++i) {
        series::clear(keys);
        series::clear(values);
        entries(block::head(data)[i], keys, values);
        for (uint32_t k = 0; k < series::length(keys); ++k) {
            const Cell key = memory::buffer(keys)->cells()[k];
            if (find(columns, key) < 0) block::append(columns, key);
        }
    }
    w.line(series::length(columns), columns, 0);
    const Cell empty = string::make(1);
    stack::Rooted kept(empty);
    for (uint32_t i = 0; i < n; ++i) {
        series::clear(keys);
        series::clear(values);
        entries(block::head(data)[i], keys, values);
        for (uint32_t c = 0; c < series::length(columns); ++c) {
            if (c) w.separator();
            const int32_t at = find(keys, memory::buffer(columns)->cells()[c]);
            const Cell v = at < 0 ? cell::none() : memory::buffer(values)->cells()[at];
            w.escaped(cell::truthy(v) ? v : empty);
        }
        w.out.push_back('\n');
    }
    return cell::unset();
}

// csv-encode data delimiter quote size: size is the /skip record length or none.
Status encode(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell data = args[0];
    Writer w;
    w.delimiter = delimiter_of(args[1]);
    w.quote = cell::as_char(args[2]);
    w.scratch = string::make(64);
    stack::Rooted scratch_kept(w.scratch);
    Cell failed = cell::unset();
    collector::Guard hold;  // the data's cells are read by reference throughout
    const TypeId type = cell::type(data);
    if (type == TypeId::map || type == TypeId::object) {
        failed = encode_map(w, data);
    } else if (cell::is(args[3], TypeId::integer)) {
        const int32_t size = cell::as_integer(args[3]);
        if (size <= 0) error::fire(ErrorId::invalid_arg, args[3]);
        const uint32_t n = block::length(data);
        if (n % static_cast<uint32_t>(size)) {
            failed = returned_error(kNotAligned);
        } else {
            for (uint32_t i = 0; i < n; i += static_cast<uint32_t>(size))
                w.line(static_cast<uint32_t>(size), cell::series_node(data), block::head_index(data) + i);
        }
    } else {
        const uint32_t n = block::length(data);
        const Cell first = n ? block::head(data)[0] : cell::none();
        const bool keyval = cell::is(first, TypeId::map) || cell::is(first, TypeId::object);
        bool same = keyval;
        for (uint32_t i = 1; same && i < n; ++i) same = cell::type(block::head(data)[i]) == cell::type(first);
        if (same) {
            failed = encode_maps(w, data);
        } else if (!keyval && !cell::is(first, TypeId::block)) {
            w.record(data);  // a block of plain values is one record
        } else {
            const uint32_t width = block::length(first);
            for (uint32_t i = 0; i < n && cell::is(failed, TypeId::unset); ++i) {
                const Cell row = block::head(data)[i];
                if (!cell::is(row, TypeId::block) || block::length(row) != width) failed = returned_error(kNotAligned);
            }
            if (cell::is(failed, TypeId::unset))
                for (uint32_t i = 0; i < n; ++i) w.record(block::head(data)[i]);
        }
    }
    if (!cell::is(failed, TypeId::unset)) return args.done(failed);
    return args.done(string::from_utf8(w.out, w.ascii_only));
}

}  // namespace

void register_routines() {
    (void)function::add_routine("csv-decode", decode);
    (void)function::add_routine("csv-encode", encode);
}

}  // namespace zub::csv_codec
