// string!'s searching and editing actions: find and select, path access, append, insert and
// change, sort, swap, trim, and the set operations on text. Searches compare code points in place
// at each buffer's own unit width; edits grow or widen the buffer once, then move units directly.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/string_units.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/sort.h"

namespace zub::string {
namespace {

using namespace units;

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();
constexpr uint64_t kMaxBytes = 0xFFFFFF00u;  // the largest data area a buffer may have

// The head clipped to the buffer: a head past the tail reads as the tail.
uint32_t head_in(const Cell& value, uint32_t length) {
    const auto head = static_cast<int32_t>(cell::series_index(value));
    return head < 0 ? 0 : std::min(static_cast<uint32_t>(head), length);
}

Cell at_index(Cell value, uint32_t index) {
    value.w1 = index;
    return value;
}

// Keeps values being built reachable by the collector, on the evaluation stack, until the scope
// ends.
class Rooted {
  public:
    Rooted() : base_(stack::g_top) {}
    explicit Rooted(Cell value) : Rooted() { hold(value); }
    ~Rooted() {
        if (stack::g_top > base_) stack::g_top = base_;
    }
    Rooted(const Rooted&) = delete;
    Rooted& operator=(const Rooted&) = delete;
    void hold(Cell value) { stack::push(value); }

  private:
    Cell* base_;
};

// ---- Searching ----------------------------------------------------------------------------------

// Where a search looks. Forward: candidate starts from `start` by `step` while the whole pattern
// fits below `limit`. Backward: `start` is the last unit of the first candidate; candidates end
// `step` units earlier each time and must not begin below `limit`.
struct Walk {
    int64_t start;
    int64_t limit;
    int64_t step;
    bool backward;
    bool once;  // /match: the first candidate only
};

template <uint32_t S, uint32_t P>
inline bool equal_at(const std::byte* text, int64_t at, const std::byte* pattern, uint32_t n, bool folded) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t x = load<S>(text, static_cast<size_t>(at) + i), y = load<P>(pattern, i);
        if (x != y && (!folded || fold(x) != fold(y))) return false;
    }
    return true;
}

template <uint32_t S, uint32_t P>
int64_t search_pattern(const std::byte* text, const std::byte* pattern, uint32_t n, const Walk& w, bool folded) {
    if (w.backward) {
        for (int64_t end = w.start; end - n + 1 >= w.limit; end -= w.step) {
            if (equal_at<S, P>(text, end - n + 1, pattern, n, folded)) return end - n + 1;
            if (w.once) break;
        }
        return -1;
    }
    const int64_t last = w.limit - n;  // the last start where the pattern still fits
    if (w.once) return w.start <= last && equal_at<S, P>(text, w.start, pattern, n, folded) ? w.start : -1;
    if constexpr (S == 1) {
        // Exact byte text: let memchr find each candidate first character.
        if (!folded && w.step == 1) {
            const uint32_t first = load<P>(pattern, 0);
            if (first > 0xFF) return -1;
            for (int64_t p = w.start; p <= last; ++p) {
                const void* hit = std::memchr(text + p, static_cast<int>(first), static_cast<size_t>(last - p + 1));
                if (!hit) return -1;
                p = static_cast<const std::byte*>(hit) - text;
                if (equal_at<S, P>(text, p, pattern, n, false)) return p;
            }
            return -1;
        }
    }
    if (folded) {
        const uint32_t first = fold(load<P>(pattern, 0));
        for (int64_t p = w.start; p <= last; p += w.step) {
            const uint32_t x = load<S>(text, static_cast<size_t>(p));
            if ((x == first || fold(x) == first) && equal_at<S, P>(text, p, pattern, n, true)) return p;
        }
        return -1;
    }
    for (int64_t p = w.start; p <= last; p += w.step)
        if (equal_at<S, P>(text, p, pattern, n, false)) return p;
    return -1;
}

struct Bits {
    const std::byte* data;
    uint32_t size;  // bytes
    bool complement;
    bool has(uint32_t cp) const {
        const uint32_t byte = cp >> 3;
        if (byte >= size) return complement;
        return (static_cast<uint8_t>(data[byte]) & (0x80u >> (cp & 7))) != 0;
    }
};

template <uint32_t S>
int64_t search_bits(const std::byte* text, const Bits& bits, const Walk& w) {
    if (w.backward) {
        for (int64_t p = w.start; p >= w.limit; p -= w.step) {
            if (bits.has(load<S>(text, static_cast<size_t>(p)))) return p;
            if (w.once) break;
        }
        return -1;
    }
    for (int64_t p = w.start; p < w.limit; p += w.step) {
        if (bits.has(load<S>(text, static_cast<size_t>(p)))) return p;
        if (w.once) break;
    }
    return -1;
}

struct Match {
    int64_t at;       // unit index of the match, -1 for none
    uint32_t length;  // units matched
};
constexpr Match kNoMatch{-1, 0};

// ---- Wildcards (/any, /with) ----------------------------------------------------------------------

// The two wildcard characters: `many` stands for any run of characters (none included), `one` for
// exactly one character.
struct Wild {
    uint32_t many;
    uint32_t one;
};

constexpr int64_t kNeverAfter = -2;  // a wildcard match that no later start can make either

// Whether the pattern units [from, to) match the text at `at` unit for unit, `one` matching any.
template <uint32_t S, uint32_t P>
inline bool wild_segment_at(const std::byte* text, int64_t at, const std::byte* pattern, uint32_t from, uint32_t to,
                            uint32_t one, bool folded) {
    for (uint32_t k = from; k < to; ++k) {
        const uint32_t y = load<P>(pattern, k);
        if (y == one) continue;
        const uint32_t x = load<S>(text, static_cast<size_t>(at + (k - from)));
        if (x != y && (!folded || fold(x) != fold(y))) return false;
    }
    return true;
}

