// The text output layer: the two hook lists through which every printed text reaches whoever shows
// it, and the writer that puts text on standard output as UTF-8. `print` and `prin` reach only the
// value hooks; zub-cli installs the standard-output writer as one, the GUI console its own.
// The runtime's low-level prints (diagnostics) write to standard output and then the text hooks.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub::output {

// A value hook gets a string! value (read from its head) and whether a line end follows.
// It may allocate; the text stays rooted while hooks run.
using ValueHook = void (*)(Cell text, bool new_line);
// A text hook gets UTF-8 bytes and their length in bytes, line end included.
using TextHook = void (*)(const char* bytes, size_t length);

// Empties both lists (room for 5 hooks each) and sets the last-new-line flag. Once at start,
// before anything prints. Never allocates series.
void init();

// Appends each non-null hook to its list; the lists grow by 5 as they fill. Registration order
// is call order.
void add_hooks(ValueHook value_hook, TextHook text_hook);
// Removes the first entry equal to each non-null hook; an absent hook changes nothing.
void remove_hooks(ValueHook value_hook, TextHook text_hook);
uint32_t value_hook_count();
uint32_t text_hook_count();

// Calls every value hook, in registration order. May collect (through the hooks).
void notify_value_hooks(Cell text, bool new_line);
// Calls every text hook, in registration order.
void notify_text_hooks(const char* bytes, size_t length);

// The flag that print sets and prin clears, read by the environment's last-lf?.
bool last_new_line();
void set_last_new_line(bool on);

// ---- Standard output ----------------------------------------------------------------------------

// Writes all `length` bytes to the descriptor, going on after short writes and interrupted calls
// and waiting while a non-blocking descriptor is full. False when the descriptor refuses (closed
// pipe, bad descriptor): the rest is dropped. Never allocates.
bool write_all(int fd, const char* bytes, size_t length);

// Writes a string! value (from its head) as UTF-8, then LF when new_line; false when the
// descriptor refused part of it (errno tells why). A surrogate pair held
// in two units becomes one four-byte sequence; a lone surrogate is written as it is. A code point
// above U+10FFFF raises script invalid-char before anything is written. Goes through a fixed
// staging buffer in chunks of at most 1,024 bytes: allocates nothing but to raise.
bool write_string(int fd, Cell text, bool new_line);

// The status a program ends with when standard output refuses its text.
inline constexpr int kStdoutFailedStatus = 1;
// Ends the program because standard output refused text (a full disk, a closed descriptor, a pipe
// whose reader left): the text is lost, so going on or ending with status 0 would hide it. Writes
// "*** cannot write to standard output: <reason from error_number>" on stderr and exits with
// kStdoutFailedStatus.
[[noreturn]] void end_for_stdout(int error_number);

// The value hook that writes to standard output (descriptor 1); ends the program when it cannot.
void stdout_hook(Cell text, bool new_line);
// Adds stdout_hook to the value hooks: what zub-cli does at start.
void install_stdout();

// A low-level print for diagnostics: the bytes (and LF when new_line) to standard output, then to
// the text hooks; ends the program when standard output refuses them. Never allocates.
void print_text(std::string_view utf8, bool new_line);

// The system call behind write_all, replaceable so tests can force short and failing writes;
// null restores write(2).
using WriteCall = ssize_t (*)(int fd, const void* bytes, size_t length);
void set_write_call(WriteCall call);

}  // namespace zub::output
