// The command line both programs share: a script file, code given with -e, a language test file
// (--test), or a read-eval-print loop on stdin. Evaluation runs on the evaluator's thread with its
// large stack; an uncaught error ends the process with status 254, and output that cannot be
// written ends it with status 1.
#include "boot/cli/cli.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
    enum class Mode { repl, code, script, test } mode = Mode::repl;
    std::string text;  // the code, or the file's name
    std::vector<std::string> args;
    const char* program = "";
    const boot::Extension* extension = nullptr;
};

// ask: the console's line reader, here on standard input: the prompt, then one line without its
// line end (nor a CR before it). The end of the input reads as "quit", as closing the console's
// window does, so a loop that asks comes to an end.
Status cli_ask(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    if (!output::write_string(STDOUT_FILENO, args[0], false)) output::end_for_stdout(errno);
    std::string line;
    if (!std::getline(std::cin, line)) line = "quit";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    stack::Rooted text(string::make(static_cast<uint32_t>(line.size())));
    string::append_utf8(cell::series_node(text.cell()), line);
    return args.done(text.cell());
}

// The read-eval-print loop: one line at a time; "== " and the molded result, or the formed error.
int repl() {
    std::string line;
    const bool interactive = isatty(STDIN_FILENO);
    for (;;) {
        if (interactive) std::fputs(">> ", stdout), std::fflush(stdout);
        if (!std::getline(std::cin, line)) break;
        const session::Outcome outcome = session::evaluate(line, false);
        if (!outcome.ok) std::printf("%s\n", outcome.text.c_str());
        else if (!outcome.unset) std::printf("== %s\n", outcome.text.c_str());
        if (std::fflush(stdout) != 0) output::end_for_stdout(errno);
    }
    return 0;
}

int run_options(void* arg) {
    const Options& options = *static_cast<const Options*>(arg);
    boot::start(options.extension);
    output::install_stdout();  // print and prin reach standard output through it
    routines::define("ask", "\"Prompts for a line of input\" question [string!] return: [string!]", cli_ask);
    switch (options.mode) {
        case Options::Mode::test: return lang_tests::run_file(options.text) == 0 ? 0 : 1;
        case Options::Mode::repl: return repl();
        case Options::Mode::code:
        case Options::Mode::script: {
            std::string source = options.text;
            std::string reason;
            if (options.mode == Options::Mode::script && !session::read_file(options.text, source, reason)) {
                std::fprintf(stderr, "%s: cannot read %s: %s\n", options.program, options.text.c_str(), reason.c_str());
                return 1;
            }
            const session::Outcome outcome = options.mode == Options::Mode::script
                                                 ? session::run_script(options.text, source)
                                                 : session::evaluate(source, false, false);
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

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [script.zub [args...] | -e code | --test file.zub]\n", program);
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
            options.mode = Options::Mode::script;
            options.text = first;
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