// Matches a wildcard pattern at `at`, never reading at or past `bound`: the unit index where the
// match ends, -1 when it fails at this start, kNeverAfter when no later start can succeed. The
// text before the first `many` must stand at `at`; each later run of plain characters is placed
// as early as it fits (so the match is the shortest one), except that a final `many` takes the
// rest of the range. Placing each run as early as possible is never worse for the runs after it,
// and those places only move right as the start does: a run found nowhere fails every later start.
template <uint32_t S, uint32_t P>
int64_t wild_match(const std::byte* text, int64_t at, int64_t bound, const std::byte* pattern, uint32_t n,
                   const Wild& wild, bool folded) {
    uint32_t k = 0;
    while (k < n && load<P>(pattern, k) != wild.many) ++k;
    if (at + k > bound || !wild_segment_at<S, P>(text, at, pattern, 0, k, wild.one, folded)) return -1;
    int64_t p = at + k;
    while (k < n) {
        while (k < n && load<P>(pattern, k) == wild.many) ++k;
        if (k == n) return bound;
        uint32_t e = k;
        while (e < n && load<P>(pattern, e) != wild.many) ++e;
        const uint32_t width = e - k;
        int64_t q = p;
        while (q + width <= bound && !wild_segment_at<S, P>(text, q, pattern, k, e, wild.one, folded)) ++q;
        if (q + width > bound) return kNeverAfter;
        p = q + width;
        k = e;
    }
    return p;
}

// A wildcard search over the walk's candidates. Backward walks try starts from the last one where
// the pattern's plain characters still fit before the end of the range.
template <uint32_t S, uint32_t P>
Match search_wild(const std::byte* text, const std::byte* pattern, uint32_t n, const Walk& w, const Wild& wild,
                  bool folded) {
    uint32_t least = 0;  // units the pattern needs at the least
    for (uint32_t k = 0; k < n; ++k) least += load<P>(pattern, k) != wild.many;
    if (w.backward) {
        const int64_t bound = w.start + 1;
        for (int64_t at = bound - std::max<uint32_t>(least, 1); at >= w.limit; at -= w.step) {
            const int64_t end = wild_match<S, P>(text, at, bound, pattern, n, wild, folded);
            if (end >= 0) return {at, static_cast<uint32_t>(end - at)};
            if (w.once) break;
        }
        return kNoMatch;
    }
    for (int64_t at = w.start; at + least <= w.limit; at += w.step) {
        const int64_t end = wild_match<S, P>(text, at, w.limit, pattern, n, wild, folded);
        if (end >= 0) return {at, static_cast<uint32_t>(end - at)};
        if (end == kNeverAfter || w.once) break;
    }
    return kNoMatch;
}

// The wildcards of /any ("*" and "?"), or those /with names: its first character for `many`, its
// second for `one`; one it leaves out keeps its default.
Wild wildcards(const FindOptions& o) {
    Wild wild{'*', '?'};
    if (!o.with) return wild;
    const Cell& with = *o.with;
    if (!is_text(cell::type(with))) error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::with), with);
    const NodeId node = cell::series_node(with);
    const uint32_t length = series::length(node);
    const uint32_t head = head_in(with, length);
    if (head < length) wild.many = char_at(node, head);
    if (head + 1 < length) wild.one = char_at(node, head + 1);
    return wild;
}

Match locate(const Cell& series, const Cell& value, const FindOptions& o) {
    const NodeId node = cell::series_node(series);
    const uint32_t length = series::length(node);
    const uint32_t head = head_in(series, length);
    if (length == 0 || (!o.reverse && head >= length)) return kNoMatch;
    const bool wildcard = o.any || o.with;
    const Wild wild = wildcard ? wildcards(o) : Wild{};

    const int64_t step = part_skip::step(o.skip);
    int64_t count = -1;
    if (o.part) {
        count = part_skip::length(series, *o.part);
        if (count < 1) return kNoMatch;
        count = std::min<int64_t>(count, o.reverse ? head : length - head);
    }
    Walk walk{};
    walk.step = step;
    walk.once = o.match;
    if (o.reverse) {
        if (o.match) return kNoMatch;
        walk.backward = true;
        walk.start = int64_t{head} - 1;
        walk.limit = count < 0 ? 0 : head - count;
        if (walk.start < walk.limit) return kNoMatch;
    } else if (o.last) {
        walk.backward = true;
        walk.start = (count < 0 ? length : head + count) - 1;
        walk.limit = head;
    } else {
        walk.start = head;
        walk.limit = count < 0 ? length : head + count;
    }

    const TypeId type = cell::type(series);
    const bool folded = is_text(type) && !o.case_sensitive && !o.same;
    const TypeId vtype = cell::type(value);

    if (vtype == TypeId::bitset) {
        SeriesBuffer* b = memory::buffer(cell::series_node(value));
        const Bits bits{b->head_ptr(), b->used(), (b->flags & series_flag::complement) != 0};
        const std::byte* text = memory::buffer(node)->head_ptr();
        const int64_t at =
            with_unit(unit_of(node), [&](auto s) { return search_bits<decltype(s)::value>(text, bits, walk); });
        return at < 0 ? kNoMatch : Match{at, 1};
    }

    uint32_t single = 0;  // a one-character pattern, held here in 4-byte units
    const std::byte* pattern = nullptr;
    uint32_t pattern_unit = 4, n = 1;
    bool text_pattern = false;  // wildcards apply to text only, never to one character or bytes
    Rooted scratch_root;
    if (vtype == TypeId::char_ || (vtype == TypeId::integer && type == TypeId::binary)) {
        single = value.w2;
        if (vtype == TypeId::integer && single > 0xFF) return kNoMatch;
        pattern = reinterpret_cast<const std::byte*>(&single);
    } else {
        if (vtype == TypeId::binary && type != TypeId::binary) error::fire(ErrorId::invalid_arg, value);
        text_pattern = vtype != TypeId::binary;
        Cell text_value = value;
        if (!is_text(vtype) && vtype != TypeId::binary) {
            // Formed once; the pattern is then compared in place like any other text.
            text_value = make(16);
            scratch_root.hold(text_value);
            registry::actions(vtype).form(value, cell::series_node(text_value), kNoLimit);
        }
        const NodeId pnode = cell::series_node(text_value);
        const uint32_t plength = series::length(pnode);
        const uint32_t phead = head_in(text_value, plength);
        n = plength - phead;
        if (n == 0) return kNoMatch;
        pattern_unit = unit_of(pnode);
        pattern = memory::buffer(pnode)->head_ptr() + size_t{phead} * pattern_unit;
    }
    // Nothing allocates from here on: the data pointers hold.
    const std::byte* text = memory::buffer(node)->head_ptr();
    if (wildcard && text_pattern) {
        return with_unit(unit_of(node), [&](auto s) {
            return with_unit(pattern_unit, [&](auto p) {
                return search_wild<decltype(s)::value, decltype(p)::value>(text, pattern, n, walk, wild, folded);
            });
        });
    }
    const int64_t at = with_unit(unit_of(node), [&](auto s) {
        return with_unit(pattern_unit, [&](auto p) {
            return search_pattern<decltype(s)::value, decltype(p)::value>(text, pattern, n, walk, folded);
        });
    });
    return at < 0 ? kNoMatch : Match{at, n};
}

