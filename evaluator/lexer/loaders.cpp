// The token loaders: once the machine has delimited a token, its loader checks the text and, when
// loading, pushes the value on the lexer's value stack. With the load flag off a loader only
// checks and moves the position. Every refusal goes through throw_error with the token's kind.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/locale.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "evaluator/lexer/lexer_state.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zub::lexer {

bool decimal_text_ok(const char* text, uint32_t length);

namespace {

constexpr int32_t kind_of(TypeId t) { return static_cast<int32_t>(t); }
using context::kUnresolved;
constexpr uint32_t kMaxNumberText = 312;  // longer decimal text is refused outright

const Byte* after(const Lexer& s, const Byte* p) { return p < s.input_end ? p + 1 : p; }

int hex_value(Byte b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    return -1;
}

bool equal_ascii_nocase(const Byte* a, size_t n, std::string_view b) {
    if (n != b.size()) return false;
    for (size_t i = 0; i < n; ++i) {
        Byte x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<Byte>(x + 32);
        char y = b[i];
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != static_cast<Byte>(y)) return false;
    }
    return true;
}

bool valid_utf8(const Byte* start, const Byte* end) {
    for (const Byte* p = start; p < end;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const auto d = unicode::decode_utf8_char(reinterpret_cast<const std::byte*>(p), static_cast<uint32_t>(end - p));
        if (d.cp < 0) return false;
        p += d.length;
    }
    return true;
}

int32_t kind_or_override(const Lexer& s, TypeId fallback) {
    return s.override_kind > 0 ? s.override_kind : kind_of(fallback);
}

