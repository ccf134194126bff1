// Runtime initialisation and clean-up: every subsystem's start-up step, in one ordered table.
#include "boot/runtime.h"

#include "boot/embedded.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/event.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/registry.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse/parse.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"
#include "system/output.h"
#include "system/random.h"

namespace zub::runtime {

namespace {

// The native and action specs live in the binary, embedded at build time.
void load_natives() {
    natives::init(embedded::boot_natives, embedded::boot_natives_size, embedded::boot_actions,
                  embedded::boot_actions_size);
}

// The start-up steps in the order they depend on each other; a subsystem that lands adds its step
// here, in its place.
struct Step {
    const char* name;
    void (*run)();
};

constexpr Step kSteps[] = {
    {"output hooks", output::init},
    {"random generator", random::init},
    {"memory manager", memory::init},
    {"collector", collector::reset},
    {"pending error", error::clear_pending},
    {"exit values", exits::reset},
    {"external handles", handles::init},
    {"cycle guard", cycles::reset},
    {"datatype registry", registry::init},
    {"symbols", symbol::init},
    {"global context", context::init},
    {"runtime words", words::build},
    {"event words", event::init},
    {"ownership table", ownership::init},
    {"evaluation stack", stack::init},
    {"lexer", lexer::init},
    {"parse", parse::init},
    {"natives", load_natives},
    {"interpreter", interp::init},
    {"tracing", trace::init},
    {"objects", object::init},
    {"error values", error_value::init},
};

}  // namespace

void init() {
    for (const Step& step : kSteps) step.run();
}

void cleanup() {
    handles::shutdown();
    stack::init();
    cycles::reset();
    memory::free_all();
}

}  // namespace zub::runtime
