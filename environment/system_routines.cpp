// The routines that reach the process and the machine: the current directory, file existence and
// directory creation, the operating system's description, colour and address tuples, UTF-8
// character counts, the call frames, the clipboard, the collector's switches, and the command line
// that start-up hands to the system object.
#include "environment/system_routines.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/locale.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/platform/os.h"

namespace zub::routines {
namespace {

using native_args::Args;
using native_args::Plain;

// The process's arguments as the system gave them; set once before start-up.
std::vector<std::string> g_command_line;

Cell text_value(std::string_view utf8, TypeId type = TypeId::string) {
    const Cell text = string::make(static_cast<uint32_t>(utf8.size()), type);
    stack::push(text);
    string::append_utf8(cell::series_node(text), utf8);
    stack::pop(1);
    return text;
}

// The first negative component is the one the error names.
void check_components(const Args<Plain::routine>& args, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (args.integer(i) < 0) error::fire(ErrorId::invalid_arg, args[i]);
}

Status as_color(const int32_t* r) {
    const Args<Plain::routine> args(r);
    check_components(args, 3);
    const uint8_t bytes[3] = {static_cast<uint8_t>(args.integer(0)), static_cast<uint8_t>(args.integer(1)),
                              static_cast<uint8_t>(args.integer(2))};
    return args.done(tuple::make(bytes, 3));
}

// The components are or-ed into one 32-bit word without being cut to a byte each: a component
// above 255 spills into the next byte, and what passes the word's top is lost.
Cell ipv4(const Args<Plain::routine>& args) {
    check_components(args, 4);
    const auto at = [&args](uint32_t i) { return static_cast<uint32_t>(args.integer(i)); };
    const uint32_t word = (at(3) << 24) | (at(2) << 16) | (at(1) << 8) | at(0);
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    return tuple::make(bytes, 4);
}
Status as_ipv4(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(ipv4(args));
}
Status as_rgba(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(ipv4(args));
}

// Steps one character at a time, as a UTF-8 reader would; a byte that starts no valid sequence
// counts as one character, so the walk always ends.
Status count_chars(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const NodeId node = args.series(0);
    const uint32_t length = series::length(node);
    const uint32_t end = args.index(1) < length ? args.index(1) : length;
    const std::byte* data = memory::buffer(node)->head_ptr();
    int32_t count = 0;
    for (uint32_t at = args.index(0); at < end; ++count) {
        const unicode::Decoded d = unicode::decode_utf8_char(data + at, end - at);
        at += d.length ? d.length : 1;
    }
    return args.done(cell::integer(count));
}

bool internal_call(symbol::Id symbol) {
    const std::string_view name = symbol::utf8(symbol);
    return name == "<body>" || name == "<anon>";
}

// Innermost call first: its word, then where its arguments start on the evaluation stack.
Status collect_calls(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const Cell blk = args[0];
    for (stack::Frame* f = stack::g_frame_top; f > stack::g_frames;) {
        --f;
        if (f->type != stack::FrameType::function && f->type != stack::FrameType::native) continue;
        if (!f->symbol || internal_call(f->symbol)) continue;
        const uint32_t at = f->saved_args;
        block::append(cell::series_node(blk), words::global(f->symbol));
        block::append(cell::series_node(blk), cell::integer(static_cast<int32_t>(at)));
    }
    return args.done(cell::unset());
}

// zub-cli has no clipboard: reading it fails, and so does writing to it (a value it could never
// take is still refused as it would be with one).
Status read_clipboard(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(false));
}
Status write_clipboard(const int32_t* r) {
    const Args<Plain::routine> args(r);
    check_clipboard_value(args[0]);
    return args.done(cell::logic(false));
}

Status gc_active(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(collector::enabled()));
}
Status gc_series_cycles(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(collector::g_state.cycles)));
}
Status gc_nodes_cycles(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::integer(static_cast<int32_t>(collector::g_state.node_cycles)));
}

// Whether the function around this routine was called by code that runs as written: top-level
// code or a program's own function, not library code (whose functions carry kSystem and count as
// built in). Above the caller's frame lie the function around this routine and this call.
Status caller_interpreted(const int32_t* r) {
    const Args<Plain::routine> args(r);
    int functions = 0;
    for (stack::Frame* f = stack::g_frame_top; f > stack::g_frames;) {
        --f;
        // A function whose arguments are still being gathered is not running its body: the code
        // that gathers them is its caller's.
        if (f->type != stack::FrameType::function || !(f->flags & stack::frame_flag::body)) continue;
        const Cell& caller = context::owner_of(f->function_context);
        if (cell::is(caller, TypeId::routine) || ++functions < 2) continue;
        return args.done(cell::logic(!(caller.header & function::kSystem)));
    }
    return args.done(cell::logic(true));
}