// A scratch byte buffer for a token's decoded bytes: on the machine stack when small.
class Scratch {
  public:
    explicit Scratch(size_t size) : data_(size <= sizeof local_ ? local_ : static_cast<Byte*>(lowrt::allocate(size))) {}
    ~Scratch() {
        if (data_ != local_) lowrt::free(data_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    Byte* data() { return data_; }

  private:
    Byte local_[512];
    Byte* data_;
};

// ---- Text ---------------------------------------------------------------------------------------

// One code point of text at p, with ^ escapes when asked; -1 for bad UTF-8 or a bad escape.
int32_t next_code_point(const Byte*& p, const Byte* end, bool carets) {
    const Byte b = *p;
    if (b < 0x80) {
        ++p;
        if (b == '^' && carets) return p < end ? decode_escape(p, end) : -1;
        return b;
    }
    const auto d = unicode::decode_utf8_char(reinterpret_cast<const std::byte*>(p), static_cast<uint32_t>(end - p));
    p += d.length;
    return d.cp;
}

// Decodes %xx sequences into `out` (room for end - start bytes); a % not followed by two
// hexadecimal digits stays as it is. Returns the end of the decoded bytes.
Byte* decode_percents(const Byte* start, const Byte* end, Byte* out) {
    for (const Byte* p = start; p < end;) {
        if (*p == '%' && end - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
            *out++ = static_cast<Byte>(hex_value(p[1]) << 4 | hex_value(p[2]));
            p += 3;
        } else {
            *out++ = *p++;
        }
    }
    return out;
}

// Pushes a text value of the type from UTF-8 [start, end), narrowest unit that holds it.
// False (nothing pushed) when the text holds bad UTF-8 or a bad escape.
bool push_text(Lexer& s, TypeId type, const Byte* start, const Byte* end, bool carets, bool fast_ascii, bool load) {
    uint32_t count = 0, widest = 0;
    if (fast_ascii) {
        count = static_cast<uint32_t>(end - start);
    } else {
        for (const Byte* p = start; p < end; ++count) {
            const int32_t cp = next_code_point(p, end, carets);
            if (cp < 0) return false;
            widest = std::max(widest, static_cast<uint32_t>(cp));
        }
    }
    if (!load) return true;
    const uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    const NodeId node = memory::alloc_series(std::max(count, 1u), unit, 0);
    SeriesBuffer* b = memory::buffer(node);
    if (fast_ascii) {
        if (count) std::memcpy(b->tail_ptr(), start, count);
        b->tail += count;
    } else {
        std::byte* out = b->tail_ptr();
        for (const Byte* p = start; p < end; out += unit)
            series::store_unit(out, unit, static_cast<uint32_t>(next_code_point(p, end, carets)));
        b->tail += count * unit;
    }
    push_cell(s, cell::series(type, node));
    return true;
}

// Text whose %xx sequences are decoded first (unquoted files, urls).
bool push_percent_text(Lexer& s, TypeId type, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (!(flags & token_flag::percent)) return push_text(s, type, start, end, false, !(flags & kNonAscii), load);
    Scratch scratch(static_cast<size_t>(end - start) + 1);
    Byte* decoded_end = decode_percents(start, end, scratch.data());
    return push_text(s, type, scratch.data(), decoded_end, false, false, load);
}

void load_quoted(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    s.pos = after(s, end);  // the closing "
    const bool plain = !(flags & (kNonAscii | token_flag::caret));
    if (!push_text(s, s.override_kind > 0 ? static_cast<TypeId>(s.override_kind) : TypeId::string, start + 1, end, true,
                   plain, load)) {
        throw_error(s, start, kind_or_override(s, TypeId::string));
    }
}

void load_raw(Lexer& s, const Byte* start, const Byte*, uint32_t, bool load) {
    uint32_t percents = 0;
    const Byte* p = start;
    while (*p == '%') ++p, ++percents;
    const Byte* body = p + 1;  // after the {
    // The token may have stopped at a } with too few % signs: the string goes on to one with
    // enough of them.
    for (const Byte* q = body; q < s.input_end; ++q) {
        if (*q != '}') continue;
        uint32_t n = 0;
        while (n < percents && q + 1 + n < s.input_end && q[1 + n] == '%') ++n;
        if (n < percents) continue;
        // Lines beyond the token's end were not counted by the machine.
        if (q > s.token_end) {
            for (const Byte* r = s.token_end; r < q; ++r) s.line += *r == '\n';
            s.token_end = q;
        }
        s.pos = q + 1 + percents;
        if (!push_text(s, TypeId::string, body, q, false, false, load)) throw_error(s, start, kind_of(TypeId::string));
        return;
    }
    throw_error(s, start, kind_of(TypeId::string));
    s.pos = s.input_end;
}

void load_tag(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    s.pos = after(s, end);  // the >
    if (*start != '<' || !push_text(s, TypeId::tag, start + 1, end, false, !(flags & kNonAscii), load)) {
        throw_error(s, start, kind_of(TypeId::tag));
    }
}

void load_url(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (*start == ':' || *start == '\'' || !push_percent_text(s, TypeId::url, start, end, flags, load)) {
        throw_error(s, start, kind_of(TypeId::url));
    }
}

void load_email(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (!push_text(s, TypeId::email, start, end, false, !(flags & kNonAscii), load))
        throw_error(s, start, kind_of(TypeId::email));
}

void load_ref(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (!push_text(s, TypeId::ref, start + 1, end, false, !(flags & kNonAscii), load))
        throw_error(s, start, kind_of(TypeId::ref));
}

void load_file(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    bool ok;
    if (end - start >= 2 && start[1] == '"') {
        s.pos = after(s, end);  // the closing "
        ok = push_text(s, TypeId::file, start + 2, end, true, false, load);
    } else {
        ok = push_percent_text(s, TypeId::file, start + 1, end, flags, load);
    }
    if (!ok) throw_error(s, start, kind_of(TypeId::file));
}

void load_char(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.pos = after(s, end);  // the closing "
    const Byte* p = start + 2;
    int32_t cp = -1;
    if (p < end) cp = next_code_point(p, end, true);
    if (cp < 0 || p != end || static_cast<uint32_t>(cp) > unicode::kMaxCodePoint) {
        throw_error(s, start, kind_of(TypeId::char_));
        return;
    }
    if (load) push_cell(s, cell::character(static_cast<uint32_t>(cp)));
}

// ---- Words --------------------------------------------------------------------------------------

void push_word(Lexer& s, TypeId type, const Byte* start, const Byte* end, bool load) {
    s.token_type = kind_of(type);
    if (!load) return;
    const symbol::Id id = symbol::make({reinterpret_cast<const char*>(start), static_cast<size_t>(end - start)});
    Cell w = type == TypeId::issue ? cell::make(TypeId::issue, context::global(), id, kUnresolved) : words::global(id);
    cell::set_type(w, type);
    push_cell(s, w);
}

void load_refinement(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (end - start < 2 || ((flags & kNonAscii) && !valid_utf8(start, end))) {
        throw_error(s, start, kind_of(TypeId::refinement));
        return;
    }
    push_word(s, TypeId::refinement, start + 1, end, load);
}

void load_issue(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (end - start < 2 || *start != '#' || ((flags & kNonAscii) && !valid_utf8(start, end))) {
        throw_error(s, start, kind_of(TypeId::issue));
        return;
    }
    push_word(s, TypeId::issue, start + 1, end, load);
}

// #(true), #(none), #(integer!): values that have no literal form of their own.
void load_construction(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.pos = after(s, end);  // the )
    const Byte* a = start + 2;
    const Byte* b = end;
    while (a < b && (*a == ' ' || *a == '\t')) ++a;
    while (b > a && (b[-1] == ' ' || b[-1] == '\t')) --b;
    const size_t n = static_cast<size_t>(b - a);
    Cell value;
    if (equal_ascii_nocase(a, n, "true")) value = cell::logic(true);
    else if (equal_ascii_nocase(a, n, "false")) value = cell::logic(false);
    else if (equal_ascii_nocase(a, n, "none")) value = cell::none();
    else if (equal_ascii_nocase(a, n, "unset")) value = cell::unset();
    else {
        value = cell::unset();  // not found yet
        for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id) {
            if (registry::is_type_id(id) && equal_ascii_nocase(a, n, registry::name(static_cast<TypeId>(id)))) {
                value = cell::make(TypeId::datatype, id);
                break;
            }
        }
        if (!cell::is(value, TypeId::datatype)) {
            throw_error(s, start, kMalconstruct);
            return;
        }
    }
    s.token_type = static_cast<int32_t>(cell::type(value));
    if (load) push_cell(s, value);
}

// ---- Numbers ------------------------------------------------------------------------------------

// Decimal text with ' separators and a point, as text_to_float reads it. False when refused.
bool read_decimal(const Byte* start, const Byte* end, int adjust, double& out) {
    const auto length = static_cast<uint32_t>(end - start);
    if (length == 0 || length > kMaxNumberText) return false;
    if (!decimal_text_ok(reinterpret_cast<const char*>(start), length)) return false;
    char text[kMaxNumberText];
    uint32_t n = 0;
    for (const Byte* p = start; p < end; ++p) {
        if (*p != '\'') text[n++] = static_cast<char>(*p);
    }
    int errors = 0;
    out = float_text::text_to_float(text, text + n, adjust, &errors);
    return errors == 0;
}

void load_float(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    double v;
    if (!read_decimal(start, end, 0, v)) {
        throw_error(s, start, kind_of(TypeId::float_));
        return;
    }
    s.token_type = kind_of(TypeId::float_);
    if (load) push_cell(s, cell::floating(v));
}

void load_integer(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    if (end - start == 1) {
        if (load) push_cell(s, cell::integer(*start - '0'));
        return;
    }
    const Byte* p = start;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    uint64_t value = 0;
    uint32_t digits = 0;
    for (; p < end; ++p) {
        if (*p == '\'') {
            if (p + 1 < end && p[1] == '\'') {
                throw_error(s, start, kind_of(TypeId::integer));
                return;
            }
            continue;
        }
        if (*p < '0' || *p > '9') {
            throw_error(s, start, kind_of(TypeId::integer));
            return;
        }
        if (++digits > 10) break;
        value = value * 10 + (*p - '0');
    }
    if (digits == 0) {
        throw_error(s, start, kind_of(TypeId::integer));
        return;
    }
    const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (digits > 10 || value > limit) {
        load_float(s, start, end, flags, load);
        return;
    }
    if (load) push_cell(s, cell::integer(static_cast<int32_t>(negative ? 0 - value : value)));
}

void load_hex_integer(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    uint32_t value = 0, digits = 0;
    bool ok = end - start >= 2 && end[-1] == 'h';
    for (const Byte* p = start; ok && p < end - 1; ++p) {
        if (*p == '\'') continue;
        const int v = hex_value(*p);
        if (v < 0) ok = false;
        value = value << 4 | static_cast<uint32_t>(v);
        ++digits;
    }
    if (!ok || digits < 2 || digits > 8) {
        throw_error(s, start, kind_of(TypeId::integer));
        return;
    }
    if (load) push_cell(s, cell::integer(static_cast<int32_t>(value)));
}

void load_percent(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    // The machine stops before the %, which belongs to the token.
    s.pos = after(s, end);
    double v;
    if (!read_decimal(start, end, -2, v)) {
        throw_error(s, start, kind_of(TypeId::float_));
        return;
    }
    if (load) push_cell(s, cell::floating(v, TypeId::percent));
}

// 1.#INF, -1.#INF, 1.#NaN.
void load_special_float(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    const Byte* p = start;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    double v = 0;
    bool ok = end - p == 6 && p[0] == '1' && p[1] == '.' && p[2] == '#';
    if (ok && equal_ascii_nocase(p + 3, 3, "inf")) v = negative ? -HUGE_VAL : HUGE_VAL;
    else if (ok && equal_ascii_nocase(p + 3, 3, "nan")) v = std::bit_cast<double>(uint64_t{0x7FF8000000000000});
    else ok = false;
    if (!ok) {
        throw_error(s, start, kind_of(TypeId::float_));
        return;
    }
    if (load) push_cell(s, cell::floating(v));
}

// One field of a time: digits, and for the seconds a fraction after one point. False when the
// field is empty or holds anything else.
bool read_time_field(const Byte* start, const Byte* end, bool seconds, double& out) {
    const Byte* p = start;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == start) return false;
    if (seconds && p < end && *p == '.') {
        ++p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
    }
    if (p != end) return false;
    int errors = 0;
    out =
        float_text::text_to_float(reinterpret_cast<const char*>(start), reinterpret_cast<const char*>(end), 0, &errors);
    return errors == 0;
}