// ---- Writing a value's text ---------------------------------------------------------------------

// Splices count x dup units of a value's text over `removed` units at a unit index of the target:
// what append, insert and change share. A char! comes in by the append widening rule; other
// values' text is the source's (formed first when not text). Returns the units written. May
// collect.
// The commonest append of all, one character that fits the text's width at its tail, as splice
// would make it; false, nothing done, for anything else.
inline bool append_char(NodeId target, Cell value, int32_t part, int32_t dup) {
    if (!cell::is(value, TypeId::char_) || part == 0 || dup > 1) return false;
    const uint32_t length = series::length(target), unit = unit_of(target);
    if (append_unit(value.w2) > unit) return false;
    if (uint64_t{length} + 1 > kMaxBytes / unit) error::fire(ErrorId::no_memory);
    series::store_unit(series::reserve_tail(target, unit), unit, value.w2);
    return true;
}

uint32_t splice(NodeId target, uint32_t at, uint32_t removed, Cell value, int32_t part, bool only, int32_t dup) {
    const TypeId vtype = cell::type(value);
    if (removed == 0 && part < 0 && dup <= 1 && is_text(vtype) && vtype != TypeId::tag &&
        cell::series_node(value) != target) {
        // The common append: the whole of another text, no wider than the target, at its tail.
        const NodeId from = cell::series_node(value);
        const uint32_t from_length = series::length(from), length = series::length(target);
        const uint32_t unit = unit_of(target), from_unit = unit_of(from);
        if (at >= length && from_unit <= unit) {
            const uint32_t from_index = head_in(value, from_length);
            const uint32_t count = from_length - from_index;
            if (uint64_t{length} + count > kMaxBytes / unit) error::fire(ErrorId::no_memory);
            if (count == 0) return 0;
            series::reserve_tail(target, count * unit);
            std::byte* to = memory::buffer(target)->head_ptr() + size_t{length} * unit;
            const std::byte* source = memory::buffer(from)->head_ptr() + size_t{from_index} * from_unit;
            if (from_unit == unit) std::memcpy(to, source, size_t{count} * unit);
            else copy_units(source, from_unit, to, unit, count);
            return count;
        }
    }
    if (removed == 0 && part < 0 && dup <= 1 && vtype == TypeId::integer && at >= series::length(target)) {
        // An integer appended, as in building keys: its digits go straight in, no text formed first.
        char digits[12];
        const auto count =
            static_cast<uint32_t>(std::to_chars(digits, digits + sizeof digits, cell::as_integer(value)).ptr - digits);
        const uint32_t length = series::length(target), unit = unit_of(target);
        if (uint64_t{length} + count > kMaxBytes / unit) error::fire(ErrorId::no_memory);
        series::reserve_tail(target, count * unit);
        std::byte* to = memory::buffer(target)->head_ptr() + size_t{length} * unit;
        if (unit == 1) std::memcpy(to, digits, count);
        else copy_units(reinterpret_cast<const std::byte*>(digits), 1, to, unit, count);
        return count;
    }
    const uint32_t limit = part < 0 ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(part);
    const uint32_t repeat = static_cast<uint32_t>(std::max(dup, 1));

    Rooted root;
    const bool single = vtype == TypeId::char_;
    uint32_t cp = 0;
    NodeId from = 0;  // the text read, unless single
    uint32_t from_index = 0, count = 0, from_unit = 1;
    if (single) {
        cp = value.w2;
        count = limit > 0 ? 1 : 0;
        from_unit = append_unit(cp);
    } else if (is_text(vtype) && vtype != TypeId::tag) {
        from = cell::series_node(value);
        const uint32_t length = series::length(from);
        from_index = head_in(value, length);
        count = std::min(length - from_index, limit);
    } else {
        const Cell scratch = make(16);
        root.hold(scratch);
        from = cell::series_node(scratch);
        if (vtype == TypeId::block || vtype == TypeId::paren || vtype == TypeId::hash) {
            const NodeId block = cell::series_node(value);
            // Without /only each value spends one of the part; forming may move the block, so
            // each cell is read afresh.
            uint32_t budget = only ? std::numeric_limits<uint32_t>::max() : limit;
            for (uint32_t i = head_in(value, series::length(block)); i < series::length(block) && budget > 0;
                 ++i, --budget)
                append_formed(from, memory::buffer(block)->cells()[i]);
            count = series::length(from);
            if (only) count = std::min(count, limit);
        } else {
            append_formed(from, value);
            count = std::min(series::length(from), limit);
        }
        from_unit = unit_of(from);
    }
    if (!single && from == target) {
        // The target's own text: read a copy, as the splice moves what it reads.
        const NodeId copy = series::copy_part(from, from_index, count);
        root.hold(cell::series(TypeId::string, copy));
        from = copy;
        from_index = 0;
    }
    if (!single) from_unit = unit_of(from);

    const uint32_t length = series::length(target);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    uint32_t unit = unit_of(target);
    const uint32_t wanted = std::max(unit, from_unit);
    const uint64_t written = uint64_t{count} * repeat;
    const uint64_t final_length = uint64_t{length} - removed + written;
    if (written > kMaxBytes || final_length > kMaxBytes / wanted) error::fire(ErrorId::no_memory);
    if (written == 0 && removed == 0) return 0;
    if (wanted > unit) {
        unicode::widen(target, wanted, written > removed ? (written - removed) * wanted : 0);
        unit = wanted;
    }
    if (written > removed) series::reserve_tail(target, static_cast<uint32_t>((written - removed) * unit));

    SeriesBuffer* b = memory::buffer(target);
    std::byte* data = b->head_ptr();
    std::byte* to = data + size_t{at} * unit;
    const size_t rest = size_t{length - at - removed} * unit;
    std::memmove(to + written * unit, to + size_t{removed} * unit, rest);
    if (written < removed) b->tail = b->head + static_cast<uint32_t>(final_length * unit);
    if (count == 0) return 0;
    if (single) {
        series::store_unit(to, unit, cp);
    } else {
        const std::byte* source = memory::buffer(from)->head_ptr() + size_t{from_index} * from_unit;
        if (from_unit == unit) {
            std::memcpy(to, source, size_t{count} * unit);
        } else {
            copy_units(source, from_unit, to, unit, count);
        }
    }
    if (repeat > 1) series::repeat_bytes(to, count * unit, repeat);
    return static_cast<uint32_t>(written);
}

