// function! and routine!: user functions and the C++ routines of the environment. A function
// value holds its context (values on the evaluation stack while a call runs), its spec block and
// a five-cell "more" series: the body, code indexes and, once an op! is made from it, the
// function itself. Routines are C++ entries found by name in a registry and held by index.
#pragma once

#include <cstdint>
#include <string_view>

#include "evaluator/exits.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::function {

// Header flags of function! and routine! besides trace (400h) and no-trace (200h).
inline constexpr uint32_t kSystem = 0x00004000;       // made at start-up: reported as one call
inline constexpr uint32_t kRoutineFlag = 0x00008000;  // routine!: the flag its creator passes
inline constexpr uint32_t kArityShift = 25;           // routine!: argument count in bits 25-29
inline constexpr uint32_t kArityMask = 0x1Fu << kArityShift;

// Cells of the more-series, 0-based.
inline constexpr uint32_t kBody = 0;      // the body block, or none
inline constexpr uint32_t kArgCache = 1;  // the evaluator's argument cache (block!) once built, else unset
inline constexpr uint32_t kCode = 2;      // integer!: routine-registry index of the code, or unset
inline constexpr uint32_t kOpSelf = 3;    // the function itself once an op! is made from it, else unset
inline constexpr uint32_t kCode2 = 4;     // integer!: a second code index, or unset
inline constexpr uint32_t kMoreCells = 5;

inline NodeId context_of(const Cell& fn) { return fn.w1; }
inline NodeId spec_of(const Cell& fn) { return fn.w2; }
inline NodeId more_of(const Cell& fn) { return fn.w3; }
// A cell of the more-series, by value.
inline Cell more_at(const Cell& fn, uint32_t i) { return memory::buffer(fn.w3)->cells()[i]; }
void set_more_at(const Cell& fn, uint32_t i, Cell value);

// The argument cache cell: a block! once the evaluator has built it, its third payload word
// holding the call plan the evaluator chose, so that a call reads both in one cell.
inline const Cell& arg_cache(const Cell& fn) { return memory::buffer(fn.w3)->cells()[kArgCache]; }
inline uint32_t cache_plan(const Cell& cache) { return cache.w3; }
inline void set_cache_plan(Cell& cache, uint32_t plan) { cache.w3 = plan; }

// Checks a spec from its head and returns its attribute flags (trace 400h, no-trace 200h).
// Raises script bad-func-def with the function spec, invalid-type-spec with a bad type-block item,
// no-value for a type word without a value, dup-vars with a repeated name. May collect.
uint32_t validate_spec(Cell spec);

// The local collection of the `function` native: words the body sets (set-words, and the words
// of foreach, remove-each and repeat) that the function spec does not name become /local words appended
// to the function spec; an /extern section names words to leave out and is removed from the function spec.
// Raises script bad-func-extern for a bad /extern item. Changes the function spec block. May collect.
void collect_locals(Cell spec, Cell body);

// The cells that the /local section occupies from `start` on: 1 for /local and 1 per word after
// it; -1 when `must_exist` and the function spec has no /local. Never allocates.
int32_t count_local_slots(NodeId spec, uint32_t start, bool must_exist);

// Pushes logic false and n - 1 nones: an unused refinement and its arguments.
void push_refinement_defaults(uint32_t n);

// Builds a function! on the evaluation stack and returns its context. The spec is copied when its
// head is not 0; the body (block or none) is deep-copied and, when no context is given, bound to
// the new context. code and code2 are routine-registry indexes or 0. May collect.
NodeId push(Cell spec, Cell body, NodeId context, uint32_t code, uint32_t code2, uint32_t flags);

// While on, every function and routine made carries kSystem: start-up turns it on for the library
// it builds and off before any program runs. Never allocates.
void set_library_code(bool on);

// make function! [spec body]: validated, then pushed and popped. May collect.
Cell make(Cell spec_and_body);

// Builds a routine! on the evaluation stack: its context from the function spec, header 29 (with
// kRoutineFlag when `flag`), the argument count in bits 25-29. Returns the context. May collect.
NodeId push_routine(Cell spec, Cell body, uint32_t code, uint32_t code2, bool flag);
uint32_t routine_arity(const Cell& routine);

// The C++ routines that routine! values call, registered by name (once, at start) and held by
// 1-based index. Their entries share the natives' signature.
using RoutineEntry = Status (*)(const int32_t* refinements);

// Registers the entry under the name and returns its index; a name registered again keeps its
// index and takes the new entry.
uint32_t add_routine(std::string_view name, RoutineEntry entry);
// The index of a name, or 0.
uint32_t find_routine(std::string_view name);
// The entry of an index, or null for 0 and unknown indexes.
RoutineEntry routine_entry(uint32_t index);
// Forgets every routine (start-up and tests).
void reset_routines();

}  // namespace zub::function
