// The language test runner: the file is split into entries first, then each is evaluated through
// the session and its outcome compared as text.
#include "boot/lang_tests.h"

#include <cstdio>

#include "boot/session.h"
#include "runtime/error.h"

namespace zub::lang_tests {
namespace {

std::string_view trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool starts_with_mark(std::string_view s) { return s.starts_with(";==") || s.starts_with(";!!"); }

// The code on one line in a report: the lines of a longer expression joined by single spaces.
std::string one_line(std::string_view code) {
    std::string shown;
    bool space = false;
    for (const char c : code) {
        if (c == '\n' || c == '\r' || ((c == ' ' || c == '\t') && space)) {
            if (!space && !shown.empty()) shown += ' ';
            space = true;
            continue;
        }
        space = c == ' ' || c == '\t';
        shown += c;
    }
    return std::string(trim(shown));
}

std::string error_words(ErrorId id) {
    return std::string(error::category_word(error::category_of(id))) + " " + std::string(error::id_word(id));
}

}  // namespace

bool leaves_open(std::string_view code) {
    int depth = 0, braces = 0;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (braces > 0) {
            if (c == '^') ++i;
            else if (c == '{') ++braces;
            else if (c == '}') --braces;
            continue;
        }
        switch (c) {
            case ';':
                while (i + 1 < code.size() && code[i + 1] != '\n') ++i;
                break;
            case '"':  // a quoted string (or a character's) ends on its own line
                for (++i; i < code.size() && code[i] != '"' && code[i] != '\n'; ++i)
                    if (code[i] == '^') ++i;
                break;
            case '{': braces = 1; break;
            case '[':
            case '(': ++depth; break;
            case ']':
            case ')':
                if (depth > 0) --depth;
                break;
            default: break;
        }
    }
    return depth > 0 || braces > 0;
}

std::vector<Entry> read_entries(std::string_view text) {
    std::vector<Entry> entries;
    std::string pending;
    int first = 0, last = 0, number = 0;
    const auto end_setup = [&] {
        if (!pending.empty()) entries.push_back({Entry::Kind::setup, pending, first, last, ""});
        pending.clear();
    };
    const auto add = [&](std::string_view code) {
        if (pending.empty()) first = number;
        else pending += '\n';
        pending += code;
        last = number;
    };
    while (!text.empty()) {
        const size_t stop = text.find('\n');
        const std::string_view line = text.substr(0, stop);
        text = stop == std::string_view::npos ? std::string_view{} : text.substr(stop + 1);
        ++number;
        const std::string_view stripped = trim(line);
        const bool open = !pending.empty() && leaves_open(pending);
        if (starts_with_mark(stripped)) {
            const Entry::Kind kind = stripped[2] == '=' ? Entry::Kind::value : Entry::Kind::error;
            const std::string expected(trim(stripped.substr(3)));
            if (pending.empty()) entries.push_back({Entry::Kind::stray, "", number, number, expected});
            else entries.push_back({kind, pending, first, number, expected});
            pending.clear();
            continue;
        }
        if (stripped.empty() || stripped[0] == ';') {
            if (open) add(line);
            continue;
        }
        if (!open) end_setup();
        // The last mark on the line counts; a ";==" anywhere wins over ";!!".
        const size_t value_mark = stripped.rfind(";==");
        const size_t error_mark = stripped.rfind(";!!");
        const size_t mark = value_mark != std::string_view::npos ? value_mark : error_mark;
        if (mark == std::string_view::npos) {
            add(open ? line : stripped);
            continue;
        }
        add(stripped.substr(0, mark));
        const Entry::Kind kind = mark == value_mark ? Entry::Kind::value : Entry::Kind::error;
        entries.push_back({kind, pending, first, number, std::string(trim(stripped.substr(mark + 3)))});
        pending.clear();
    }
    if (!pending.empty() && leaves_open(pending))
        entries.push_back({Entry::Kind::unfinished, pending, first, last, ""});
    else end_setup();
    return entries;
}

int run_file(const std::string& file) {
    std::string text;
    std::string reason;
    if (!session::read_file(file, text, reason)) {
        std::fprintf(stderr, "cannot read %s: %s\n", file.c_str(), reason.c_str());
        return 1;
    }
    int failures = 0, cases = 0;
    for (const Entry& entry : read_entries(text)) {
        std::string failure;
        switch (entry.kind) {
            case Entry::Kind::stray: failure = "an expectation with no expression before it"; break;
            case Entry::Kind::unfinished: failure = "the expression is still open at the end of the file"; break;
            case Entry::Kind::setup: {
                const session::Outcome outcome = session::evaluate(entry.code, false);
                if (!outcome.ok) failure = "set-up raised " + outcome.text;
                break;
            }
            case Entry::Kind::value: {
                const session::Outcome outcome = session::evaluate(entry.code, false);
                if (!outcome.ok) failure = "raised " + outcome.text;
                else if (outcome.text != entry.expected) failure = "gave " + outcome.text;
                break;
            }
            case Entry::Kind::error: {
                const session::Outcome outcome = session::evaluate(entry.code, false);
                if (outcome.ok) failure = "gave " + outcome.text + " instead of an error";
                else if (error_words(outcome.error) != entry.expected)
                    failure = "raised " + error_words(outcome.error) + ": " + outcome.text;
                break;
            }
        }
        if (entry.kind != Entry::Kind::setup) ++cases;
        if (failure.empty()) continue;
        ++failures;
        const std::string from =
            entry.first_line != entry.line ? "(from line " + std::to_string(entry.first_line) + ") " : "";
        std::printf("%s:%d: %s%s\n    expected %s\n    %s\n", file.c_str(), entry.line, from.c_str(),
                    one_line(entry.code).c_str(), entry.expected.empty() ? "no error" : entry.expected.c_str(),
                    failure.c_str());
    }
    std::printf("%s: %d cases, %d failed\n", file.c_str(), cases, failures);
    return failures;
}

}  // namespace zub::lang_tests