// ---- trim ---------------------------------------------------------------------------------------

// The wide whitespace set of trim: controls 1-20h and the Unicode spaces.
inline bool wide_space(uint32_t cp) {
    if (cp >= 1 && cp <= 0x20) return true;
    if (cp < 0x85) return false;
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || cp == 0x180E || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
           cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}
// The narrower set of plain trim's inner pass: no line feed nor other controls but tab.
inline bool narrow_space(uint32_t cp) { return cp == 0x20 || cp == 0x09 || (cp >= 0x85 && wide_space(cp)); }

// Each pass below compacts the units from the head in place and answers the new length.

template <uint32_t U, typename Keep>
uint32_t compact(std::byte* data, uint32_t head, uint32_t length, Keep keep) {
    uint32_t out = head;
    for (uint32_t i = head; i < length; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (keep(cp)) store<U>(data, out++, cp);
    }
    return out;
}

template <uint32_t U>
uint32_t trim_lines(std::byte* data, uint32_t head, uint32_t length) {
    uint32_t out = head;
    bool gap = false;
    for (uint32_t i = head; i < length; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (wide_space(cp)) {
            gap = out > head;
            continue;
        }
        if (gap) store<U>(data, out++, ' ');
        gap = false;
        store<U>(data, out++, cp);
    }
    return out;
}

// /auto: every line loses as much of its leading indentation (spaces and tabs) as the first line
// that holds anything else has, so the text keeps its shape relative to that line.
template <uint32_t U>
uint32_t trim_auto(std::byte* data, uint32_t head, uint32_t length) {
    uint32_t indent = 0;
    for (uint32_t i = head, run = 0; i < length; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (cp == ' ' || cp == '\t') {
            ++run;
        } else if (cp == '\n') {
            run = 0;
        } else {
            indent = run;
            break;
        }
    }
    uint32_t out = head, column = 0;
    for (uint32_t i = head; i < length; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (column < indent && (cp == ' ' || cp == '\t')) {
            ++column;
            continue;
        }
        column = cp == '\n' ? 0 : indent;
        store<U>(data, out++, cp);
    }
    return out;
}

template <uint32_t U>
uint32_t trim_part(std::byte* data, uint32_t head, uint32_t length, bool only_head, bool only_tail, bool plain,
                   bool& line_feed) {
    uint32_t start = head, end = length;
    if (!only_tail)
        while (start < end && wide_space(load<U>(data, start))) ++start;
    line_feed = false;
    if (!only_head) {
        while (end > start && wide_space(load<U>(data, end - 1))) {
            line_feed |= load<U>(data, end - 1) == '\n';
            --end;
        }
    }
    uint32_t out = head;
    if (!plain) {
        std::memmove(data + size_t{out} * U, data + size_t{start} * U, size_t{end - start} * U);
        return out + (end - start);
    }
    bool line_start = true;
    uint32_t run = 0;  // narrow spaces held back: dropped when a line feed follows
    for (uint32_t i = start; i < end; ++i) {
        const uint32_t cp = load<U>(data, i);
        if (narrow_space(cp)) {
            if (!line_start) ++run;
            continue;
        }
        if (cp == '\n') {
            run = 0;
            store<U>(data, out++, cp);
            line_start = true;
            continue;
        }
        // Held-back spaces are kept: they lie at positions i - run .. i - 1, at or after out.
        for (uint32_t k = i - run; k < i; ++k) store<U>(data, out++, load<U>(data, k));
        run = 0;
        line_start = false;
        store<U>(data, out++, cp);
    }
    return out;
}

