// ZUB_ASSERT: an internal invariant, checked in the sanitizer and collector-torture builds (and
// with ZUB_ASSERTS defined) and compiled out elsewhere, so a hot path pays nothing for it. A failed
// check is a bug of ours, never a user's error: it reports where and aborts.
#pragma once

#if defined(ZUB_SANITIZE) || defined(ZUB_GC_TORTURE) || defined(ZUB_ASSERTS)
#define ZUB_ASSERTS_ON 1
#define ZUB_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::zub::assert_failed(#condition, __FILE__, __LINE__))
#else
#define ZUB_ASSERTS_ON        0
#define ZUB_ASSERT(condition) static_cast<void>(0)
#endif

namespace zub {

// Writes "internal assertion failed: <condition> at <file>:<line>" on stderr and aborts.
[[noreturn]] void assert_failed(const char* condition, const char* file, int line);

}  // namespace zub
