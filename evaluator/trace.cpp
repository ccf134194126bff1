// Interpreter tracing: the state a do/trace puts in force, the event mask and the call of the
// trace callback. The interpreter decides where events happen; this file reports them.
#include "evaluator/trace.h"

#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/interp.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::trace {

bool g_active = false;

namespace {

bool g_on = false;           // reporting: off inside the callback and inside quiet function bodies
bool g_in_callback = false;  // the callback runs: nothing it does is reported, whatever its functions ask
bool g_paused = false;       // the script said `trace false`: nothing is reported until `trace true`
uint32_t g_mask = 0;         // the events asked for
Cell g_callback = cell::none();
error::CallCapture g_calls = nullptr;  // the hook that records an error's calls, run first

constexpr uint32_t kAttributeTrace = 0x400;
constexpr uint32_t kAttributeNoTrace = 0x200;

struct Named {
    words::Word word;
    uint32_t bit;
};
constexpr Named kEvents[] = {
    {words::Word::init, event::init},     {words::Word::end, event::end},         {words::Word::prolog, event::prolog},
    {words::Word::epilog, event::epilog}, {words::Word::enter, event::enter},     {words::Word::exit, event::exit},
    {words::Word::open, event::open},     {words::Word::return_, event::return_}, {words::Word::fetch, event::fetch},
    {words::Word::push, event::push},     {words::Word::set, event::set},         {words::Word::call, event::call},
    {words::Word::error, event::error},   {words::Word::throw_, event::throw_},   {words::Word::catch_, event::catch_},
    {words::Word::expr, event::expr},
};

Cell event_word(uint32_t bit) {
    for (const Named& e : kEvents)
        if (e.bit == bit) return words::global(e.word);
    return cell::none();
}

// Calls the callback with reporting off. A break or continue that leaves it cannot go on through
// the code that reported, so it ends there as an error, as any error of the callback does.
void call_back(const Cell* values) {
    Cell* const base = stack::g_top;
    g_on = false;
    g_in_callback = true;
    Status st;
    try {
        st = interp::call(g_callback, values, 6, words::global(words::Word::interp_callback_tag));
    } catch (...) {
        g_in_callback = false;
        throw;
    }
    g_in_callback = false;
    stack::g_top = base;
    if (st != Status::normal)
        error::fire(st == Status::break_      ? ErrorId::break_
                    : st == Status::continue_ ? ErrorId::continue_
                                              : ErrorId::return_);
    g_on = true;
}

// Errors are reported as they are raised, before anything catches them. The pending error is
// kept on the stack while the callback runs (its cells stay reachable) and put back after, since
// errors the callback raises and catches replace it. Running out of stack is not reported: the
// callback would need the room that is missing.
void report_error(error::Pending& pending) {
    if (g_calls) g_calls(pending);
    if (!g_on || g_paused || !(g_mask & event::error) || pending.id == ErrorId::stack_overflow ||
        pending.id == ErrorId::no_memory)
        return;
    const error::Pending saved = pending;
    Cell* const base = stack::g_top;
    for (const Cell& c : saved.args) stack::push(c);
    stack::push(saved.near);
    stack::push(saved.value);
    const Cell value = error_value::from_pending();
    stack::push(value);
    emit_value(event::error, value);
    stack::g_top = base;
    pending = saved;
}

}  // namespace

void init() {
    g_active = g_on = g_in_callback = g_paused = false;
    g_mask = 0;
    g_callback = cell::none();
    collector::add_cell_root(&g_callback);
    g_calls = error::call_capture();
    error::set_call_capture(report_error);
}

uint32_t mask_of(const Cell& callback) {
    if (!cell::is(callback, TypeId::function)) return event::all;
    const Cell body = function::more_at(callback, function::kBody);
    if (!cell::is(body, TypeId::block)) return event::all;
    const NodeId node = cell::series_node(body);
    if (series::length(node) <= cell::series_index(body)) return event::all;
    const Cell first = memory::buffer(node)->cells()[cell::series_index(body)];
    if (!cell::is(first, TypeId::block)) return event::all;
    uint32_t mask = 0;
    const NodeId list = cell::series_node(first);
    for (uint32_t i = cell::series_index(first); i < series::length(list); ++i) {
        const Cell w = memory::buffer(list)->cells()[i];
        if (!cell::is(w, TypeId::word)) continue;
        for (const Named& e : kEvents)
            if (symbol::resolve(word::symbol_of(w)) == symbol::resolve(words::id(e.word))) mask |= e.bit;
    }
    return mask;
}

void emit(uint32_t bit, const Cell& series, int64_t index, const Cell& value, const Cell& ref) {
    if (!g_on || g_paused || !(g_mask & bit)) return;
    // The series goes at its head, the position as an offset from there.
    Cell head = series;
    int32_t offset = -1;
    if (type_group::in(type_group::block_like, cell::type(series))) {
        cell::set_series_index(head, 0);
        if (index >= 0 && index < series::length(cell::series_node(series))) offset = static_cast<int32_t>(index);
    }
    const Cell values[6] = {event_word(bit),
                            head,
                            cell::integer(offset),
                            value,
                            ref,
                            cell::make(TypeId::pair, 0, stack::index_of(stack::g_args), stack::index_of(stack::g_top))};
    call_back(values);
}

void emit_at(uint32_t bit, NodeId block, int64_t index, const Cell& value, const Cell& ref) {
    if (!g_on || g_paused || !(g_mask & bit)) return;
    emit(bit, cell::series(TypeId::block, block, 0), index, value, ref);
}

void emit_value(uint32_t bit, const Cell& value, const Cell& ref) { emit(bit, cell::none(), -1, value, ref); }

Quiet::Quiet() : saved(g_on) { g_on = false; }

bool callback_traced(uint32_t kind) {
    if (kind == 0) return false;
    Cell at = words::global(words::Word::system);
    for (const char* field : {"state", "callbacks", "bits"}) {
        const Cell* slot = cell::is(at, TypeId::word) ? context::slot_of(at) : nullptr;
        const Cell holder = slot ? *slot : at;
        if (!cell::is(holder, TypeId::object)) return false;
        at = object::select_word(holder, symbol::make(field));
    }
    return cell::is(at, TypeId::integer) && (static_cast<uint32_t>(cell::as_integer(at)) & kind) != 0;
}
Quiet::~Quiet() { g_on = saved; }

bool enter_body(const Cell& fn) {
    const bool saved = g_on;
    if (fn.header & (function::kSystem | kAttributeNoTrace)) {
        g_on = false;  // reported as one call: its steps are the library's, not the program's
    } else if (fn.header & kAttributeTrace) {
        g_on = !g_in_callback;
    }
    emit_value(event::prolog, cell::none(), fn);
    return saved;
}

void leave_body(const Cell& fn, bool saved, bool report) {
    if (report) emit_value(event::epilog, stack::g_args[0], fn);
    g_on = saved;
}

void start(const Cell& callback) {
    g_callback = callback;
    g_mask = mask_of(callback);
    g_active = g_on = true;
    g_paused = false;
    emit_value(event::init, cell::none());
}

void stop(bool report) {
    struct Reset {
        ~Reset() {
            g_active = g_on = g_in_callback = g_paused = false;
            g_mask = 0;
            g_callback = cell::none();
        }
    } reset;
    g_paused = false;  // a run paused by the script still reports its end
    if (report) emit_value(event::end, cell::none());
}

void set_reporting(bool on) { g_paused = g_active && !on; }

bool reporting() { return g_active && !g_paused; }

}  // namespace zub::trace
