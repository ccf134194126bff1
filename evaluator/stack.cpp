// Frames are fixed records in one array; marking and unwinding are a few stores each. A function
// frame remembers where its context's values were, so popping it, by any road, puts them back.
#include "evaluator/stack.h"

#include "datatypes/context.h"
#include "datatypes/word.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"

namespace zub::stack {

Cell g_cells[kCells];
Cell* g_top = g_cells;
Cell* g_args = g_cells;
Frame g_frames[kFrames];
Frame* g_frame_top = g_frames;
#if ZUB_ASSERTS_ON
Rooted* g_innermost_rooted = nullptr;
#endif

bool is_internal(const Frame& f) {
    return f.symbol == words::id(words::Word::body_tag) || f.symbol == words::id(words::Word::anon_tag);
}

void frame_overflow() { overflow(); }

namespace {

void keep_roots() {
    collector::keep_roots(g_cells, g_top);
    for (const Frame* f = g_frames; f < g_frame_top; ++f) {
        collector::keep_root_cells(f->word_context);
        collector::keep_root_cells(f->function_context);
    }
}

// The calls are copied now: by the time a guard looks at the error, their frames are reused.
void capture_calls(error::Pending& p) {
    for (Frame* f = g_frame_top; f > g_frames && p.trace_count < error::kTraceDepth;) {
        --f;
        if (is_internal(*f)) continue;
        if (f->type == FrameType::function) p.trace_functions |= 1u << p.trace_count;
        p.trace[p.trace_count++] = f->symbol;
    }
    if (p.trace_count) p.where = p.trace[0];
}

}  // namespace

void init() {
    g_top = g_args = g_cells;
    g_frame_top = g_frames;
    collector::add_root_walker(keep_roots);
    error::set_call_capture(capture_calls);
#if ZUB_ASSERTS_ON
    g_innermost_rooted = nullptr;
#endif
}

void overflow() {
    g_top = index_of(g_top) > 5 ? g_top - 5 : g_cells;
    cycles::reset();
    error::fire(ErrorId::stack_overflow);
}

void unwind_frames_to(Frame* frame) {
    while (g_frame_top > frame) restore_context(*--g_frame_top);
}

void restore(const Saved& saved) {
    unwind_frames_to(saved.frame_top);
    g_top = saved.top;
    g_args = saved.args;
}

Cell call_word() {
    for (Frame* f = g_frame_top; f > g_frames;) {
        --f;
        if (is_internal(*f)) continue;
        if (f->word_context) {
            const int32_t index = context::find_word(f->word_context, f->symbol, true);
            if (index >= 0) {
                Cell word = context::word_at(f->word_context, static_cast<uint32_t>(index));
                word::set_symbol(word, f->symbol);
                return word;
            }
        }
        return words::global(f->symbol);
    }
    return words::global(words::id(words::Word::not_found_tag));
}

bool interpreted(bool only_one) {
    for (Frame* f = g_frame_top; f > g_frames;) {
        --f;
        if (f->flags & frame_flag::interpreted) return true;
        if (only_one) return false;
    }
    return false;
}

}  // namespace zub::stack
