// The natives that start other programs: `call` (system/process.h does the work) and `browse`.
// Texts cross to the system as UTF-8; what a child writes comes back appended to the series given.
#include <string>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/process.h"

namespace zub::natives {

namespace {

using native_args::Args;

// A text value from its head as UTF-8; a NUL in it would cut the argument or path the system
// sees, so it is refused.
std::string text_utf8(const Cell& text) {
    const NodeId node = cell::series_node(text);
    const uint32_t unit = series::unit(node);
    const uint32_t length = series::length(node);
    const uint32_t head = cell::series_index(text) < length ? cell::series_index(text) : length;
    const std::byte* data = memory::buffer(node)->head_ptr();
    std::string out(unicode::utf8_size(data + size_t{head} * unit, data + size_t{length} * unit, unit), '\0');
    out.resize(unicode::string_to_utf8_into(text, reinterpret_cast<std::byte*>(out.data()),
                                            static_cast<uint32_t>(out.size()), unicode::kWhole, false));
    if (out.find('\0') != std::string::npos) error::fire(ErrorId::invalid_arg, text);
    return out;
}

std::string bytes_or_text(const Cell& value) {
    if (cell::is(value, TypeId::binary)) return std::string(binary::bytes_of(value));
    return text_utf8(value);
}

void prepare_output(const Cell* value, process::Output& out, std::string& bytes) {
    if (!value) return;
    if (cell::is(*value, TypeId::file)) {
        out.kind = process::Redirect::file;
        out.path = text_utf8(*value);
    } else {
        out.kind = process::Redirect::bytes;
        out.bytes = &bytes;
    }
}

// What the child wrote, added at the tail: bytes as they are, text decoded from UTF-8.
void deliver(const Cell* value, const std::string& bytes) {
    if (!value || bytes.empty() || cell::is(*value, TypeId::file)) return;
    const NodeId node = cell::series_node(*value);
    if (cell::is(*value, TypeId::binary)) series::append_bytes(node, bytes.data(), static_cast<uint32_t>(bytes.size()));
    else string::append_utf8(node, bytes);
}

[[noreturn]] void cannot_start(const process::Result& result) {
    const Cell what = string::make(static_cast<uint32_t>(result.failed.size()));
    stack::Rooted keep(what);
    string::append_utf8(cell::series_node(what), result.failed);
    error::fire(ErrorId::cannot_open, what);
}

}  // namespace

// A program that cannot be started, or a redirection file that cannot be opened, is an error
// naming it, rather than a -1 that reads like an exit code.
Status call_entry(const int32_t* refinements) {
    const Args<Native::call> args(refinements);
    const Cell cmd = args[0];
    process::Request request;
    request.command = text_utf8(cmd);
    if (request.command.empty()) return args.done(cell::integer(0));
    request.program = cell::is(cmd, TypeId::file);
    request.wait = args.has<"wait">();
    request.console = args.has<"console">();
    request.shell = args.has<"shell">();
    std::string input;
    if (args.has<"input">()) {
        const Cell in = *args.arg<"input">();
        if (cell::is(in, TypeId::file)) {
            request.in.kind = process::Redirect::file;
            request.in.path = text_utf8(in);
        } else {
            request.in.kind = process::Redirect::bytes;
            input = bytes_or_text(in);
            request.in.bytes = input;
        }
    }
    const Cell* out = args.has<"output">() ? args.arg<"output">() : nullptr;
    const Cell* err = args.has<"error">() ? args.arg<"error">() : nullptr;
    std::string out_bytes, err_bytes;
    prepare_output(out, request.out, out_bytes);
    prepare_output(err, request.err, err_bytes);
    const process::Result result = process::run(request);
    if (result.error) cannot_start(result);
    deliver(out, out_bytes);
    deliver(err, err_bytes);
    return args.done(cell::integer(static_cast<int32_t>(result.value)));
}

// The opener's own failure (no browser, an unknown file) is an error naming the target.
Status browse_entry(const int32_t* refinements) {
    const Args<Native::browse> args(refinements);
    const Cell target = args[0];
    const process::Result result = process::browse(text_utf8(target));
    if (result.error) cannot_start(result);
    if (result.value != 0) error::fire(ErrorId::cannot_open, target);
    return args.done(cell::unset());
}

}  // namespace zub::natives