// ---- Set operations -----------------------------------------------------------------------------

template <uint32_t U>
bool has_char_in(const std::byte* data, uint32_t from, uint32_t length, uint32_t cp, uint32_t step, bool folded) {
    const uint32_t want = folded ? fold(cp) : cp;
    for (uint64_t i = from; i < length; i += step) {
        const uint32_t x = load<U>(data, static_cast<size_t>(i));
        if (x == cp || (folded && fold(x) == want)) return true;
    }
    return false;
}

bool has_char_at(NodeId node, uint32_t from, uint32_t cp, uint32_t step, bool case_sensitive) {
    const uint32_t length = series::length(node);
    const std::byte* data = memory::buffer(node)->head_ptr();
    return with_unit(unit_of(node), [&](auto u) {
        return has_char_in<decltype(u)::value>(data, from, length, cp, step, !case_sensitive);
    });
}

// The characters standing at the record starts of a text (units from, from + step, ...), as
// has_char_at sees them: compared folded unless case_sensitive. A long text is indexed once in a
// bitmap over the code points, so each question costs one load; a short one is searched each time.
class Members {
  public:
    Members(NodeId node, uint32_t from, uint32_t step, bool case_sensitive, bool indexed)
        : node_(node), from_(from), step_(step), case_sensitive_(case_sensitive) {
        if (!indexed) return;
        bits_.assign(kBitWords, 0);
        const uint32_t length = series::length(node);
        if (from < length) added(from, length - from);
    }

    bool has(uint32_t cp) const {
        if (bits_.empty()) return has_char_at(node_, from_, cp, step_, case_sensitive_);
        const uint32_t key = case_sensitive_ ? cp : fold(cp);
        if (key > unicode::kMaxCodePoint) return std::find(beyond_.begin(), beyond_.end(), key) != beyond_.end();
        return (bits_[key >> 6] >> (key & 63)) & 1;
    }

    // The text grew by count units at unit index `at`: the record starts among them join.
    void added(uint32_t at, uint32_t count) {
        if (bits_.empty()) return;
        const uint32_t offset = (at - from_) % step_;
        for (uint64_t i = at + (offset ? step_ - offset : 0); i < uint64_t{at} + count; i += step_) {
            const uint32_t cp = char_at(node_, static_cast<uint32_t>(i));
            const uint32_t key = case_sensitive_ ? cp : fold(cp);
            if (key > unicode::kMaxCodePoint) {
                beyond_.push_back(key);
            } else {
                bits_[key >> 6] |= uint64_t{1} << (key & 63);
            }
        }
    }

  private:
    static constexpr uint32_t kBitWords = (unicode::kMaxCodePoint + 64) / 64;
    NodeId node_;
    uint32_t from_;
    uint32_t step_;
    bool case_sensitive_;
    std::vector<uint64_t> bits_;    // empty: not indexed
    std::vector<uint32_t> beyond_;  // keys above the last code point, rare
};

// Questions a text answers before indexing it pays: a bitmap costs about as much as this many
// linear steps.
constexpr uint64_t kIndexAfter = 4096;

// One pass of a set operation: the records of `from` that the test keeps and whose first
// character the result lacks are appended whole. `result` knows the record starts of the result.
void set_pass(SetOp op, Cell from, Cell other, NodeId out, Members& result, bool case_sensitive, uint32_t step) {
    const NodeId node = cell::series_node(from);
    const uint32_t from_head = head_in(from, series::length(node));
    const uint64_t questions = (series::length(node) - from_head + step - 1) / step;
    const bool looks_up = op == SetOp::intersect || op == SetOp::exclude || op == SetOp::difference;
    std::optional<Members> in_other;
    if (looks_up) {
        const NodeId other_node = cell::series_node(other);
        const uint32_t other_head = head_in(other, series::length(other_node));
        const uint64_t entries = (series::length(other_node) - other_head + step - 1) / step;
        in_other.emplace(other_node, other_head, step, case_sensitive, questions * entries > kIndexAfter);
    }
    for (uint32_t i = from_head; i < series::length(node); i += step) {
        const uint32_t cp = char_at(node, i);
        if (looks_up && in_other->has(cp) != (op == SetOp::intersect)) continue;
        if (result.has(cp)) continue;
        const uint32_t at = series::length(out);
        const uint32_t written = concatenate_at(out, 0, at_index(from, i), static_cast<int32_t>(step), Concat::append);
        result.added(at, written);
    }
}

// ---- sort with a compare function ---------------------------------------------------------------

// What the user comparator of a text sort works with, and what lets it notice the user code
// moving, resizing or widening the buffer under the sort.
struct UserSort {
    Cell function;          // the /compare function
    NodeId node;            // the series sorted
    const std::byte* data;  // its units when the sort began
    uint32_t used;          // its bytes then
    uint32_t unit;          // its unit width then
    bool bytes;             // binary!: records are handed over as integers, not characters
    uint32_t flags;         // sort_flag::reverse, and with sort_flag::records the record length
    NodeId scratch[2];      // /all with /skip: the strings the two records are copied into, else 0
};

