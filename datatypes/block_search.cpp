// block!'s find, select, put and sort actions, the default record comparator of sort, and the block
// side of the set natives (unique, union, intersect, exclude, difference). paren!, the path family
// and hash! inherit the actions; the natives call set_operation.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "datatypes/block.h"
#include "datatypes/hash.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/actions.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/hash_index.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/sort.h"
#include "runtime/symbol.h"

namespace zub {

namespace {

NodeId node_of(const Cell& value) { return cell::series_node(value); }
uint32_t cells_in(NodeId node) { return memory::buffer(node)->used() / sizeof(Cell); }
Cell* cells_of(NodeId node) { return memory::buffer(node)->cells(); }

// word!, set-word!, lit-word! and get-word!: their comparison is word!'s.
bool any_word(TypeId t) { return t >= TypeId::word && t <= TypeId::get_word; }

// How a cell compares with a sought word of type `t` as find decides it: words of the four kinds by
// their symbols (canonical `wanted` for find's equality, exact and of one type when strict), an
// integer never; 1 equal, 0 not, -1 for any other value, which the comparison decides.
int word_match(const Cell& c, TypeId t, symbol::Id wanted, bool strict) {
    const TypeId ct = cell::type(c);
    if (any_word(ct)) return strict ? ct == t && c.w2 == wanted : symbol::resolve(c.w2) == wanted;
    return ct == TypeId::integer ? 0 : -1;
}

// ---- find and select -----------------------------------------------------------------------------

enum class Mode { value, type, types, sequence };

// One search, measured once. Positions are cell indexes from the buffer start; comparisons never
// allocate, so the buffer stays where it is for the whole walk.
struct Search {
    NodeId node;   // of the series searched
    int64_t head;  // the series' head, clamped to the tail
    Cell value;    // what is looked for
    Mode mode;
    int32_t op;         // equality code of the comparison
    NodeId seq_node;    // sequence mode: the block whose cells must follow in order
    uint32_t seq_head;  // its head
    uint32_t seq_length;
    uint32_t step;  // cells between tried positions
};

bool matches(const Search& s, int64_t at) {
    const uint32_t n = cells_in(s.node);
    if (at < 0 || at >= n) return false;
    const Cell& c = cells_of(s.node)[at];
    switch (s.mode) {
        case Mode::type: return cell::type(c) == static_cast<TypeId>(s.value.w1);
        case Mode::types: return typeset::contains(s.value, cell::type(c));
        case Mode::value: return actions::compare_direct(c, s.value, s.op) == 0;
        case Mode::sequence:
            for (uint32_t k = 0; k < s.seq_length; ++k) {
                // A sequence that would run past either tail does not match.
                if (at + k >= cells_in(s.node) || s.seq_head + k >= cells_in(s.seq_node)) return false;
                const Cell x = cells_of(s.node)[at + k], y = cells_of(s.seq_node)[s.seq_head + k];
                if (actions::compare_direct(x, y, s.op) != 0) return false;
            }
            return true;
    }
    return false;
}

// Whether a string holds the key's text (case-folded unless case_sensitive), as the comparison
// of two strings answers it.
inline bool equal_text(const string::TextKey& key, const Cell& candidate, bool case_sensitive) {
    return string::equal_keys(string::text_key(candidate), key, case_sensitive);
}

struct Found {
    int64_t at;       // position of the match, -1 when there is none
    bool backward;    // found by a backward walk
    uint32_t length;  // cells the match covers
};
constexpr Found kNotFound{-1, false, 0};

// The walk of find and select: /last and /reverse go backward and may find values before the head.
Found search(const Cell& series, const Cell& value, const FindOptions& o) {
    const NodeId node = node_of(series);
    const int64_t n = cells_in(node);
    if (n == 0) return kNotFound;
    const auto raw_head = static_cast<int32_t>(cell::series_index(series));
    if (!o.reverse && raw_head >= n) return kNotFound;

    const auto step = static_cast<uint32_t>(part_skip::step(o.skip));
    Search s{node, block::head_index(series), value, Mode::value, op_find, 0, 0, 1, step};
    s.op = o.same ? op_same : o.case_sensitive ? op_strict_equal : op_find;

    bool has_limit = false;
    int64_t limit = n - 1;
    if (o.part) {
        // A series as /part ends the range before its head, as a count of cells would.
        const int64_t k = part_skip::length(series, *o.part);
        if (k < 1) return kNotFound;
        has_limit = true;
        limit = std::min(s.head + k - 1, n - 1);
    }

    const TypeId t = cell::type(value);
    if (!o.only) {
        if (t == TypeId::datatype) {
            s.mode = Mode::type;
        } else if (t == TypeId::typeset) {
            s.mode = Mode::types;
        } else if (block::is_block_like(t)) {
            // An empty sequence is found nowhere.
            if (block::at_tail(value)) return kNotFound;
            s.mode = Mode::sequence;
            s.seq_node = node_of(value);
            s.seq_head = block::head_index(value);
            s.seq_length = block::length(value);
        }
    }
    const uint32_t length = s.mode == Mode::sequence ? s.seq_length : 1;

    if (!o.last && !o.reverse) {
        if (s.mode == Mode::value && !o.match && cell::is(series, TypeId::hash) && !block::is_block_like(t)) {
            // A hash! answers a forward search from its index; blocks hash by identity, so a
            // block sought by value is still walked for.
            if (const NodeId table = hash_block::synced_index(series)) {
                hash_index::Find how;
                how.start = static_cast<uint32_t>(s.head);
                how.skip = s.step;
                how.rule = s.op;
                const int32_t at = hash_index::find(table, value, how);
                return at < 0 || at > limit ? kNotFound : Found{at, false, 1};
            }
        }
        if (s.mode == Mode::value && t == TypeId::integer) {
            // The common search for an integer: another integer matches by its value alone, so the
            // walk compares payloads and leaves the rest (other numbers, say) to the comparison.
            const Cell* const cells = cells_of(node);
            for (int64_t i = s.head; i <= limit; i += s.step) {
                const Cell& c = cells[i];
                if (cell::is(c, TypeId::integer) ? c.w2 == value.w2 : matches(s, i)) return {i, false, length};
                if (o.match) break;
            }
            return kNotFound;
        }
        if (s.mode == Mode::value && any_word(t) && (s.op == op_find || s.op == op_strict_equal)) {
            // A word among words, as in select on a block of keys and values.
            const bool strict = s.op == op_strict_equal;
            const symbol::Id wanted = strict ? value.w2 : symbol::resolve(value.w2);
            const Cell* const cells = cells_of(node);
            for (int64_t i = s.head; i <= limit; i += s.step) {
                const int m = word_match(cells[i], t, wanted, strict);
                if (m > 0 || (m < 0 && matches(s, i))) return {i, false, length};
                if (o.match) break;
            }
            return kNotFound;
        }
        if (s.mode == Mode::value && t == TypeId::string && s.op != op_same) {
            // A string among strings: the sought text located once, each candidate rejected by its
            // length before a character is compared; other values take the comparison.
            const string::TextKey key = string::text_key(value);
            const bool case_sensitive = s.op == op_strict_equal;
            const Cell* const cells = cells_of(node);
            for (int64_t i = s.head; i <= limit; i += s.step) {
                const Cell& c = cells[i];
                if (cell::is(c, TypeId::string) ? equal_text(key, c, case_sensitive) : matches(s, i))
                    return {i, false, length};
                if (o.match) break;
            }
            return kNotFound;
        }
        for (int64_t i = s.head; i <= limit; i += s.step) {
            if (matches(s, i)) return {i, false, length};
            if (o.match) break;
        }
        return kNotFound;
    }
    const int64_t from = has_limit ? limit : (o.last ? n : s.head) - length;
    for (int64_t i = from; i >= 0; i -= s.step) {
        if (matches(s, i)) return {i, true, length};
        if (o.match) break;
    }
    return kNotFound;
}

// The sequence a block-like value stands for, unless /only asks for the value itself.
bool is_sequence(const Cell& value, bool only) { return !only && block::is_block_like(cell::type(value)); }

// ---- sort ----------------------------------------------------------------------------------------

constexpr uint32_t kSortReverse = 1;  // comparator flags: records swapped before each comparison
constexpr uint32_t kSortAll = 2;      // every cell of the records, in order, not just one
constexpr uint32_t kSortShift = 2;    // record width (kSortAll) or compared cell's offset above

int32_t compare_cells(const Cell& x, const Cell& y, int32_t op) {
    const int32_t r = actions::compare_direct(x, y, op);
    // Values without a common order still sort: by their types.
    if (r == kNotComparable) return static_cast<int32_t>(cell::type(x)) - static_cast<int32_t>(cell::type(y));
    return r;
}

// ---- sort fast paths: records keyed on integers or on texts of one type ----------------------------
// When every compared cell has one type whose order is plain, the comparison skips the action
// dispatch: integers compare inline, and texts are located once, up front, so that a comparison
// reads their units directly instead of looking their buffers up twice each time. Nothing
// allocates or runs user code while they sort, so the located units stay put.

constexpr auto kNoCommonType = static_cast<TypeId>(0);

// The type of every compared cell: the cell at `offset` of each record of n cells.
TypeId common_type(const Cell* base, size_t records, uint32_t n, uint32_t offset) {
    const TypeId t = cell::type(base[offset]);
    for (size_t r = 1; r < records; ++r)
        if (cell::type(base[r * n + offset]) != t) return kNoCommonType;
    return t;
}

int compare_integers(const void* a, const void* b, void*, void* flags_word) {
    const auto flags = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(flags_word));
    const auto* x = static_cast<const Cell*>(a);
    const auto* y = static_cast<const Cell*>(b);
    if (flags & kSortReverse) std::swap(x, y);
    const uint32_t offset = flags >> kSortShift;
    const int32_t p = cell::as_integer(x[offset]), q = cell::as_integer(y[offset]);
    return (p > q) - (p < q);
}

struct Keyed {
    string::TextKey key;
    size_t index;  // the record's place before the sort
};

int compare_keyed(const void* a, const void* b, void* case_word, void* flags_word) {
    const auto* x = static_cast<const Keyed*>(a);
    const auto* y = static_cast<const Keyed*>(b);
    if (reinterpret_cast<uintptr_t>(flags_word) & kSortReverse) std::swap(x, y);
    return string::compare_keys(x->key, y->key, case_word != nullptr);
}

// Sorts the records by the texts at `offset`: the keys are sorted, then the records follow them,
// each cycle of the permutation walked once. False (nothing done) when the keys find no memory.
bool sort_texts(Cell* base, size_t records, uint32_t n, uint32_t offset, bool case_sensitive, uint32_t flags,
                void (*run)(void*, size_t, size_t, void*, void*, sort::Compare)) {
    std::unique_ptr<Keyed[]> keys(new (std::nothrow) Keyed[records]);
    std::unique_ptr<Cell[]> spare(new (std::nothrow) Cell[n]);
    if (!keys || !spare) return false;
    for (size_t r = 0; r < records; ++r) keys[r] = {string::text_key(base[r * n + offset]), r};
    run(keys.get(), records, sizeof(Keyed), case_sensitive ? &keys : nullptr, reinterpret_cast<void*>(uintptr_t{flags}),
        compare_keyed);
    const size_t bytes = size_t{n} * sizeof(Cell);
    for (size_t i = 0; i < records; ++i) {
        if (keys[i].index == i) continue;
        std::memcpy(spare.get(), base + i * n, bytes);
        size_t j = i;
        for (;;) {
            const size_t from = keys[j].index;
            keys[j].index = j;
            if (from == i) {
                std::memcpy(base + j * n, spare.get(), bytes);
                break;
            }
            std::memcpy(base + j * n, base + from * n, bytes);
            j = from;
        }
    }
    return true;
}

// What a user comparator is called with, and what lets the sort notice the user code moving or
// resizing the records under it.
struct UserCompare {
    Cell function;        // the /compare function
    NodeId node;          // the series sorted
    const Cell* records;  // its cells when the sort began
    uint32_t used;        // its bytes when the sort began
    NodeId scratch[2];    // /all with /skip: the blocks the two records are copied into, else 0
};

// Puts the top of the evaluation stack back where it was, however the scope is left.
class StackMark {
  public:
    StackMark() : top_(stack::g_top) {}
    ~StackMark() { stack::g_top = top_; }
    StackMark(const StackMark&) = delete;
    StackMark& operator=(const StackMark&) = delete;