// [sign] hours:minutes[:seconds[.fraction]]. Minutes are not limited to 59; seconds stay below 60.
// Hours and minutes are whole numbers: a fraction there has no agreed meaning, so it is refused
// rather than guessed.
void load_time(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.token_type = kind_of(TypeId::time);
    const Byte* p = start;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    double parts[3] = {0.0, 0.0, 0.0};
    int fields = 0;
    bool ok = end - start <= static_cast<ptrdiff_t>(kMaxNumberText);
    while (ok) {
        const Byte* field_end = static_cast<const Byte*>(std::memchr(p, ':', static_cast<size_t>(end - p)));
        if (!field_end) field_end = end;
        ok = fields < 3 && read_time_field(p, field_end, fields == 2, parts[fields]);
        ++fields;
        if (field_end == end) break;
        p = field_end + 1;
    }
    if (!ok || fields < 2 || !(parts[2] < 60.0)) {
        throw_error(s, start, kind_of(TypeId::time));
        return;
    }
    if (load) push_cell(s, time::from_parts(negative, parts[0], parts[1], parts[2]));
}

// ---- Binary -------------------------------------------------------------------------------------

// #{...} in base 16, 2#{...}, 16#{...} and 64#{...}: the digits, white space and ; comments between
// the braces, decoded strictly (an unpaired hexadecimal digit or an unpadded base-64 group fails).
void load_binary(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.pos = after(s, end);  // the }
    const Byte* p = start;
    int32_t base = 0;
    for (; p < end && *p >= '0' && *p <= '9' && base < 100; ++p) base = base * 10 + (*p - '0');
    if (p == start) base = 16;
    const bool framed = end - p >= 2 && p[0] == '#' && p[1] == '{' && end < s.input_end && *end == '}';
    std::string bytes;
    const binary::Text text{reinterpret_cast<const std::byte*>(p + 2), 1,
                            framed ? static_cast<uint32_t>(end - p - 2) : 0};
    if (!framed || (base != 2 && base != 16 && base != 64) || !binary::decode(base, text, bytes, true)) {
        throw_error(s, start, kind_of(TypeId::binary));
        return;
    }
    if (load) push_cell(s, binary::from_bytes(bytes));
}

