// Raising language errors from C++. An error is named by its catalogue id; `error::fire` records
// it with up to three argument cells, the call it happened in and the calls below it, in the
// pending slot, and throws `Thrown`: the one C++ exception type, which carries errors and the
// values of `throw`. The guards that catch it read the pending slot.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub {

enum class ErrorCategory : uint8_t {
#define ZUB_ERROR_CATEGORY(name, word, text) name,
#define ZUB_ERROR(category, name, word, tmpl)
#include "runtime/errors.def"
};

enum class ErrorId : uint16_t {
#define ZUB_ERROR_CATEGORY(name, word, text)
#define ZUB_ERROR(category, name, word, tmpl) name,
#include "runtime/errors.def"
};

// What a Thrown carries; a guard stops the codes up to its level.
enum class ThrownCode : uint32_t {
    throw_ = 0x7FFFFFFA,  // a value thrown to a catch; it waits in exits::thrown()
    error = 0x7FFFFFFF,   // an error; it waits in error::pending()
};

struct Thrown {
    ThrownCode code = ThrownCode::error;
};

namespace error {

using zub::Thrown;

inline constexpr uint32_t kTraceDepth = 32;  // calls kept with an error

struct Pending {
    ErrorId id;                   // catalogue id
    int arg_count;                // 0 to 3
    Cell args[3];                 // unused ones are none
    Cell near;                    // the interpreter's position when it was raised, or unset
    Cell value;                   // the error! value when one was raised as it is, else none
    uint32_t where;               // symbol of the call it happened in; 0 at top level
    uint32_t trace_count;         // calls kept, innermost first
    uint32_t trace_functions;     // bit i: call i ran a function's body (not a native)
    uint32_t trace[kTraceDepth];  // their symbols, taken when the error was raised
};

ErrorCategory category_of(ErrorId id);
int code_of(ErrorId id);  // category x 100 + position of the id in its category
std::string_view id_word(ErrorId id);
std::string_view category_word(ErrorCategory category);
std::string_view category_text(ErrorCategory category);
std::string_view message_template(ErrorId id);

// The last error fired. Read by the frame that catches `Thrown`.
const Pending& pending();
// Forgets the last error, whose cells are collector roots. At start, before anything allocates.
void clear_pending();

[[noreturn]] void fire(ErrorId id);
[[noreturn]] void fire(ErrorId id, const Cell& arg1);
[[noreturn]] void fire(ErrorId id, const Cell& arg1, const Cell& arg2);
[[noreturn]] void fire(ErrorId id, const Cell& arg1, const Cell& arg2, const Cell& arg3);

// Raises an error! value as it is: the pending slot records its id and arguments (as the value
// names them) and keeps the value itself, which the catching guard then receives unchanged.
[[noreturn]] void fire_value(const Cell& error_value, ErrorId id, const Cell* args, int count);

// Where errors take their near from: the interpreter's position cell, registered by the
// evaluator (errors raised before that have an unset near). The cell must outlive the runtime.
void set_near_source(const Cell* position);

// Where errors take the calls they happened in: a function that fills a pending error's where,
// trace, trace_count and trace_functions from the evaluator's frames, registered by the
// evaluator (errors raised before that carry no calls).
using CallCapture = void (*)(Pending& pending);
void set_call_capture(CallCapture capture);
// The hook registered, or null; so another may run it first and add to it.
CallCapture call_capture();

}  // namespace error
}  // namespace zub