  private:
    Cell* top_;
};

// A record copied into a scratch block, which the user function receives in its place.
Cell fill_scratch(NodeId scratch, const Cell* record, uint32_t n) {
    series::clear(scratch);
    for (uint32_t k = 0; k < n; ++k) series::append_cell(scratch, record[k]);
    return cell::series(TypeId::block, scratch);
}

// The result of the user call is the comparator's order; the series must still be where the sort
// holds it, or the records the sort works on are no longer the series' cells. A moved buffer is
// left dead but in place while the collector is held, so the sort's own unwinding writes land
// nowhere that matters.
int sort_call_compare(const void* a, const void* b, void* context, void* flags_word) {
    const auto& call = *static_cast<const UserCompare*>(context);
    const auto flags = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(flags_word));
    const auto* x = static_cast<const Cell*>(a);
    const auto* y = static_cast<const Cell*>(b);
    if (flags & kSortReverse) std::swap(x, y);
    int32_t r;
    if (call.scratch[0]) {
        const uint32_t n = flags >> kSortShift;
        r = block::call_comparator(call.function, fill_scratch(call.scratch[0], y, n),
                                   fill_scratch(call.scratch[1], x, n), false);
    } else {
        r = block::call_comparator(call.function, *y, *x, false);
    }
    SeriesBuffer* buffer = memory::buffer(call.node);
    if (buffer->cells() != call.records || buffer->used() != call.used)
        error::fire(ErrorId::invalid_arg, cell::series(TypeId::block, call.node));
    return r;
}

