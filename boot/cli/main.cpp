// zub-cli: the engine without the GUI. Runs a script file, code given with -e, a language test
// file (--test), or a read-eval-print loop on stdin. Evaluation runs on the evaluator's thread with
// its large stack; an uncaught error ends the process with status 254.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "datatypes/registry.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "evaluator/depth.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/output.h"

namespace {

using namespace zub;

struct Options {
    enum class Mode { repl, code, script, test } mode = Mode::repl;
    std::string text;  // the code, or the file's name
    std::vector<std::string> args;
};

// What evaluating one piece of source gave.
struct Outcome {
    bool ok;           // false: an error was raised
    bool unset;        // the result is unset
    std::string text;  // the molded result, or the formed error
    ErrorId error;     // when not ok
};

std::string formed_text() {
    const NodeId out = series::alloc_with_unit(64, 1);
    stack::push(cell::series(TypeId::string, out));
    exits::form_pending_error(out, 0x7FFFFFFF);
    Cell text = stack::top_cell();
    const unicode::Converted utf8 = unicode::string_to_utf8(text);
    std::string result(reinterpret_cast<const char*>(utf8.data), utf8.size);
    stack::pop(1);
    return result;
}

// The pending error's text. When forming it raises in turn (an argument whose mold is not written
// yet), its category and id stand in for the message: the error is never lost.
std::string formed_error(ErrorId id) {
    const stack::Saved saved = stack::save();
    try {
        return formed_text();
    } catch (const Thrown&) {
        stack::restore(saved);
        cycles::reset();
        return "*** " + std::string(error::category_text(error::category_of(id))) + ": " +
               std::string(error::id_word(id)) + " (its message cannot be formed)";
    }
}

// Loads and evaluates the text (skipping a script header when asked); the stacks are as they were
// afterwards, whatever happened.
Outcome evaluate(std::string_view source, bool skip_header, bool mold_result = true) {
    const stack::Saved saved = stack::save();
    try {
        const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(source.data()),
                                        static_cast<uint32_t>(source.size()));
        const uint32_t head = skip_header ? boot::header_length(code) : 0;
        stack::push(cell::series(TypeId::block, code, head));
        (void)interp::eval(stack::top_cell(), true);
        const Cell result = stack::top_cell();
        Outcome outcome{true, cell::is(result, TypeId::unset), mold_result ? boot::mold_utf8(result) : "", ErrorId{}};
        stack::restore(saved);
        return outcome;
    } catch (const Thrown&) {
        stack::restore(saved);
        cycles::reset();
        const ErrorId id = error::pending().id;
        return Outcome{false, false, formed_error(id), id};
    }
}

bool read_file(const std::string& name, std::string& text) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::string trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return "";
    const size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

// A language test file: each line is an expression with its expected mold after ";==", or its
// expected error (category and id words) after ";!!"; other lines are set-up code. Reports each
// failure with its line and answers the number of failures.
int run_tests(const std::string& file) {
    std::string text;
    if (!read_file(file, text)) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
    }
    int failures = 0, cases = 0, number = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ++number;
        const std::string stripped = trim(line);
        if (stripped.empty() || stripped[0] == ';') continue;
        const size_t value_mark = stripped.rfind(";==");
        const size_t error_mark = stripped.rfind(";!!");
        const bool expects_value = value_mark != std::string::npos;
        const bool expects_error = !expects_value && error_mark != std::string::npos;
        const size_t mark = expects_value ? value_mark : expects_error ? error_mark : stripped.size();
        const std::string code = stripped.substr(0, mark);
        const std::string expected = mark < stripped.size() ? trim(stripped.substr(mark + 3)) : "";
        const Outcome outcome = evaluate(code, false);
        std::string failure;
        if (expects_value) {
            ++cases;
            if (!outcome.ok) failure = "raised " + outcome.text;
            else if (outcome.text != expected) failure = "gave " + outcome.text;
        } else if (expects_error) {
            ++cases;
            const std::string got = outcome.ok ? "" : std::string(error::category_word(error::category_of(outcome.error))) +
                                                          " " + std::string(error::id_word(outcome.error));
            if (outcome.ok) failure = "gave " + outcome.text + " instead of an error";
            else if (got != expected) failure = "raised " + got + ": " + outcome.text;
        } else if (!outcome.ok) {
            failure = "set-up raised " + outcome.text;
        }
        if (!failure.empty()) {
            ++failures;
            std::printf("%s:%d: %s\n    expected %s\n    %s\n", file.c_str(), number, code.c_str(),
                        expected.empty() ? "no error" : expected.c_str(), failure.c_str());
        }
    }
    std::printf("%s: %d cases, %d failed\n", file.c_str(), cases, failures);
    return failures;
}

// The read-eval-print loop: one line at a time; "== " and the molded result, or the formed error.
int repl() {
    std::string line;
    const bool interactive = isatty(STDIN_FILENO);
    for (;;) {
        if (interactive) std::fputs(">> ", stdout), std::fflush(stdout);
        if (!std::getline(std::cin, line)) break;
        const Outcome outcome = evaluate(line, false);
        if (!outcome.ok) std::printf("%s\n", outcome.text.c_str());
        else if (!outcome.unset) std::printf("== %s\n", outcome.text.c_str());
        std::fflush(stdout);
    }
    return 0;
}

int run(void* arg) {
    const Options& options = *static_cast<const Options*>(arg);
    boot::start();
    output::install_stdout();  // print and prin reach standard output through it
    switch (options.mode) {
        case Options::Mode::test: return run_tests(options.text) == 0 ? 0 : 1;
        case Options::Mode::repl: return repl();
        case Options::Mode::code:
        case Options::Mode::script: {
            std::string source = options.text;
            if (options.mode == Options::Mode::script && !read_file(options.text, source)) {
                std::fprintf(stderr, "zub-cli: cannot read %s\n", options.text.c_str());
                return 1;
            }
            const Outcome outcome = evaluate(source, options.mode == Options::Mode::script, false);
            std::fflush(stdout);
            if (!outcome.ok) {
                std::fprintf(stderr, "%s\n", outcome.text.c_str());
                return 254;
            }
            return 0;
        }
    }
    return 0;
}

int usage() {
    std::fputs("usage: zub-cli [script.zub [args...] | -e code | --test file.zub]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int i = 1;
    if (i < argc) {
        const std::string first = argv[i++];
        if (first == "-e" || first == "--test") {
            if (i >= argc) return usage();
            options.mode = first == "-e" ? Options::Mode::code : Options::Mode::test;
            options.text = argv[i++];
        } else if (first == "-h" || first == "--help") {
            return usage();
        } else {
            options.mode = Options::Mode::script;
            options.text = first;
        }
        for (; i < argc; ++i) options.args.emplace_back(argv[i]);
    }
    return depth::run_on_evaluator_thread(run, &options);
}
