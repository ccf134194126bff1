// Memory natives: recycle and stats.
#include "datatypes/context.h"
#include "evaluator/interp.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stats.h"

namespace zub::natives {
using native_args::Args;

// recycle: /on and /off flip the switch (/on wins) and give unset; otherwise one cycle runs,
// switched on or not, and the memory then in use is the result.
Status recycle_entry(const int32_t* refinements) {
    const Args<Native::recycle> args(refinements);
    if (args.has<"on">() || args.has<"off">()) {
        collector::enable(args.has<"on">());
        return args.done(cell::unset());
    }
    collector::do_cycle();
    return args.done(stats::number(stats::used()));
}

// stats: the memory in use; /info the statistics block; /show hands that block to the
// environment's show-memory-stats and gives unset.
Status stats_entry(const int32_t* refinements) {
    const Args<Native::stats> args(refinements);
    const bool show = args.has<"show">();
    if (!show && !args.has<"info">()) return args.done(stats::number(stats::used()));
    // The block waits in the result cell, which keeps it, while it is filled and shown.
    args.result(cell::series(TypeId::block, zub::memory::alloc_cells(5)));
    stats::fill(args.series(0));
    if (!show) return Status::normal;

    const Cell word = words::global(symbol::make("show-memory-stats"));
    const Cell printer = *context::get(word);
    // The printer is a library function of its own; until the library has it, /show is not done.
    if (cell::is(printer, TypeId::unset)) error::fire(ErrorId::not_done);
    const Cell data = args[0];
    ZUB_PASS(interp::call(printer, &data, 1));
    return args.done(cell::unset());
}

}  // namespace zub::natives
