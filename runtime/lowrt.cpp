// The live list is intrusive: each block carries a small header linking it to its neighbours.
#include "runtime/lowrt.h"

#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zub::lowrt {
namespace {

struct alignas(16) BlockHeader {
    BlockHeader* prev;  // live list, newest first
    BlockHeader* next;
    size_t size;  // bytes asked for
};

BlockHeader* g_live = nullptr;
size_t g_blocks = 0;
size_t g_bytes = 0;

void link(BlockHeader* h) {
    h->prev = nullptr;
    h->next = g_live;
    if (g_live) g_live->prev = h;
    g_live = h;
    ++g_blocks;
    g_bytes += h->size;
}

void unlink(BlockHeader* h) {
    if (h->prev) h->prev->next = h->next;
    else g_live = h->next;
    if (h->next) h->next->prev = h->prev;
    --g_blocks;
    g_bytes -= h->size;
}

BlockHeader* header_of(void* block) { return static_cast<BlockHeader*>(block) - 1; }

}  // namespace

void* allocate(size_t size) {
    auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!h) fatal(Fatal::out_of_memory);
    h->size = size;
    link(h);
    return h + 1;
}

void* resize(void* block, size_t size) {
    if (!block) return allocate(size);
    BlockHeader* h = header_of(block);
    unlink(h);
    auto* moved = static_cast<BlockHeader*>(std::realloc(h, sizeof(BlockHeader) + size));
    if (!moved) {
        link(h);
        fatal(Fatal::out_of_memory);
    }
    moved->size = size;
    link(moved);
    return moved + 1;
}

void free(void* block) {
    if (!block) return;
    BlockHeader* h = header_of(block);
    unlink(h);
    std::free(h);
}

void free_all() {
    while (g_live) {
        BlockHeader* h = g_live;
        g_live = h->next;
        std::free(h);
    }
    g_blocks = 0;
    g_bytes = 0;
}

size_t live_blocks() { return g_blocks; }
size_t live_bytes() { return g_bytes; }

std::string_view fatal_message(int code) {
    switch (code) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return code >= 1 && code <= 34 ? "processor exception" : "unknown error";
    }
}

namespace {

MessageBox g_message_box = nullptr;
volatile sig_atomic_t g_in_fault_handler = 0;

}  // namespace

void set_message_box(MessageBox box) { g_message_box = box; }

void report_error(int code, uintptr_t address) {
    if (code == 0) {
        free_all();
        std::exit(0);
    }
    // snprintf into a stack buffer and write(2): nothing here allocates, so a fault inside the
    // allocator or a signal handler can still report.
    char text[160];
    const std::string_view message = fatal_message(code);
    const int n = std::snprintf(text, sizeof text, "*** Runtime Error %d: %.*s\n*** at: %08lXh\n", code,
                                static_cast<int>(message.size()), message.data(), static_cast<unsigned long>(address));
    if (n > 0) {
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, text, static_cast<size_t>(n));
        const MessageBox box = g_message_box;
        g_message_box = nullptr;
        if (box && !g_in_fault_handler) {
            if (n < static_cast<int>(sizeof text)) text[n - 1] = '\0';  // the box needs no last line end
            box("Zub App Error", text);
        }
    }
    ::_exit(code);
}

#ifndef ZUB_SANITIZE
namespace {

int fault_number(int signal) {
    switch (signal) {
        case SIGSEGV: return static_cast<int>(Fault::access_violation);
        case SIGBUS: return static_cast<int>(Fault::bus_error);
        case SIGFPE: return static_cast<int>(Fault::arithmetic);
        default: return static_cast<int>(Fault::illegal_instruction);
    }
}

void on_fault(int signal, siginfo_t* info, void*) {
    g_in_fault_handler = 1;
    report_error(fault_number(signal), reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr));
}

}  // namespace
#endif

void install_fault_handlers() {
#ifndef ZUB_SANITIZE
    struct sigaction action {};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signal, &action, nullptr);
    use_signal_stack();
#endif
}

void use_signal_stack() {
#ifndef ZUB_SANITIZE
    static thread_local char stack[64 * 1024];
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = sizeof stack;
    sigaltstack(&alternate, nullptr);
#endif
}

}  // namespace zub::lowrt
