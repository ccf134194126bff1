// Memory natives: recycle and stats.
#include "datatypes/context.h"
#include "evaluator/interp.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stats.h"
#include "evaluator/words.h"

namespace zub::natives::groups {
namespace {

constexpr int kOn = 0;  // refinements of recycle, in spec order
constexpr int kOff = 1;
constexpr int kShow = 0;  // refinements of stats
constexpr int kInfo = 1;

// recycle: /on and /off flip the switch (/on wins) and give unset; otherwise one cycle runs,
// switched on or not, and the memory then in use is the result.
Status recycle(const int32_t* refinements) {
    if (refinements[kOn] >= 0 || refinements[kOff] >= 0) {
        collector::enable(refinements[kOn] >= 0);
        *stack::args() = cell::unset();
        return Status::normal;
    }
    collector::do_cycle();
    *stack::args() = stats::number(stats::used());
    return Status::normal;
}

// stats: the memory in use; /info the statistics block; /show hands that block to the
// environment's show-memory-stats and gives unset.
Status stats(const int32_t* refinements) {
    const bool show = refinements[kShow] >= 0;
    if (!show && refinements[kInfo] < 0) {
        *stack::args() = stats::number(stats::used());
        return Status::normal;
    }
    // The block waits in the result cell, which keeps it, while it is filled and shown.
    *stack::args() = cell::series(TypeId::block, zub::memory::alloc_cells(5));
    stats::fill(stack::args()->w2);
    if (!show) return Status::normal;

    const Cell word = words::global(symbol::make("show-memory-stats"));
    const Cell printer = *context::get(word);
    if (cell::is(printer, TypeId::unset)) error::fire(ErrorId::no_value, word);
    const Cell data = *stack::args();
    ZUB_PASS(interp::call(printer, &data, 1));
    stack::reset_set_last(cell::unset());
    return Status::normal;
}

}  // namespace

void memory() {
    install(Native::recycle, recycle);
    install(Native::stats, stats);
}

}  // namespace zub::natives::groups
