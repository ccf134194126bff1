// The interpreter: evaluates blocks of values expression by expression on the evaluation stack.
// Words are looked up in their contexts, callables are called with arguments fetched by their
// specs, and operators apply strictly from left to right. Natives that evaluate code (do, if, the
// loops, try ...) call in here and pass on the Status of break, continue, return and exit.
//
// Results: an evaluation either pushes its result (the stack grows by one cell) or leaves it in
// the current call's result cell, stack::args()[0], with the top just past it.
#pragma once

#include <cstdint>
#include <optional>

#include "evaluator/exits.h"
#include "runtime/cell.h"

namespace zub::interp {

// The position cell (unset until the first evaluation). Once, after the stack. May collect.
void init();

// The block being evaluated, at the expression in progress; unset outside any evaluation.
// Errors take their near from it.
const Cell& position();

// Evaluates the block from its index to its tail: unset for an empty block, else the value of
// the last expression. With keep the result is pushed; else it goes to stack::args()[0].
// May collect.
Status eval(const Cell& block, bool keep);

// The value of a block that is one expression only reading values (a value, a word or an object's
// field through a path, then integer operators with such integer right operands): what eval would
// give, put in `value`, without evaluating anything. False, nothing done, for any other block and
// while tracing. Never allocates.
bool plain_value(const Cell& block, Cell& value);

// A block evaluated round after round, as a loop runs its body: what eval sets up on every call
// (the depth check, the position saved to be put back) is done once, for all the rounds. Each
// round still reaches a safe point and reads the block afresh (it may change while it runs);
// while tracing, a round takes eval's traced road. Lives on the C++ stack of the loop running it.
class Body {
  public:
    // Raises internal stack-overflow as eval would.
    explicit Body(const Cell& block);
    ~Body();
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;

    // One round: as eval(block, true), the result pushed, the position as it was before the
    // round. May collect.
    Status run();

  private:
    Cell block_;  // the block, at the index its rounds start from
    Cell saved_;  // the position before the loop, back after every round
};

// Evaluates one expression of the block starting at `index`, pushes its result and advances
// `index` past it. At the tail it pushes unset and leaves `index` alone. May collect.
Status eval_next(const Cell& block, uint32_t& index);

// Evaluates one value as an expression of its own: a word gives its value, a callable is called
// with no arguments from any block (so one taking arguments raises no-arg), a path is
// evaluated, a paren is evaluated; anything else is itself. The result is pushed. May collect.
Status eval_value(Cell value);

// The kinds of callback the runtime makes, as the bits of system/state/callbacks/bits: while
// tracing, a callback runs traced only when its kind's bit is set; `other` never is.
enum class Callback : uint32_t { other = 0, lexer = 1, parse = 2, sort = 4, change = 8, deep = 16, port = 32 };

// Calls a native!, action!, op!, function! or routine! with `n` argument values (no
// refinements) and pushes the result. The values are copied before anything allocates, so they
// may point into a series. How sort comparators, change handlers and callbacks call. `name`, when
// a word, is the word errors report for the call. May collect.
Status call(Cell callable, const Cell* values, uint32_t n, Cell name = cell::none(), Callback kind = Callback::other);

// As call, and afterwards, for a function!, `values[1]` to `values[n - 1]` hold what its body
// left in those arguments: how a callback hands a changed position back. May collect.
Status call_reading_back(Cell callable, Cell* values, uint32_t n, Cell name = cell::none(),
                         Callback kind = Callback::other);

// Calls a callable taking its arguments from a block (apply): from `args`' index to its tail, as
// the mode says; given a path, its items after the first are the refinements, as in a call
// through the path (and none fills arguments the block runs out of). Pushes the result. May
// collect.
// A port actor's call passes its callback kind: while tracing it runs traced only when asked.
Status apply(Cell callable, Cell name, Cell args, uint32_t mode, const Cell* path = nullptr,
             std::optional<Callback> callback = std::nullopt);

// The modes of apply.
inline constexpr uint32_t kApplyAll = 1;          // every argument and refinement the function takes, in
                                                  // order, a refinement as the truth of its value
inline constexpr uint32_t kApplyValues = 2;       // each argument is one value, not an expression
inline constexpr uint32_t kApplySafer = 4;        // inactive refinements' arguments are skipped
inline constexpr uint32_t kApplyRefinements = 8;  // after the arguments, refinement! values each
                                                  // followed by an expression giving its truth

// Path evaluation in get mode (get-path semantics, no call at the end) and set mode; the result
// (the value found, or the value set) is pushed. May collect.
Status get_path(Cell path);
Status set_path(Cell path, Cell value);

}  // namespace zub::interp