// The catalogue's source, one `category: make object! [code: .. type: ".." id: template ..]` per
// category in order, from the one list of errors the runtime carries. A template that is a word
// (the user message's arg1) stands quoted, so that making the object keeps it a word.
Status error_catalog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    static constexpr ErrorCategory kCategories[] = {
#define ZUB_ERROR_CATEGORY(name, word, text) ErrorCategory::name,
#define ZUB_ERROR(category, name, word, tmpl)
#include "runtime/errors.def"
    };
    static constexpr ErrorId kIds[] = {
#define ZUB_ERROR_CATEGORY(name, word, text)
#define ZUB_ERROR(category, name, word, tmpl) ErrorId::name,
#include "runtime/errors.def"
    };
    std::string source;
    for (const ErrorCategory c : kCategories) {
        source += std::string(error::category_word(c)) +
                  ": make object! [code: " + std::to_string(static_cast<int>(c) * 100) + " type: \"" +
                  std::string(error::category_text(c)) + "\"";
        for (const ErrorId id : kIds) {
            if (error::category_of(id) != c) continue;
            const std::string_view tmpl = error::message_template(id);
            const bool word = !tmpl.empty() && tmpl[0] != '"' && tmpl[0] != '[' && tmpl[0] != '{';
            source += "\n    " + std::string(error::id_word(id)) + ": " + (word ? "'" : "") + std::string(tmpl);
        }
        source += "\n]\n";
    }
    const NodeId code =
        lexer::load(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()));
    return args.done(cell::series(TypeId::block, code));
}

// The fixed currency codes as words, in their order.
Status currency_list(const int32_t* r) {
    const Args<Plain::routine> args(r);
    stack::Rooted result(block::make(locale::kCurrencyCount));
    for (uint32_t i = 1; i <= locale::kCurrencyCount; ++i) {
        const symbol::Id code = symbol::make(locale::currency_code(i));
        block::append(cell::series_node(result.cell()), cell::make(TypeId::word, 0, code));
    }
    return args.done(result.cell());
}

// The global context seen as an object: every global word is a field of it. It has no class and
// no change handlers, and the context keeps its own owner.
Status global_words(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::make(TypeId::object, context::global(), 0, 0));
}

// system/options/float/pretty? switches the float text's pretty rules.
Status float_pretty(const int32_t* r) {
    const Args<Plain::routine> args(r);
    float_::set_pretty(args.logic(0));
    return args.done(cell::unset());
}

// The arguments as a block of strings, the program's own path first.
Status command_line(const int32_t* r) {
    const Args<Plain::routine> args(r);
    stack::Rooted result(block::make(static_cast<uint32_t>(g_command_line.size())));
    for (const std::string& arg : g_command_line) {
        stack::Rooted text(text_value(arg));
        block::append(cell::series_node(result.cell()), text.cell());
    }
    return args.done(result.cell());
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kSystemRoutines[] = {
    {"as-color", as_color},
    {"as-ipv4", as_ipv4},
    {"as-rgba", as_rgba},
    {"count-chars", count_chars},
    {"collect-calls", collect_calls},
    {"read-clipboard", read_clipboard},
    {"write-clipboard", write_clipboard},
    {"gc-active?", gc_active},
    {"gc-series-cycles", gc_series_cycles},
    {"gc-nodes-cycles", gc_nodes_cycles},
    {"caller-interpreted?", caller_interpreted},
    {"command-line", command_line},
    {"error-catalog", error_catalog},
    {"currency-list", currency_list},
    {"global-words", global_words},
    {"float-pretty", float_pretty},
};

}  // namespace

void check_clipboard_value(const Cell& value) {
    if (cell::is(value, TypeId::block)) {
        for (uint32_t i = 0, n = block::length(value); i < n; ++i) {
            const Cell path = block::abs_at(value, block::head_index(value) + i);
            if (!cell::is(path, TypeId::file) && !cell::is(path, TypeId::string))
                error::fire(ErrorId::invalid_arg, path);
        }
        return;
    }
    if (!cell::is(value, TypeId::string) && !cell::is(value, TypeId::image) && !cell::is(value, TypeId::none))
        error::fire(ErrorId::invalid_arg, value);
}

void register_system() {
    for (const Named& r : kSystemRoutines) (void)function::add_routine(r.name, r.entry);
}

void set_command_line(std::vector<std::string> args) { g_command_line = std::move(args); }

}  // namespace zub::routines
