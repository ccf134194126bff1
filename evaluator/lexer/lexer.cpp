// The scanner loop: drives the machine of tables.h over the input one byte at a time, hands each
// token to its action, keeps open blocks, parens, maps and paths as markers on the value stack
// and closes them into series, and raises the syntax errors. The token loaders are loaders.cpp's.
#include "evaluator/lexer/lexer.h"
#include "runtime/collector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "datatypes/map.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "evaluator/lexer/lexer_state.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::lexer {

// The braced-string loader, shared with loaders.cpp.
void load_braced(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load);
// A word segment or head of a path: loads the word with its prefix rules.
void load_word(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load);

namespace {

constexpr uint32_t kStackCells = 1000;
constexpr uint32_t kBufferSize = 100000;

NodeId g_stack = 0;             // block of cells; its tail is the stack top
Lexer* g_chain = nullptr;       // the innermost running call
std::byte* g_buffer = nullptr;  // UTF-8 copies of string and binary sources
uint32_t g_buffer_used = 0;     // bytes taken by running calls

// Marker cells, the lexer's own layout, read and written only here: w1 the enclosing block start,
// w2 the kind (commas of a point in the upper 16 bits), w3 the byte offset of the opening token.
Cell& marker_at(uint32_t index) { return stack_cells()[index]; }
Cell make_marker(uint32_t outer_start, int32_t kind, uint32_t offset) {
    return cell::make(TypeId::triple, outer_start, static_cast<uint32_t>(kind), offset);
}
int32_t marker_kind(const Cell& m) { return static_cast<int32_t>(m.w2 & 0xFFFF); }
uint32_t marker_commas(const Cell& m) { return m.w2 >> 16; }
void set_marker_point(Cell& m, int32_t kind, uint32_t commas) { m.w2 = static_cast<uint32_t>(kind) | commas << 16; }
uint32_t marker_outer(const Cell& m) { return m.w1; }
uint32_t marker_offset(const Cell& m) { return m.w3; }

bool is_path_kind(int32_t kind) {
    return kind >= static_cast<int32_t>(TypeId::path) && kind <= static_cast<int32_t>(TypeId::get_path);
}
constexpr int32_t kind_of(TypeId t) { return static_cast<int32_t>(t); }

// Character index (0-based) of a byte position, counted on from the last one asked for; the byte
// offset itself for binary input.
uint32_t char_index(Lexer& s, const Byte* at) {
    if (s.bytes) return static_cast<uint32_t>(at - s.input_start);
    if (at < s.char_mark) {
        s.char_mark = s.input_start;
        s.char_index = 0;
    }
    s.char_index += unicode::count_utf8_chars(reinterpret_cast<const std::byte*>(s.char_mark),
                                              reinterpret_cast<const std::byte*>(at));
    s.char_mark = at;
    return s.char_index;
}

// A string! of UTF-8 text in which bad bytes may stand: each becomes U+FFFD, so that an error
// can quote the very text that failed. May collect.
Cell lenient_string(const Byte* start, const Byte* end) {
    uint32_t count = 0, widest = 0;
    for (const Byte* p = start; p < end;) {
        const auto d = unicode::decode_utf8_char(reinterpret_cast<const std::byte*>(p), static_cast<uint32_t>(end - p));
        const uint32_t cp = d.cp < 0 ? 0xFFFD : static_cast<uint32_t>(d.cp);
        widest = std::max(widest, cp);
        p += d.length;
        ++count;
    }
    const uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    const NodeId node = memory::alloc_series(std::max(count, 1u), unit, 0);
    SeriesBuffer* b = memory::buffer(node);
    for (const Byte* p = start; p < end;) {
        const auto d = unicode::decode_utf8_char(reinterpret_cast<const std::byte*>(p), static_cast<uint32_t>(end - p));
        series::store_unit(b->tail_ptr(), unit, d.cp < 0 ? 0xFFFD : static_cast<uint32_t>(d.cp));
        b->tail += unit;
        p += d.length;
    }
    return cell::series(TypeId::string, node);
}

Cell ascii_string(const char* text) {
    const auto n = static_cast<uint32_t>(std::strlen(text));
    const NodeId node = memory::alloc_series(n, 1, 0);
    series::append_bytes(node, text, n);
    return cell::series(TypeId::string, node);
}

// ---- Opening and closing ----------------------------------------------------------------------

void open_block(Lexer& s, int32_t kind, const Byte* token_start, const Byte* token_end) {
    if (innermost_kind(s) == kind_of(TypeId::point2D)) throw_error(s, token_start, kind_of(TypeId::point2D));
    if (!fire_event(s, event::open, kind, nullptr, token_start, token_end)) return;
    // Open blocks, parens and paths: as deep as any other walk of a value goes.
    if (s.depth >= cycles::kMaxNesting) error::fire(ErrorId::too_deep);
    Cell* m = push_cell(s);
    cell::store_keeping_new_line(*m,
                                 make_marker(s.block_start, kind, static_cast<uint32_t>(token_start - s.input_start)));
    s.block_start = stack_top();
    ++s.depth;
    s.initial_state = 0;
}

// The delimiter a missing-delimiter error names: what the innermost marker lacks, or the opener
// an unexpected closer lacks.
uint8_t missing_delimiter(int32_t marker, uint8_t offending) {
    const bool block_like = marker == kind_of(TypeId::block) || marker == kind_of(TypeId::map);
    const bool paren_like = marker == kind_of(TypeId::paren) || marker == kind_of(TypeId::point2D);
    if (block_like) return offending == ']' ? '[' : ']';
    if (paren_like) return offending == ')' ? '(' : ')';
    return offending == ')' ? '(' : '[';
}

// A map literal holds key/value pairs whose keys a map accepts.
bool map_literal_ok(const Cell* values, uint32_t count) {
    if (count % 2) return false;
    for (uint32_t i = 0; i < count; i += 2)
        if (!map::valid_key_type(cell::type(values[i]))) return false;
    return true;
}

// Closes the innermost marker as `kind` (-1 keeps the marker's kind). `closer` is the byte
// that closes it, for the missing-delimiter error. Returns false when a trace hook refused.
bool close_block(Lexer& s, const Byte* token_start, const Byte* token_end, int32_t kind, uint8_t closer) {
    const int32_t marker = innermost_kind(s);
    const int32_t shown = marker == kind_of(TypeId::map) ? marker : (kind < 0 ? marker : kind);
    if (!fire_event(s, event::close, shown, nullptr, token_start, token_end)) return false;
    bool fits;
    if (kind < 0) {
        fits = marker != 0;
    } else if (kind == kind_of(TypeId::block)) {
        fits = marker == kind_of(TypeId::block) || marker == kind_of(TypeId::map);
    } else if (kind == kind_of(TypeId::paren)) {
        fits = marker == kind_of(TypeId::paren) || marker == kind_of(TypeId::point2D);
    } else if (kind == kind_of(TypeId::set_path)) {
        if (marker == kind_of(TypeId::lit_path) || marker == kind_of(TypeId::get_path)) {
            throw_error(s, s.input_start + marker_offset(stack_cells()[s.block_start - 1]), marker);
            return false;
        }
        fits = marker == kind_of(TypeId::path);
    } else {
        fits = marker == kind;
    }
    if (!fits) {
        throw_error(s, token_start, kMissing, closer);
        return false;
    }
    const uint32_t marker_index = s.block_start - 1;
    const uint32_t count = stack_top() - s.block_start;
    const int32_t result = kind < 0 || kind == kind_of(TypeId::block) || kind == kind_of(TypeId::paren) ? marker : kind;
    // Without loading, a none stands in for the block so one-value mode still sees one value.
    Cell value = cell::none();
    if (s.load && result == kind_of(TypeId::point2D)) {
        // A paren that a comma turned into a point: one number per field, two or three fields.
        const Cell* v = stack_cells() + s.block_start;
        const uint32_t commas = marker_commas(stack_cells()[marker_index]);
        bool ok = count == commas + 1 && (count == 2 || count == 3);
        float c[3] = {0.0f, 0.0f, 0.0f};
        for (uint32_t i = 0; ok && i < count; ++i) {
            if (cell::is(v[i], TypeId::integer)) c[i] = point::narrow(cell::as_integer(v[i]));
            else if (cell::is(v[i], TypeId::float_)) c[i] = point::narrow(cell::as_float(v[i]));
            else ok = false;
        }
        if (!ok) {
            throw_error(s, s.input_start + marker_offset(stack_cells()[marker_index]), kind_of(TypeId::point2D));
            return false;
        }
        value = count == 3 ? point::make3(c[0], c[1], c[2]) : point::make2(c[0], c[1]);
    } else if (s.load) {
        const bool is_map = result == kind_of(TypeId::map);
        if (is_map && !map_literal_ok(stack_cells() + s.block_start, count)) {
            throw_error(s, s.input_start + marker_offset(stack_cells()[marker_index]), result);
            return false;
        }
        const NodeId node = memory::alloc_cells(count);  // may move the stack
        SeriesBuffer* b = memory::buffer(node);
        std::memcpy(b->tail_ptr(), stack_cells() + s.block_start, size_t{count} * sizeof(Cell));
        b->tail += count * sizeof(Cell);
        value = is_map ? map::init_cell(node) : cell::series(static_cast<TypeId>(result), node);
    }
    Cell& m = marker_at(marker_index);
    s.block_start = marker_outer(m);
    cell::store_keeping_new_line(m, value);
    --s.depth;
    stack_drop_to(marker_index + 1);
    s.initial_state = is_path_kind(innermost_kind(s)) ? 59 : 0;
    s.last_type = result;  // what a scan of the whole block reports
    return true;
}

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------------

Cell* stack_cells() { return memory::buffer(g_stack)->cells(); }
uint32_t stack_top() { return series::length(g_stack); }
void stack_drop_to(uint32_t top) { series::set_tail(g_stack, top + 1); }

Cell* push_cell(Lexer& s) {
    Cell* c = series::alloc_tail_cell(g_stack);
    if (s.lead_lines) c->header |= cell_flag::new_line;
    return c;
}

int32_t innermost_kind(const Lexer& s) {
    if (s.block_start == s.base) return 0;
    return marker_kind(stack_cells()[s.block_start - 1]);
}

// The byte position of a 0-based index (characters, or bytes for binary input), within the input.
const Byte* position_of(const Lexer& s, uint32_t index) {
    const Byte* p = s.input_start;
    if (s.bytes) return p + std::min<size_t>(index, static_cast<size_t>(s.input_end - p));
    for (; index > 0 && p < s.input_end; --index) do
            ++p;
        while (p < s.input_end && (*p & 0xC0) == 0x80);
    return p;
}

bool fire_event(Lexer& s, uint32_t bit, int32_t type, const Cell* value, const Byte* start, const Byte* end) {
    if (!s.trace || !(s.trace->mask & bit)) return true;
    TraceInfo info{bit, type, s.line, char_index(s, start) + 1, char_index(s, end) + 1, value};
    const bool go_on = s.trace->hook(s.trace->data, info);
    if (info.resume != TraceInfo::kStay) s.resume_at = position_of(s, info.resume);
    return go_on;
}

// Goes on from where a trace hook moved the input, keeping the line count true.
void resume(Lexer& s) {
    const Byte* to = s.resume_at;
    s.resume_at = nullptr;
    if (to > s.pos) s.line += static_cast<uint32_t>(std::count(s.pos, to, Byte{'\n'}));
    else s.line -= static_cast<uint32_t>(std::count(to, s.pos, Byte{'\n'}));
    s.pos = to;
}

void throw_error(Lexer& s, const Byte* near, int32_t kind, uint8_t offending) {
    if (!s.load) {
        s.token_type = kind_of(TypeId::error);
        s.last_type = kind_of(TypeId::error);
        throw QuietStop{};
    }
    if (s.trace && (s.trace->mask & event::error)) {
        // A block or paren still open at the end is reported as that type: a reader can tell it
        // from bad input and wait for more.
        int32_t shown = kind == kMissingAtEnd ? innermost_kind(s) : kind;
        if (shown <= 0)
            shown = s.override_kind > 0 ? s.override_kind : s.token_type > 0 ? s.token_type : kind_of(TypeId::error);
        if (!fire_event(s, event::error, shown, nullptr, near, s.token_end)) {
            if (is_path_kind(innermost_kind(s))) close_block(s, near, near, -1, 0);
            return;
        }
    }
    // Up to 30 bytes of whole characters, stopping at a line feed.
    const Byte* stop = near;
    while (stop < s.input_end && *stop != '\n' && *stop != 0) {
        const uint32_t n = std::max<uint32_t>(1, unicode::utf8_sequence_length(*stop));
        if (stop + n - near > 30 || stop + n > s.input_end) break;
        stop += n;
    }
    char line_text[32];
    std::snprintf(line_text, sizeof line_text, "(line %u)", s.line);
    const Cell line = ascii_string(line_text);
    const Cell near_text = lenient_string(near, stop);
    if (is_path_kind(kind)) kind = kBadChar;
    switch (kind) {
        case kBadChar: error::fire(ErrorId::bad_char, line, near_text);
        case kMalconstruct: error::fire(ErrorId::malconstruct, line, near_text);
        case kMissing:
        case kMissingAtEnd: {
            const uint8_t byte = kind == kMissingAtEnd ? '_' : offending;
            const Cell delimiter = cell::character(missing_delimiter(innermost_kind(s), byte));
            error::fire(ErrorId::missing, line, delimiter, near_text);
        }
        default:
            error::fire(ErrorId::invalid, line, cell::make(TypeId::datatype, static_cast<uint32_t>(kind)), near_text);
    }
}

namespace {

// Bytes that end a path: white space, brackets, braces, quotes, a comment, the end.
bool ends_path(Byte b) {
    switch (static_cast<CharClass>(class_of(b))) {
        case CharClass::space:
        case CharClass::line_feed:
        case CharClass::block_open:
        case CharClass::block_close:
        case CharClass::paren_open:
        case CharClass::paren_close:
        case CharClass::brace_open:
        case CharClass::brace_close:
        case CharClass::double_quote:
        case CharClass::semicolon:
        case CharClass::control:
        case CharClass::end: return true;
        default: return false;
    }
}

const Byte* after(const Lexer& s, const Byte* p) { return p < s.input_end ? p + 1 : p; }

// A ( opens a point literal when a , comes before anything that cannot be part of a number.
bool opens_point(const Byte* p, const Byte* end) {
    if (end - p <= 3) return false;
    for (; p < end; ++p) {
        switch (*p) {
            case ' ':
            case '\t':
            case '+':
            case '-':
            case '.':
            case '#':
            case 'A':
            case 'E':
            case 'F':
            case 'I':
            case 'N':
            case 'a':
            case 'e':
            case 'f':
            case 'i':
            case 'n': continue;
            default:
                if (*p >= '0' && *p <= '9') continue;
                return *p == ',';
        }
    }
    return false;
}

// Where a token's error text starts when the error action reports it.
const Byte* error_near(const Lexer& s, int32_t kind, const Byte* token_start) {
    if (s.brace_depth > 0) return s.brace_start - 1;
    if (is_path_kind(kind) || kind == kind_of(TypeId::block) || kind == kind_of(TypeId::paren)) {
        if (s.block_start == s.base) return s.input_start;
        return s.input_start + marker_offset(stack_cells()[s.block_start - 1]);
    }
    return token_start;
}

void open_path(Lexer& s, const Byte* start, const Byte* end, uint32_t flags) {
    if (is_path_kind(innermost_kind(s))) {
        load_word(s, start, end, flags, s.load);  // a later segment
    } else {
        TypeId kind = TypeId::path;
        if (*start == '\'') kind = TypeId::lit_path;
        if (*start == ':') kind = TypeId::get_path;
        open_block(s, kind_of(kind), start, end);
        if (kind != TypeId::path) ++start;
        const uint32_t lead = s.lead_lines;
        s.lead_lines = 0;  // the path, not its head, starts the line
        load_word(s, start, end, flags & ~(token_flag::quote | token_flag::colon), s.load);
        s.lead_lines = lead;
    }
    s.pos = after(s, end);  // the /
    s.initial_state = 59;
    if (s.pos == s.input_end) {
        const int32_t kind = innermost_kind(s);
        throw_error(s, s.input_start + marker_offset(stack_cells()[s.block_start - 1]), kind);
        close_block(s, s.pos, s.pos, -1, 0);  // a trace hook let it pass
    }
}

void close_braced(Lexer& s, const Byte* end, uint32_t flags) {
    s.brace_flags |= flags;
    if (--s.brace_depth > 0) return;
    s.initial_state = 0;
    if (!fire_event(s, event::close, kind_of(TypeId::string), nullptr, s.brace_start - 1, end)) return;
    // The scanned token takes in its closing brace.
    if (!fire_event(s, event::scan, kind_of(TypeId::string), nullptr, s.brace_start - 1, end + 1)) return;
    s.lead_lines = (s.brace_flags & token_flag::new_line) ? 1 : 0;
    const uint32_t top = stack_top();
    load_braced(s, s.brace_start, end, s.brace_flags & ~token_flag::new_line, s.load);
    if (s.load && stack_top() > top && s.trace && (s.trace->mask & event::load)) {
        const Cell v = stack_cells()[top];
        if (!fire_event(s, event::load, kind_of(TypeId::string), &v, s.brace_start - 1, end)) stack_drop_to(top);
    }
}

void comma(Lexer& s, const Byte* start) {
    const int32_t kind = innermost_kind(s);
    if (kind == kind_of(TypeId::paren) || kind == kind_of(TypeId::point2D)) {
        Cell& m = stack_cells()[s.block_start - 1];
        const uint32_t commas = (kind == kind_of(TypeId::paren) ? 0 : marker_commas(m)) + 1;
        // Each comma ends one field of one number: (1 2, , 3) is not a point.
        if (s.load && stack_top() - s.block_start != commas) {
            throw_error(s, start, kind_of(TypeId::point2D));
            return;
        }
        set_marker_point(m, kind_of(TypeId::point2D), commas);
        return;
    }
    throw_error(s, start, kind_of(TypeId::point2D));
}

// The actions that delimit rather than load: 1-10, 12 and 13.
void run_punctuation(Lexer& s, int action, const Byte* start, const Byte* end, uint32_t flags) {
    switch (action) {
        case 1: s.pos = s.input_end; break;
        case 2: {
            int32_t kind = s.last_state > 64 ? 0 : type_table[s.last_state];
            if (kind == 0) kind = kBadChar;
            s.token_type = kind_of(TypeId::error);
            throw_error(s, error_near(s, kind, start), kind, end < s.input_end ? *end : 0);
            s.pos = after(s, end);  // a trace hook let it pass: step over the bad byte
            break;
        }
        case 3:
            s.pos = after(s, end);
            open_block(s, kind_of(TypeId::block), start, s.pos);
            break;
        case 4:
            s.pos = after(s, end);
            close_block(s, start, s.pos, kind_of(TypeId::block), ']');
            break;
        case 5:
            s.pos = after(s, end);
            if (innermost_kind(s) != kind_of(TypeId::point2D) && opens_point(s.pos, s.input_end)) {
                if (fire_event(s, event::open, kind_of(TypeId::point2D), nullptr, start, s.pos)) s.initial_state = 35;
            } else {
                open_block(s, kind_of(TypeId::paren), start, s.pos);
            }
            break;
        case 6:
            s.pos = after(s, end);
            close_block(s, start, s.pos, kind_of(TypeId::paren), ')');
            break;
        case 7:
            s.pos = after(s, end);
            if (s.brace_depth == 0) {
                if (!fire_event(s, event::open, kind_of(TypeId::string), nullptr, end, s.pos)) break;
                s.brace_start = s.pos;
                s.brace_flags = s.lead_lines ? token_flag::new_line : 0;
            }
            ++s.brace_depth;
            s.brace_flags |= flags;
            s.initial_state = 4;
            break;
        case 8:
            s.pos = after(s, end);
            close_braced(s, end, flags);
            break;
        case 9:
            s.pos = after(s, end);
            open_block(s, kind_of(TypeId::map), start, s.pos);
            break;
        case 10: open_path(s, start, end, flags); break;
        case 12: break;
        case 13:
            s.pos = after(s, end);
            comma(s, start);
            break;
        default: break;
    }
}

// After a path segment: the path closes at a delimiter (a set-path! at :), goes on at /.
void path_step(Lexer& s) {
    const Byte* p = s.pos;
    const Byte* opening = s.input_start + marker_offset(stack_cells()[s.block_start - 1]);
    const int32_t kind = innermost_kind(s);
    if (p == s.input_end || ends_path(*p)) {
        close_block(s, p, p, -1, 0);
    } else if (*p == ':') {
        s.pos = p + 1;
        if (s.pos < s.input_end && *s.pos == '/') {
            throw_error(s, opening, kind);
            return;
        }
        close_block(s, p, s.pos, kind_of(TypeId::set_path), ':');
    } else if (*p == '/') {
        s.pos = p + 1;
        if (s.pos == s.input_end || *s.pos == ':') throw_error(s, opening, kind);
    } else {
        throw_error(s, opening, kind);
        s.pos = after(s, p);
    }
}

// What the machine reads for a token beyond its end when the token is dropped unread.
const Byte* skip_dropped(const Lexer& s, int action, const Byte* end) {
    switch (action) {
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
        case 13:
        case 14:
        case 19:
        case 21:
        case 22:
        case 31: return after(s, end);
        case 20: return s.pos;
        default: return end;
    }
}

// Where a word ends early at a Unicode space: the token end, or the space's start.
const Byte* measure_word(const Byte* start, const Byte* end, const Byte** space_end) {
    for (const Byte* p = start; p < end;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const auto d = unicode::decode_utf8_char(reinterpret_cast<const std::byte*>(p), static_cast<uint32_t>(end - p));
        if (d.cp >= 0 && is_unicode_space(static_cast<uint32_t>(d.cp))) {
            *space_end = p + d.length;
            return p;
        }
        p += d.length;
    }
    return end;
}

void scan_tokens(Lexer& s, bool one, bool prescan) {
    while (s.pos < s.input_end) {
        const Byte* p = s.pos;
        const Byte* const input_end = s.input_end;
        const Byte* start = p;
        uint8_t state = s.initial_state;
        uint32_t flags = 0, line = s.line, lead = s.line;
        uint8_t next;
        for (;;) {
            if (p == input_end) {
                next = transition_table[state][static_cast<int>(CharClass::end)];
                break;
            }
            const Byte b = *p;
            const uint32_t entry = class_table[b];
            const uint8_t c = static_cast<uint8_t>(entry);
            next = transition_table[state][c];
            if (next > kActionBase) {
                flags |= (entry & token_flag::mask) | (b & 0x80u) << 1;
                break;
            }
            flags |= (entry & token_flag::mask) | (b & 0x80u) << 1;
            line += line_table[c];
            ++p;
            if (next == 0) {  // white space before the token
                start = p;
                lead = line;
            }
            state = next;
        }
        s.last_state = state;
        s.token_end = p;
        s.pos = p;
        s.lead_lines = lead - s.line;
        s.line = line;
        s.override_kind = -1;
        s.token_type = type_table[next];
        int action = next - kActionBase;
        const Byte* end = p;

        if (action == 15) {
            const Byte* space_end = nullptr;
            if (flags & kNonAscii) end = measure_word(start, end, &space_end);
            if (end == start) {
                if (space_end && space_end < input_end) {
                    s.pos = space_end;
                    continue;
                }
                action = 1;
                s.token_type = 0;
            }
            s.token_end = s.pos = end;
        }

        bool go_on = !prescan;
        if (prescan && action <= 14) {
            const bool load = s.load;
            s.load = false;
            if (action <= 13 && action != 11) run_punctuation(s, action, start, end, flags);
            else g_loaders[action](s, start, end, flags, false);
            s.load = load;
        }
        if (s.trace && s.brace_depth == 0 && (s.trace->mask & event::prescan)) {
            go_on =
                fire_event(s, event::prescan, s.token_type ? s.token_type : -action, nullptr, start, end) && !prescan;
        }

        if (go_on) {
            if (action <= 13 && action != 11) {
                run_punctuation(s, action, start, end, flags);
            } else {
                const Action fn = g_loaders[action];
                const bool scan_event = s.trace && (s.trace->mask & event::scan);
                if (!s.load || scan_event) {
                    fn(s, start, end, flags, false);
                    // A token the loader read on past (a closing quote, ">", "%") is reported whole.
                    if (scan_event)
                        go_on = fire_event(s, event::scan, s.token_type, nullptr, start, std::max(end, s.pos));
                }
                if (go_on && s.load) {
                    const uint32_t top = stack_top();
                    fn(s, start, end, flags, true);
                    if (stack_top() > top && s.trace && (s.trace->mask & event::load)) {
                        const Cell v = stack_cells()[top];
                        if (!fire_event(s, event::load, s.token_type, &v, start, end)) stack_drop_to(top);
                    }
                }
                if (!go_on) s.pos = skip_dropped(s, action, end);
            }
        } else if (!prescan) {
            s.pos = skip_dropped(s, action, end);
        }
        if (s.token_type) s.last_type = s.token_type;

        if (action != 10 && action != 2 && s.initial_state == 59 && s.brace_depth == 0 &&
            is_path_kind(innermost_kind(s))) {
            path_step(s);
        }
        if (s.resume_at) resume(s);

        if ((one || prescan) && (s.token_type != 0 || action == 4 || action == 6) && s.brace_depth == 0 &&
            s.initial_state == 0 && innermost_kind(s) == 0) {
            const uint32_t held = stack_top() - s.base;
            if (held == 0 || (held == 1 && !cell::is(stack_cells()[s.base], TypeId::triple))) return;
        }
    }
}

// Links a call into the chain and gives the value stack back when it ends, however it ends.
class CallScope {
  public:
    explicit CallScope(Lexer& s) : s_(s) {
        s.parent = g_chain;
        g_chain = &s;
    }
    ~CallScope() {
        stack_drop_to(s_.base);
        g_chain = s_.parent;
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

  private:
    Lexer& s_;
};

// Takes room in the shared UTF-8 buffer, or a heap block when it lacks room, for one call.
class BufferScope {
  public:
    explicit BufferScope(uint32_t size) : saved_(g_buffer_used) {
        if (g_buffer && kBufferSize - g_buffer_used >= size) {
            data_ = g_buffer + g_buffer_used;
            g_buffer_used += size;
        } else {
            heap_ = static_cast<std::byte*>(lowrt::allocate(size_t{size} + 1));
            data_ = heap_;
        }
    }
    ~BufferScope() {
        g_buffer_used = saved_;
        lowrt::free(heap_);
    }
    BufferScope(const BufferScope&) = delete;
    BufferScope& operator=(const BufferScope&) = delete;
    std::byte* data() const { return data_; }