// A record copied into a scratch string of at least the record's unit width. May allocate.
Cell fill_scratch(NodeId scratch, const std::byte* record, uint32_t n, uint32_t unit) {
    series::clear(scratch);
    uint32_t to_unit = unit_of(scratch);
    if (to_unit < unit) {
        unicode::widen(scratch, unit);
        to_unit = unit;
    }
    std::byte* to = series::reserve_tail(scratch, n * to_unit);
    if (to_unit == unit) {
        std::memcpy(to, record, size_t{n} * unit);
    } else {
        copy_units(record, unit, to, to_unit, n);
    }
    return cell::series(TypeId::string, scratch);
}

int sort_call_compare(const void* a, const void* b, void* context, void*) {
    const auto& call = *static_cast<const UserSort*>(context);
    const auto* x = static_cast<const std::byte*>(a);
    const auto* y = static_cast<const std::byte*>(b);
    if (call.flags & sort_flag::reverse) std::swap(x, y);
    int32_t r;
    if (call.scratch[0]) {
        const uint32_t n = call.flags >> sort_flag::count_shift;
        r = block::call_comparator(call.function, fill_scratch(call.scratch[0], y, n, call.unit),
                                   fill_scratch(call.scratch[1], x, n, call.unit), true);
    } else {
        const uint32_t cy = series::load_unit(y, call.unit), cx = series::load_unit(x, call.unit);
        r = call.bytes ? block::call_comparator(call.function, cell::integer(static_cast<int32_t>(cy)),
                                                cell::integer(static_cast<int32_t>(cx)), true)
                       : block::call_comparator(call.function, cell::character(cy), cell::character(cx), true);
    }
    SeriesBuffer* buffer = memory::buffer(call.node);
    if (buffer->head_ptr() != call.data || buffer->used() != call.used || buffer->unit() != call.unit)
        error::fire(ErrorId::invalid_arg, cell::series(TypeId::string, call.node));
    return r;
}

}  // namespace

// ---- find, select, path -------------------------------------------------------------------------

Cell find(Cell series, Cell value, const FindOptions& options) {
    const Match m = locate(series, value, options);
    if (m.at < 0) return cell::none();
    return at_index(series, static_cast<uint32_t>(m.at + (options.tail ? m.length : 0)));
}

Cell select(Cell series, Cell value, const FindOptions& options) {
    FindOptions o = options;
    o.tail = false;
    o.match = false;
    const Match m = locate(series, value, o);
    if (m.at < 0) return cell::none();
    const uint64_t after = static_cast<uint64_t>(m.at) + m.length;
    if (after >= series::length(cell::series_node(series))) return cell::none();
    return series_value::element_at(series, static_cast<uint32_t>(after));
}

Cell eval_path(Cell parent, Cell element, const PathStep& step) {
    const ActionTable& actions = registry::actions(cell::type(parent));
    switch (cell::type(element)) {
        case TypeId::integer: {
            const int32_t index = cell::as_integer(element);
            if (step.set_value) return actions.poke(parent, index, element, *step.set_value);
            return actions.pick(parent, index, element);
        }
        case TypeId::word: error::fire(ErrorId::invalid_path, step.path, element);
        default: break;
    }
    const FindOptions none{};
    if (!step.set_value) return select(parent, element, none);
    const Cell found = find(parent, element, none);
    if (cell::is(found, TypeId::none)) error::fire(ErrorId::bad_path_set, step.path, element);
    return actions.poke(found, 2, cell::integer(2), *step.set_value);
}

// ---- append, insert, change ---------------------------------------------------------------------

// The lean road of append: a character, or the whole of another text, that fits the target's
// width and its room, with no owner to tell. False, nothing done, for anything else.
[[gnu::always_inline]] inline bool append_in_place(NodeId node, const Cell& value) {
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = b->unit();
    if (b->flags & series_flag::owned) return false;
    if (cell::is(value, TypeId::char_)) {
        if (append_unit(value.w2) > unit || b->tail + unit > b->size) return false;
        series::store_unit(b->tail_ptr(), unit, value.w2);
        b->tail += unit;
        return true;
    }
    const TypeId type = cell::type(value);
    if (!is_text(type) || type == TypeId::tag || cell::series_node(value) == node) return false;
    SeriesBuffer* from = memory::buffer(cell::series_node(value));
    const uint32_t from_unit = from->unit();
    if (from_unit > unit) return false;
    const uint32_t from_length = from->used() / from_unit;
    const uint32_t from_index = head_in(value, from_length);
    const uint32_t count = from_length - from_index;
    if (b->tail + uint64_t{count} * unit > b->size) return false;
    const std::byte* source = from->head_ptr() + size_t{from_index} * from_unit;
    if (from_unit == unit) std::memcpy(b->tail_ptr(), source, size_t{count} * unit);
    else copy_units(source, from_unit, b->tail_ptr(), unit, count);
    b->tail += count * unit;
    return true;
}

bool append_text_in_room(Cell& series, const Cell& value) {
    const NodeId node = cell::series_node(series);
    if (cell::is(value, TypeId::integer)) {
        // Its digits, as splice writes them, when they fit the room left.
        SeriesBuffer* b = memory::buffer(node);
        if (b->flags & series_flag::owned) return false;
        char digits[12];
        const auto count =
            static_cast<uint32_t>(std::to_chars(digits, digits + sizeof digits, cell::as_integer(value)).ptr - digits);
        const uint32_t unit = b->unit();
        if (b->tail + uint64_t{count} * unit > b->size) return false;
        if (unit == 1) std::memcpy(b->tail_ptr(), digits, count);
        else copy_units(reinterpret_cast<const std::byte*>(digits), 1, b->tail_ptr(), unit, count);
        b->tail += count * unit;
    } else if (!append_in_place(node, value)) {
        return false;
    }
    series.w1 = 0;
    return true;
}