// [sign][code]$digits[.fraction]: the code one of the currency list's, in any case.
void load_money(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    MoneyDigits parts;
    int32_t currency = 0;
    Cell value;
    bool ok = scan_money(reinterpret_cast<const std::byte*>(start), static_cast<uint32_t>(end - start), 1, parts);
    if (ok && parts.code[0] != '\0') ok = (currency = locale::currency_index(parts.code)) > 0;
    if (ok && parts.code[0] == '\0') ok = std::memchr(start, '$', static_cast<size_t>(end - start)) != nullptr;
    if (ok)
        ok = money::make_from_digits(parts.negative, static_cast<uint32_t>(currency), parts.digits, parts.fraction,
                                     value);
    if (!ok) {
        throw_error(s, start, kind_of(TypeId::money));
        return;
    }
    if (load) push_cell(s, value);
}

// ---- Dates --------------------------------------------------------------------------------------

// A run of at most `most` digits: its value and length (0 when none).
int read_digits(const Byte*& p, const Byte* end, int most, int64_t& value) {
    int n = 0;
    value = 0;
    while (p < end && n < most && *p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        ++n;
    }
    return n;
}

// A month written as a name or its prefix of 3 to 9 letters, any case: 1 to 12, or 0.
int32_t month_by_name(const Byte* start, const Byte* end) {
    static constexpr std::string_view kNames[12] = {"january",   "february", "march",    "april",
                                                    "may",       "june",     "july",     "august",
                                                    "september", "october",  "november", "december"};
    const auto n = static_cast<size_t>(end - start);
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; ++m) {
        if (n <= kNames[m].size() && equal_ascii_nocase(start, n, kNames[m].substr(0, n))) return m + 1;
    }
    return 0;
}

