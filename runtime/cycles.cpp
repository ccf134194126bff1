#include "runtime/cycles.h"

#include <algorithm>
#include <string_view>

#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub::cycles {
namespace {

NodeId g_stack[2 * kMaxNesting];
uint32_t g_top = 0;
uint32_t g_levels = 0;
uint32_t g_resets = 0;

void enter_level() {
    if (g_levels == kMaxNesting) {
        reset();
        error::fire(ErrorId::too_deep);
    }
    ++g_levels;
}

}  // namespace

void push(NodeId series) {
    enter_level();
    g_stack[g_top++] = series;
}

void push_pair(NodeId a, NodeId b) {
    enter_level();
    g_stack[g_top++] = a;
    g_stack[g_top++] = b;
}

void pop() {
    if (!g_top) return;
    --g_top;
    --g_levels;
}

void pop_pair() {
    if (g_top < 2) return;
    g_top -= 2;
    --g_levels;
}

void reset() {
    g_top = 0;
    g_levels = 0;
    ++g_resets;
}
uint32_t resets() { return g_resets; }
uint32_t depth() { return g_top; }
const NodeId* walked() { return g_stack; }

bool find(NodeId series) { return std::find(g_stack, g_stack + g_top, series) != g_stack + g_top; }

NodeId series_of(const Cell& value) { return type_traits::word(value, type_traits::of(cell::type(value)).walk_word); }

bool mold_marker(const Cell& value, NodeId buffer, int32_t* remaining, bool mold) {
    if (!find(series_of(value))) return false;
    const std::string_view text = mold ? type_traits::of(cell::type(value)).cycle_marker : "...";
    series::append_ascii(buffer, text);
    *remaining -= static_cast<int32_t>(text.size());
    return true;
}

}  // namespace zub::cycles
