// The evaluator's thread and the depth guard. Evaluation recurses on the C++ stack (nested blocks,
// function calls, mold of nested data), so it runs on a thread with a large stack, and recursive
// paths check the stack's depth: running out is internal stack-overflow, an error a try can catch,
// never a crash.
#pragma once

#include <cstddef>

namespace zub::depth {

#ifdef ZUB_SANITIZE
// AddressSanitizer cannot clean up after an exception on stacks above 64 MB.
inline constexpr size_t kEvaluatorStack = size_t{60} << 20;
#else
inline constexpr size_t kEvaluatorStack = size_t{512} << 20;  // reserved, committed as used
#endif
inline constexpr size_t kReserve = size_t{256} << 10;  // kept for raising and unwinding

extern const char* g_limit;  // the deepest address the guarded paths may reach

// Records the current thread's stack: `size` bytes below the caller's frame.
void enter_thread(size_t size);
// Raises internal stack-overflow.
[[noreturn]] void overflow();

// The stack pointer, read from its register: asking for the frame's address instead would make
// every function that checks keep a frame pointer, one register fewer on the hottest paths.
inline const char* stack_pointer() {
#if defined(__x86_64__)
    const char* sp;
    asm("mov %%rsp, %0" : "=r"(sp));
    return sp;
#else
    return static_cast<const char*>(__builtin_frame_address(0));
#endif
}

// Call on every recursive step that user data or code can drive.
inline void check() {
    if (stack_pointer() < g_limit) overflow();
}

// Runs fn(arg) on a new thread with the evaluator's stack, guarded, and returns its result.
int run_on_evaluator_thread(int (*fn)(void*), void* arg);

}  // namespace zub::depth