// The time of day after a date: hh:mm[:ss[.fraction]] or hhmm[ss]. False when refused.
bool read_date_time(const Byte*& p, const Byte* end, double& seconds) {
    const Byte* run = p;
    int64_t v = 0;
    const int n = read_digits(p, end, 6, v);
    if (n == 0) return false;
    if (p < end && *p == ':') {
        if (n > 2) return false;
        int64_t minutes = 0;
        ++p;
        if (read_digits(p, end, 2, minutes) == 0 || minutes > 59 || v > 23) return false;
        double sec = 0.0;
        if (p < end && *p == ':') {
            const Byte* field = ++p;
            while (p < end && *p >= '0' && *p <= '9') ++p;
            if (p < end && (*p == '.' || *p == ',')) {
                ++p;
                while (p < end && *p >= '0' && *p <= '9') ++p;
            }
            if (p == field || p - field > 40) return false;
            char text[41];
            std::memcpy(text, field, static_cast<size_t>(p - field));
            for (ptrdiff_t i = 0; i < p - field; ++i) {
                if (text[i] == ',') text[i] = '.';
            }
            int errors = 0;
            sec = float_text::text_to_float(text, text + (p - field), 0, &errors);
            if (errors != 0 || !(sec < 60.0)) return false;
        }
        seconds = static_cast<double>(v * 3600 + minutes * 60) + sec;
        return true;
    }
    if (n != 4 && n != 6) return false;
    p = run;
    int64_t h = 0, m = 0, sec = 0;
    read_digits(p, end, 2, h);
    read_digits(p, end, 2, m);
    if (n == 6) read_digits(p, end, 2, sec);
    if (h > 23 || m > 59 || sec > 59) return false;
    seconds = static_cast<double>(h * 3600 + m * 60 + sec);
    return true;
}

// Z, or +hh, -hh, +hh:mm, -hhmm: the zone's signed hours and minutes. False when refused.
bool read_zone(const Byte*& p, const Byte* end, int32_t& hours, int32_t& minutes) {
    if (*p == 'Z' || *p == 'z') {
        ++p;
        return true;
    }
    if (*p != '+' && *p != '-') return false;
    const bool negative = *p++ == '-';
    int64_t v = 0, m = 0;
    const int n = read_digits(p, end, 4, v);
    if (n == 0) return false;
    if (n > 2) {
        m = v % 100;
        v /= 100;
    } else if (p < end && *p == ':') {
        ++p;
        if (read_digits(p, end, 2, m) == 0) return false;
    }
    if (v > 15 || m > 59) return false;
    hours = static_cast<int32_t>(negative ? -v : v);
    minutes = static_cast<int32_t>(negative ? -m : m);
    return true;
}