  private:
    uint32_t saved_;
    std::byte* heap_ = nullptr;
    std::byte* data_ = nullptr;
};

}  // namespace

void init() {
    g_stack = memory::alloc_cells(kStackCells);
    collector::add_root(&g_stack);
    g_chain = nullptr;
    if (!g_buffer) g_buffer = static_cast<std::byte*>(lowrt::allocate(kBufferSize));
    g_buffer_used = 0;
}

NodeId stack_node() { return g_stack; }

Result transcode(const std::byte* utf8, uint32_t length, const Options& options) {
    Lexer s{};
    s.input_start = reinterpret_cast<const Byte*>(utf8);
    s.input_end = s.input_start + length;
    s.pos = s.input_start;
    s.char_mark = s.input_start;
    s.line = 1;
    s.override_kind = -1;
    s.trace = options.trace;
    s.load = options.load;
    s.bytes = options.bytes;
    s.base = s.block_start = stack_top();
    CallScope scope(s);

    Result result{cell::none(), TypeId::none, 0};
    try {
        scan_tokens(s, options.one || options.prescan, options.prescan);
        if (s.brace_depth > 0) throw_error(s, s.brace_start - 1, kind_of(TypeId::string));
        while (s.block_start != s.base) {
            const int32_t kind = innermost_kind(s);
            if (!s.load && is_path_kind(kind)) break;
            const Byte* opening = s.input_start + marker_offset(stack_cells()[s.block_start - 1]);
            s.token_end = s.input_end;
            throw_error(s, opening, kMissingAtEnd);
            close_block(s, s.input_end, s.input_end, -1, 0);  // a trace hook let it pass
        }
    } catch (const QuietStop&) {
        result.type = TypeId::error;
        result.consumed = static_cast<uint32_t>(s.pos - s.input_start);
        return result;
    }

    result.type = static_cast<TypeId>(s.last_type);
    result.consumed = static_cast<uint32_t>(s.pos - s.input_start);
    const uint32_t count = stack_top() - s.base;
    if (options.one || options.prescan) {
        if (count > 0 && s.load) result.value = stack_cells()[s.base];
    } else if (options.into) {
        for (uint32_t i = 0; i < count; ++i) series::append_cell(options.into, stack_cells()[s.base + i]);
        result.value = cell::series(TypeId::block, options.into);
    } else {
        const NodeId node = memory::alloc_cells(count);
        SeriesBuffer* b = memory::buffer(node);
        if (count) std::memcpy(b->tail_ptr(), stack_cells() + s.base, size_t{count} * sizeof(Cell));
        b->tail += count * sizeof(Cell);
        result.value = cell::series(TypeId::block, node);
    }
    return result;
}

NodeId load(const std::byte* utf8, uint32_t length) {
    return cell::series_node(transcode(utf8, length, Options{}).value);
}

Result transcode_value(Cell source, int32_t length, const Options& options) {
    const SeriesBuffer* b = memory::buffer(cell::series_node(source));
    const uint32_t unit = b->unit();
    const uint32_t available =
        b->used() / unit > cell::series_index(source) ? b->used() / unit - cell::series_index(source) : 0;
    const uint32_t count = length < 0 ? available : std::min(available, static_cast<uint32_t>(length));
    const std::byte* units =
        memory::buffer(cell::series_node(source))->head_ptr() + size_t{cell::series_index(source)} * unit;
    if (cell::is(source, TypeId::binary)) {
        BufferScope room(count);
        std::memcpy(room.data(), units, count);
        Options bytes = options;
        bytes.bytes = true;
        return transcode(room.data(), count, bytes);
    }
    const uint64_t size = unicode::utf8_size(units, units + size_t{count} * unit, unit);
    if (size > 0xFFFFFFF0u) error::fire(ErrorId::no_memory);
    BufferScope room(static_cast<uint32_t>(size));
    // Surrogates stay as they are, so the lexer refuses them as it refuses them in a file.
    const uint32_t written =
        unicode::string_to_utf8_into(source, room.data(), static_cast<uint32_t>(size), count, false, true);
    Result r = transcode(room.data(), written, options);
    r.consumed = unicode::count_utf8_chars(room.data(), room.data() + r.consumed);
    return r;
}

}  // namespace zub::lexer
