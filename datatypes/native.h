// The payloads of native! and action! (an entry number, the argument block and a context series) and
// of op!: the cell of the native!, action!, function! or routine! it was made from, retyped, with
// that source type kept in header bits 16-23.
#pragma once

#include "runtime/cell.h"

namespace zub::native {

// The entry a native! or action! calls: its 1-based place in the natives table or the actions'.
// An op! made from one keeps it.
inline uint32_t entry_number(const Cell& fn) { return fn.w1; }

}  // namespace zub::native

namespace zub::op {

inline constexpr uint32_t kSourceShift = 16;  // header bits of the source type
inline constexpr uint32_t kSourceMask = 0xFFu << kSourceShift;

inline TypeId source_type(const Cell& op) { return static_cast<TypeId>((op.header & kSourceMask) >> kSourceShift); }

// Whether w1 holds a context: made from a function! or routine!, not a built-in's entry index.
inline bool from_function(const Cell& op) {
    const TypeId source = source_type(op);
    return source == TypeId::function || source == TypeId::routine;
}

// An op! of a callable, and the callable again.
inline Cell from(Cell callable) {
    const auto source = static_cast<uint32_t>(callable.header & 0xFF);
    callable.header =
        (callable.header & ~kSourceMask & ~0xFFu) | static_cast<uint32_t>(TypeId::op) | source << kSourceShift;
    return callable;
}
inline Cell target(Cell op) {
    const uint32_t source = (op.header & kSourceMask) >> kSourceShift;
    op.header = (op.header & ~0xFFu & ~kSourceMask) | source;
    return op;
}

}  // namespace zub::op
