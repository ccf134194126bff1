// Raising language errors from C++. An error is named by its catalogue id; `error::fire` records
// it with up to three argument cells in the pending slot and throws `error::Thrown`, the one C++
// exception type that carries errors. The frames that catch it read the pending slot.
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

namespace error {

struct Thrown {};  // the value is in `pending()`

struct Pending {
    ErrorId id;     // catalogue id
    int arg_count;  // 0 to 3
    Cell args[3];   // unused ones are none
};

ErrorCategory category_of(ErrorId id);
int code_of(ErrorId id);  // category x 100 + position of the id in its category
std::string_view id_word(ErrorId id);
std::string_view category_word(ErrorCategory category);
std::string_view category_text(ErrorCategory category);
std::string_view message_template(ErrorId id);

// The last error fired. Read by the frame that catches `Thrown`.
const Pending& pending();

[[noreturn]] void fire(ErrorId id);
[[noreturn]] void fire(ErrorId id, const Cell& arg1);
[[noreturn]] void fire(ErrorId id, const Cell& arg1, const Cell& arg2);
[[noreturn]] void fire(ErrorId id, const Cell& arg1, const Cell& arg2, const Cell& arg3);

}  // namespace error
}  // namespace zub
