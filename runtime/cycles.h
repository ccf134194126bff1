// The cycle guard: one stack of the series that form, mold, compare, copy/deep and the ownership
// walks are inside, so that a block containing itself is noticed instead of recursed into for
// ever. Node ids never change, so entries need no fixing when the collector moves buffers.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::cycles {

inline constexpr uint32_t kCapacity = 1000;

// Pushes a series; when the stack is full it is emptied and internal too-deep is raised.
void push(NodeId series);
void pop();  // nothing when empty
void drop(uint32_t n);
void reset();
bool find(NodeId series);
uint32_t depth();
// The series on the stack, bottom first (depth() of them): roots of the collector.
const NodeId* walked();

// The series a value would be walked through: the context for object!, the node otherwise.
NodeId series_of(const Cell& value);

// When the value's series is on the stack: appends the marker ("[...]" for block! and hash!,
// "(...)" for paren!, "#[...]" for map!, "make object! [...]" for object!, "..." otherwise and
// whenever forming) to the string series, lowers *remaining by its length and returns true.
// May collect.
bool mold_marker(const Cell& value, NodeId buffer, int32_t* remaining, bool mold);

// Pops on scope exit: the walk may leave by an error.
class Guard {
  public:
    explicit Guard(NodeId series) { push(series); }
    ~Guard() { pop(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

}  // namespace zub::cycles
