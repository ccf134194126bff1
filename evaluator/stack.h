// The evaluation stack and the call frames. All evaluation runs on two fixed arrays: the data
// stack of cells, where arguments are pushed and results left, and the frame stack, where every
// call, guard and loop records itself. Neither ever moves, so pointers into them stay valid; the
// collector marks both as roots.
//
// Calling convention: mark a frame (the arguments base becomes the current top), push the
// arguments, call; the callee reads them at args()[0], [1], ... and leaves its result in args()[0].
#pragma once

#include <cstdint>

#include "datatypes/values_cache.h"
#include "datatypes/word.h"
#include "runtime/assert.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"

namespace zub::stack {

// Room for a recursion some 100,000 calls deep. The arrays are zero-initialised statics, so the
// pages a program never reaches cost nothing; their sizes are what bounds a runaway recursion.
// The torture build collects at every safe point, walking the whole stack each time, so there a
// runaway recursion is stopped a few thousand calls deep to keep it quick.
#ifdef ZUB_GC_TORTURE
inline constexpr uint32_t kCells = uint32_t{1} << 15;
inline constexpr uint32_t kFrames = uint32_t{1} << 14;
#else
inline constexpr uint32_t kCells = uint32_t{1} << 22;
inline constexpr uint32_t kFrames = uint32_t{1} << 19;
#endif

enum class FrameType : uint8_t {
    function = 0x01,    // a function body; restores its context's values when popped
    native = 0x02,      // a native, action, op or routine call
    try_ = 0x04,        // stops errors
    try_all = 0x05,     // stops errors and turns other exits that would cross it into errors
    catch_ = 0x06,      // stops throw
    eval_block = 0x07,  // the interpreter evaluating a block
    loop = 0x08,        // the target of break and continue
};

namespace frame_flag {
inline constexpr uint8_t body = 0x01;         // the target of exit and return
inline constexpr uint8_t interpreted = 0x02;  // pushed by the interpreter
}  // namespace frame_flag

struct Frame {
    FrameType type;
    uint8_t flags;  // frame_flag bits
    uint16_t spare;
    symbol::Id symbol;        // the called word's symbol
    uint32_t saved_args;      // the arguments base when the frame was pushed (a cell index)
    NodeId word_context;      // the context the called word is bound to, or 0
    NodeId function_context;  // function frames: the function's context
    uint32_t saved_values;    // function frames: that context's values before the call
};

extern Cell g_cells[kCells];
extern Cell* g_top;   // first free cell
extern Cell* g_args;  // arguments base of the call in progress
extern Frame g_frames[kFrames];
extern Frame* g_frame_top;  // first free frame

// Frames named <body> or <anon> are the runtime's own and never shown as calls.
bool is_internal(const Frame& f);

// Empties both stacks. Once at start (and by tests); after the symbol table exists.
void init();

inline Cell& at(uint32_t index) { return g_cells[index]; }
inline uint32_t index_of(const Cell* c) { return static_cast<uint32_t>(c - g_cells); }
inline Cell* args() { return g_args; }
inline uint32_t depth() { return static_cast<uint32_t>(g_frame_top - g_frames); }
inline Frame* current_frame() { return g_frame_top > g_frames ? g_frame_top - 1 : nullptr; }

// Moves the top back five cells (room for the error machinery), empties the cycle guard and
// raises internal stack-overflow.
[[noreturn]] void overflow();

inline Cell* push_slot() {
    if (g_top == g_cells + kCells) overflow();
    return g_top++;
}
inline Cell* push(const Cell& value) {
    Cell* slot = push_slot();
    cell::copy(*slot, value);
    return slot;
}
inline void pop(uint32_t n) { g_top = static_cast<uint32_t>(g_top - g_cells) > n ? g_top - n : g_cells; }
inline void reset() { g_top = g_args; }     // drop everything of the current call
inline void keep() { g_top = g_args + 1; }  // keep its result only
inline void set_last(Cell value) { *g_args = value; }
inline void reset_set_last(Cell value) {
    g_top = g_args + 1;
    *g_args = value;
}
inline Cell& top_cell() { return g_top > g_cells ? g_top[-1] : g_cells[0]; }

[[noreturn]] void frame_overflow();

// The context! cell of a function's context: the first cell of its node, where the place of the
// running call's values on this stack is kept (0 when none runs).
inline Cell& values_place(NodeId function_context) { return memory::buffer(function_context)->cells()[0]; }

// The values of a function context whose values place is `base` (a cell index + 1; 0: no call
// runs, null).
inline Cell* values_at(uint32_t base) { return base ? &g_cells[base - 1] : nullptr; }

// Moves a function context's values to the call whose values begin at cell index base - 1 (0:
// no call).
inline void set_values_place(NodeId function_context, uint32_t base) {
    context::ValuesEntry& e = context::cache_place(function_context);
    if (context::valid(e, function_context)) [[likely]] {
        context::set_values_of(*e.cell, base);
        e.values = values_at(base);
    } else {
        context::set_values_of(values_place(function_context), base);
    }
}

// Puts a function context's values back as they were before the frame's call.
inline void restore_context(const Frame& f) {
    if (f.type == FrameType::function && f.function_context) set_values_place(f.function_context, f.saved_values);
}

// Pushes a frame for a call of the word (its symbol and context are recorded); the arguments
// base moves to the top. Raises internal stack-overflow when the frame stack is full.
inline Frame* mark(FrameType type, Cell word, uint8_t flags = 0) {
    if (g_frame_top == g_frames + kFrames) frame_overflow();
    Frame* f = g_frame_top++;
    *f = Frame{type, flags, 0, word::symbol_of(word), index_of(g_args), word::context_of(word), 0, 0};
    g_args = g_top;
    return f;
}
// A function frame: also records the function's context and its present values, restored when
// the frame is popped (so a recursive call's caller sees its own arguments again).
inline Frame* mark_function(Cell word, NodeId function_context, uint8_t flags = 0) {
    Frame* f = mark(FrameType::function, word, flags);
    f->function_context = function_context;
    f->saved_values = context::values_of(values_place(function_context));
    return f;
}

// Pops the current frame: the arguments base goes back to the caller's and the top to just past
// the popped call's result, which stays where the caller pushed its call.
inline void unwind() {
    Frame* f = --g_frame_top;
    if (f->type == FrameType::function) restore_context(*f);
    Cell* result = g_args;
    g_args = g_cells + f->saved_args;
    g_top = result + 1;
}
// The same, copying the result into the caller's own result cell and dropping the rest.
inline void unwind_last() {
    const Cell result = *g_args;
    unwind();
    *g_args = result;
}
// The same, dropping the result.
inline void unwind_drop() {
    Frame* f = --g_frame_top;
    if (f->type == FrameType::function) restore_context(*f);
    g_top = g_args;
    g_args = g_cells + f->saved_args;
}
// Pops frames (restoring function contexts) until `frame` is the first free one; the data stack
// is left alone. What guards do when an exit passes them.
void unwind_frames_to(Frame* frame);

// The word of the call in progress, for error messages: the nearest frame not named <body> or
// <anon>, as a word in its context; the word <not-found> when there is none. May collect.
Cell call_word();

// Whether the call in progress was made by interpreted code: walks down from the top frame (or
// looks at it alone) for the interpreted flag.
bool interpreted(bool only_one);

// The data stack and frame pointers, kept by guards and restored when an exit reaches them.
struct Saved {
    Cell* top;
    Cell* args;
    Frame* frame_top;
};
inline Saved save() { return {g_top, g_args, g_frame_top}; }
// Pops the frames above the saved ones (restoring function contexts) and puts both pointers back.
void restore(const Saved& saved);

#if ZUB_ASSERTS_ON
class Rooted;
extern Rooted* g_innermost_rooted;  // the Rooted made last of those alive
#endif

// Keeps a value on the evaluation stack for a scope; the top goes back where it was at the end,
// whichever way the scope is left. Rooted values end innermost first, as the stack requires:
// with assertions on, each checks that it is the innermost one alive.
class Rooted {
  public:
    explicit Rooted(Cell value) : slot_(push(value)) {
#if ZUB_ASSERTS_ON
        outer_ = g_innermost_rooted;
        g_innermost_rooted = this;
#endif
    }
    ~Rooted() {
#if ZUB_ASSERTS_ON
        ZUB_ASSERT(g_innermost_rooted == this);
        g_innermost_rooted = outer_;
#endif
        g_top = slot_;
    }
    Rooted(const Rooted&) = delete;
    Rooted& operator=(const Rooted&) = delete;
    Cell& cell() { return *slot_; }

  private:
    Cell* slot_;
#if ZUB_ASSERTS_ON
    Rooted* outer_;  // the innermost one before this
#endif
};

// A frame for the length of a scope: marks on construction, pops on destruction whichever way the
// scope is left (an exception included), leaving the data stack as the scope made it.
class Call {
  public:
    Call(FrameType type, Cell word) : frame_(mark(type, word)) {}
    ~Call() {
        if (g_frame_top > frame_) {
            g_args = g_cells + frame_->saved_args;
            unwind_frames_to(frame_);
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    Frame* frame() const { return frame_; }

  private:
    Frame* frame_;
};

}  // namespace zub::stack
