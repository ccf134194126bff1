// string!: units and widening, the text primitives, make and to, form and mold, and comparison
// with the sort comparators. Positional actions come from series!; searching and editing text
// build on the primitives here. Loops over text are instantiated per unit width, so each loads
// and stores its units directly.
#include "datatypes/string.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string_units.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {

namespace string {
namespace {

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();
constexpr uint64_t kMaxBytes = 0xFFFFFF00u;  // the largest data area a buffer may have
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The caret escapes of mold, indexed by code point below 5Fh; 0 means none.
constexpr std::array<char, 0x5F> kEscapes = [] {
    std::array<char, 0x5F> table{};
    for (int p = 0; p < 0x20; ++p) table[p] = static_cast<char>(0x40 + p);
    table[0x09] = '-';
    table[0x0A] = '/';
    table[0x22] = '"';
    table[0x5E] = '^';
    return table;
}();

using units::fold;
using units::load;
using units::store;
using units::Unit;
using units::with_unit;

// The budget left after n characters, held at the bottom of the 32-bit range.
int32_t spend(int32_t limit, uint64_t n) {
    const int64_t left = int64_t{limit} - static_cast<int64_t>(std::min<uint64_t>(n, uint64_t{1} << 40));
    return static_cast<int32_t>(std::max<int64_t>(left, std::numeric_limits<int32_t>::min()));
}

uint32_t checked_bytes(uint64_t bytes) {
    if (bytes > kMaxBytes) error::fire(ErrorId::no_memory);
    return static_cast<uint32_t>(bytes);
}

// The head of a series value clipped to its buffer: a head past the tail reads as the tail.
uint32_t head_of(const Cell& value, uint32_t length) {
    const auto head = static_cast<int32_t>(cell::series_index(value));
    return head < 0 ? 0 : std::min(static_cast<uint32_t>(head), length);
}

// The text a value stands for, from a unit index of a buffer.
struct Text {
    NodeId node;
    uint32_t index;   // first unit
    uint32_t length;  // units from there to the tail
};

// A symbol! stands for its name, decoded into a string the first time it is needed; that string
// is not kept anywhere, so `hold` keeps the collector off while the caller uses it.
Text text_of(const Cell& value, std::optional<collector::Guard>& hold) {
    NodeId node;
    uint32_t index = 0;
    if (cell::is(value, TypeId::symbol)) {
        node = value.w2;
        if (!node) {
            if (!hold) hold.emplace();
            const NodeId bytes = value.w3;
            node = unicode::load_utf8(unicode::series_input(bytes, 0, memory::buffer(bytes)->used()));
        }
    } else {
        node = cell::series_node(value);
        index = cell::series_index(value);
    }
    const uint32_t length = series::length(node);
    const auto head = static_cast<int32_t>(index);
    index = head < 0 ? 0 : std::min(static_cast<uint32_t>(head), length);
    return {node, index, length - index};
}

// Widens the buffer when the code point does not fit its unit; returns the unit.
uint32_t fit_unit(NodeId node, uint32_t needed, uint64_t extra) {
    const uint32_t unit = unit_of(node);
    if (needed <= unit) return unit;
    unicode::widen(node, needed, extra);
    return needed;
}

// Appends a code point, widening the buffer only when it does not fit.
void append_fitting(NodeId node, uint32_t cp) {
    const uint32_t unit = fit_unit(node, in_place_unit(cp), 4);
    series::store_unit(series::reserve_tail(node, unit), unit, cp);
}

// Keeps a value being built reachable by the collector, on the evaluation stack, for a scope.
class Rooted {
  public:
    explicit Rooted(Cell value) : slot_(stack::push(value)) {}
    ~Rooted() {
        if (stack::g_top > slot_) stack::g_top = slot_;
    }
    Rooted(const Rooted&) = delete;
    Rooted& operator=(const Rooted&) = delete;