// ---- set operations ------------------------------------------------------------------------------

// One side of a set operation: its node, clamped head and length, and a hash index over it.
struct Side {
    NodeId node;
    uint32_t head;
    uint32_t length;
    NodeId table;
};

Side side_of(const Cell& set) { return {node_of(set), block::head_index(set), block::length(set), 0}; }

// Whether the value is among the cells of a side at a record start from `from`: blocks by walking
// (their hash says nothing of equality), the rest through the side's index.
bool contains(const Side& side, const Cell& value, uint32_t from, uint32_t step, int32_t op) {
    if (block::is_block_like(cell::type(value))) {
        for (uint32_t i = from; i < cells_in(side.node); i += step)
            if (actions::compare_direct(cells_of(side.node)[i], value, op) == 0) return true;
        return false;
    }
    hash_index::Find how;
    how.start = from;
    how.skip = step;
    how.rule = op;
    return hash_index::find(side.table, value, how) >= 0;
}

bool keeps(int32_t op, bool in_other) {
    switch (op) {
        case block::set_intersect: return in_other;
        case block::set_exclude:
        case block::set_difference: return !in_other;
        default: return true;
    }
}

// Appends to the result the records of `from` that the operation keeps and that are not there yet.
void pass(int32_t op, const Side& from, const Side* other, Side& result, uint32_t n, int32_t rule) {
    for (uint32_t i = from.head; i < cells_in(from.node); i += n) {
        const Cell first = cells_of(from.node)[i];
        if (!keeps(op, other && contains(*other, first, other->head, 1, rule))) continue;
        if (contains(result, first, 0, n, rule)) continue;
        const uint32_t at = cells_in(result.node);
        const uint32_t end = std::min(i + n, cells_in(from.node));
        for (uint32_t j = i; j < end; ++j) series::append_cell(result.node, cells_of(from.node)[j]);
        hash_index::add_block_value(result.table, at);
    }
}

}  // namespace

