#include "boot/runtime.h"

#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/words.h"
#include "system/output.h"
#include "system/random.h"

namespace zub::runtime {

void init() {
    output::init();
    random::init();
    memory::init();
    collector::reset();
    error::clear_pending();
    exits::reset();
    handles::init();
    cycles::reset();
    registry::init();
    symbol::init();
    context::init();
    words::build();
    ownership::init();
    stack::init();
    lexer::init();
    natives::init();
    interp::init();
    object::init();
    error_value::init();
}

void cleanup() {
    handles::shutdown();
    stack::init();
    cycles::reset();
    memory::free_all();
}

}  // namespace zub::runtime