  private:
    Cell* slot_;
};

// ---- Mold ---------------------------------------------------------------------------------------

// Mold runs twice over the text: once to measure (characters, widest code point kept as it is),
// then, after the output has grown once to the exact size, to write with no allocation between.

struct Measure {
    uint64_t chars = 0;
    uint32_t widest = 0;
    void ascii(const char*, uint32_t n) { chars += n; }
    void raw(uint32_t cp) {
        ++chars;
        widest = std::max(widest, cp);
    }
};

template <uint32_t U>
struct Emit {
    std::byte* at;
    void ascii(const char* text, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) store<U>(at, i, static_cast<uint8_t>(text[i]));
        at += size_t{n} * U;
    }
    void raw(uint32_t cp) {
        store<U>(at, 0, cp);
        at += U;
    }
};

template <typename Sink>
inline void escape_char(uint32_t cp, bool all, Sink& sink) {
    // A lone surrogate has no UTF-8 form, so it is written by number to load back as itself.
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (cp == 0x1E || surrogate || (cp >= 0x80 && (cp <= 0x9F || all))) {
        char text[12] = {'^', '('};
        const Hex hex = int_to_hex(static_cast<int32_t>(cp), true);
        std::memcpy(text + 2, hex.text, hex.length);
        text[2 + hex.length] = ')';
        sink.ascii(text, hex.length + 3u);
    } else if (cp < kEscapes.size() && kEscapes[cp]) {
        const char text[2] = {'^', kEscapes[cp]};
        sink.ascii(text, 2);
    } else if (cp == 0x7F) {
        sink.ascii("^~", 2);
    } else {
        sink.raw(cp);
    }
}

template <uint32_t U>
int64_t find_close(const std::byte* data, uint32_t from, uint32_t end) {
    uint32_t depth = 0;
    for (uint32_t i = from; i < end; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (cp == '{') {
            ++depth;
        } else if (cp == '}' && depth > 0 && --depth == 0) {
            return i;
        }
    }
    return -1;
}

template <uint32_t U, typename Sink>
void mold_text(const std::byte* data, uint32_t from, uint32_t end, bool braces, bool all, Sink& sink) {
    if (!braces) {
        sink.ascii("\"", 1);
        for (uint32_t i = from; i < end; ++i) escape_char(load<U>(data, i), all, sink);
        sink.ascii("\"", 1);
        return;
    }
    sink.ascii("{", 1);
    uint32_t depth = 0;
    bool balanced = true;
    // Every "{" inside a group already found to close also closes, so it needs no look-ahead:
    // this keeps deeply nested text linear.
    int64_t closes_at = -1;
    for (uint32_t i = from; i < end; ++i) {
        const uint32_t cp = load<U>(data, i);
        switch (cp) {
            case '{':
                if (balanced && int64_t{i} > closes_at) {
                    closes_at = find_close<U>(data, i, end);
                    balanced = closes_at >= 0;
                }
                if (balanced) {
                    ++depth;
                    sink.ascii("{", 1);
                } else {
                    sink.ascii("^{", 2);
                }
                break;
            case '}':
                if (depth == 0) {
                    sink.ascii("^}", 2);
                } else {
                    --depth;
                    sink.ascii("}", 1);
                }
                break;
            case '"': sink.ascii("\"", 1); break;
            case '^': sink.ascii("^^", 2); break;
            default: escape_char(cp, all, sink);
        }
    }
    sink.ascii("}", 1);
}

template <uint32_t U>
QuoteScan scan_units(const std::byte* data, uint32_t from, uint32_t end) {
    QuoteScan scan{0, 0};
    for (uint32_t i = from; i < end; ++i) {
        const uint32_t cp = load<U>(data, i);
        scan.quotes += cp == '"';
        scan.line_feeds += cp == '\n';
    }
    return scan;
}

// ---- Comparison ---------------------------------------------------------------------------------

template <uint32_t A, uint32_t B>
int32_t compare_units(const std::byte* a, const std::byte* b, uint32_t n, bool folded) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t x = load<A>(a, i), y = load<B>(b, i);
        if (x == y) continue;
        if (folded) {
            x = fold(x);
            y = fold(y);
            if (x == y) continue;
        }
        return x < y ? -1 : 1;
    }
    return 0;
}

