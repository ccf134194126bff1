// The cycle guard: one stack of the series that form, mold, compare, copy/deep and the ownership
// walks are inside, so that a block containing itself is noticed instead of recursed into for
// ever. Node ids never change, so entries need no fixing when the collector moves buffers.
#pragma once

#include <cstdint>

#include "runtime/assert.h"
#include "runtime/cell.h"

namespace zub::cycles {

// How deeply nested a value every walk accepts (mold, form, compare, copy/deep, the lexer): one
// limit, so whatever one of them takes the others take too.
inline constexpr uint32_t kMaxNesting = 1000;

// Pushes a series, one level deeper; past kMaxNesting levels the stack is emptied and internal
// too-deep is raised.
void push(NodeId series);
// Pushes the two series a comparison is inside: one level.
void push_pair(NodeId a, NodeId b);
void pop();       // nothing when empty
void pop_pair();  // the two entries of push_pair
void reset();
bool find(NodeId series);
uint32_t depth();  // entries, not levels
// The series on the stack, bottom first (depth() of them): roots of the collector.
const NodeId* walked();

// The series a value would be walked through: the context for object!, the node otherwise.
NodeId series_of(const Cell& value);

// When the value's series is on the stack: appends the marker ("[...]" for block! and hash!,
// "(...)" for paren!, "#[...]" for map!, "make object! [...]" for object!, "..." otherwise and
// whenever forming) to the string series, lowers *remaining by its length and returns true.
// May collect.
bool mold_marker(const Cell& value, NodeId buffer, int32_t* remaining, bool mold);

// How many times the stack was emptied (reset, or too deep): a guard whose entry went with it
// has nothing left to pop.
uint32_t resets();

// Pops on scope exit: the walk may leave by an error. Guards end innermost first: with assertions
// on, each checks that the top entry is still its own, or, when the stack was emptied since its
// push (an error on its way out), that nothing pushed since is left.
class Guard {
  public:
    explicit Guard(NodeId series) : pair_(false) {
        push(series);
        note(series);
    }
    // A comparison's two series, at one level.
    Guard(NodeId a, NodeId b) : pair_(true) {
        push_pair(a, b);
        note(b);
    }
    ~Guard() {
#if ZUB_ASSERTS_ON
        if (resets() == resets_) ZUB_ASSERT(depth() == depth_ && walked()[depth_ - 1] == series_);
        else ZUB_ASSERT(depth() == 0);
#endif
        if (pair_) pop_pair();
        else pop();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
    void note([[maybe_unused]] NodeId last) {
#if ZUB_ASSERTS_ON
        series_ = last;
        depth_ = depth();
        resets_ = resets();
#endif
    }

    bool pair_;
#if ZUB_ASSERTS_ON
    NodeId series_;    // the last entry it pushed
    uint32_t depth_;   // the stack's depth just after
    uint32_t resets_;  // resets() then
#endif
};

}  // namespace zub::cycles