// The calendar part: compact ISO (yyyymmdd), day-month-year or year-month-day with "-" or "/"
// and a month number or name, ISO week (yyyy-Www[-d]) and ordinal (yyyy-ddd) dates.
bool read_calendar(const Byte*& p, const Byte* end, int64_t& y, int64_t& m, int64_t& d) {
    int64_t first = 0;
    const int n1 = read_digits(p, end, 9, first);
    if (n1 == 0 || p == end) return false;
    if (n1 == 8 && (*p == 'T' || *p == 't')) {
        y = first / 10000;
        m = first / 100 % 100;
        d = first % 100;
        return true;
    }
    const Byte separator = *p;
    if ((separator != '-' && separator != '/') || ++p == end) return false;
    if (separator == '-' && (*p == 'W' || *p == 'w')) {
        int64_t week = 0, weekday = 1;
        ++p;
        if (read_digits(p, end, 2, week) == 0 || week < 1 || week > 53) return false;
        if (p < end && *p == '-') {
            ++p;
            if (read_digits(p, end, 1, weekday) == 0 || weekday < 1 || weekday > 7) return false;
        }
        // The last year's week 53 would run past the years a date holds.
        if (first >= date::kMaxYear) return false;
        const uint32_t packed = date::packed_of(
            date::from_week(static_cast<int32_t>(first), static_cast<int32_t>(week), static_cast<int32_t>(weekday)));
        y = date::year(packed);
        m = date::month(packed);
        d = date::day(packed);
        return true;
    }
    int64_t second = 0;
    const Byte* field = p;
    const int n2 = read_digits(p, end, 3, second);
    if (n2 == 0) {
        while (p < end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))) ++p;
        second = month_by_name(field, p);
        if (second == 0) return false;
    } else if (n2 == 3) {
        // Ordinal: a three-digit day of the year.
        if (separator != '-' || (p < end && *p == '-') || first > date::kMaxYear) return false;
        const int64_t days = date::leap_year(first) ? 366 : 365;
        if (second < 1 || second > days) return false;
        const uint32_t packed =
            date::packed_of(date::from_yearday(static_cast<int32_t>(first), static_cast<int32_t>(second)));
        y = date::year(packed);
        m = date::month(packed);
        d = date::day(packed);
        return true;
    }
    if (p == end || *p != separator) return false;
    ++p;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    int64_t third = 0;
    const int n3 = read_digits(p, end, 6, third);
    if (n3 == 0) return false;
    if (first > 99 && !negative && third <= 31) {
        y = first;
        m = second;
        d = third;
        return true;
    }
    if (n3 <= 2 && !negative) third += third < 50 ? 2000 : 1900;
    y = negative ? -third : third;
    m = second;
    d = first;
    return true;
}

void load_date(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.token_type = kind_of(TypeId::date);
    const Byte* p = start;
    int64_t y = 0, m = 0, d = 0;
    double seconds = 0.0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool with_time = false;
    bool ok = read_calendar(p, end, y, m, d);
    if (ok && p < end) {
        ok = *p == '/' || *p == 'T' || *p == 't';
        ++p;
        with_time = true;
        ok = ok && read_date_time(p, end, seconds);
        if (ok && p < end) ok = read_zone(p, end, zone_hours, zone_minutes);
        ok = ok && p == end;
    }
    const int64_t month_days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // Every year a date! holds loads, so that what mold writes reads back.
    ok = ok && y >= date::kMinYear && y <= date::kMaxYear && m >= 1 && m <= 12 && d >= 1 && d <= month_days[m - 1] &&
         (m != 2 || d < 29 || date::leap_year(y));
    if (!ok) {
        throw_error(s, start, kind_of(TypeId::date));
        return;
    }
    if (load)
        push_cell(s, date::from_parts(static_cast<int32_t>(y), static_cast<int32_t>(m), static_cast<int32_t>(d),
                                      seconds, zone_hours, zone_minutes, with_time));
}

// ---- Coordinates and tuples ---------------------------------------------------------------------

// 3 to 12 decimal fields of 0 to 255 separated by single points.
void load_tuple(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    uint8_t bytes[tuple::kMaxBytes] = {};
    uint32_t fields = 0, value = 0, digits = 0;
    bool ok = true;
    for (const Byte* p = start; ok && p <= end; ++p) {
        if (p == end || *p == '.') {
            ok = digits > 0 && fields < tuple::kMaxBytes;
            if (ok) bytes[fields++] = static_cast<uint8_t>(value);
            value = digits = 0;
        } else if (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            ok = value <= 255 && ++digits <= 3;
        } else {
            ok = false;
        }
    }
    if (!ok || fields < 3) {
        throw_error(s, start, kind_of(TypeId::tuple));
        return;
    }
    if (load) push_cell(s, tuple::make(bytes, fields));
}