int32_t compare_text(const Text& x, const Text& y, uint32_t n, bool folded) {
    const std::byte* a = memory::buffer(x.node)->head_ptr();
    const std::byte* b = memory::buffer(y.node)->head_ptr();
    return with_unit(unit_of(x.node), [&](auto ua) {
        return with_unit(unit_of(y.node), [&](auto ub) {
            constexpr uint32_t A = decltype(ua)::value, B = decltype(ub)::value;
            return compare_units<A, B>(a + size_t{x.index} * A, b + size_t{y.index} * B, n, folded);
        });
    });
}

template <uint32_t U>
uint32_t sort_fold(uint32_t cp) {
    if constexpr (U == 1) return cp >= 'A' && cp <= 'Z' ? cp + 0x20 : cp;
    return unicode::to_lower(cp);
}

// The units a sort compares: the whole record, or the one unit at the compared offset.
struct UnitRange {
    uint32_t first, end;
};
UnitRange compared_units(const SortOrder& order) {
    const uint32_t n = order.flags >> sort_flag::count_shift;
    return order.flags & sort_flag::records ? UnitRange{0, n} : UnitRange{n, n + 1};
}

template <uint32_t U>
int compare_unit_records(const void* a, const void* b, void* context, void*) {
    const auto& order = *static_cast<const SortOrder*>(context);
    const auto* p = static_cast<const std::byte*>(a);
    const auto* q = static_cast<const std::byte*>(b);
    const auto [first, end] = compared_units(order);
    for (uint32_t i = first; i < end; ++i) {
        uint32_t x = load<U>(p, i), y = load<U>(q, i);
        if (!order.case_sensitive) {
            x = sort_fold<U>(x);
            y = sort_fold<U>(y);
        }
        if (x != y) {
            const int sign = x < y ? -1 : 1;
            return order.flags & sort_flag::reverse ? -sign : sign;
        }
    }
    return 0;
}

template <typename F>
int compare_float_records(const void* a, const void* b, void* context, void*) {
    const auto& order = *static_cast<const SortOrder*>(context);
    const auto* p = static_cast<const std::byte*>(a);
    const auto* q = static_cast<const std::byte*>(b);
    const auto [first, end] = compared_units(order);
    for (uint32_t i = first; i < end; ++i) {
        F x, y;
        std::memcpy(&x, p + size_t{i} * sizeof(F), sizeof(F));
        std::memcpy(&y, q + size_t{i} * sizeof(F), sizeof(F));
        // NaN goes after every number, so the order stays consistent for the sort.
        const int sign = x < y ? -1 : x > y ? 1 : std::isnan(x) == std::isnan(y) ? 0 : std::isnan(x) ? 1 : -1;
        if (sign) return order.flags & sort_flag::reverse ? -sign : sign;
    }
    return 0;
}

}  // namespace

// ---- Units --------------------------------------------------------------------------------------

uint32_t unit_of(NodeId node) {
    const uint32_t unit = memory::buffer(node)->unit();
    if (unit != 1 && unit != 2 && unit != 4) lowrt::fatal(lowrt::Fatal::no_switch);
    return unit;
}

void copy_units(const std::byte* from, uint32_t from_unit, std::byte* to, uint32_t to_unit, uint32_t count) {
    const auto copy = [&](auto f, auto t) {
        constexpr uint32_t F = decltype(f)::value, T = decltype(t)::value;
        for (uint32_t i = 0; i < count; ++i) store<T>(to, i, load<F>(from, i));
    };
    if (from_unit == 1 && to_unit == 2) return copy(Unit<1>{}, Unit<2>{});
    if (from_unit == 1 && to_unit == 4) return copy(Unit<1>{}, Unit<4>{});
    if (from_unit == 2 && to_unit == 4) return copy(Unit<2>{}, Unit<4>{});
    lowrt::fatal(lowrt::Fatal::no_case);
}

bool is_text(TypeId type) { return type_group::in(type_group::text_like, type); }

// ---- Reading ------------------------------------------------------------------------------------

uint32_t rs_length(const Cell& value) {
    const uint32_t length = series::length(cell::series_node(value));
    return length - head_of(value, length);
}

