// Evaluating source text as the programs do: load it, evaluate it, and come back with the molded
// result or the formed error, the stacks as they were before. zub-cli's code and console modes
// and the language test runner all go through here.
#pragma once

#include <string>
#include <string_view>

#include "runtime/error.h"

namespace zub::session {

// What evaluating one piece of source gave.
struct Outcome {
    bool ok;           // false: an error was raised
    bool unset;        // the result is unset
    std::string text;  // the molded result (when asked for), or the formed error
    ErrorId error;     // when not ok
};

// Loads and evaluates UTF-8 source (skipping a `Zub [...]` header when asked). The evaluation and
// frame stacks are as before afterwards, whatever happened. An error whose message cannot be formed
// is described by its category and id. May collect.
Outcome evaluate(std::string_view source, bool skip_header, bool mold_result = true);

// The whole file into `text`; false when it cannot be read (a folder cannot), with the system's
// reason in `reason`.
bool read_file(const std::string& name, std::string& text, std::string& reason);

}  // namespace zub::session
