// Hook lists are plain arrays of function pointers, grown by five; the standard-output writer
// encodes into one static staging buffer, so printing allocates nothing.
#include "system/output.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace zub::output {
namespace {

constexpr uint32_t kHookStep = 5;
constexpr uint32_t kStageSize = 1024;
constexpr uint32_t kLongestSequence = 4;

template <typename Hook>
struct HookList {
    std::unique_ptr<Hook[]> items;  // capacity entries, count of them used
    uint32_t count = 0;
    uint32_t capacity = 0;

    void reset() {
        items = std::make_unique<Hook[]>(kHookStep);
        count = 0;
        capacity = kHookStep;
    }
    void add(Hook hook) {
        if (count == capacity) {
            auto grown = std::make_unique<Hook[]>(capacity + kHookStep);
            for (uint32_t i = 0; i < count; ++i) grown[i] = items[i];
            items = std::move(grown);
            capacity += kHookStep;
        }
        items[count++] = hook;
    }
    void remove(Hook hook) {
        for (uint32_t i = 0; i < count; ++i) {
            if (items[i] != hook) continue;
            for (uint32_t j = i + 1; j < count; ++j) items[j - 1] = items[j];
            --count;
            return;
        }
    }
};

HookList<ValueHook> g_value_hooks;
HookList<TextHook> g_text_hooks;
bool g_last_new_line = true;
WriteCall g_write = ::write;

// Encoded text waiting to be written; only write_string and print_text fill it.
char g_stage[kStageSize];

bool is_high_surrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool is_low_surrogate(uint32_t cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }

// Below U+110000 only: write_string has checked.
uint32_t encode(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | cp >> 6);
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | cp >> 12);
        out[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | cp >> 18);
    out[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

void init() {
    g_value_hooks.reset();
    g_text_hooks.reset();
    g_last_new_line = true;
}

void add_hooks(ValueHook value_hook, TextHook text_hook) {
    if (value_hook != nullptr) g_value_hooks.add(value_hook);
    if (text_hook != nullptr) g_text_hooks.add(text_hook);
}

void remove_hooks(ValueHook value_hook, TextHook text_hook) {
    if (value_hook != nullptr) g_value_hooks.remove(value_hook);
    if (text_hook != nullptr) g_text_hooks.remove(text_hook);
}

uint32_t value_hook_count() { return g_value_hooks.count; }
uint32_t text_hook_count() { return g_text_hooks.count; }

void notify_value_hooks(Cell text, bool new_line) {
    // A hook may add or remove hooks: index afresh each time.
    for (uint32_t i = 0; i < g_value_hooks.count; ++i) g_value_hooks.items[i](text, new_line);
}

void notify_text_hooks(const char* bytes, size_t length) {
    for (uint32_t i = 0; i < g_text_hooks.count; ++i) g_text_hooks.items[i](bytes, length);
}

bool last_new_line() { return g_last_new_line; }
void set_last_new_line(bool on) { g_last_new_line = on; }

// ---- Standard output ----------------------------------------------------------------------------

bool write_all(int fd, const char* bytes, size_t length) {
    while (length > 0) {
        const ssize_t n = g_write(fd, bytes, length);
        if (n > 0) {
            bytes += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{fd, POLLOUT, 0};
            if (::poll(&waiting, 1, -1) >= 0 || errno == EINTR) continue;
        }
        if (n == 0) errno = EIO;  // a write of nothing names no reason of its own
        return false;             // the rest cannot go anywhere
    }
    return true;
}

bool write_string(int fd, Cell text, bool new_line) {
    const NodeId node = cell::series_node(text);
    const uint32_t unit = memory::buffer(node)->unit();
    const uint32_t length = series::length(node);
    const uint32_t head = cell::series_index(text);
    uint32_t i = head < length ? head : length;
    if (unit == 4) {
        const std::byte* data = memory::buffer(node)->head_ptr();
        for (uint32_t k = i; k < length; ++k) {
            const uint32_t cp = series::code_point_at(data, 4, k);
            if (cp > 0x10FFFF) error::fire(ErrorId::invalid_char, cell::character(cp));
        }
    }
    uint32_t used = 0;
    bool open = true;  // the descriptor still takes bytes
    while (i < length) {
        // Nothing below allocates, so the buffer stays put while one stage fills.
        const std::byte* data = memory::buffer(node)->head_ptr();
        while (i < length && used <= kStageSize - kLongestSequence) {
            uint32_t cp = series::code_point_at(data, unit, i++);
            if (cp < 0x80) {
                g_stage[used++] = static_cast<char>(cp);
                continue;
            }
            if (is_high_surrogate(cp) && i < length) {
                const uint32_t low = series::code_point_at(data, unit, i);
                if (is_low_surrogate(low)) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            // A surrogate left alone is no character: U+FFFD, as every text writer has it.
            if (is_high_surrogate(cp) || is_low_surrogate(cp)) cp = 0xFFFD;
            used += encode(cp, g_stage + used);
        }
        if (used > kStageSize - kLongestSequence) {
            open = open && write_all(fd, g_stage, used);
            used = 0;
        }
    }
    if (new_line) g_stage[used++] = '\n';
    if (used > 0 && open) open = write_all(fd, g_stage, used);
    return open;
}

void end_for_stdout(int error_number) {
    // Plain write(2) on stderr: the C streams may hold the lost text and would try it again.
    char text[160];
    const int n =
        std::snprintf(text, sizeof text, "*** cannot write to standard output: %s\n", std::strerror(error_number));
    if (n > 0) {
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, text, static_cast<size_t>(n));
    }
    ::_exit(kStdoutFailedStatus);
}

// C stdio may hold text of the program's own (zub-cli's prompts and results): it goes first, so
// the two keep their order.
void stdout_hook(Cell text, bool new_line) {
    if (std::fflush(stdout) != 0) end_for_stdout(errno);
    if (!write_string(STDOUT_FILENO, text, new_line)) end_for_stdout(errno);
}

void install_stdout() { add_hooks(stdout_hook, nullptr); }

void print_text(std::string_view utf8, bool new_line) {
    if (std::fflush(stdout) != 0) end_for_stdout(errno);
    if (!write_all(STDOUT_FILENO, utf8.data(), utf8.size())) end_for_stdout(errno);
    if (new_line && !write_all(STDOUT_FILENO, "\n", 1)) end_for_stdout(errno);
    notify_text_hooks(utf8.data(), utf8.size());
    if (new_line) notify_text_hooks("\n", 1);
}

void set_write_call(WriteCall call) { g_write = call != nullptr ? call : ::write; }

}  // namespace zub::output
