#include "runtime/cycles.h"

#include <algorithm>
#include <string_view>

#include "runtime/error.h"
#include "runtime/series.h"

namespace zub::cycles {
namespace {

NodeId g_stack[kCapacity];
uint32_t g_top = 0;
uint32_t g_resets = 0;

std::string_view marker(TypeId type, bool mold) {
    if (!mold) return "...";
    switch (type) {
        case TypeId::block:
        case TypeId::hash: return "[...]";
        case TypeId::paren: return "(...)";
        case TypeId::map: return "#[...]";
        case TypeId::object: return "make object! [...]";
        default: return "...";
    }
}

}  // namespace

void push(NodeId series) {
    if (g_top == kCapacity) {
        reset();
        error::fire(ErrorId::too_deep);
    }
    g_stack[g_top++] = series;
}

void pop() {
    if (g_top) --g_top;
}

void drop(uint32_t n) { g_top -= std::min(n, g_top); }
void reset() {
    g_top = 0;
    ++g_resets;
}
uint32_t resets() { return g_resets; }
uint32_t depth() { return g_top; }
const NodeId* walked() { return g_stack; }

bool find(NodeId series) { return std::find(g_stack, g_stack + g_top, series) != g_stack + g_top; }

NodeId series_of(const Cell& value) {
    const TypeId t = cell::type(value);
    return t == TypeId::object || t == TypeId::error || t == TypeId::port ? value.w1 : value.w2;
}

bool mold_marker(const Cell& value, NodeId buffer, int32_t* remaining, bool mold) {
    if (!find(series_of(value))) return false;
    const std::string_view text = marker(cell::type(value), mold);
    series::append_ascii(buffer, text);
    *remaining -= static_cast<int32_t>(text.size());
    return true;
}

}  // namespace zub::cycles
