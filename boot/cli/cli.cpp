// The command line both programs share: code given with -e, a language test file (--test), or the
// console engine in terminal mode (a script with its options and arguments, then or instead the
// read-eval-print loop on stdin). Evaluation runs on the evaluator's thread with its large stack;
// an uncaught error ends the process with status 254, and output that cannot be written ends it
// with status 1.
#include "boot/cli/cli.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/lang_tests.h"
#include "boot/session.h"
#include "datatypes/string.h"
#include "environment/routines.h"
#include "environment/system_routines.h"
#include "evaluator/depth.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "system/output.h"

namespace {

using namespace zub;

struct Options {
    enum class Mode { console, code, test } mode = Mode::console;
    std::string text;  // the code, or the test file's name
    std::vector<std::string> args;
    const char* program = "";
    const boot::Extension* extension = nullptr;
};

// ask: the console's line reader, here on standard input: the prompt, then one line without its
// line end (nor a CR before it). The end of the input reads as "quit", as closing the console's
// window does, so a loop that asks comes to an end; asked again after that (a command left open
// takes the "quit" in as one more line), the program ends there, as quit ends it.
Status cli_ask(const int32_t* r) {
    static bool ended = false;
    const native_args::Args<native_args::Plain::routine> args(r);
    if (!output::write_string(STDOUT_FILENO, args[0], false)) output::end_for_stdout(errno);
    std::string line;
    if (!std::getline(std::cin, line)) {
        if (ended) {
            std::fflush(stdout);
            std::exit(0);
        }
        ended = true;
        line = "quit";
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    stack::Rooted text(string::make(static_cast<uint32_t>(line.size())));
    string::append_utf8(cell::series_node(text.cell()), line);
    return args.done(text.cell());
}

// The console's width and height in characters: COLUMNS and LINES when set, else the terminal's
// size when standard output is one, else 80 by 25.
std::string console_size() {
    int columns = 0, rows = 0;
    if (winsize size{}; isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        columns = size.ws_col, rows = size.ws_row;
    const auto from_env = [](const char* name, int& value) {
        if (const char* text = std::getenv(name)) {
            char* end = nullptr;
            const long number = std::strtol(text, &end, 10);
            if (end != text && *end == '\0' && number > 0 && number < 100000) value = static_cast<int>(number);
        }
    };
    from_env("COLUMNS", columns);
    from_env("LINES", rows);
    return std::to_string(columns > 0 ? columns : 80) + "x" + std::to_string(rows > 0 ? rows : 25);
}

// The script the console will run: the first argument after the leading options ("--" ends them).
// Named but unreadable, the program says so and ends with status 1 before anything runs.
bool script_readable(const Options& options) {
    size_t i = 0;
    while (i < options.args.size() && options.args[i].starts_with("--") && (i == 0 || options.args[i - 1] != "--")) ++i;
    if (i >= options.args.size()) return true;
    std::string text, reason;
    if (session::read_file(options.args[i], text, reason)) return true;
    std::fprintf(stderr, "%s: cannot read %s: %s\n", options.program, options.args[i].c_str(), reason.c_str());
    return false;
}

// The console engine in terminal mode: the script named on the command line, then (with --catch,
// or without a script) the read-eval-print loop, which ends when the input does. A script that did
// not run through ends the program with the status of an uncaught error.
int console(const Options& options) {
    if (!script_readable(options)) return 1;
    const std::string setup = "system/console/size: " + console_size() +
                              " input: func [\"Wait for console user input\" return: [string!]] [ask \"\"]";
    session::Outcome outcome = session::evaluate(setup, false, false);
    const char* launch = options.extension && options.extension->console_launch ? options.extension->console_launch
                                                                                : "system/console/launch";
    if (outcome.ok) outcome = session::evaluate(launch, false, true);
    std::fflush(stdout);
    if (!outcome.ok) {
        std::fprintf(stderr, "%s\n", outcome.text.c_str());
        return 254;
    }
    return outcome.text == "false" ? 254 : 0;
}

int run_options(void* arg) {
    const Options& options = *static_cast<const Options*>(arg);
    boot::start(options.extension);
    output::install_stdout();  // print and prin reach standard output through it
    routines::define("ask", "\"Prompts for a line of input\" question [string!] return: [string!]", cli_ask);
    if (options.mode == Options::Mode::console) return console(options);
    // Code given on the command line and test files run with no console.
    (void)session::evaluate("system/console: none", false, false);
    if (options.mode == Options::Mode::test) return lang_tests::run_file(options.text) == 0 ? 0 : 1;
    const session::Outcome outcome = session::evaluate(options.text, false, false);
    std::fflush(stdout);
    if (!outcome.ok) {
        std::fprintf(stderr, "%s\n", outcome.text.c_str());
        return 254;
    }
    return 0;
}

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [[--catch] [--] script.zub [args...] | -e code | --test file.zub]\n", program);
    return 2;
}

}  // namespace

namespace zub::cli {

int run(int argc, char** argv, const char* program, const boot::Extension* extension) {
    Options options;
    options.program = program;
    options.extension = extension;
    int i = 1;
    if (i < argc) {
        const std::string first = argv[i++];
        if (first == "-e" || first == "--test") {
            if (i >= argc) return usage(program);
            options.mode = first == "-e" ? Options::Mode::code : Options::Mode::test;
            options.text = argv[i++];
        } else if (first == "-h" || first == "--help") {
            return usage(program);
        } else {
            --i;  // the console reads the script and its options from the arguments
        }
        for (; i < argc; ++i) options.args.emplace_back(argv[i]);
    }
    routines::set_command_line(std::vector<std::string>(argv, argv + argc));
    const int status = depth::run_on_evaluator_thread(run_options, &options);
    // Results, prompts and test reports go through C stdio: text it could not write is lost too.
    const bool flushed = std::fflush(stdout) == 0;
    if (!flushed || std::ferror(stdout)) output::end_for_stdout(flushed ? EIO : errno);
    return status;
}

}  // namespace zub::cli