// One coordinate of a pair: an optional sign and decimal digits, with single ' between digits,
// that fits 32 bits.
bool read_pair_field(const Byte* p, const Byte* end, int32_t& out) {
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    int64_t value = 0;
    uint32_t digits = 0;
    for (const Byte* first = p; p < end; ++p) {
        if (*p == '\'') {
            if (p == first || p + 1 == end || p[1] == '\'') return false;
            continue;
        }
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (++digits > 10) return false;
    }
    if (digits == 0) return false;
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<int32_t>(value);
    return true;
}

// integer x integer; a coordinate beyond 32 bits has no pair to hold it.
void load_pair(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    const Byte* x = start;
    while (x < end && *x != 'x' && *x != 'X') ++x;
    int32_t a, b;
    if (x == end || !read_pair_field(start, x, a) || !read_pair_field(x + 1, end, b)) {
        throw_error(s, start, kind_of(TypeId::pair));
        return;
    }
    if (load) push_cell(s, pair::make(a, b));
}

// One number of a point literal: an integer or decimal text, or a special float. 0 when read,
// else the kind of the error.
int32_t read_point_field(const Byte* p, const Byte* end, double& out) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (p == end) return kind_of(TypeId::point2D);
    if (end - p > static_cast<ptrdiff_t>(kMaxNumberText)) return kind_of(TypeId::float_);
    if (std::memchr(p, '#', static_cast<size_t>(end - p))) {
        const Byte* q = p;
        const bool negative = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        if (end - q != 6 || q[0] != '1' || q[1] != '.' || q[2] != '#') return kind_of(TypeId::point2D);
        if (equal_ascii_nocase(q + 3, 3, "inf")) out = negative ? -HUGE_VAL : HUGE_VAL;
        else if (equal_ascii_nocase(q + 3, 3, "nan")) out = std::numeric_limits<double>::quiet_NaN();
        else return kind_of(TypeId::point2D);
        return 0;
    }
    return read_decimal(p, end, 0, out) ? 0 : kind_of(TypeId::point2D);
}

// (x, y) or (x, y, z): the text between the parens, the numbers held as binary32.
void load_point(Lexer& s, const Byte* start, const Byte* end, uint32_t, bool load) {
    s.pos = after(s, end);  // the )
    s.initial_state = 0;
    double c[3] = {0.0, 0.0, 0.0};
    int fields = 0;
    int32_t error_kind = 0;
    for (const Byte* p = start; error_kind == 0;) {
        const Byte* comma = static_cast<const Byte*>(std::memchr(p, ',', static_cast<size_t>(end - p)));
        const Byte* field_end = comma ? comma : end;
        if (fields == 3) error_kind = kind_of(TypeId::point3D);
        else error_kind = read_point_field(p, field_end, c[fields++]);
        if (!comma) break;
        p = comma + 1;
    }
    if (error_kind == 0 && fields < 2) error_kind = kind_of(TypeId::point2D);
    s.token_type = kind_of(fields == 3 ? TypeId::point3D : TypeId::point2D);
    if (error_kind != 0) {
        throw_error(s, start - 1, error_kind);
        return;
    }
    if (!load) return;
    const float x = point::narrow(c[0]), y = point::narrow(c[1]);
    push_cell(s, fields == 3 ? point::make3(x, y, point::narrow(c[2])) : point::make2(x, y));
}

}  // namespace

// A word, set-word, get-word or lit-word: also a path's head and its word segments.
void load_word(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    TypeId type = TypeId::word;
    const Byte* a = start;
    const Byte* b = end;
    if (flags & (token_flag::colon | token_flag::quote)) {
        if (*a == ':') type = TypeId::get_word, ++a;
        else if (*a == '\'') type = TypeId::lit_word, ++a;
        if (b > a && b[-1] == ':') {
            if (type != TypeId::word) {
                throw_error(s, start, kind_of(type == TypeId::lit_word ? TypeId::lit_word : TypeId::word));
                return;
            }
            type = TypeId::set_word;
            --b;
        }
        if (b > a && std::memchr(a, ':', static_cast<size_t>(b - a))) {
            throw_error(s, start, kind_of(type == TypeId::lit_word ? TypeId::lit_word : TypeId::word));
            return;
        }
    }
    if (a == b || ((flags & kNonAscii) && !valid_utf8(a, b))) {
        throw_error(s, start, kind_of(TypeId::word));
        return;
    }
    push_word(s, type, a, b, load);
}

