// Non-local exits. break, continue, return and exit travel back as a Status that every native
// evaluating code passes on (a return costs a branch, not an unwinding); errors and thrown values
// travel as the C++ exception Thrown. Each exit first checks that something will stop it: a
// break with no loop to reach, or one that would cross a try/all guard, is raised as an error of
// the throw category instead, while the stacks are still as the exit found them.
#pragma once

#include <cstdint>

#include "evaluator/stack.h"
#include "runtime/cell.h"
#include "runtime/error.h"

namespace zub {

enum class [[nodiscard]] Status : uint8_t{
    normal = 0,
    break_,     // to the innermost loop
    continue_,  // to the innermost loop's next round
    return_,    // out of the function, with a value
    exit_,      // out of the function, unset
};

// Passes a Status other than normal on to the caller.
#define ZUB_PASS(expr)                                                                              \
    do {                                                                                            \
        if (const ::zub::Status status_ = (expr); status_ != ::zub::Status::normal) return status_; \
    } while (0)

namespace exits {

// The result a break or return carries to its target (unset when none); a root of the collector.
extern Cell g_value;
inline Cell& value() { return g_value; }

// Starts a break (or continue): raises throw break / throw continue when no loop frame can be
// reached without crossing a try/all frame; otherwise records the value (the thrower's result
// cell, when has_value and not continue) and returns the Status to pass on.
Status raise_break(bool has_value, bool is_continue);
// Starts a return (is_return, with the result cell as value) or an exit: as raise_break, with the
// first frame carrying the function-body flag as target (from the top frame itself when
// keep_current) and throw return as the error for both.
Status raise_exit(bool is_return, bool keep_current);
// Whether a return whose innermost frame below its own is `from` reaches a function body: a
// frame carrying the body flag with no try/all frame in the way.
inline bool return_reaches(const stack::Frame* from) {
    for (const stack::Frame* f = from; f >= stack::g_frames; --f) {
        if (f->type == stack::FrameType::try_all) return false;
        if (f->flags & stack::frame_flag::body) return true;
    }
    return false;
}
// raise_exit(true, false): return's own frame is on top. Inline, as every return of a function
// passes here.
inline Status raise_return() {
    if (!return_reaches(stack::g_frame_top - 2)) error::fire(ErrorId::return_);
    g_value = *stack::args();
    return Status::return_;
}

// Throws a value, optionally named, to the nearest catch frame; raises throw throw with the
// value when there is none or a try/all frame is in the way.
[[noreturn]] void throw_value(Cell value, Cell name);
// The value and name of the throw in flight.
const Cell& thrown_value();
const Cell& thrown_name();
// Forgets the values of the last exits and throw (collector roots). At start.
void reset();

// After code the runtime ran for itself (a callback, a handler, an error spec): an exit that left
// it (break, continue, return) has no loop or function to reach through the runtime's own records,
// so it becomes the matching error. A normal end does nothing.
void refuse_escape(Status status);

}  // namespace exits
}  // namespace zub

namespace zub::exits {

// The text of the pending error, formed as its error! value forms: "*** <category text>:
// <message>" with its arguments filled in, then the Where and Near lines (and Stack and Files
// when asked for). Control characters and lone surrogates are escaped as mold escapes them, so the
// report is whole, readable UTF-8 text. Appended to a string series; returns the budget left.
// May collect.
int32_t form_pending_error(NodeId out, int32_t limit);

// The last resort for an error that nothing caught: its formed text on stderr, then the process
// ends with status 254 (-2 as a byte).
[[noreturn]] void report_uncaught();

}  // namespace zub::exits