namespace block {

Cell find(Cell series, Cell value, const FindOptions& options) {
    const Found f = search(series, value, options);
    if (f.at < 0) return cell::none();
    int64_t at = f.at;
    if (options.tail) {
        const bool single = !is_sequence(value, options.only);
        at += single ? (f.backward ? 1 : static_cast<uint32_t>(part_skip::step(options.skip))) : f.length;
        at = std::min<int64_t>(at, cells_in(node_of(series)));
    }
    series.w1 = static_cast<uint32_t>(at);
    return series;
}

int64_t find_plain(const Cell& series, const Cell& value) {
    const TypeId t = cell::type(value);
    const bool word = any_word(t);
    if (!word && t != TypeId::integer) return kUndecided;
    const NodeId node = node_of(series);
    const int64_t n = cells_in(node);
    const auto raw_head = static_cast<int32_t>(cell::series_index(series));
    const Cell* const cells = cells_of(node);
    // As search walks it: integers by their values, words as word_match tells, and the
    // comparison for every other candidate.
    if (word) {
        const symbol::Id wanted = symbol::resolve(value.w2);
        for (int64_t i = std::max(raw_head, 0); i < n; ++i) {
            const int m = word_match(cells[i], t, wanted, false);
            if (m > 0 || (m < 0 && actions::compare_direct(cells[i], value, op_find) == 0)) return i;
        }
        return -1;
    }
    for (int64_t i = std::max(raw_head, 0); i < n; ++i) {
        const Cell& c = cells[i];
        if (cell::is(c, TypeId::integer) ? c.w2 == value.w2 : actions::compare_direct(c, value, op_find) == 0) return i;
    }
    return -1;
}

Cell select(Cell series, Cell value, const FindOptions& options) {
    FindOptions o = options;
    o.tail = false;
    o.match = false;
    const Found f = search(series, value, o);
    if (f.at < 0) return cell::none();
    const int64_t after = f.at + (is_sequence(value, o.only) ? f.length : 1);
    const NodeId node = node_of(series);
    return after < cells_in(node) ? cells_of(node)[after] : cell::none();
}

Cell put(Cell series, Cell key, Cell value, bool case_sensitive) {
    // The key is one value: a block key is found and appended whole, as a map would hold it.
    FindOptions o{};
    o.only = true;
    o.case_sensitive = case_sensitive;
    const Found f = search(series, key, o);
    const NodeId node = node_of(series);
    if (f.at < 0) {
        series_value::notify_owner(series, words::Word::put, cells_in(node), 1);
        series::append_cell(node, key);
        series::append_cell(node, value);
        series_value::notify_owner(series, words::Word::put_ed, cells_in(node) - 1, 1);
        return value;
    }
    const int64_t slot = f.at + 1;
    series_value::notify_owner(series, words::Word::put, slot, 1);
    // The owner's handler may have cut the block.
    if (slot >= cells_in(node)) series::append_cell(node, value);
    else if (actions::compare_direct(cells_of(node)[slot], value, op_find) != 0) cells_of(node)[slot] = value;
    series_value::notify_owner(series, words::Word::put_ed, slot, 1);
    return value;
}

int32_t call_comparator(Cell function, Cell first, Cell second, bool integer_negated) {
    const Cell args[2] = {first, second};
    Cell* const base = stack::g_top;
    Status status;
    {
        // Errors inside name the callback as where they happened.
        const stack::Call frame(stack::FrameType::native, words::global(words::Word::compare_callback_tag));
        status = interp::call(function, args, 2, cell::none(), interp::Callback::sort);
    }
    if (status != Status::normal) {
        stack::g_top = base;
        exits::refuse_escape(status);
    }
    const Cell result = stack::g_top > base ? stack::g_top[-1] : cell::unset();
    stack::g_top = base;
    switch (cell::type(result)) {
        case TypeId::logic: return cell::as_logic(result) ? 1 : -1;
        case TypeId::integer: {
            const int32_t v = cell::as_integer(result);
            const int32_t sign = (v > 0) - (v < 0);
            return integer_negated ? -sign : sign;
        }
        case TypeId::float_: {
            const double d = cell::as_float(result);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TypeId::none: return -1;
        default: return 1;
    }
}

int sort_compare(const void* a, const void* b, void* op_word, void* flags_word) {
    const auto op = static_cast<int32_t>(reinterpret_cast<intptr_t>(op_word));
    const auto flags = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(flags_word));
    const auto* x = static_cast<const Cell*>(a);
    const auto* y = static_cast<const Cell*>(b);
    if (flags & kSortReverse) std::swap(x, y);
    if (!(flags & kSortAll)) {
        const uint32_t offset = flags >> kSortShift;
        return compare_cells(x[offset], y[offset], op);
    }
    for (uint32_t k = 0; k < flags >> kSortShift; ++k)
        if (const int32_t r = compare_cells(x[k], y[k], op)) return r;
    return 0;
}

Cell sort(Cell series, const SortOptions& o) {
    if (at_tail(series)) return series;
    const NodeId node = node_of(series);
    int64_t head = head_index(series);
    int64_t count = length(series);
    if (o.part) {
        const int64_t k = part_skip::length(series, *o.part);
        if (k < 0) {
            // A count back from the head sorts the cells before it, and the result starts there.
            count = std::min(-k, head);
            head -= count;
        } else {
            count = std::min(k, count);
        }
    }
    series.w1 = static_cast<uint32_t>(head);

    int64_t n = 1;
    if (o.skip) {
        n = part_skip::records(*o.skip, count);
    } else if (o.all) {
        error::fire(ErrorId::bad_refines);
    }

    int64_t offset = 0;
    bool user = false;
    if (o.compare) {
        const TypeId t = cell::type(*o.compare);
        if (t == TypeId::integer) {
            if (!o.skip || o.all) error::fire(ErrorId::bad_refines);
            const int32_t k = cell::as_integer(*o.compare);
            if (k < 1 || k > n) error::fire(ErrorId::out_of_range, *o.compare);
            offset = k - 1;
        } else if (t == TypeId::function) {
            user = true;
        } else {
            error::fire(ErrorId::invalid_refine_arg, words::global(words::Word::compare), *o.compare);
        }
    }
    if (count == 0) return series;

    const uint32_t flags = (o.reverse ? kSortReverse : 0) | (o.all ? kSortAll : 0) |
                           static_cast<uint32_t>(o.all ? n : offset) << kSortShift;
    series_value::notify_owner(series, words::Word::sort, head, 0);
    // The handler may have cut the block: whole records that are still there are sorted.
    const int64_t now = cells_in(node);
    count = std::max<int64_t>(0, std::min(count, now - head)) / n * n;
    if (count > 0) {
        const auto records = static_cast<size_t>(count / n);
        const size_t width = static_cast<size_t>(n) * sizeof(Cell);
        const auto run = o.stable ? sort::stable : sort::fast;
        // The sorts hold raw pointers into the buffer between comparisons.
        collector::Guard hold;
        if (user) {
            const StackMark mark;
            UserCompare call{*o.compare, node, nullptr, 0, {0, 0}};
            if (o.all) {
                // Made once per sort; the stack keeps them, the guard keeps them where they are.
                for (NodeId& scratch : call.scratch) {
                    scratch = make(static_cast<uint32_t>(n)).w2;
                    stack::push(cell::series(TypeId::block, scratch));
                }
            }
            call.records = cells_of(node);
            call.used = memory::buffer(node)->used();
            run(cells_of(node) + head, records, width, &call, reinterpret_cast<void*>(uintptr_t{flags}),
                sort_call_compare);
        } else {
            Cell* const base = cells_of(node) + head;
            const int32_t op = o.case_sensitive ? op_sort_case : op_sort;
            void* const flags_word = reinterpret_cast<void*>(uintptr_t{flags});
            const TypeId common =
                o.all ? kNoCommonType
                      : common_type(base, records, static_cast<uint32_t>(n), static_cast<uint32_t>(offset));
            if (common == TypeId::integer) {
                run(base, records, width, nullptr, flags_word, compare_integers);
            } else if (!(string::is_text(common) &&
                         registry::actions(common).compare == registry::actions(TypeId::string).compare &&
                         sort_texts(base, records, static_cast<uint32_t>(n), static_cast<uint32_t>(offset),
                                    o.case_sensitive, flags, run))) {
                run(base, records, width, reinterpret_cast<void*>(intptr_t{op}), flags_word, sort_compare);
            }
        }
    }
    series_value::notify_owner(series, words::Word::sorted, head, 0);
    return series;
}

Cell set_operation(int32_t op, Cell a, const Cell* b, bool case_sensitive, const Cell* skip) {
    const bool with_b = op != set_unique;
    const TypeId ta = cell::type(a);
    if (ta == TypeId::typeset || ta == TypeId::datatype) {
        if (!with_b) return a;
        return typeset::combine(a, *b, op);
    }
    if (op < set_unique || op > set_difference) error::fire(ErrorId::invalid_arg, cell::integer(op));
    if (!is_block_like(ta)) error::fire(ErrorId::invalid_arg, a);
    if (with_b && (!b || !is_block_like(cell::type(*b)))) error::fire(ErrorId::invalid_arg, b ? *b : cell::none());
    uint32_t n = 1;
    if (skip) {
        n = static_cast<uint32_t>(part_skip::positive(*skip));
    }
    const int32_t rule = case_sensitive ? op_strict_equal : op_find;

    // The result and the indexes live only in locals until the result is returned.
    collector::Guard hold;
    Side first = side_of(a);
    Side second = with_b ? side_of(*b) : Side{};
    const uint64_t capacity = uint64_t{first.length} + (op == set_union ? second.length : 0);
    if (capacity > kMaxCells) error::fire(ErrorId::no_memory);
    const Cell result = make(std::max<uint32_t>(static_cast<uint32_t>(capacity), 1));
    Side out{node_of(result), 0, 0, 0};
    out.table = hash_index::init(static_cast<uint32_t>(capacity), out.node, hash_index::Kind::hash);

    const bool looks_up = op == set_intersect || op == set_exclude || op == set_difference;
    if (looks_up) second.table = hash_index::init(cells_in(second.node), second.node, hash_index::Kind::hash);
    if (op == set_difference) first.table = hash_index::init(cells_in(first.node), first.node, hash_index::Kind::hash);

    pass(op, first, looks_up ? &second : nullptr, out, n, rule);
    if (op == set_union || op == set_difference)
        pass(op, second, op == set_difference ? &first : nullptr, out, n, rule);
    return result;
}

}  // namespace block

}  // namespace zub
