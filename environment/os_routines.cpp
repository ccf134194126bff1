// The environment's routine `os-info`: system/os_info.h's description made into an object.
#include <string>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "environment/routines.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "system/os_info.h"

namespace zub::routines {

namespace {

Cell set_word(const char* name) {
    Cell word = words::global(symbol::make(name));
    cell::set_type(word, TypeId::set_word);
    return word;
}

}  // namespace

// The fields are given as a spec that construct takes as written, so nothing is evaluated.
Status os_info(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    const os_info::Info info = os_info::query();
    stack::Rooted spec(block::make(8));
    const NodeId node = cell::series_node(spec.cell());
    stack::Rooted name(string::make(static_cast<uint32_t>(info.name.size())));
    string::append_utf8(cell::series_node(name.cell()), info.name);
    block::append(node, set_word("name"));
    block::append(node, name.cell());
    block::append(node, set_word("arch"));
    block::append(node, words::global(symbol::make(info.arch)));
    block::append(node, set_word("version"));
    block::append(node, tuple::make(info.version, 3));
    block::append(node, set_word("build"));
    block::append(node, cell::integer(info.build));
    return args.done(object::construct(spec.cell(), cell::none(), true));
}

}  // namespace zub::routines
