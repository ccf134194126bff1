// The action table: for every datatype, one direct entry per action slot, typed by what the action
// takes. A datatype's file ends with its table, written with designated initializers; a slot it
// leaves out takes its parent's entry when it registers, or the slot's "not supported" entry.
// Dispatch is one indexed load and never tests for null.
//
// Direct entries take their values as cells by value (a cell may come from a series that the
// entry's allocations move) and refinement arguments as pointers to cells that do not move
// (null when the refinement is absent).
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/compare.h"

namespace zub {

// What mold is asked for besides the value.
struct MoldFlags {
    bool only;       // a block's outer brackets left out
    bool all;        // construction syntax for values that have no literal form
    bool flat;       // no new lines nor indentation
    int32_t indent;  // nesting level of the value
};

struct PathStep {
    const Cell* set_value;  // the value to store at the last element, or null when reading
    Cell path;              // the path being evaluated, for errors
    Cell previous;          // the element before this one
    uint32_t position;      // of this element in the path
    bool notify_parent;     // the parent wants to know of the change
};

struct RoundOptions {
    const Cell* to = nullptr;  // the scale
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};

struct InsertOptions {
    int32_t part = -1;  // normalised length, or -1 when absent
    bool only = false;
    int32_t dup = 1;  // count, at least 1
};

struct CopyOptions {
    const Cell* part = nullptr;
    bool deep = false;
    const Cell* types = nullptr;
};

struct FindOptions {
    const Cell* part = nullptr;
    bool only = false, case_sensitive = false, same = false, any = false;
    const Cell* with = nullptr;
    const Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};

struct SortOptions {
    bool case_sensitive = false;
    const Cell* skip = nullptr;
    const Cell* compare = nullptr;
    const Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};

struct TrimOptions {
    bool head = false, tail = false, automatic = false, lines = false, all = false;
    const Cell* with = nullptr;
};

struct OpenOptions {
    bool create = false, read = false, write = false, seek = false;
    const Cell* allow = nullptr;
};

struct ReadOptions {
    const Cell* part = nullptr;
    const Cell* seek = nullptr;
    bool binary = false, lines = false, info = false;
    const Cell* as = nullptr;
};

struct WriteOptions {
    bool binary = false, lines = false, info = false, append = false;
    const Cell* part = nullptr;
    const Cell* seek = nullptr;
    const Cell* allow = nullptr;
    const Cell* as = nullptr;
};

// The direct forms. Form and mold append to a string series and return the part budget left.
using MakeFn = Cell (*)(TypeId type, Cell proto, Cell spec);
using RandomFn = Cell (*)(Cell value, bool seed, bool secure, bool only);
using ReflectFn = Cell (*)(Cell value, uint32_t field_symbol);
using FormFn = int32_t (*)(Cell value, NodeId out, int32_t limit);
using MoldFn = int32_t (*)(Cell value, NodeId out, MoldFlags flags, int32_t limit);
using PathFn = Cell (*)(Cell parent, Cell element, const PathStep& step);
using CompareFn = int32_t (*)(Cell a, Cell b, int32_t op);  // < 0, 0, > 0, or kNotComparable
using UnaryFn = Cell (*)(Cell value);
using BinaryFn = Cell (*)(Cell a, Cell b);
using PredicateFn = bool (*)(Cell value);
using RoundFn = Cell (*)(Cell value, const RoundOptions& options);
using InsertFn = Cell (*)(Cell series, Cell value, const InsertOptions& options);
using CopyFn = Cell (*)(Cell value, const CopyOptions& options);
using FindFn = Cell (*)(Cell series, Cell value, const FindOptions& options);
using LengthFn = int32_t (*)(Cell series);  // -1 answers none
using MoveFn = Cell (*)(Cell origin, Cell target, const Cell* part);
using PickFn = Cell (*)(Cell series, int32_t index, Cell index_value);
using PokeFn = Cell (*)(Cell series, int32_t index, Cell index_value, Cell value);
using PutFn = Cell (*)(Cell target, Cell key, Cell value, bool case_sensitive);
using RemoveFn = Cell (*)(Cell series, const Cell* part, const Cell* key);
using ReverseFn = Cell (*)(Cell series, const Cell* part, const Cell* skip);
using SortFn = Cell (*)(Cell series, const SortOptions& options);
using TakeFn = Cell (*)(Cell series, const Cell* part, bool deep, bool last);
using TrimFn = Cell (*)(Cell series, const TrimOptions& options);
using OpenFn = Cell (*)(Cell port, const OpenOptions& options);
using ReadFn = Cell (*)(Cell source, const ReadOptions& options);
using WriteFn = Cell (*)(Cell destination, Cell data, const WriteOptions& options);

struct ActionTable {
#define ZUB_ACTION(member, word, signature) signature member = nullptr;
#include "datatypes/actions.def"
};

enum class Slot : uint8_t {
#define ZUB_ACTION(member, word, signature) member,
#include "datatypes/actions.def"
};
inline constexpr int kActionCount = 0
#define ZUB_ACTION(member, word, signature) +1
#include "datatypes/actions.def"
    ;
static_assert(kActionCount == 62, "the action table has 62 slots");

// The actions' words in slot order: "append", "even?" ...
inline constexpr std::string_view kActionWords[] = {
#define ZUB_ACTION(member, word, signature) word,
#include "datatypes/actions.def"
};

// The make and to of a type not built yet: internal not-done.
[[noreturn]] Cell make_not_built(TypeId type, Cell proto, Cell spec);
// Raises script expect-arg for a value of the type that reaches a slot its type lacks.
[[noreturn]] void raise_unsupported(Slot slot, TypeId type);
// Raises script bad-path-type for a path step into a value whose type has no path access: the
// path, the value's datatype and the part of the path that gave the value (bad-path-type2 with the
// element and the datatype when the step belongs to no path).
[[noreturn]] void raise_bad_path(const Cell& parent, const Cell& element, const PathStep& step);
// Raises script expect-arg for an argument of an action that its type does not accept; the
// argument counts the action's parameters in spec order, refinement arguments included.
[[noreturn]] void raise_expect_arg(Slot slot, const Cell& value, int argument);

namespace detail {
inline TypeId subject_type(TypeId type) { return type; }
inline TypeId subject_type(const Cell& value) { return cell::type(value); }

template <Slot slot, typename Fn>
struct Unsupported;
template <Slot slot, typename R, typename First, typename... Rest>
struct Unsupported<slot, R (*)(First, Rest...)> {
    static R call(First first, Rest...) { raise_unsupported(slot, subject_type(first)); }
};
// A path that steps into a value without path access names the path, not the call around it.
template <>
struct Unsupported<Slot::eval_path, PathFn> {
    static Cell call(Cell parent, Cell element, const PathStep& step) { raise_bad_path(parent, element, step); }
};
}  // namespace detail

// The "not supported" entry of each slot: what registration fills a missing slot with when the
// type has no parent, and what a type names to refuse a slot its parent has.
namespace unsupported {
#define ZUB_ACTION(member, word, signature) \
    inline constexpr signature member = detail::Unsupported<Slot::member, signature>::call;
#include "datatypes/actions.def"
}  // namespace unsupported

}  // namespace zub
