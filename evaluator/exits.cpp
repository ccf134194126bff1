// The searches only read the frame stack; the frames themselves are popped by the guards and
// calls that the exit passes on its way (their scope ends), so nothing here unwinds.
#include "evaluator/exits.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "datatypes/error_value.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::exits {

Cell g_value = cell::unset();

namespace {

Cell g_thrown = cell::unset();
Cell g_thrown_name = cell::none();

void keep_roots() {
    collector::keep_root(g_value);
    collector::keep_root(g_thrown);
    collector::keep_root(g_thrown_name);
}

enum class Search { found, crossed_guard, missing };

// Walks down the frames from the one `skip` below the top.
template <typename IsTarget>
Search search(uint32_t skip, IsTarget is_target) {
    for (int64_t i = int64_t{stack::depth()} - 1 - skip; i >= 0; --i) {
        const stack::Frame& f = stack::g_frames[i];
        if (f.type == stack::FrameType::try_all) return Search::crossed_guard;
        if (is_target(f)) return Search::found;
    }
    return Search::missing;
}

// The native that starts an exit has its own frame on top; the search starts below it.
constexpr uint32_t kBelowTop = 1;

}  // namespace

const Cell& thrown_value() { return g_thrown; }
const Cell& thrown_name() { return g_thrown_name; }

void refuse_escape(Status status) {
    switch (status) {
        case Status::normal: return;
        case Status::break_: error::fire(ErrorId::break_);
        case Status::continue_: error::fire(ErrorId::continue_);
        default: error::fire(ErrorId::return_);
    }
}

void reset() {
    g_value = cell::unset();
    g_thrown = cell::unset();
    g_thrown_name = cell::none();
    collector::add_root_walker(keep_roots);
}

Status raise_break(bool has_value, bool is_continue) {
    const Search s = search(kBelowTop, [](const stack::Frame& f) { return f.type == stack::FrameType::loop; });
    if (s != Search::found) error::fire(is_continue ? ErrorId::continue_ : ErrorId::break_);
    g_value = has_value && !is_continue ? *stack::args() : cell::unset();
    return is_continue ? Status::continue_ : Status::break_;
}

Status raise_exit(bool is_return, bool keep_current) {
    const Search s = search(keep_current ? 0 : kBelowTop,
                            [](const stack::Frame& f) { return (f.flags & stack::frame_flag::body) != 0; });
    if (s != Search::found) error::fire(ErrorId::return_);
    g_value = is_return ? *stack::args() : cell::unset();
    return is_return ? Status::return_ : Status::exit_;
}

void throw_value(Cell value, Cell name) {
    const Search s = search(kBelowTop, [](const stack::Frame& f) { return f.type == stack::FrameType::catch_; });
    // The name rides along as arg2, so code that stopped the throw can throw it again as it was.
    if (s != Search::found) error::fire(ErrorId::throw_, value, cell::is(name, TypeId::unset) ? cell::none() : name);
    g_thrown = value;
    g_thrown_name = name;
    throw Thrown{ThrownCode::throw_};
}

namespace {

// A code point a report shows escaped: a control character or a lone surrogate would cut the
// report short (NUL) or make it text that is not UTF-8.
bool shown_escaped(uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0xD800 && cp <= 0xDFFF); }

// Copies the formed report, escaping what shown_escaped names as mold escapes it; a line end
// that starts the report's next "*** " line stays. May collect.
void append_report(NodeId out, NodeId formed) {
    const uint32_t n = series::length(formed);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t cp = string::char_at(formed, i);
        const bool line_break = cp == '\n' && i + 4 < n && string::char_at(formed, i + 1) == '*' &&
                                string::char_at(formed, i + 2) == '*' && string::char_at(formed, i + 3) == '*' &&
                                string::char_at(formed, i + 4) == ' ';
        if (!shown_escaped(cp) || line_break) {
            string::append_char(out, cp);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            const char text[] = {'^',           '(', kHex[cp >> 12], kHex[(cp >> 8) & 15], kHex[(cp >> 4) & 15],
                                 kHex[cp & 15], ')'};
            string::append_literal(out, {text, sizeof text});
        } else {
            (void)string::append_escaped_char(out, cp, false);
        }
    }
}

}  // namespace

int32_t form_pending_error(NodeId out, int32_t limit) {
    stack::push(cell::series(TypeId::string, out));  // kept while the error value is made
    const NodeId formed = series::alloc_with_unit(64, 1);
    stack::push(cell::series(TypeId::string, formed));
    const Cell error = error_value::from_pending();
    stack::push(error);
    limit = error_value::form(error, formed, limit);
    append_report(out, formed);
    stack::pop(3);
    return limit;
}

void report_uncaught() {
    const NodeId out = series::alloc_with_unit(64, 1);
    form_pending_error(out, 0x7FFFFFFF);
    series::append_ascii(out, "\n");
    Cell text = cell::series(TypeId::string, out);
    const unicode::Converted utf8 = unicode::string_to_utf8(text);
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, utf8.data, utf8.size);
    std::exit(254);
}

}  // namespace zub::exits