uint32_t char_at(NodeId node, uint32_t index) {
    const SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = unit_of(node);
    if (index >= b->used() / unit) lowrt::fatal(lowrt::Fatal::assertion);
    return series::code_point_at(memory::buffer(node)->head_ptr(), unit, index);
}

int32_t find_char(const Cell& value, uint32_t cp) {
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = head_of(value, length);
    const std::byte* data = memory::buffer(node)->head_ptr();
    return with_unit(unit_of(node), [&](auto u) -> int32_t {
        for (uint32_t i = head; i < length; ++i)
            if (load<decltype(u)::value>(data, i) == cp) return static_cast<int32_t>(i - head);
        return -1;
    });
}

bool match_literal(const Cell& value, std::string_view bytes) {
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = head_of(value, length);
    if (bytes.size() > length - head) return false;
    const uint32_t unit = unit_of(node);
    const std::byte* data = memory::buffer(node)->head_ptr();
    for (size_t i = 0; i < bytes.size(); ++i)
        if (series::code_point_at(data, unit, head + static_cast<uint32_t>(i)) != static_cast<uint8_t>(bytes[i]))
            return false;
    return true;
}

bool tag_form(const Cell& value) {
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = head_of(value, length);
    if (head == length) return false;
    return char_at(node, head) == '<' && char_at(node, length - 1) == '>';
}

bool head_in_bitset(const Cell& value, const Cell& bitset) {
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t head = head_of(value, length);
    if (head == length) return false;
    const uint32_t cp = char_at(node, head);
    const SeriesBuffer* bits = memory::buffer(cell::series_node(bitset));
    const uint32_t byte = cp >> 3;
    if (byte >= bits->used()) return (bits->flags & series_flag::complement) != 0;
    const auto b = static_cast<uint8_t>(memory::buffer(cell::series_node(bitset))->head_ptr()[byte]);
    return (b & (0x80 >> (cp & 7))) != 0;
}

int32_t match_at_head(const Cell& value, const Cell& pattern, bool case_sensitive) {
    const TypeId type = cell::type(pattern);
    if (type == TypeId::char_) {
        const NodeId node = cell::series_node(value);
        const uint32_t length = series::length(node);
        const uint32_t head = head_of(value, length);
        if (head == length) return -1;
        uint32_t x = char_at(node, head), y = pattern.w2;
        if (!case_sensitive) {
            x = fold(x);
            y = fold(y);
        }
        return x == y ? 1 : -1;
    }
    if (!is_text(type)) return -1;
    const int32_t op = case_sensitive ? op_strict_equal : op_equal;
    if (compare_chars(value, pattern, op, true) != 0) return -1;
    return static_cast<int32_t>(rs_length(pattern));
}

// ---- Making and shaping -------------------------------------------------------------------------

Cell make(uint32_t capacity, TypeId type) {
    return cell::series(type, series::alloc_with_unit(std::max<uint32_t>(capacity, 1), 1));
}

void rs_reset(NodeId node) {
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head;
    b->flags = (b->flags & ~series_flag::unit_mask) | 1;
}

void truncate(NodeId node, uint32_t n) {
    const uint32_t unit = unit_of(node);
    SeriesBuffer* b = memory::buffer(node);
    if (n < b->used() / unit) b->tail = b->head + n * unit;
}

void remove_part(NodeId node, uint32_t index, uint32_t n) {
    const uint32_t unit = unit_of(node);
    const uint32_t length = series::length(node);
    if (index >= length) return;
    n = std::min(n, length - index);
    series::remove_bytes(node, index * unit, n * unit);
}

// ---- Writing ------------------------------------------------------------------------------------

void append_char(NodeId node, uint32_t cp) {
    const uint32_t unit = fit_unit(node, append_unit(cp), 4);
    series::store_unit(series::reserve_tail(node, unit), unit, cp);
}

void poke_char(NodeId node, uint32_t index, uint32_t cp) {
    if (index >= series::length(node)) lowrt::fatal(lowrt::Fatal::assertion);
    const uint32_t unit = fit_unit(node, in_place_unit(cp), 0);
    series::store_unit(memory::buffer(node)->head_ptr() + size_t{index} * unit, unit, cp);
}

