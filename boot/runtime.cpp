#include "boot/runtime.h"

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/words.h"

namespace zub::runtime {

void init() {
    memory::init();
    collector::reset();
    cycles::reset();
    registry::init();
    symbol::init();
    context::init();
    words::build();
    ownership::init();
    stack::init();
    lexer::init();
    natives::init();
}

void cleanup() {
    stack::init();
    cycles::reset();
    memory::free_all();
}

}  // namespace zub::runtime
