// The environment's first words are set from C++: the datatypes, the natives and the actions,
// each a global word holding its value. Everything after them is Zub source embedded in the
// binary and evaluated here, one file after another.
#include "boot/boot.h"

#include <string>

#include "boot/embedded.h"
#include "boot/runtime.h"
#include "boot/startup_data.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "environment/routines.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::boot {
namespace {

// make native! [spec index], make action! [spec index].
Cell builtin(TypeId type, Cell spec, uint32_t index) {
    Cell* made = block::push_new(2);
    block::append(cell::series_node(*made), spec);
    block::append(cell::series_node(*made), cell::integer(static_cast<int32_t>(index)));
    const Cell value = registry::actions(type).make(type, cell::none(), *made);
    stack::pop(1);
    return value;
}

void define(std::string_view name, Cell value) {
    context::put_word_value(context::global(), symbol::make(name), value);
}

void define_builtins() {
    for (int id = 1; id <= kTypeCount; ++id) {
        const auto type = static_cast<TypeId>(id);
        define(registry::name(type), cell::datatype_of(type));
    }
    for (uint32_t i = 1; i <= natives::count(); ++i)
        define(natives::word(i), builtin(TypeId::native, natives::spec(i), i));
    for (int slot = 0; slot < kActionCount; ++slot)
        define(registry::action_word(static_cast<Slot>(slot)),
               builtin(TypeId::action, natives::action_spec(static_cast<Slot>(slot)), static_cast<uint32_t>(slot) + 1));
}

void run_file(NodeId code) {
    stack::push(cell::series(TypeId::block, code, header_length(code)));
    (void)interp::eval(stack::top_cell(), true);
    stack::pop(2);  // the code and its result
}

void run_sources(const embedded::Source* sources, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        run_file(lexer::load(reinterpret_cast<const std::byte*>(sources[i].text), *sources[i].size));
}

void run_environment() {
    if (startup_data::present()) {
        stack::Rooted files(startup_data::load(embedded::startup_data, embedded::startup_data_size));
        for (uint32_t i = 0; i < block::length(files.cell()); ++i)
            run_file(cell::series_node(block::abs_at(files.cell(), i)));
        return;
    }
    run_sources(embedded::environment, embedded::environment_count);
    run_sources(embedded::console_engine, embedded::console_engine_count);
}

}  // namespace

uint32_t header_length(NodeId code) {
    if (series::length(code) < 2) return 0;
    const Cell* cells = memory::buffer(code)->cells();
    const bool header = cell::is(cells[0], TypeId::word) && symbol::utf8(word::symbol_of(cells[0])) == "Zub" &&
                        cell::is(cells[1], TypeId::block);
    return header ? 2 : 0;
}

void start(const Extension* extension) {
    lowrt::install_fault_handlers();
    runtime::init();
    try {
        define_builtins();
        routines::register_all();
        if (extension && extension->register_routines) extension->register_routines();
        routines::define_make_routine();
        function::set_library_code(true);
        run_environment();
        if (extension) run_sources(extension->sources, extension->source_count);
        function::set_library_code(false);
        routines::forget_make_routine();
        object::end_start_up();   // objects made from here on take run-time class ids
        collector::enable(true);  // off while the environment was built
    } catch (const Thrown&) {
        exits::report_uncaught();
    }
}

std::string mold_utf8(const Cell& value, bool all) {
    const NodeId out = series::alloc_with_unit(64, 1);
    stack::push(cell::series(TypeId::string, out));
    registry::actions(cell::type(value)).mold(value, out, MoldFlags{false, all, false, 0}, 0x7FFFFFFF);
    Cell text = stack::top_cell();
    const unicode::Converted utf8 = unicode::string_to_utf8(text);
    std::string result(reinterpret_cast<const char*>(utf8.data), utf8.size);
    stack::pop(1);
    return result;
}

}  // namespace zub::boot
