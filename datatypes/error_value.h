// error!: the value every failure becomes when a script can see it. An error is an object of ten
// fixed fields (code type id arg1 arg2 arg3 near where stack files) and class 1, made from the
// error catalogue: the live one at system/catalog/errors when the environment has built it, else
// the catalogue the runtime carries (runtime/errors.def). Forming gives the "*** " text that the
// console prints and that an uncaught error reports.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error.h"

namespace zub::error_value {

// The positions of the fields in every error's context.
inline constexpr uint32_t kCode = 0;
inline constexpr uint32_t kType = 1;
inline constexpr uint32_t kId = 2;
inline constexpr uint32_t kArg1 = 3;
inline constexpr uint32_t kNear = 6;
inline constexpr uint32_t kWhere = 7;
inline constexpr uint32_t kStack = 8;
inline constexpr uint32_t kFiles = 9;
inline constexpr uint32_t kFields = 10;

// The standard error prototype and the catalogue's words; registers the interpreter's position
// as the near of errors. Once per runtime start, after the interpreter. May collect.
void init();

// A new error! of the catalogue id with up to three arguments (the rest none); its near is the
// interpreter's position now. May collect.
Cell create(ErrorId id, const Cell* args, int count);

// The pending error (runtime/error.h) as an error! value: the value itself when one was raised
// as it is, else one made from its id and arguments, with the near, the where and the calls
// recorded when it was raised (stack: a block of call words at the level of the stack-trace
// setting). What try gives for a caught error. May collect.
Cell from_pending();

// make error!: an integer code, a block [category id arg...] or of set-words (bound to the error
// and evaluated), or a string (a user message). May collect; may run the block's code.
Cell make(Cell spec);

// Raises the error! value as it is (do of an error, cause-error). Never returns.
[[noreturn]] void raise(Cell error);

// The catalogue id an error's category and id words name, or internal invalid-error when the
// built-in catalogue has no such id. Never allocates.
ErrorId id_of(const Cell& error);

// The formed text: "*** <category text>: <message>" then the Where, Near, and when asked for the
// Stack and Files lines. Returns the budget left. Never fails: a category or id that the
// catalogue lacks forms as internal invalid-error naming it. May collect.
int32_t form(Cell error, NodeId out, int32_t limit);

// A field of the error by position (none when the error lacks it). Never allocates.
Cell field(const Cell& error, uint32_t index);

}  // namespace zub::error_value
