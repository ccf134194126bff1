// Evaluating source text as the programs do: load it, evaluate it, and come back with the molded
// result or the formed error, the stacks as they were before. zub-cli's script, code and loop
// modes and the language test runner all go through here.
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

// Runs a script file's text as `do` of the file does, through the library's do-file (header,
// directory, system/script), with the program's arguments as the script's. A text without a
// `Zub [` header anywhere runs as plain code, a first line starting with "#!" skipped. May collect.
Outcome run_script(const std::string& name, std::string_view text);

// The whole file into `text`; false when it cannot be read (a folder cannot), with the system's
// reason in `reason`.
bool read_file(const std::string& name, std::string& text, std::string& reason);

}  // namespace zub::session
