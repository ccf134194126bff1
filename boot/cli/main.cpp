// zub-cli: the engine without the GUI. Runs a script file, code given with -e, a language test
// file (--test), or a read-eval-print loop on stdin. Evaluation runs on the evaluator's thread with
// its large stack; an uncaught error ends the process with status 254, and output that cannot be
// written ends it with status 1.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/lang_tests.h"
#include "boot/session.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "environment/system_routines.h"
#include "evaluator/depth.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/symbol.h"
#include "system/output.h"

namespace {

using namespace zub;

struct Options {
    enum class Mode { repl, code, script, test } mode = Mode::repl;
    std::string text;  // the code, or the file's name
    std::vector<std::string> args;
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

void define_ask() {
    static constexpr char kSpec[] = "\"Prompts for a line of input\" question [string!] return: [string!]";
    const NodeId spec = lexer::load(reinterpret_cast<const std::byte*>(kSpec), sizeof kSpec - 1);
    stack::push(cell::series(TypeId::block, spec));
    (void)function::push_routine(stack::top_cell(), cell::none(), function::add_routine("ask", cli_ask), 0, false);
    context::put_word_value(context::global(), symbol::make("ask"), stack::top_cell());
    stack::pop(2);
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

int run(void* arg) {
    const Options& options = *static_cast<const Options*>(arg);
    boot::start();
    output::install_stdout();  // print and prin reach standard output through it
    define_ask();
    switch (options.mode) {
        case Options::Mode::test: return lang_tests::run_file(options.text) == 0 ? 0 : 1;
        case Options::Mode::repl: return repl();
        case Options::Mode::code:
        case Options::Mode::script: {
            std::string source = options.text;
            std::string reason;
            if (options.mode == Options::Mode::script && !session::read_file(options.text, source, reason)) {
                std::fprintf(stderr, "zub-cli: cannot read %s: %s\n", options.text.c_str(), reason.c_str());
                return 1;
            }
            const session::Outcome outcome = session::evaluate(source, options.mode == Options::Mode::script, false);
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
    routines::set_command_line(std::vector<std::string>(argv, argv + argc));
    const int status = depth::run_on_evaluator_thread(run, &options);
    // Results, prompts and test reports go through C stdio: text it could not write is lost too.
    const bool flushed = std::fflush(stdout) == 0;
    if (!flushed || std::ferror(stdout)) output::end_for_stdout(flushed ? EIO : errno);
    return status;
}