void load_braced(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load) {
    const bool plain = !(flags & (kNonAscii | token_flag::caret));
    if (!push_text(s, TypeId::string, start, end, true, plain, load))
        throw_error(s, start - 1, kind_of(TypeId::string));
}

bool is_unicode_space(uint32_t cp) {
    switch (cp) {
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x180E:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
        case 0x200B: return true;
        default: return cp >= 0x2000 && cp <= 0x200A;
    }
}

int32_t decode_escape(const Byte*& p, const Byte* end) {
    const Byte c = *p++;
    if (c == '(') {
        const Byte* name = p;
        while (p < end && *p != ')' && p - name < 7) ++p;
        if (p == end || *p != ')') return -1;
        const auto n = static_cast<size_t>(p - name);
        ++p;
        if (n == 0 || n > 6) return -1;
        uint32_t value = 0;
        bool hex = true;
        for (size_t i = 0; i < n && hex; ++i) {
            const int v = hex_value(name[i]);
            hex = v >= 0;
            value = value << 4 | static_cast<uint32_t>(v);
        }
        if (hex) return value <= unicode::kMaxCodePoint ? static_cast<int32_t>(value) : -1;
        static constexpr struct {
            std::string_view name;
            int32_t cp;
        } kNames[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
        for (const auto& e : kNames) {
            if (equal_ascii_nocase(name, n, e.name)) return e.cp;
        }
        return -1;
    }
    switch (c) {
        case '"': return '"';
        case '-': return 9;
        case '/': return 10;
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        case '@':
        case '[':
        case '\\':
        case ']':
        case '_': return c - 64;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
    if (c < 0x80) return c;
    --p;
    return next_code_point(p, end, false);
}

// Accepts the decimal texts of the float loader: sign, digits with ' separators, a point and an
// exponent, as a small automaton over byte classes.
bool decimal_text_ok(const char* text, uint32_t length) {
    if (length > kMaxNumberText) return false;
    static constexpr uint8_t kNext[11][7] = {
        {10, 0, 1, 10, 4, 10, 10},  {10, 10, 1, 6, 5, 2, 9},      {10, 10, 1, 10, 10, 10, 9},
        {10, 10, 3, 6, 10, 4, 9},   {10, 10, 3, 10, 10, 10, 9},   {10, 10, 3, 10, 10, 10, 9},
        {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10},  {10, 10, 8, 10, 10, 10, 9},
        {9, 9, 9, 9, 9, 9, 9},      {10, 10, 10, 10, 10, 10, 10},
    };
    uint8_t state = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const char c = text[i];
        int cls = 0;
        if (c == '+' || c == '-') cls = 1;
        else if (c >= '0' && c <= '9') cls = 2;
        else if (c == 'e' || c == 'E') cls = 3;
        else if (c == '.') cls = 4;
        else if (c == '\'') cls = 5;
        state = kNext[state][cls];
    }
    return kNext[state][6] == 9;
}

const Action g_loaders[kTerminalCount + 1] = {
    nullptr,  // 0
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,            // 1-10
    load_construction,  // 11
    nullptr,
    nullptr,             // 12, 13
    load_quoted,         // 14
    load_word,           // 15
    load_issue,          // 16
    load_integer,        // 17
    load_refinement,     // 18
    load_char,           // 19
    load_file,           // 20
    load_binary,         // 21
    load_percent,        // 22
    load_float,          // 23
    load_special_float,  // 24
    load_tuple,          // 25
    load_date,           // 26
    load_pair,           // 27
    load_point,          // 28
    load_time,           // 29
    load_money,          // 30
    load_tag,            // 31
    load_url,            // 32
    load_email,          // 33
    load_hex_integer,    // 34
    load_raw,            // 35
    load_ref,            // 36
};

}  // namespace zub::lexer
