// Loading and evaluating source for the programs, with the error formed into text when one ends it.
#include "boot/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "boot/boot.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::session {
namespace {

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

}  // namespace

Outcome evaluate(std::string_view source, bool skip_header, bool mold_result) {
    const stack::Saved saved = stack::save();
    try {
        const NodeId code =
            lexer::load(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()));
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

bool read_file(const std::string& name, std::string& text, std::string& reason) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    // A folder opens like a file and reads as nothing: say so instead of running nothing.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        reason = std::strerror(EISDIR);
        return false;
    }
    text.clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace zub::session
