// Output, time, environment and runtime natives: print and prin (through the value hooks only),
// wait, now, get-env, set-env and list-env. call and browse for the process
// services; they stay "not done" until then.
#include <string>
#include <utility>
#include <vector>

#include "datatypes/date.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interp.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"
#include "system/output.h"
#include "system/platform/os.h"

namespace zub::natives {
namespace {

using native_args::Args;

constexpr int32_t kNoLimit = 0x7FFFFFFF;
constexpr uint32_t kPrintBufferCells = 32;

// Where print and prin reduce a block: at its tail, cut back afterwards, so a print inside a
// printed block works on the part above its caller's.
NodeId g_print_buffer = 0;

// Cuts the print buffer back to where a print found it, whichever way the print ends.
class PrintBufferMark {
  public:
    PrintBufferMark() : tail_(series::length(g_print_buffer)) {}
    ~PrintBufferMark() { series::set_tail(g_print_buffer, tail_ + 1); }
    PrintBufferMark(const PrintBufferMark&) = delete;
    PrintBufferMark& operator=(const PrintBufferMark&) = delete;
    uint32_t tail() const { return tail_; }

  private:
    uint32_t tail_;
};

// Reduces the block into the print buffer from its tail, expression by expression.
Status reduce_into_buffer(Cell block) {
    const NodeId node = cell::series_node(block);
    uint32_t index = cell::series_index(block);
    Cell* const base = stack::g_top;
    while (index < series::length(node)) {
        ZUB_PASS(interp::eval_next(block, index));
        const Cell result = stack::top_cell();
        stack::g_top = base;
        series::append_cell(g_print_buffer, result);
    }
    return Status::normal;
}

// print and prin: the value formed (a block reduced first, a string as it is) goes to every value
// hook; nothing is written here.
template <Native native>
Status form_printable(const int32_t* refinements, bool new_line) {
    const Args<native> args(refinements);
    Cell value = args[0];
    if (cell::is(value, TypeId::string)) {
        const uint32_t length = series::length(cell::series_node(value));
        if (cell::series_index(value) > length) cell::set_series_index(value, length);
        output::notify_value_hooks(value, new_line);
    } else {
        const PrintBufferMark mark;
        if (cell::is(value, TypeId::block)) {
            ZUB_PASS(reduce_into_buffer(value));
            value = cell::series(TypeId::block, g_print_buffer, mark.tail());
        }
        const Cell text = string::make(64);
        stack::push(text);  // rooted while it fills and while the hooks run
        registry::actions(cell::type(value)).form(value, cell::series_node(text), kNoLimit);
        output::notify_value_hooks(text, new_line);
    }
    output::set_last_new_line(new_line);
    return args.done(cell::unset());
}

}  // namespace

Status print_entry(const int32_t* refinements) { return form_printable<Native::print>(refinements, true); }

Status prin_entry(const int32_t* refinements) { return form_printable<Native::prin>(refinements, false); }

// wait: a number of seconds (integer!, float!, percent! or time!); blocks and none wait for port
// events, which do not exist yet.
Status wait_entry(const int32_t* refinements) {
    const Args<Native::wait> args(refinements);
    const Cell value = args[0];
    double seconds = 0;
    switch (cell::type(value)) {
        case TypeId::integer: seconds = cell::as_integer(value); break;
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: seconds = cell::as_float(value); break;
        default: error::fire(ErrorId::invalid_arg, value);
    }
    platform::sleep(seconds);
    return args.done(cell::none());
}

// now: one reading of the clock, local with its zone or universal with /utc; one refinement picks
// a field (/time with /precise excepted).
Status now_entry(const int32_t* refinements) {
    const Args<Native::now> args(refinements);
    const bool picks[] = {args.has<"year">(),    args.has<"month">(),   args.has<"day">(),
                          args.has<"time">(),    args.has<"zone">(),    args.has<"date">(),
                          args.has<"weekday">(), args.has<"yearday">(), args.has<"precise">()};
    int picked = 0;
    for (const bool p : picks) picked += p ? 1 : 0;
    if (picked > 1 && !(picked == 2 && args.has<"time">() && args.has<"precise">())) error::fire(ErrorId::bad_refines);

    const platform::Clock c = platform::clock_now(args.has<"utc">(), args.has<"precise">());
    const date::Stamp stamp = date::stamp(c.year, c.month, c.day, c.offset_minutes, c.seconds);
    const Cell now = date::normalized(date::days_of(stamp.packed), stamp.seconds, date::zone(stamp.packed), true);
    if (args.has<"date">()) return args.done(date::get_field(now, 1));
    if (args.has<"year">()) return args.done(date::get_field(now, 2));
    if (args.has<"month">()) return args.done(date::get_field(now, 3));
    if (args.has<"day">()) return args.done(date::get_field(now, 4));
    if (args.has<"zone">()) return args.done(date::get_field(now, 5));
    if (args.has<"time">()) return args.done(date::get_field(now, 6));
    if (args.has<"weekday">()) return args.done(date::get_field(now, 10));
    if (args.has<"yearday">()) return args.done(date::get_field(now, 11));
    return args.done(now);
}

namespace {

// The UTF-8 text of a variable's name: a word's spelling, or a text value from its head.
std::string name_utf8(const Cell& var) {
    if (!string::is_text(cell::type(var))) return std::string(symbol::utf8(word::symbol_of(var)));
    const NodeId node = cell::series_node(var);
    const uint32_t unit = series::unit(node);
    const uint32_t length = series::length(node);
    const uint32_t head = cell::series_index(var) < length ? cell::series_index(var) : length;
    const std::byte* data = memory::buffer(node)->head_ptr();
    std::string text(unicode::utf8_size(data + size_t{head} * unit, data + size_t{length} * unit, unit), '\0');
    text.resize(unicode::string_to_utf8_into(var, reinterpret_cast<std::byte*>(text.data()),
                                             static_cast<uint32_t>(text.size()), unicode::kWhole, false));
    return text;
}

}  // namespace

Status get_env_entry(const int32_t* refinements) {
    const Args<Native::get_env> args(refinements);
    std::string value;
    if (!platform::get_env(name_utf8(args[0]), value)) return args.done(cell::none());
    const Cell text = string::make(static_cast<uint32_t>(value.size()));
    stack::push(text);
    string::append_utf8(cell::series_node(text), value);
    return args.done(text);
}

// Names and values are copied out of the environment first: making the strings may collect.
Status list_env_entry(const int32_t* refinements) {
    const Args<Native::list_env> args(refinements);
    std::vector<std::pair<std::string, std::string>> vars;
    platform::list_env(
        [](std::string_view name, std::string_view value, void* context) {
            static_cast<std::vector<std::pair<std::string, std::string>>*>(context)->emplace_back(name, value);
        },
        &vars);
    stack::Rooted result(map::make_empty(static_cast<uint32_t>(vars.size())));
    for (const auto& [name, value] : vars) {
        stack::Rooted key(string::make(static_cast<uint32_t>(name.size())));
        string::append_utf8(cell::series_node(key.cell()), name);
        stack::Rooted text(string::make(static_cast<uint32_t>(value.size())));
        string::append_utf8(cell::series_node(text.cell()), value);
        registry::actions(TypeId::map).put(result.cell(), key.cell(), text.cell(), true);
    }
    return args.done(result.cell());
}

// A name that cannot be a variable's, or a value with a NUL in it, would be cut or refused by the
// system without a word: both are errors here rather than a set-env that did nothing.
Status set_env_entry(const int32_t* refinements) {
    const Args<Native::set_env> args(refinements);
    const Cell var = args[0];
    const Cell value = args[1];
    const std::string name = name_utf8(var);
    if (!platform::env_name_ok(name)) error::fire(ErrorId::invalid_arg, var);
    if (cell::is(value, TypeId::none)) {
        platform::set_env(name, nullptr);
    } else {
        const std::string text = name_utf8(value);
        if (text.find('\0') != std::string::npos) error::fire(ErrorId::invalid_arg, value);
        const std::string_view view(text);
        platform::set_env(name, &view);
    }
    return args.done(value);
}

void groups::output() {
    g_print_buffer = memory::alloc_cells(kPrintBufferCells);
    collector::add_root(&g_print_buffer);
}

}  // namespace zub::natives
