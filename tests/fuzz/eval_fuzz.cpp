// Fuzzing the evaluator: random programs of values, words of natives and actions, paths, blocks and
// parens, each expression under try, must end in a value or a Zub error: never a crash, an abort
// or a hang. The seed is fixed (a second argument changes it), so every run evaluates the same
// programs; ZUB_FUZZ_SHOW=1 prints each program before it runs, to find the one that failed. Words
// that wait, print, touch files or end the process are left out, and so are loops that random code
// easily never ends; counts stay small so that no loop runs for long.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "boot/boot.h"
#include "boot/runtime.h"
#include "evaluator/depth.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"

namespace {

using namespace zub;

// Every native and action is called by its word, from the tables themselves, but for those named
// here: they wait, print, touch files or the process environment, or run without end on random
// input (until [x] with x false; while and forever whose condition random code never ends).
constexpr std::string_view kLeftOut[] = {
    "while",   "until", "forever", "print", "prin",  "wait",   "browse", "call",   "set-env",
    "recycle", "open",  "close",   "read",  "write", "create", "delete", "rename", "query",
};

// Operators, environment functions, refinements, paths and conversions that random code should
// meet besides the plain words of natives and actions.
constexpr const char* kPhrases[] = {
    "first",
    "object",
    "load",
    "words-of",
    "values-of",
    "body-of",
    "spec-of",
    "+",
    "-",
    "*",
    "/",
    "=",
    "<",
    ">",
    "<>",
    "and",
    "or",
    "xor",
    "block!",
    "integer!",
    "string!",
    "word!",
    "none",
    "true",
    "false",
    "self",
    "x",
    "y",
    "z",
    "f",
    "g",
    "blk",
    "str",
    "obj",
    "a",
    "b",
    "copy/part",
    "copy/deep",
    "append/only",
    "append/dup",
    "insert/part",
    "find/reverse",
    "find/last",
    "find/tail",
    "select/skip",
    "sort/reverse",
    "sort/skip",
    "change/part",
    "remove/part",
    "take/last",
    "take/part",
    "compose/deep",
    "compose/only",
    "round/to",
    "mold/only",
    "mold/all",
    "form/part",
    "trim/all",
    "at/only",
    "skip/only",
    "find/match",
    "find/case",
    "blk/1",
    "blk/-1",
    "blk/0",
    "str/1",
    "obj/a",
    "x/1",
    "blk/(1)",
    "a:",
    "b:",
    "blk/2:",
    "str/1:",
    "obj/a:",
    "make block!",
    "make string!",
    "to integer!",
    "to string!",
    "to block!",
    "to word!",
    "to char!",
    "to logic!",
    "to float!",
    "as block!",
    "as string!",
    "to time!",
    "to pair!",
    "to issue!",
    "to file!",
    "to tag!",
    "to path!",
    "to paren!",
    "to set-word!",
    "to lit-word!",
    "to get-word!",
    "to refinement!",
    "to datatype!",
    "to typeset!",
    "make typeset!",
    "make op!",
    "make time!",
    "make char!",
    "make integer!",
    "make float!",
    "make logic!",
    "make path!",
    "make paren!",
    "make word!",
    "make object!",
    "make error!",
    "make function!",
    "to percent!",
    "to url!",
    "union/case",
    "unique/skip",
    "difference/skip",
    "random/only",
    "random/seed",
    "find/any",
    "find/with",
    "select/case",
    "copy/types",
    "trim/lines",
    "trim/with",
    "mold/flat",
    "form/part",
    "switch/default",
    "case/all",
    "catch/name",
    "throw/name",
    "break/return",
    "do/next",
    "apply/all",
    "apply/safer",
    "bind/copy",
    "set/any",
    "get/any",
    "new-line/all",
    "new-line/skip",
    "shift/left",
    "shift/logical",
    "to-hex/size",
    "put/case",
};

// The words a program is made of: the natives' and actions' own, then the phrases.
std::vector<std::string> words() {
    std::vector<std::string> all;
    const auto add = [&](std::string_view word) {
        for (std::string_view out : kLeftOut)
            if (out == word) return;
        all.emplace_back(word);
    };
    for (std::string_view word : natives::kWords) add(word);
    for (std::string_view word : kActionWords) add(word);
    for (const char* phrase : kPhrases) all.emplace_back(phrase);
    return all;
}
const std::vector<std::string> kWords = words();

constexpr const char* kValues[] = {
    "0",
    "1",
    "-1",
    "2",
    "3",
    "10",
    "-10",
    "-2147483648",
    "1.5",
    "1e300",
    "-0.0",
    "\"\"",
    "\"abc\"",
    "\"^/^(0)\"",
    "\"\xC3\xA9t\xC3\xA9\"",
    "[]",
    "[[]]",
    "[1 2 3]",
    "[a b c d]",
    "none",
    "#\"a\"",
    "'x",
    ":x",
    "x:",
    "(1 + 2)",
    "[x]",
    "/a",
    "%file",
    "#issue",
    "<tag>",
    "a/b",
    "1x2",
    "3.0.1",
    "$1",
    "#{}",
    "#{FF00}",
    "10:20",
    "1-Jan-2000",
    "(1.5, 2)",
    "(1, 2, 3)",
    "-1x-2",
    "1.2.3.4",
    "$1.50",
    "EUR$-2",
    "1-Jan-2000/10:00+2:00",
    "#[a 1 b \"x\"]",
    "(make vector! [1 2 3])",
    "(make vector! [integer! 8 [127 -128]])",
    "a@b",
    "@ref",
    "null-handle",
    "http://x.y/z",
    "(make hash! [a 1])",
    "(charset \"abc\")",
    "2#{0101}",
    "(make image! 2x2)",
    "(make image! [3x1 #{010203} #{FF}])",
};

template <size_t N>
const char* pick(std::mt19937& rng, const char* const (&items)[N]) {
    return items[rng() % N];
}
const std::string& pick(std::mt19937& rng, const std::vector<std::string>& items) {
    return items[rng() % items.size()];
}

std::string expression(std::mt19937& rng, int depth) {
    const uint32_t r = rng() % 100;
    if (depth > 3 || r < 30) return pick(rng, kValues);
    if (r < 70) return pick(rng, kWords);
    const bool paren = r >= 85;
    std::string text = paren ? "(" : "[";
    const uint32_t n = rng() % (paren ? 5 : 6);
    for (uint32_t i = 0; i < n; ++i) {
        if (i) text += ' ';
        text += expression(rng, depth + 1);
    }
    return text + (paren ? ")" : "]");
}

std::string program(std::mt19937& rng) {
    std::string text =
        "x: 1 y: [a b c] z: \"str\" f: func [a /r b] [a] g: does [1] blk: [1 2 3] str: \"hello\" "
        "obj: make object! [a: 1]\n";
    const uint32_t lines = 1 + rng() % 8;
    for (uint32_t l = 0; l < lines; ++l) {
        text += "try [";
        const uint32_t n = 1 + rng() % 8;
        for (uint32_t i = 0; i < n; ++i) {
            if (i) text += ' ';
            text += expression(rng, 0);
        }
        text += "]\n";
    }
    return text;
}

// Loads and evaluates one program; the stacks are as before afterwards, whatever happened.
void evaluate(const std::string& text) {
    const stack::Saved saved = stack::save();
    try {
        const NodeId code =
            lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
        stack::push(cell::series(TypeId::block, code, 0));
        (void)interp::eval(stack::top_cell(), true);
    } catch (const Thrown&) {
        cycles::reset();
    }
    stack::restore(saved);
}

struct Run {
    long rounds;
    uint32_t seed;
    bool show;
};

int run(void* arg) {
    const Run& r = *static_cast<const Run*>(arg);
    std::mt19937 rng(r.seed);
    boot::start();
    for (long round = 0; round < r.rounds; ++round) {
        const std::string text = program(rng);
        if (r.show) std::fprintf(stderr, "---- round %ld\n%s", round, text.c_str());
        evaluate(text);
        if (round % 200 == 199) {  // programs rebind words: start afresh now and then
            runtime::cleanup();
            boot::start();
        }
    }
    runtime::cleanup();
    std::printf("eval fuzz: %ld programs\n", r.rounds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* show = std::getenv("ZUB_FUZZ_SHOW");
    Run r{argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000,
          argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 20261210u, show && *show == '1'};
    return depth::run_on_evaluator_thread(run, &r);
}