void overwrite_char(NodeId node, uint32_t index, uint32_t cp) {
    const uint32_t length = series::length(node);
    const uint64_t grow = index >= length ? uint64_t{index} - length + 1 : 0;
    const uint32_t unit = fit_unit(node, in_place_unit(cp), grow * 4);
    if (grow) {
        std::byte* gap = series::reserve_tail(node, checked_bytes(grow * unit));
        std::memset(gap, 0, (grow - 1) * unit);
    }
    series::store_unit(memory::buffer(node)->head_ptr() + size_t{index} * unit, unit, cp);
}

void insert_char(NodeId node, uint32_t index, uint32_t cp) {
    fit_unit(node, in_place_unit(cp), 4);
    series::insert_unit(node, cp, std::min(index, series::length(node)));
}

void append_literal(NodeId node, std::string_view bytes) {
    uint8_t widest = 0;
    for (const char c : bytes) widest = std::max(widest, static_cast<uint8_t>(c));
    const uint32_t unit = fit_unit(node, append_unit(widest), bytes.size() * 2);
    if (unit == 1) {
        series::append_bytes(node, bytes.data(), checked_bytes(bytes.size()));
        return;
    }
    std::byte* at = series::reserve_tail(node, checked_bytes(uint64_t{bytes.size()} * unit));
    for (size_t i = 0; i < bytes.size(); ++i) series::store_unit(at + i * unit, unit, static_cast<uint8_t>(bytes[i]));
}

void append_utf8(NodeId node, std::string_view utf8) {
    unit_of(node);
    unicode::load_utf8(unicode::bytes_input(utf8.data(), checked_bytes(utf8.size())), node);
}

uint32_t concatenate_at(NodeId target, uint32_t index, Cell source, int32_t part, Concat mode) {
    std::optional<collector::Guard> hold;
    Text from = text_of(source, hold);
    const uint32_t count = part < 0 ? from.length : std::min(from.length, static_cast<uint32_t>(part));
    if (count == 0) return 0;
    if (from.node == target) {
        // Growing the target would move the source under our feet: read a copy instead.
        if (!hold) hold.emplace();
        from = {series::copy_part(target, from.index, count), 0, count};
    }
    const uint32_t su = unit_of(from.node);
    uint32_t tu = unit_of(target);
    const uint32_t length = series::length(target);
    const uint32_t at = mode == Concat::append ? length : std::min(index, length);
    const uint64_t end = uint64_t{at} + count;
    const uint64_t grow = mode == Concat::overwrite ? (end > length ? end - length : 0) : count;
    if (su > tu) {
        unicode::widen(target, su, grow * su);
        tu = su;
    }
    if (grow) {
        checked_bytes((uint64_t{length} + grow) * tu);
        series::reserve_tail(target, static_cast<uint32_t>(grow * tu));
    }
    std::byte* to = memory::buffer(target)->head_ptr() + size_t{at} * tu;
    if (mode == Concat::insert && at < length) std::memmove(to + size_t{count} * tu, to, size_t{length - at} * tu);
    const std::byte* data = memory::buffer(from.node)->head_ptr() + size_t{from.index} * su;
    if (su == tu) {
        std::memcpy(to, data, size_t{count} * su);
    } else {
        copy_units(data, su, to, tu, count);
    }
    return count;
}

uint32_t concatenate(Cell target, Cell source, int32_t part, Concat mode) {
    const NodeId node = cell::series_node(target);
    return concatenate_at(node, head_of(target, series::length(node)), source, part, mode);
}

void append_formed(NodeId out, Cell value) {
    const TypeId type = cell::type(value);
    switch (type) {
        case TypeId::char_: append_char(out, value.w2); return;
        case TypeId::tag:
            append_literal(out, "<");
            concatenate_at(out, 0, value, -1, Concat::append);
            append_literal(out, ">");
            return;
        default:
            if (is_text(type)) {
                concatenate_at(out, 0, value, -1, Concat::append);
            } else {
                registry::actions(type).form(value, out, kNoLimit);
            }
    }
}

// ---- Loading ------------------------------------------------------------------------------------

