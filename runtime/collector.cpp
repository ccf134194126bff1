// Marking sets a bit in each reachable buffer and queues cell series on a work list; compaction
// then walks every frame once, sliding marked buffers down over the dead ones. A buffer left
// unmarked is garbage: its node goes back to the free list (buffers abandoned by expansion have
// none).
#include "runtime/collector.h"

#include <cstring>
#include <vector>

#include "evaluator/exits.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/hash_index.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zub::collector {

State g_state{};

namespace {

struct Root {
    const NodeId* slot;
    RootKind kind;
};

std::vector<Root> g_roots;
std::vector<const Cell*> g_cell_roots;
std::vector<NodeId> g_work;        // cell series marked but not yet scanned
std::vector<NodeId> g_unmanaged;   // marked buffers outside the frames, unmarked at the end

bool keep(NodeId node) {
    if (node == 0) return false;
    SeriesBuffer* b = memory::buffer(node);
    if (b->flags & series_flag::marked) return false;
    b->flags |= series_flag::marked;
    if (b->flags & series_flag::unmanaged) g_unmanaged.push_back(node);
    return true;
}

void keep_cells(NodeId node) {
    if (keep(node)) g_work.push_back(node);
}

void keep_table(NodeId node) {
    if (!keep(node)) return;
    const hashtable::Table t = *hashtable::table(node);
    keep(t.states);
    keep(t.keys);
    const auto kind = static_cast<hashtable::Kind>(t.kind);
    if (kind == hashtable::Kind::hash) {
        keep(t.aux);
        keep(t.duplicates);
        hash_index::for_each_chain(node, [](NodeId chain) { keep(chain); });
    }
    keep_cells(t.indexed);
    if (kind == hashtable::Kind::records || kind == hashtable::Kind::ownership) {
        // A record keeps the series it is about.
        hashtable::for_each_record(node, [](uint32_t key, Cell*) {
            if (keep(key) && memory::buffer(key)->unit() == sizeof(Cell)) g_work.push_back(key);
        });
    }
}

void mark_cell(const Cell& c) {
    switch (cell::type(c)) {
        case TypeId::block:
        case TypeId::paren:
        case TypeId::path:
        case TypeId::lit_path:
        case TypeId::set_path:
        case TypeId::get_path: keep_cells(c.w2); break;
        case TypeId::hash:
        case TypeId::map:
            keep_cells(c.w2);
            if (c.w3) keep_table(c.w3);
            break;
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref:
        case TypeId::symbol:
            keep(c.w2);
            keep(c.w3);  // the conversion buffer, or a symbol's UTF-8 name
            break;
        case TypeId::binary:
        case TypeId::vector:
        case TypeId::bitset:
        case TypeId::image: keep(c.w2); break;
        case TypeId::context:
            keep_table(c.w1);
            if (!(c.header & cell_flag::stack_values)) keep_cells(c.w2);
            break;
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement:
        case TypeId::issue: keep_cells(c.w1); break;
        case TypeId::op: {
            const auto made_from = static_cast<TypeId>((c.header >> 16) & 0xFF);
            if (made_from == TypeId::function || made_from == TypeId::routine) keep_cells(c.w1);
            keep_cells(c.w2);
            keep_cells(c.w3);
            break;
        }
        case TypeId::native:
        case TypeId::action:
            keep_cells(c.w2);
            keep_cells(c.w3);
            break;
        case TypeId::function:
        case TypeId::routine:
            keep_cells(c.w1);
            keep_cells(c.w2);
            keep_cells(c.w3);
            break;
        case TypeId::object:
        case TypeId::error:
        case TypeId::port:
            keep_cells(c.w1);
            keep(c.w3);
            break;
        case TypeId::event:
            if (c.header & cell_flag::event_series) keep_cells(c.w2);
            break;
        default: break;
    }
}

void drain() {
    while (!g_work.empty()) {
        const NodeId node = g_work.back();
        g_work.pop_back();
        SeriesBuffer* b = memory::buffer(node);  // marking never moves anything
        const Cell* cells = b->cells();
        const uint32_t n = b->used() / sizeof(Cell);
        for (uint32_t i = 0; i < n; ++i) mark_cell(cells[i]);
    }
}

void mark_roots() {
    for (const Cell* c = stack::g_cells; c < stack::g_top; ++c) mark_cell(*c);
    for (const stack::Frame* f = stack::g_frames; f < stack::g_frame_top; ++f) {
        keep_cells(f->word_context);
        keep_cells(f->function_context);
    }
    mark_cell(exits::value());
    mark_cell(exits::thrown_value());
    mark_cell(exits::thrown_name());
    for (const Cell& arg : error::pending().args) mark_cell(arg);
    for (const Root& r : g_roots) {
        if (r.kind == RootKind::table) {
            keep_table(*r.slot);
        } else if (*r.slot && memory::buffer(*r.slot)->unit() == sizeof(Cell)) {
            keep_cells(*r.slot);
        } else {
            keep(*r.slot);
        }
    }
    for (const Cell* c : g_cell_roots) mark_cell(*c);
    drain();
}

// Slides the marked buffers of a frame down over the dead ones.
void compact(SeriesFrame* f) {
    std::byte* to = f->data();
    for (std::byte* p = f->data(); p < f->alloc;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        const uint32_t length = b->size + kBufferOverhead;
        if (b->flags & series_flag::marked) {
            b->flags &= ~series_flag::marked;
            if (to != p) {
                std::memmove(to, p, length);
                auto* moved = reinterpret_cast<SeriesBuffer*>(to);
                memory::node_slot(moved->node) = reinterpret_cast<uintptr_t>(moved);
            }
            to += length;
        } else if (b->node && memory::buffer(b->node) == b) {
            memory::free_node(b->node);
        }
        p += length;
    }
#ifdef ZUB_GC_TORTURE
    std::memset(to, 0xA5, static_cast<size_t>(f->alloc - to));  // stale pointers read garbage at once
#endif
    f->alloc = to;
}

void sweep_big_series() {
    memory::Record& r = memory::record();
    for (BigSeries* big = r.first_big; big;) {
        BigSeries* next = big->next;
        SeriesBuffer* b = big->buffer();
        if (b->flags & series_flag::marked) {
            b->flags &= ~series_flag::marked;
        } else {
            if (b->node && memory::buffer(b->node) == b) memory::free_node(b->node);
            if (big->prev) big->prev->next = big->next; else r.first_big = big->next;
            if (big->next) big->next->prev = big->prev; else r.last_big = big->prev;
            memory::free_virtual(big);
        }
        big = next;
    }
}

}  // namespace

void reset() {
    g_state.cycles = 0;
    g_state.node_cycles = 0;
    g_state.holds = 0;
    g_roots.clear();
    g_cell_roots.clear();
}

void add_root(const NodeId* slot, RootKind kind) { g_roots.push_back({slot, kind}); }
void add_cell_root(const Cell* cell) { g_cell_roots.push_back(cell); }

void collect() {
    if (g_state.enabled && g_state.holds == 0) do_cycle();
}

void do_cycle() {
    if (g_state.holds || g_state.active) return;
    g_state.active = true;
    mark_roots();
    for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) compact(f);
    sweep_big_series();
    for (NodeId node : g_unmanaged) memory::buffer(node)->flags &= ~series_flag::marked;
    g_unmanaged.clear();
    memory::record().current_series_frame = memory::record().first_series_frame;
    ++g_state.cycles;
    g_state.active = false;
}

}  // namespace zub::collector