Cell append(Cell series, Cell value, const InsertOptions& options) {
    const NodeId node = cell::series_node(series);
    if (options.part < 0 && options.dup == 1 && append_in_place(node, value)) return at_index(series, 0);
    series_value::notify_owner(series, words::Word::append, series::length(node), 0);
    const uint32_t at = series::length(node);
    const uint32_t written = append_char(node, value, options.part, options.dup)
                                 ? 1
                                 : splice(node, at, 0, value, options.part, options.only, options.dup);
    series_value::notify_owner(series, words::Word::appended, at, written);
    return at_index(series, 0);
}

Cell insert(Cell series, Cell value, const InsertOptions& options) {
    const NodeId node = cell::series_node(series);
    const uint32_t at = head_in(series, series::length(node));
    series_value::notify_owner(series, words::Word::insert, at, 0);
    // The owner's handler may have cut the series.
    const uint32_t where = std::min(at, series::length(node));
    const uint32_t written = splice(node, where, 0, value, options.part, options.only, options.dup);
    series_value::notify_owner(series, words::Word::inserted, where, written);
    return at_index(series, where + written);
}

Cell change(Cell series, Cell value, const InsertOptions& options) {
    const NodeId node = cell::series_node(series);
    const uint32_t length = series::length(node);
    const uint32_t at = head_in(series, length);
    if (at == length) {
        const uint32_t written = splice(node, at, 0, value, options.part, options.only, options.dup);
        series_value::notify_owner(series, words::Word::changed, at, written);
        return at_index(series, at + written);
    }
    series_value::notify_owner(series, words::Word::change, at, 0);
    const uint32_t now = series::length(node);
    const uint32_t where = std::min(at, now);
    // /part names the units replaced and limits nothing else. Without it the new text replaces as
    // many units as it holds: it goes in first, then that many units after it go.
    uint32_t written;
    if (options.part >= 0) {
        written = splice(node, where, static_cast<uint32_t>(options.part), value, -1, options.only, options.dup);
    } else {
        written = splice(node, where, 0, value, -1, options.only, options.dup);
        remove_part(node, where + written, written);
    }
    series_value::notify_owner(series, words::Word::changed, where, written);
    return at_index(series, std::min(where + written, series::length(node)));
}

// ---- sort ---------------------------------------------------------------------------------------

Cell sort(Cell series, const SortOptions& options) {
    const NodeId node = cell::series_node(series);
    const uint32_t length = series::length(node);
    uint32_t head = head_in(series, length);
    if (head == length) return series;
    const uint32_t from = head;
    const int64_t count = part_skip::part_range(series, options.part, length, head);
    if (head != from) series = at_index(series, head);  // a part reaching back
    int64_t n = 1;
    if (options.skip) {
        n = part_skip::records(*options.skip, count);
    } else if (options.all) {
        error::fire(ErrorId::bad_refines);
    }
    uint32_t flags = options.reverse ? sort_flag::reverse : 0;
    if (options.all) flags |= sort_flag::records | static_cast<uint32_t>(n) << sort_flag::count_shift;
    bool user = false;
    if (options.compare) {
        const Cell& compare = *options.compare;
        if (cell::is(compare, TypeId::integer)) {
            if (!options.skip || options.all) error::fire(ErrorId::bad_refines);
            const int32_t k = cell::as_integer(compare);
            if (k < 1 || k > n) error::fire(ErrorId::out_of_range, compare);
            flags |= static_cast<uint32_t>(k - 1) << sort_flag::count_shift;
        } else if (cell::is(compare, TypeId::function)) {
            user = true;
        } else {
            error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::compare), compare);
        }
    }
    series_value::notify_owner(series, words::Word::sort, head, 0);
    // The owner's handler may have cut the series: sort the whole records still there.
    const uint32_t now = series::length(node);
    if (head < now) {
        const uint64_t left = std::min<uint64_t>(static_cast<uint64_t>(count), now - head);
        const uint64_t records = left / static_cast<uint64_t>(n);
        const uint32_t unit = unit_of(node);
        const size_t width = static_cast<size_t>(n) * unit;
        // Stable whenever asked: with /case plain characters that tie are the same, but records
        // of /skip and answers of a function are not.
        const auto run = options.stable ? sort::stable : sort::fast;
        if (user) {
            Rooted root;
            UserSort call{*options.compare, node, nullptr, 0, unit, cell::is(series, TypeId::binary), flags, {0, 0}};
            if (options.all) {
                for (NodeId& scratch : call.scratch) {
                    scratch = series::alloc_with_unit(static_cast<uint32_t>(n), unit);
                    root.hold(cell::series(TypeId::string, scratch));
                }
            }
            // The sort keeps pointers into the buffer across the user's code.
            collector::Guard hold;
            SeriesBuffer* b = memory::buffer(node);
            call.data = b->head_ptr();
            call.used = b->used();
            run(b->head_ptr() + size_t{head} * unit, records, width, &call, nullptr, sort_call_compare);
        } else {
            SortOrder order{options.case_sensitive, flags};
            std::byte* base = memory::buffer(node)->head_ptr() + size_t{head} * unit;
            run(base, records, width, &order, nullptr, unit_comparator(unit));
        }
    }
    series_value::notify_owner(series, words::Word::sorted, head, 0);
    return series;
}

// ---- swap ---------------------------------------------------------------------------------------

