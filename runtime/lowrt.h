// The low-level heap and the fatal runtime report. The heap holds what the collector does not
// manage (native tables, scratch space, buffers of the platform layer): every block is linked
// into one live list so that all of them can be freed together at exit. Exhausting it is fatal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zub::lowrt {

// Fatal runtime faults and the numbers the process exits with. Processor faults use 1 to 34.
enum class Fatal : int {
    out_of_memory = 94,
    no_catch = 95,
    assertion = 98,
    unknown = 99,
    no_case = 100,
    no_switch = 101,
};

// A new block of `size` bytes, 16-byte aligned, on the live list. Never returns null.
void* allocate(size_t size);
// Keeps the contents up to the smaller size; a null block is allocated.
void* resize(void* block, size_t size);
void free(void* block);  // null is ignored
void free_all();         // frees every live block

size_t live_blocks();
size_t live_bytes();  // sum of the sizes asked for

// The text of a fatal fault's number.
std::string_view fatal_message(int code);

// Code 0 frees the live list and exits with status 0. Any other code writes
// "*** Runtime Error <code>: <message>\n*** at: <address>h" on stderr and exits with the code.
// Safe to call from a signal handler for a non-zero code.
// A program with a display also shows the text in a box titled "Zub App Error" (not from a signal
// handler: a box needs a sound process).
[[noreturn]] void report_error(int code, uintptr_t address = 0);

// How the fatal report is shown beyond stderr (a dialog); null for stderr alone. The box may fail
// in turn: it is dropped before it is called, so a second fault reports on stderr only.
using MessageBox = void (*)(const char* caption, const char* text);
void set_message_box(MessageBox box);
[[noreturn]] inline void fatal(Fatal fault) { report_error(static_cast<int>(fault)); }

// Processor faults as the fatal report numbers them.
enum class Fault : int { access_violation = 1, bus_error = 2, arithmetic = 3, illegal_instruction = 4 };

// Turns the processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) into the fatal report with their
// number and the faulting address, on an alternate signal stack so that a fault with the stack
// exhausted still reports. Each thread that evaluates calls use_signal_stack once. The sanitizer
// build keeps its own reports.
void install_fault_handlers();
void use_signal_stack();

}  // namespace zub::lowrt