Cell load(unicode::Input input, Encoding encoding, TypeId type) {
    switch (encoding) {
        case Encoding::utf8: return cell::series(type, unicode::load_utf8(input));
        case Encoding::utf16le: return cell::series(type, unicode::load_utf16(input));
    }
    std::fputs("*** Loading Error: input encoding unsupported\n", stderr);
    lowrt::report_error(0);
}

Cell from_utf8(std::string_view utf8, bool ascii) {
    if (!ascii) return load(unicode::bytes_input(utf8.data(), checked_bytes(utf8.size())), Encoding::utf8);
    const auto size = checked_bytes(utf8.size());
    const NodeId node = memory::alloc_series(size ? size : 1, 1, 0);
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head + size;
    std::memcpy(b->head_ptr(), utf8.data(), size);
    return cell::series(TypeId::string, node);
}

Cell load_in(NodeId block, unicode::Input input, Encoding encoding, TypeId type) {
    collector::Guard hold;  // the new string is in no block until it is appended
    const Cell value = load(input, encoding, type);
    series::append_cell(block, value);
    return value;
}

// ---- Hexadecimal text ---------------------------------------------------------------------------

void byte_to_hex(uint8_t byte, char* out) {
    out[0] = kHexDigits[byte >> 4];
    out[1] = kHexDigits[byte & 15];
}

Hex int_to_hex(int32_t value, bool minimal) {
    Hex hex{};
    auto bits = static_cast<uint32_t>(value);
    int i = 8;
    while (bits) {
        hex.text[--i] = kHexDigits[bits & 15];
        bits >>= 4;
    }
    if (!minimal) {
        while (i > 0) hex.text[--i] = value < 0 ? 'F' : '0';
        hex.length = 8;
        return hex;
    }
    if (i == 8) {
        hex.text[0] = hex.text[1] = '0';
        hex.length = 2;
        return hex;
    }
    hex.length = static_cast<uint8_t>(8 - i);
    std::memmove(hex.text, hex.text + i, hex.length);
    return hex;
}

// ---- Mold helpers -------------------------------------------------------------------------------

QuoteScan scan_quotes(NodeId node, uint32_t from, uint32_t end) {
    end = std::min(end, series::length(node));
    const std::byte* data = memory::buffer(node)->head_ptr();
    return with_unit(unit_of(node), [&](auto u) { return scan_units<decltype(u)::value>(data, from, end); });
}

int64_t brace_balance(NodeId node, uint32_t from, uint32_t end) {
    end = std::min(end, series::length(node));
    const std::byte* data = memory::buffer(node)->head_ptr();
    return with_unit(unit_of(node), [&](auto u) { return find_close<decltype(u)::value>(data, from, end); });
}

uint32_t append_escaped_char(NodeId out, uint32_t cp, bool all) {
    struct Collect {
        char text[12];
        uint32_t n = 0;
        bool raw_char = false;
        void ascii(const char* s, uint32_t k) {
            std::memcpy(text + n, s, k);
            n += k;
        }
        void raw(uint32_t) { raw_char = true; }
    } escaped;
    escape_char(cp, all, escaped);
    if (escaped.raw_char) {
        append_fitting(out, cp);
        return 1;
    }
    unit_of(out);
    series::append_ascii(out, {escaped.text, escaped.n});
    return escaped.n;
}

// ---- Comparison ---------------------------------------------------------------------------------

int32_t compare_chars(const Cell& a, const Cell& b, int32_t op, bool prefix) {
    const bool symbols = cell::is(a, TypeId::symbol) || cell::is(b, TypeId::symbol);
    const bool same_place =
        !symbols && cell::series_node(a) == cell::series_node(b) && cell::series_index(a) == cell::series_index(b);
    if (op == op_same) return same_place ? 0 : -1;
    if (same_place && (op <= op_strict_equal || op == op_find)) return 0;

    std::optional<collector::Guard> hold;
    const Text x = text_of(a, hold);
    const Text y = text_of(b, hold);
    const bool folded = op != op_strict_equal && op != op_sort_case;
    if (prefix) {
        if (y.length == 0) return op == op_find ? 1 : 0;
        if (y.length > x.length) return 1;
        return compare_text(x, y, y.length, folded);
    }
    const bool equality = op <= op_strict_equal || op == op_find;
    if (x.length != y.length && equality) return 1;
    if (y.length == 0) return x.length == 0 ? 0 : 1;
    const int32_t order = compare_text(x, y, std::min(x.length, y.length), folded);
    if (order) return order;
    return x.length == y.length ? 0 : x.length < y.length ? -1 : 1;
}

