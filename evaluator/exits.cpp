// The searches only read the frame stack; the frames themselves are popped by the guards and
// calls that the exit passes on its way (their scope ends), so nothing here unwinds.
#include "evaluator/exits.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::exits {
namespace {

Cell g_value = cell::unset();
Cell g_thrown = cell::unset();
Cell g_thrown_name = cell::none();

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

Cell& value() { return g_value; }
const Cell& thrown_value() { return g_thrown; }
const Cell& thrown_name() { return g_thrown_name; }

Status raise_break(bool has_value, bool is_continue) {
    const Search s = search(kBelowTop, [](const stack::Frame& f) { return f.type == stack::FrameType::loop; });
    if (s != Search::found) error::fire(is_continue ? ErrorId::continue_ : ErrorId::break_);
    g_value = has_value && !is_continue ? *stack::args() : cell::unset();
    return is_continue ? Status::continue_ : Status::break_;
}

Status raise_exit(bool is_return, bool keep_current) {
    const Search s = search(keep_current ? 0 : kBelowTop, [](const stack::Frame& f) { return (f.flags & stack::frame_flag::body) != 0; });
    if (s != Search::found) error::fire(ErrorId::return_);
    g_value = is_return ? *stack::args() : cell::unset();
    return is_return ? Status::return_ : Status::exit_;
}

void throw_value(Cell value, Cell name) {
    const Search s = search(kBelowTop, [](const stack::Frame& f) { return f.type == stack::FrameType::catch_; });
    if (s != Search::found) error::fire(ErrorId::throw_, value);
    g_thrown = value;
    g_thrown_name = name;
    throw Thrown{ThrownCode::throw_};
}

namespace {

constexpr int32_t kArgumentLimit = 80;

// One argument as the message shows it: formed for syntax errors, else molded flat, cut to 80.
int32_t emit_argument(const Cell& value, bool syntax, NodeId out, int32_t limit) {
    const NodeId piece = series::alloc_with_unit(16, 1);
    const ActionTable& table = registry::actions(cell::type(value));
    if (syntax) {
        table.form(value, piece, kArgumentLimit);
    } else {
        table.mold(value, piece, MoldFlags{false, false, true, 0}, kArgumentLimit);
    }
    if (series::length(piece) > static_cast<uint32_t>(kArgumentLimit)) series::set_tail(piece, kArgumentLimit + 1);
    Cell text = cell::series(TypeId::string, piece);
    const unicode::Converted utf8 = unicode::string_to_utf8(text);
    unicode::load_utf8(unicode::series_input(text.w3, 0, utf8.size), out);
    return limit - static_cast<int32_t>(series::length(piece));
}

// Walks a message template: a string literal, an argument word, or a block of both.
int32_t emit_template(std::string_view t, const error::Pending& p, NodeId out, int32_t limit) {
    const bool syntax = error::category_of(p.id) == ErrorCategory::syntax;
    bool first = true;
    size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        if (c == '[' || c == ']' || c == ' ') {
            ++i;
            continue;
        }
        if (!first) limit = mold::emit(out, " ", limit);
        first = false;
        if (c == '"') {
            const size_t end = t.find('"', i + 1);
            limit = mold::emit(out, t.substr(i + 1, end - i - 1), limit);
            i = end + 1;
            continue;
        }
        size_t end = t.find_first_of(" ]", i);
        if (end == std::string_view::npos) end = t.size();
        const std::string_view word = t.substr(i, end - i);
        const int n = word.back() - '1';  // arg1, :arg2 ...
        limit = emit_argument(p.args[n], syntax, out, limit);
        i = end;
    }
    return limit;
}

}  // namespace

int32_t form_pending_error(NodeId out, int32_t limit) {
    const error::Pending& p = error::pending();
    limit = mold::emit(out, "*** ", limit);
    limit = mold::emit(out, error::category_text(error::category_of(p.id)), limit);
    limit = mold::emit(out, ": ", limit);
    limit = emit_template(error::message_template(p.id), p, out, limit);
    limit = mold::emit(out, "\n*** Where: ", limit);
    if (p.where) {
        symbol::append_name(p.where, out);
        limit -= static_cast<int32_t>(symbol::name_length(p.where));
    } else {
        limit = mold::emit(out, "???", limit);
    }
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
