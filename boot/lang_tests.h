// The language test runner: a test file holds expressions with the result each must give, and the
// runner evaluates them in order and reports the ones that do not give it. zub-cli runs it for
// --test; any program built on the core library can.
//
// A file is read line by line:
// - An expectation is `;==` followed by the expected mold, or `;!!` followed by the expected
//   error's category and id words (`;!! script no-value`). It ends the line that carries it (the
//   last `;==` on the line counts, or when there is none the last `;!!`), or stands alone on a line
//   of its own.
// - A line of code without an expectation is added to the pending expression. While that
//   expression leaves a block, paren or braced string open, the following lines (blank and comment
//   lines included) belong to it too.
// - An expectation always ends the pending expression and makes it a case: the pending lines and
//   the code before the mark are evaluated together and the outcome compared. An expectation with
//   nothing pending is a failure.
// - A line of code that arrives while the pending expression is closed first evaluates that
//   expression alone as set-up code, which must not raise; so does the end of the file. An
//   expression still open at the end of the file is a failure.
// - Blank lines and lines starting with `;` outside an open expression are comments; they leave a
//   closed pending expression waiting for its expectation.
// So one line per case keeps working as it always has, and an expression may spread over lines:
//     parse "abc" [
//         some "a" "bc"
//     ]
//     ;== true
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zub::lang_tests {

// One piece of a test file, in file order.
struct Entry {
    enum class Kind {
        setup,       // code evaluated for its effects
        value,       // a case expecting a mold
        error,       // a case expecting an error's category and id
        stray,       // an expectation line with no expression before it
        unfinished,  // an expression still open at the end of the file
    } kind;
    std::string code;      // the expression's text, lines joined by LF
    int first_line;        // where the expression starts (1-based)
    int line;              // where it ends: the expectation's line for a case
    std::string expected;  // the trimmed text after the mark
};

// Splits a test file into its entries. Touches no runtime state.
std::vector<Entry> read_entries(std::string_view text);

// Whether source text leaves a block, paren or braced string open at its end (quoted strings,
// character literals and comments are skipped).
bool leaves_open(std::string_view code);

// Runs a test file: each entry is evaluated in order; failures are written to standard output with
// the file name and line, then a summary line. Answers the number of failures (an unreadable file
// counts as one, reported on stderr). May collect.
int run_file(const std::string& file);

}  // namespace zub::lang_tests
