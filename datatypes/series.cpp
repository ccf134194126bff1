// series!: one implementation of navigation, pick and poke, clear, remove, reverse, take, copy and
// move for every series type and unit width (cells, 1-, 2- and 4-byte text, vector! elements).
// Units move with block memory moves. A modifying action checks its arguments, tells the owner,
// then re-reads the series (the owner's handler may have changed it) before changing it.
#include "datatypes/series_value.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"
#include "runtime/unicode.h"
#include "system/random.h"

namespace zub {

namespace {

using series_value::checked_unit;
using series_value::raw_head;

NodeId node_of(const Cell& value) { return cell::series_node(value); }
SeriesBuffer* buffer_of(const Cell& value) { return memory::buffer(node_of(value)); }
uint32_t unit_of(const Cell& value) { return checked_unit(buffer_of(value)); }

// The head where a change may happen: inside 0 .. buffer length.
int64_t clamped_head(const Cell& value) {
    return std::clamp<int64_t>(raw_head(value), 0, series_value::buffer_length(value));
}
int64_t remaining(const Cell& value) {
    return std::max<int64_t>(0, int64_t{series_value::buffer_length(value)} - raw_head(value));
}
void set_head(Cell& value, int64_t index) { value.w1 = static_cast<uint32_t>(index); }

// The types move accepts as a target.
bool series_type(TypeId t) { return type_group::in(type_group::series, t); }

bool narrow_units_only(TypeId t) { return t == TypeId::binary || t == TypeId::vector; }

// ---- vector! elements ----------------------------------------------------------------------------

void store_vector_element(std::byte* at, uint32_t unit, const Cell& value) {
    if (cell::is(value, TypeId::float_) || cell::is(value, TypeId::percent)) {
        const double d = cell::as_float(value);
        if (unit == 8) {
            std::memcpy(at, &d, 8);
        } else {
            const auto f = static_cast<float>(d);
            std::memcpy(at, &f, 4);
        }
        return;
    }
    const uint32_t bits = value.w2;  // char! and integer! alike: the low bits
    std::memcpy(at, &bits, std::min<uint32_t>(unit, 4));
}

// ---- Moving units --------------------------------------------------------------------------------

// Makes room for n units at the unit index `at` from the head, moving the rest up. May collect.
void open_gap(NodeId node, uint32_t at, uint32_t n) {
    const SeriesBuffer* before = memory::buffer(node);
    const uint32_t unit = checked_unit(before);
    const uint32_t used = before->used();
    series::reserve_tail(node, n * unit);
    std::byte* p = memory::buffer(node)->head_ptr() + size_t{at} * unit;
    std::memmove(p + size_t{n} * unit, p, used - size_t{at} * unit);
}

void remove_units(NodeId node, uint32_t at, uint32_t n) {
    const uint32_t unit = checked_unit(memory::buffer(node));
    series::remove_bytes(node, at * unit, n * unit);
}

// The unit a text needs to hold the code point when written in place: the poke rule.
uint32_t unit_for_in_place(uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// Writes a code point at a unit index, widening the whole string first when its unit is too
// narrow. May collect.
void poke_char(NodeId node, uint32_t index, uint32_t cp) {
    const uint32_t wanted = unit_for_in_place(cp);
    SeriesBuffer* b = memory::buffer(node);
    if (wanted > b->unit()) b = unicode::widen(node, wanted);
    series::store_unit(b->head_ptr() + size_t{index} * b->unit(), b->unit(), cp);
}

// ---- Copies --------------------------------------------------------------------------------------

// A new series of the value's type holding count units from the unit index; vector! keeps its
// element type. May collect.
Cell new_series_like(const Cell& value, uint32_t start, uint32_t count) {
    const NodeId node = series::copy_part(node_of(value), start, count);
    const uint32_t w3 = cell::is(value, TypeId::vector) ? value.w3 : 0;
    return cell::make(cell::type(value), 0, node, w3);
}

// ---- Positions -----------------------------------------------------------------------------------

Cell series_head(Cell value) {
    set_head(value, 0);
    return value;
}

Cell series_tail(Cell value) {
    set_head(value, series_value::buffer_length(value));
    return value;
}

Cell series_back(Cell value) {
    if (raw_head(value) > 0) set_head(value, raw_head(value) - 1);
    return value;
}

Cell series_next(Cell value) {
    series_value::skip_forward(value, 1);
    return value;
}

Cell series_at(Cell value, Cell offset) {
    set_head(value, series_value::position(value, offset, true));
    return value;
}

Cell series_skip(Cell value, Cell offset) {
    set_head(value, series_value::position(value, offset, false));
    return value;
}

bool series_head_q(Cell value) { return raw_head(value) == 0; }
bool series_tail_q(Cell value) { return series_value::at_tail(value); }

Cell series_index_q(Cell value) { return cell::integer(static_cast<int32_t>(cell::series_index(value) + 1)); }

// The head is clamped on a copy only: the caller's cell is replaced by the answer anyway.
int32_t series_length_q(Cell value) { return static_cast<int32_t>(series_value::length_from_head(value, false)); }

// ---- pick and poke -------------------------------------------------------------------------------

// The unit index that pick and poke address: k counts from 1 at the head, -1 is just before it.
// -1 when k is 0 or the index falls outside the buffer.
int64_t addressed(const Cell& value, int32_t k) {
    if (k == 0) return -1;
    const int64_t i = raw_head(value) + k - (k > 0 ? 1 : 0);
    return i < 0 || i >= series_value::buffer_length(value) ? -1 : i;
}

Cell series_pick(Cell value, int32_t index, Cell) {
    SeriesBuffer* b = memory::buffer(cell::series_node(value));
    const uint32_t unit = b->unit();
    if (index > 0 && (unit == 16 || cell::is(value, TypeId::string))) {
        // The common pick, a block's cell or a string's character counted from the head: read in
        // place, without the general measures of every series kind.
        const uint64_t at = (static_cast<uint64_t>(raw_head(value)) + static_cast<uint32_t>(index) - 1) * unit;
        if (at >= b->used()) return cell::none();
        const std::byte* p = b->head_ptr() + at;
        if (unit != 16) return cell::character(series::load_unit(p, unit));
        Cell c;
        std::memcpy(&c, p, sizeof c);
        return c;
    }
    const int64_t i = addressed(value, index);
    return i < 0 ? cell::none() : series_value::element_at(value, static_cast<uint32_t>(i));
}

// Refuses a value the series cannot hold, before anything changes.
void check_storable(const Cell& target, const Cell& value) {
    if (unit_of(target) == 16) return;
    switch (cell::type(target)) {
        case TypeId::binary:
            if (!cell::is(value, TypeId::integer) && !cell::is(value, TypeId::char_))
                error::fire(ErrorId::invalid_arg, value);
            return;
        case TypeId::vector:
            if (static_cast<uint32_t>(cell::type(value)) != target.w3) error::fire(ErrorId::invalid_arg, value);
            return;
        default:
            if (!cell::is(value, TypeId::char_)) error::fire(ErrorId::invalid_arg, value);
    }
}

Cell series_poke(Cell target, int32_t index, Cell, Cell value) {
    int64_t i = addressed(target, index);
    if (i < 0) error::fire(ErrorId::out_of_range, cell::integer(index));
    check_storable(target, value);
    series_value::notify_owner(target, words::Word::poke, i, 1);
    // The owner's handler may have cut the series.
    i = addressed(target, index);
    if (i < 0) error::fire(ErrorId::out_of_range, cell::integer(index));
    const NodeId node = node_of(target);
    SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = checked_unit(b);
    std::byte* at = b->head_ptr() + static_cast<size_t>(i) * unit;
    if (unit == 16) {
        std::memcpy(at, &value, sizeof(Cell));
    } else if (cell::is(target, TypeId::binary)) {
        *at = static_cast<std::byte>(value.w2);
    } else if (cell::is(target, TypeId::vector)) {
        store_vector_element(at, unit, value);
    } else {
        poke_char(node, static_cast<uint32_t>(i), value.w2);
    }
    series_value::notify_owner(target, words::Word::poked, i, 1);
    return value;
}

// ---- clear, remove, reverse ----------------------------------------------------------------------

Cell series_clear(Cell value) {
    const int64_t head = raw_head(value);
    if (remaining(value) < 1) return value;
    series_value::notify_owner(value, words::Word::clear, head, remaining(value));
    if (remaining(value) > 0) {
        SeriesBuffer* b = buffer_of(value);
        b->tail = b->head + static_cast<uint32_t>(head) * checked_unit(b);
    }
    series_value::notify_owner(value, words::Word::cleared, head, 0);
    return value;
}

Cell series_remove(Cell value, const Cell* part, const Cell* key) {
    int64_t count = part ? part_skip::length(value, *part) : 1;
    if (count < 1) return value;
    int64_t start = clamped_head(value);
    if (key) {
        FindOptions find{};
        find.case_sensitive = true;
        const Cell found = registry::actions(cell::type(value)).find(value, *key, find);
        if (cell::type(found) != cell::type(value)) return cell::none();
        start = raw_head(found);
        ++count;
    }
    if (start >= series_value::buffer_length(value)) return value;
    series_value::notify_owner(value, words::Word::remove, start, count);
    const int64_t length = series_value::buffer_length(value);
    if (start < length) {
        count = std::min(count, length - start);
        remove_units(node_of(value), static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    }
    series_value::notify_owner(value, words::Word::removed, start, 0);
    set_head(value, start);
    return value;
}

// Swaps records of n units pairwise from both ends of the count units at the head inward.
void reverse_records(NodeId node, int64_t head, int64_t count, int64_t n) {
    SeriesBuffer* b = memory::buffer(node);
    const size_t record = static_cast<size_t>(n) * checked_unit(b);
    std::byte single[16];
    std::unique_ptr<std::byte[]> heap;
    std::byte* scratch = single;
    if (record > sizeof single) {
        heap = std::make_unique<std::byte[]>(record);
        scratch = heap.get();
    }
    std::byte* low = b->head_ptr() + static_cast<size_t>(head) * checked_unit(b);
    std::byte* high = low + static_cast<size_t>(count - n) * checked_unit(b);
    for (; low < high; low += record, high -= record) {
        std::memcpy(scratch, low, record);
        std::memcpy(low, high, record);
        std::memcpy(high, scratch, record);
    }
}

Cell series_reverse(Cell value, const Cell* part, const Cell* skip) {
    const int64_t head = raw_head(value);
    int64_t count = std::min(remaining(value), part ? part_skip::length(value, *part) : remaining(value));
    if (count < 1) return value;
    int64_t n = 1;
    if (skip) {
        n = part_skip::step(skip);  // below one is out of range here, not a broken record
        if (n == count) return value;
        part_skip::records(*skip, count);
    }
    series_value::notify_owner(value, words::Word::reverse, head, count);
    // Whole records only, should the owner's handler have cut the series.
    const int64_t left = remaining(value);
    if (count > left) count = left - left % n;
    if (count >= 2 * n) reverse_records(node_of(value), head, count, n);
    series_value::notify_owner(value, words::Word::reversed, head, count);
    return value;
}

// ---- random --------------------------------------------------------------------------------------

// /seed reseeds from the bytes of the rest of the series, /only picks one value as pick gives it,
// otherwise the rest is shuffled in place, front to back (Fisher-Yates).
Cell series_random(Cell value, bool seed, bool secure, bool only) {
    const int64_t head = raw_head(value);
    if (seed) {
        SeriesBuffer* b = buffer_of(value);
        const size_t unit = checked_unit(b);
        const int64_t n = remaining(value);
        random::seed(
            hash::murmur3(b->head_ptr() + static_cast<size_t>(n > 0 ? head : 0) * unit, static_cast<size_t>(n) * unit));
        return cell::unset();
    }
    int64_t n = remaining(value);
    if (only) {
        if (n < 1) return cell::none();
        const int32_t r = random::int_range(secure, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
        return series_value::element_at(value, static_cast<uint32_t>(head + r - 1));
    }
    if (n < 2) return value;
    series_value::notify_owner(value, words::Word::random, head, n);
    n = remaining(value);  // the owner's handler may have cut the series
    SeriesBuffer* b = buffer_of(value);
    const size_t unit = checked_unit(b);
    std::byte scratch[sizeof(Cell)];
    std::byte* p = b->head_ptr() + static_cast<size_t>(head) * unit;
    // Drawing never allocates, so the buffer stays where it is for the whole shuffle.
    for (; n > 1; --n, p += unit) {
        const int32_t r = random::int_range(secure, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
        if (r == 1) continue;
        std::byte* other = p + static_cast<size_t>(r - 1) * unit;
        std::memcpy(scratch, p, unit);
        std::memcpy(p, other, unit);
        std::memcpy(other, scratch, unit);
    }
    series_value::notify_owner(value, words::Word::randomized, head, remaining(value));
    return value;
}

// ---- take ----------------------------------------------------------------------------------------

// Keeps a new value where the collector finds it while the owner's handler runs.
class Kept {
  public:
    explicit Kept(Cell value) : slot_(stack::push(value)) {}
    ~Kept() { stack::g_top = slot_; }
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    Cell value() const { return *slot_; }

  private:
    Cell* slot_;
};

// Without /part the taken unit becomes the value itself, as pick gives it. /deep is the cell
// types' own: block!'s take copies what it took.
Cell series_take(Cell value, const Cell* part, bool, bool last) {
    const int64_t available = remaining(value);
    if (available < 1) return cell::none();
    const int64_t head = raw_head(value);
    int64_t count = 1;
    if (part) {
        if (cell::is(*part, TypeId::integer)) {
            count = cell::as_integer(*part);
        } else {
            const int64_t between = std::max<int64_t>(0, part_skip::length(value, *part));
            count = last ? available - between : between;
        }
    }
    bool before = false;  // a negative count takes the values just before the head
    if (count < 0) {
        if (last) {
            count = 1;
        } else {
            count = std::min(-count, head);
            before = count > 0;  // at the head there is nothing before it: take from the head
        }
    }
    count = std::max<int64_t>(1, std::min(count, before ? head : available));
    series_value::notify_owner(value, words::Word::take, head, count);

    // The owner's handler may have cut the series: take what is still there.
    const int64_t length = series_value::buffer_length(value);
    int64_t start = before ? head - count : last ? length - count : head;
    if (start < 0 || start >= length) {
        series_value::notify_owner(value, words::Word::taken, head, 0);
        return cell::none();
    }
    count = std::min(count, length - start);

    const Cell taken = part ? new_series_like(value, static_cast<uint32_t>(start), static_cast<uint32_t>(count))
                            : series_value::element_at(value, static_cast<uint32_t>(start));
    remove_units(node_of(value), static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    const Kept kept(taken);
    series_value::notify_owner(value, words::Word::taken, head, 0);
    return kept.value();
}

// ---- copy ----------------------------------------------------------------------------------------

// The units from the head, or the /part of them. /deep and /types are the cell types' own: block!'s
// copy walks what this one copied.
Cell series_copy(Cell value, const CopyOptions& options) {
    const int64_t length = series_value::buffer_length(value);
    const int64_t head = raw_head(value);
    int64_t start = head;
    int64_t count = remaining(value);
    if (options.part) {
        const Cell& part = *options.part;
        if (cell::is(part, TypeId::pair)) {
            const int64_t x = static_cast<int32_t>(part.w2), y = static_cast<int32_t>(part.w3);
            start = std::max<int64_t>(0, x < 0 ? head + x : head + x - 1);
            count = y < x ? 0 : y - x;
        } else {
            const int64_t n = part_skip::length(value, part);
            if (n >= 0) {
                count = n;
            } else if (head + n < 0) {
                start = 0;
                count = head;
            } else {
                start = head + n;
                count = -n;
            }
        }
    }
    start = std::min(start, length);
    count = std::min(count, length - start);

    Cell copy = new_series_like(value, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    cell::set_new_line(copy, cell::new_line(value));
    return copy;
}

// ---- move ----------------------------------------------------------------------------------------

// Between two series of the same unit width: the target opens a gap at its head, the origin
// closes its own. May collect.
void move_units(const Cell& origin, const Cell& target, int64_t count) {
    const NodeId from = node_of(origin), to = node_of(target);
    const auto at = static_cast<uint32_t>(clamped_head(target));
    const auto n = static_cast<uint32_t>(count);
    open_gap(to, at, n);
    const uint32_t unit = unit_of(origin);
    std::memcpy(memory::buffer(to)->head_ptr() + size_t{at} * unit,
                memory::buffer(from)->head_ptr() + static_cast<size_t>(clamped_head(origin)) * unit, size_t{n} * unit);
    remove_units(from, static_cast<uint32_t>(clamped_head(origin)), n);
}

// Between texts of different unit widths: code point by code point, the target widened when a
// code point needs it. May collect.
void move_code_points(const Cell& origin, const Cell& target, int64_t count) {
    std::vector<uint32_t> points(static_cast<size_t>(count));
    {
        SeriesBuffer* b = buffer_of(origin);
        const uint32_t unit = checked_unit(b);
        const std::byte* p = b->head_ptr() + static_cast<size_t>(clamped_head(origin)) * unit;
        for (size_t i = 0; i < points.size(); ++i) points[i] = series::load_unit(p + i * unit, unit);
    }
    uint32_t wanted = 1;
    for (const uint32_t cp : points) wanted = std::max(wanted, unit_for_in_place(cp));
    const NodeId to = node_of(target);
    if (wanted > unit_of(target)) unicode::widen(to, wanted);
    const auto at = static_cast<uint32_t>(clamped_head(target));
    open_gap(to, at, static_cast<uint32_t>(count));
    SeriesBuffer* b = memory::buffer(to);
    const uint32_t unit = checked_unit(b);
    std::byte* p = b->head_ptr() + size_t{at} * unit;
    for (size_t i = 0; i < points.size(); ++i) series::store_unit(p + i * unit, unit, points[i]);
    remove_units(node_of(origin), static_cast<uint32_t>(clamped_head(origin)), static_cast<uint32_t>(count));
}

// Within one series: the part is lifted out, the units between slide over its place, and it is
// put down before the target position.
void move_within(const Cell& origin, int64_t count, int64_t target) {
    SeriesBuffer* b = buffer_of(origin);
    const size_t unit = checked_unit(b);
    const int64_t from = clamped_head(origin);
    std::vector<std::byte> lifted(static_cast<size_t>(count) * unit);
    std::byte* data = b->head_ptr();
    std::memcpy(lifted.data(), data + from * unit, lifted.size());
    if (target > from) {
        std::memmove(data + from * unit, data + (from + count) * unit,
                     static_cast<size_t>(target - from - count) * unit);
        std::memcpy(data + (target - count) * unit, lifted.data(), lifted.size());
    } else {
        std::memmove(data + (target + count) * unit, data + target * unit, static_cast<size_t>(from - target) * unit);
        std::memcpy(data + target * unit, lifted.data(), lifted.size());
    }
}

Cell series_move(Cell origin, Cell target, const Cell* part) {
    if (!series_type(cell::type(target))) raise_expect_arg(Slot::move, target, 1);
    if (remaining(origin) < 1) return target;
    int64_t count = 1;
    if (part) {
        if (!cell::is(*part, TypeId::integer)) part_skip::refuse(words::Word::part, *part);
        count = cell::as_integer(*part);
        if (count < 1) return target;
    }
    count = std::min(count, remaining(origin));
    const bool same = node_of(origin) == node_of(target);
    if (!same) {
        const uint32_t from = unit_of(origin), to = unit_of(target);
        const bool mixed = (from == 16) != (to == 16);
        const bool narrow = narrow_units_only(cell::type(origin)) || narrow_units_only(cell::type(target));
        // Vector elements move only between vectors of one element type and width: their bytes
        // mean nothing to another type.
        const bool vectors = cell::is(origin, TypeId::vector) || cell::is(target, TypeId::vector);
        const bool alike = cell::type(origin) == cell::type(target) && origin.w3 == target.w3 && from == to;
        if (mixed || (from != to && narrow) || (vectors && !alike))
            error::fire(ErrorId::move_bad, cell::datatype_of(origin), cell::datatype_of(target));
    } else {
        const int64_t from = clamped_head(origin), to = clamped_head(target);
        if (to == from) return target;
        if (from < to && to - from < count && to != series_value::buffer_length(target)) return origin;
    }
    series_value::notify_owner(target, words::Word::move, raw_head(origin), count);

    // Measured again: the owner's handler may have changed either series.
    count = std::min(count, remaining(origin));
    if (count > 0) {
        if (same) {
            const int64_t from = clamped_head(origin), to = clamped_head(target);
            if (to < from || to >= from + count) move_within(origin, count, to);
        } else if (unit_of(origin) == unit_of(target)) {
            move_units(origin, target, count);
        } else {
            move_code_points(origin, target, count);
        }
    }
    series_value::notify_owner(target, words::Word::moved, raw_head(target), count);
    return target;
}

// ---- reflect and modify --------------------------------------------------------------------------

bool names_owned(symbol::Id field) { return symbol::resolve(field) == symbol::resolve(words::id(words::Word::owned)); }

Cell series_reflect(Cell value, uint32_t field) {
    if (!names_owned(field)) error::fire(ErrorId::not_done);
    if (!ownership::is_owned(value)) return cell::none();
    const Cell* owner = ownership::owner_of(node_of(value));
    return owner ? *owner : cell::none();
}

// Only ownership can be modified: none removes it, [object field-word] gives it.
Cell series_modify(Cell value, Cell field, Cell spec, bool) {
    if (!word::is_all_word(cell::type(field)) || !names_owned(field.w2)) return spec;
    if (cell::is(spec, TypeId::none)) {
        ownership::unset(value);
        return spec;
    }
    if (!cell::is(spec, TypeId::block) || remaining(spec) < 2) return spec;
    const Cell owner = series_value::element_at(spec, static_cast<uint32_t>(raw_head(spec)));
    const Cell word = series_value::element_at(spec, static_cast<uint32_t>(raw_head(spec) + 1));
    if (!cell::is(owner, TypeId::object) || !word::is_all_word(cell::type(word))) return spec;
    ownership::set(value, owner, word);
    context::cell_of(owner.w1).header |= cell_flag::owns_series;
    return spec;
}

}  // namespace

extern const ActionTable series_actions = {
    .random = series_random,
    .reflect = series_reflect,
    .at = series_at,
    .back = series_back,
    .clear = series_clear,
    .copy = series_copy,
    .head = series_head,
    .head_q = series_head_q,
    .index_q = series_index_q,
    .length_q = series_length_q,
    .move = series_move,
    .next = series_next,
    .pick = series_pick,
    .poke = series_poke,
    .remove = series_remove,
    .reverse = series_reverse,
    .skip = series_skip,
    .tail = series_tail,
    .tail_q = series_tail_q,
    .take = series_take,
    .modify = series_modify,
};

extern const type_traits::Traits series_traits = {};

}  // namespace zub