sort::Compare unit_comparator(uint32_t unit) {
    switch (unit) {
        case 1: return compare_unit_records<1>;
        case 2: return compare_unit_records<2>;
        case 4: return compare_unit_records<4>;
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

TextKey text_key(const Cell& value) {
    const NodeId node = cell::series_node(value);
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = unit_of(node);
    const uint32_t length = b->used() >> (unit >> 1);  // units are 1, 2 or 4 bytes: no division
    const auto head = static_cast<int32_t>(cell::series_index(value));
    const uint32_t index = head < 0 ? 0 : std::min(static_cast<uint32_t>(head), length);
    return {b->head_ptr() + size_t{index} * unit, length - index, unit};
}

int32_t compare_keys(const TextKey& a, const TextKey& b, bool case_sensitive) {
    const uint32_t n = std::min(a.length, b.length);
    const int32_t order = with_unit(a.unit, [&](auto ua) {
        return with_unit(b.unit, [&](auto ub) {
            return compare_units<decltype(ua)::value, decltype(ub)::value>(a.data, b.data, n, !case_sensitive);
        });
    });
    if (order) return order;
    return a.length == b.length ? 0 : a.length < b.length ? -1 : 1;
}

bool equal_keys(const TextKey& a, const TextKey& b, bool case_sensitive) {
    if (a.length != b.length) return false;
    if (a.unit == 1 && b.unit == 1) {
        // The common case, narrow text: a pair of bytes differing only by case is folded.
        const auto* x = reinterpret_cast<const uint8_t*>(a.data);
        const auto* y = reinterpret_cast<const uint8_t*>(b.data);
        for (uint32_t i = 0; i < a.length; ++i)
            if (x[i] != y[i] && (case_sensitive || fold(x[i]) != fold(y[i]))) return false;
        return true;
    }
    return compare_keys(a, b, case_sensitive) == 0;
}

sort::Compare float_comparator(uint32_t width) {
    switch (width) {
        case 4: return compare_float_records<float>;
        case 8: return compare_float_records<double>;
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

}  // namespace string

// ---- Actions ------------------------------------------------------------------------------------

namespace {

using string::Concat;

Cell string_make(TypeId type, Cell proto, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::integer:
        case TypeId::float_: {
            const int32_t capacity = cell::to_int32_checked(spec);
            if (capacity < 0) error::fire(ErrorId::out_of_range, spec);
            return string::make(static_cast<uint32_t>(capacity), type);
        }
        case TypeId::money:
            if (type == TypeId::binary) error::fire(ErrorId::bad_make_arg, cell::datatype_of(type), spec);
            [[fallthrough]];
        default:
            // The requested type's own conversion: binary! has one, the text types inherit ours.
            return registry::actions(type).to(type, proto, spec);
    }
}

Cell text_copy(TypeId type, const Cell& spec) {
    const NodeId node = cell::series_node(spec);
    const uint32_t length = series::length(node);
    const uint32_t head = string::head_of(spec, length);
    return cell::series(type, series::copy_part(node, head, length - head));
}

Cell string_to(TypeId type, Cell, Cell spec) {
    if (type == TypeId::binary) error::fire(ErrorId::not_done);  // binary! converts by its own to
    const TypeId from = cell::type(spec);
    switch (from) {
        case TypeId::none: error::fire(ErrorId::bad_to_arg, cell::datatype_of(type), spec);
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: {
            const Cell result = string::make(16, type);
            string::Rooted root(result);
            const NodeId block = cell::series_node(spec);
            // Forming may move the block's buffer: each cell is read afresh, by value.
            for (uint32_t i = string::head_of(spec, series::length(block)); i < series::length(block); ++i)
                string::append_formed(cell::series_node(result), memory::buffer(block)->cells()[i]);
            return result;
        }
        case TypeId::refinement: {
            const Cell result = string::make(16, type);
            string::Rooted root(result);
            if (type == TypeId::string) string::append_literal(cell::series_node(result), "/");
            word::emit_name(spec, cell::series_node(result), string::kNoLimit);
            return result;
        }
        case TypeId::binary: {
            const NodeId node = cell::series_node(spec);
            const uint32_t length = series::length(node);
            const uint32_t head = string::head_of(spec, length);
            return cell::series(type, unicode::load_utf8(unicode::series_input(node, head, length - head)));
        }
        default: {
            if (string::is_text(from)) return text_copy(type, spec);
            const Cell result = string::make(16, type);
            string::Rooted root(result);
            registry::actions(from).form(spec, cell::series_node(result), string::kNoLimit);
            return result;
        }
    }
}

int32_t string_form(Cell value, NodeId out, int32_t limit) {
    const uint32_t length = string::rs_length(value);
    if (limit > 0) string::concatenate_at(out, 0, value, std::min<int64_t>(length, limit), Concat::append);
    return string::spend(limit, length);
}

int32_t string_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    const NodeId node = cell::series_node(value);
    const uint32_t length = series::length(node);
    const uint32_t from = string::head_of(value, length);
    const uint32_t end = from + static_cast<uint32_t>(std::clamp<int64_t>(limit, 0, length - from));
    uint32_t unit = string::unit_of(node);

    const string::QuoteScan scan = string::scan_quotes(node, from, end);
    const bool braces = scan.line_feeds > 2 || scan.quotes > 0 || length - from >= 50;

    string::Measure size;
    string::with_unit(unit, [&](auto u) {
        string::mold_text<decltype(u)::value>(memory::buffer(node)->head_ptr(), from, end, braces, flags.all, size);
    });
    const uint32_t out_unit = string::fit_unit(out, string::in_place_unit(size.widest), size.chars * 4);
    string::checked_bytes(memory::buffer(out)->used() + size.chars * out_unit);
    std::byte* at = series::reserve_tail(out, static_cast<uint32_t>(size.chars * out_unit));
    // The value may be the output itself, so its unit and data are read again after growing.
    unit = string::unit_of(node);
    const std::byte* data = memory::buffer(node)->head_ptr();
    string::with_unit(unit, [&](auto u) {
        string::with_unit(out_unit, [&](auto o) {
            string::Emit<decltype(o)::value> emit{at};
            string::mold_text<decltype(u)::value>(data, from, end, braces, flags.all, emit);
        });
    });
    return string::spend(limit, size.chars);
}

int32_t string_compare(Cell a, Cell b, int32_t op) {
    const TypeId ta = cell::type(a), tb = cell::type(b);
    if (ta != tb && !(string::is_text(ta) && string::is_text(tb) && (op == op_equal || op == op_not_equal)))
        return kNotComparable;
    return string::compare_chars(a, b, op);
}

}  // namespace

extern const ActionTable string_actions = {
    .make = string_make,
    .to = string_to,
    .form = string_form,
    .mold = string_mold,
    .eval_path = string::eval_path,
    .compare = string_compare,
    .append = string::append,
    .change = string::change,
    .find = string::find,
    .insert = string::insert,
    .select = string::select,
    .sort = string::sort,
    .swap = string::swap,
    .trim = string::trim,
};

// The text family: the string's node and its conversion buffer; hashed case-folded, so that values
// equal under any case rule meet in one probe sequence.
constexpr type_traits::Traits kTextTraits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::bytes, type_traits::Ref::bytes},
    .hash = type_traits::hash_text,
    .same_words = type_traits::kW1 | type_traits::kW2,
    .copies = true,
};
extern const type_traits::Traits string_traits = kTextTraits;
// Their action tables: file! and url! in url.cpp, tag!, email! and ref! in tag.cpp.
extern const type_traits::Traits url_traits = kTextTraits;
extern const type_traits::Traits file_traits = kTextTraits;
extern const type_traits::Traits tag_traits = kTextTraits;
extern const type_traits::Traits email_traits = kTextTraits;
extern const type_traits::Traits ref_traits = kTextTraits;

}  // namespace zub
