// Interpreter tracing: while a do/trace is in force the interpreter reports what it does (values
// fetched and pushed, words set, calls, blocks entered and left, errors, throws and catches) to a
// function of the language, the trace callback, filtered by an event mask.
//
// The interpreter tests one global, g_active, at each place that reports, so tracing off costs a
// predicted branch there; the reporting itself is out of line, here.
#pragma once

#include <cstdint>

#include "evaluator/exits.h"
#include "runtime/cell.h"

namespace zub::trace {

// The events, as bits of a mask.
namespace event {
inline constexpr uint32_t init = 0x1;       // tracing starts
inline constexpr uint32_t end = 0x2;        // tracing ends
inline constexpr uint32_t prolog = 0x4;     // a function body begins
inline constexpr uint32_t epilog = 0x8;     // it ends
inline constexpr uint32_t enter = 0x10;     // a block or a path is entered
inline constexpr uint32_t exit = 0x20;      // it is left
inline constexpr uint32_t open = 0x40;      // a call is about to fetch its arguments
inline constexpr uint32_t return_ = 0x80;   // a call returns
inline constexpr uint32_t fetch = 0x100;    // a value is fetched from a block
inline constexpr uint32_t push = 0x200;     // a value is pushed as a result
inline constexpr uint32_t set = 0x400;      // a set-word or set-path is assigned
inline constexpr uint32_t call = 0x800;     // a call's arguments are complete and it runs
inline constexpr uint32_t error = 0x1000;   // an error is raised, before it is thrown
inline constexpr uint32_t throw_ = 0x2000;  // throw runs
inline constexpr uint32_t catch_ = 0x4000;  // catch catches
inline constexpr uint32_t expr = 0x8000;    // an expression of a block completes
inline constexpr uint32_t all = 0x1FFFF;
}  // namespace event

// A do/trace is in force: the interpreter takes its reporting paths.
extern bool g_active;

// The script's own switch (`trace false`, `trace true`): pauses and resumes the reports of the
// traced run in force. Outside a traced run it changes nothing.
void set_reporting(bool on);
// A traced run is in force and the script has not paused its reports.
bool reporting();

// Whether a runtime callback of the kind (a bit of system/state/callbacks/bits, 0 for none) runs
// traced. Reads the system object; called only while tracing.
bool callback_traced(uint32_t kind);

// Clears the state and takes the error-raising hook. Once, after the stack and the interpreter.
void init();

// The events a callback asks for: the event words of a block that begins its body (case
// insensitive; other items add nothing), else every event.
uint32_t mask_of(const Cell& callback);

// Reports one event when reporting is on and the mask has it: the callback gets the event word,
// the series at its head (or none), the offset of `index` in it (-1 when outside), the value, the
// reference value and the arguments base and top as a pair. Nothing it returns reaches the traced
// code; an error it raises goes on from here, with reporting off. May collect.
void emit(uint32_t event, const Cell& series, int64_t index, const Cell& value, const Cell& ref);
// The same for a block's node: the block at its head.
void emit_at(uint32_t event, NodeId block, int64_t index, const Cell& value, const Cell& ref);
// The same with neither series nor position.
void emit_value(uint32_t event, const Cell& value, const Cell& ref = cell::none());

// Reports nothing while it lives: a callback the runtime makes (a comparator, a change handler)
// runs untraced.
struct Quiet {
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
    bool saved;  // the reporting state to put back
};

// Runs `fn`'s body as its attributes ask: a function made at start-up or marked no-trace
// reports nothing inside, one marked trace reports again; the body is framed by prolog and
// epilog (which reports the result in the arguments base). `run` evaluates the body.
template <typename Run>
Status run_body(const Cell& fn, Run run);

// Evaluates with tracing started for the callback (do/trace): reports init, runs `run`, reports
// end and switches tracing off however it ends. When tracing is already in force, just runs.
// May collect.
template <typename Run>
Status traced(const Cell& callback, Run run);

// ---- out of line parts of the templates --------------------------------------------------------
// No report is made while an exception unwinds: a callback raising then would end the program.

bool enter_body(const Cell& fn);  // answers the reporting state to put back
void leave_body(const Cell& fn, bool saved, bool report);
void start(const Cell& callback);
void stop(bool report);

template <typename Run>
Status run_body(const Cell& fn, Run run) {
    const bool saved = enter_body(fn);
    Status st;
    try {
        st = run();
    } catch (...) {
        leave_body(fn, saved, false);
        throw;
    }
    leave_body(fn, saved, st == Status::normal);
    return st;
}

template <typename Run>
Status traced(const Cell& callback, Run run) {
    if (g_active) return run();
    start(callback);
    Status st;
    try {
        st = run();
    } catch (...) {
        stop(false);
        throw;
    }
    stop(true);
    return st;
}

}  // namespace zub::trace