Cell swap(Cell a, Cell b) {
    if (!is_text(cell::type(b)) && !cell::is(b, TypeId::binary)) error::fire(ErrorId::invalid_arg, b);
    if (rs_tail(a) || rs_tail(b)) return a;
    series_value::notify_owner(a, words::Word::swap, cell::series_index(a), 1);
    series_value::notify_owner(b, words::Word::swap, cell::series_index(b), 1);
    // Handlers may have cut either series.
    if (!rs_tail(a) && !rs_tail(b)) {
        const NodeId na = cell::series_node(a), nb = cell::series_node(b);
        const uint32_t ia = head_in(a, series::length(na)), ib = head_in(b, series::length(nb));
        const uint32_t x = char_at(na, ia), y = char_at(nb, ib);
        // binary! holds bytes: a wider character goes in by its low byte.
        poke_char(na, ia, cell::is(a, TypeId::binary) ? (y & 0xFF) : y);
        poke_char(nb, ib, cell::is(b, TypeId::binary) ? (x & 0xFF) : x);
    }
    series_value::notify_owner(a, words::Word::swaped, cell::series_index(a), 1);
    series_value::notify_owner(b, words::Word::swaped, cell::series_index(b), 1);
    return a;
}

// ---- trim ---------------------------------------------------------------------------------------

Cell trim(Cell series, const TrimOptions& options) {
    const NodeId node = cell::series_node(series);
    const uint32_t at = head_in(series, series::length(node));

    // The /with set is read before anything changes: a string set may be the series itself.
    uint32_t single = 0;
    bool by_char = false;
    Cell set = cell::none();
    if (options.with) {
        const Cell& with = *options.with;
        if (cell::is(with, TypeId::char_) || cell::is(with, TypeId::integer)) {
            single = with.w2;
            by_char = true;
        } else if (is_text(cell::type(with)) || cell::is(with, TypeId::binary)) {
            set = with;
        } else {
            error::fire(ErrorId::invalid_arg, with);
        }
    }
    series_value::notify_owner(series, words::Word::trim, at, 0);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(at, length);
    std::byte* data = memory::buffer(node)->head_ptr();
    uint32_t end = length;
    bool line_feed = false;
    if (options.all || options.with) {
        if (cell::is(set, TypeId::none)) {
            // The four-character default set, or the one /with character.
            end = with_unit(unit_of(node), [&](auto u) {
                return compact<decltype(u)::value>(data, head, length, [&](uint32_t cp) {
                    if (by_char) return cp != single;
                    return cp != 0x09 && cp != 0x0A && cp != 0x0D && cp != 0x20;
                });
            });
        } else {
            NodeId set_node = cell::series_node(set);
            uint32_t set_head = head_in(set, series::length(set_node));
            const uint32_t set_length = series::length(set_node) - set_head;
            std::optional<collector::Guard> hold;
            if (set_node == node) {
                // Compaction would rewrite the set as it reads it: read a copy.
                hold.emplace();
                set_node = series::copy_part(set_node, set_head, set_length);
                set_head = 0;
                data = memory::buffer(node)->head_ptr();
            }
            const uint32_t set_unit = unit_of(set_node);
            const std::byte* set_data = memory::buffer(set_node)->head_ptr() + size_t{set_head} * set_unit;
            end = with_unit(unit_of(node), [&](auto u) {
                return compact<decltype(u)::value>(data, head, length, [&](uint32_t cp) {
                    for (uint32_t i = 0; i < set_length; ++i)
                        if (series::code_point_at(set_data, set_unit, i) == cp) return false;
                    return true;
                });
            });
        }
    } else if (options.automatic) {
        end = with_unit(unit_of(node), [&](auto u) { return trim_auto<decltype(u)::value>(data, head, length); });
    } else if (options.lines) {
        end = with_unit(unit_of(node), [&](auto u) { return trim_lines<decltype(u)::value>(data, head, length); });
    } else {
        const bool plain = !options.head && !options.tail;
        const bool only_head = options.head && !options.tail;
        const bool only_tail = options.tail && !options.head;
        end = with_unit(unit_of(node), [&](auto u) {
            return trim_part<decltype(u)::value>(data, head, length, only_head, only_tail, plain, line_feed);
        });
    }
    truncate(node, end);
    if (line_feed && !options.tail) append_char(node, '\n');
    series_value::notify_owner(series, words::Word::trimmed, head, 0);
    return series;
}

// ---- Set operations -----------------------------------------------------------------------------

bool has_char(const Cell& value, uint32_t cp, uint32_t step, bool case_sensitive) {
    const NodeId node = cell::series_node(value);
    return has_char_at(node, head_in(value, series::length(node)), cp, std::max<uint32_t>(step, 1), case_sensitive);
}

Cell set_operation(SetOp op, Cell a, Cell b, bool case_sensitive, int32_t skip) {
    if (skip < 1) part_skip::refuse(words::Word::skip, cell::integer(skip));
    const bool two = op != SetOp::unique;
    const uint64_t capacity = uint64_t{rs_length(a)} + (op == SetOp::union_ ? rs_length(b) : 0);
    if (capacity > kMaxBytes) error::fire(ErrorId::no_memory);
    const Cell result = make(static_cast<uint32_t>(capacity), cell::type(a));
    const Rooted root(result);
    const NodeId out = cell::series_node(result);
    const auto step = static_cast<uint32_t>(skip);
    // The result is asked once for every record of the arguments, and holds at most that many.
    const uint64_t records = capacity / step + (op == SetOp::difference ? rs_length(b) / step : 0);
    Members in_result(out, 0, step, case_sensitive, records * records > kIndexAfter);
    set_pass(op, a, two ? b : a, out, in_result, case_sensitive, step);
    if (op == SetOp::union_ || op == SetOp::difference) set_pass(op, b, a, out, in_result, case_sensitive, step);
    return result;
}

}  // namespace zub::string
