// Marking sets a bit in each reachable buffer and queues cell series on a work list; compaction
// then walks every frame once, sliding marked buffers down over the dead ones or into the free end
// of the frame before, so that later frames drain and go back to the system. A buffer left
// unmarked is garbage: its node goes back to the free list (buffers abandoned by expansion have
// none).
#include "runtime/collector.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/hash_index.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/type_traits.h"

namespace zub::collector {

State g_state{};

namespace {

// A frame receives runs from the frame after it only while it has this much room.
constexpr uint64_t kSpillRoom = 0xCCCD;

struct Root {
    const NodeId* slot;
    RootKind kind;
};

std::vector<Root> g_roots;
std::vector<const Cell*> g_cell_roots;
std::vector<RootWalker> g_walkers;
const NodeId* g_weak_records = nullptr;
std::vector<NodeId> g_work;       // cell series marked but not yet scanned
std::vector<NodeId> g_unmanaged;  // marked buffers outside the frames, unmarked at the end
uint64_t g_newly_marked = 0;      // buffers marked so far in this cycle

bool marked(NodeId node) { return node && (memory::buffer(node)->flags & series_flag::marked); }

bool keep(NodeId node) {
    if (node == 0) return false;
    SeriesBuffer* b = memory::buffer(node);
    if (b->flags & series_flag::marked) return false;
    b->flags |= series_flag::marked;
    ++g_newly_marked;
    if (b->flags & series_flag::unmanaged) g_unmanaged.push_back(node);
    return true;
}

void keep_cells(NodeId node) {
    if (keep(node)) g_work.push_back(node);
}

// A node whose series may hold cells or not.
void keep_any(NodeId node) {
    if (node && memory::buffer(node)->unit() == sizeof(Cell)) keep_cells(node);
    else keep(node);
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
    if (kind == hashtable::Kind::map) keep(t.aux);
    if (kind == hashtable::Kind::ownership) {
        // Weak: a record lives only as long as its owner (mark_owned_records).
        keep(t.indexed);
        return;
    }
    keep_cells(t.indexed);
    if (kind == hashtable::Kind::records) {
        // A record keeps the series it is about.
        hashtable::for_each_record(node, [](uint32_t key, Cell*) { keep_any(key); });
    }
}

void keep_ref(type_traits::Ref ref, uint32_t word) {
    switch (ref) {
        case type_traits::Ref::none: break;
        case type_traits::Ref::cells: keep_cells(word); break;
        case type_traits::Ref::bytes: keep(word); break;
        case type_traits::Ref::table: keep_table(word); break;
        case type_traits::Ref::handle:
            if (static_cast<int32_t>(word) >= 0) handles::mark(word);
            break;
    }
}

[[gnu::noinline]] void mark_refs(const Cell& c, uint8_t words) {
    const type_traits::Traits& t = type_traits::of(cell::type(c));
    if (t.gated && !type_traits::gate_open(t, c)) words &= static_cast<uint8_t>(~t.gated);
    if (words & type_traits::kW1) keep_ref(t.refs[0], c.w1);
    if (words & type_traits::kW2) keep_ref(t.refs[1], c.w2);
    if (words & type_traits::kW3) keep_ref(t.refs[2], c.w3);
}

// What each payload word refers to comes from the type's traits row; most cells refer to nothing,
// and cost one byte's test.
inline void mark_cell(const Cell& c) {
    const uint8_t words = type_traits::g_ref_words[static_cast<uint8_t>(cell::type(c))];
    if (words) mark_refs(c, words);
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
    for (RootWalker walk : g_walkers) walk();
    const error::Pending& pending = error::pending();
    for (const Cell& arg : pending.args) mark_cell(arg);
    mark_cell(pending.near);
    mark_cell(pending.value);
    // The series that mold, compare and copy are inside: their walks may allocate.
    for (uint32_t i = 0; i < cycles::depth(); ++i) keep_any(cycles::walked()[i]);
    for (const Root& r : g_roots) {
        if (r.kind == RootKind::table) keep_table(*r.slot);
        else keep_any(*r.slot);
    }
    for (const Cell* c : g_cell_roots) mark_cell(*c);
    drain();
}

NodeId weak_records() { return g_weak_records ? *g_weak_records : 0; }

// The ownership table holds its records weakly: a record whose owner object is reachable keeps
// its series, value and owner; one whose owner is not goes, so a dead object's series are not
// kept for ever and a reused node is never taken for an owned one. Marking a record's cells can
// reach further owners, so the pass repeats until it marks nothing new.
void mark_owned_records() {
    const NodeId table = weak_records();
    if (!table || !marked(table)) return;
    uint64_t before;
    do {
        before = g_newly_marked;
        hashtable::for_each_record(table, [](uint32_t key, Cell* record) {
            if (!marked(record[1].w1)) return;
            keep_any(key);
            mark_cell(record[0]);
            mark_cell(record[1]);
            mark_cell(record[2]);
        });
        drain();
    } while (g_newly_marked != before);
}

void sweep_owned_records() {
    const NodeId table = weak_records();
    if (!table || !marked(table)) return;
    std::vector<uint32_t> dead;
    hashtable::for_each_record(table, [&](uint32_t key, Cell* record) {
        if (marked(key) && marked(record[1].w1)) return;
        // A series that outlives its owner is free to be owned again.
        if (marked(key) && !cell::is(record[0], TypeId::image)) memory::buffer(key)->flags &= ~series_flag::owned;
        record[0] = record[1] = record[2] = cell::unset();
        dead.push_back(key);
    });
    for (uint32_t key : dead) hashtable::remove(table, key);
}

inline uint32_t length_at(const std::byte* p) {
    return reinterpret_cast<const SeriesBuffer*>(p)->size + kBufferOverhead;
}
inline bool marked_at(const std::byte* p) {
    return reinterpret_cast<const SeriesBuffer*>(p)->flags & series_flag::marked;
}

// Buffers of a run at their final place: unmarked, and their nodes told where they are.
void settle(std::byte* at, size_t length) {
    for (std::byte* q = at; q < at + length; q += length_at(q)) {
        auto* b = reinterpret_cast<SeriesBuffer*>(q);
        b->flags &= ~series_flag::marked;
        memory::node_slot(b->node) = reinterpret_cast<uintptr_t>(b);
    }
}

void move_run(std::byte* from, std::byte* to, size_t length) {
    memory::unpoison(to, length);
    std::memmove(to, from, length);
    settle(to, length);
}

// Compacts a frame: runs of live buffers move into the free end of `into` (the frame before it)
// while that frame has room, else down over the dead buffers of their own frame. Once a run can
// do neither, the frame's later runs stay within it.
void compact(SeriesFrame* f, SeriesFrame* into) {
    std::byte* const old_alloc = f->alloc;
    memory::unpoison(f->data(), static_cast<size_t>(old_alloc - f->data()));
    std::byte* to = f->data();
    std::byte* p = f->data();
    while (p < old_alloc) {
        if (!marked_at(p)) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            if (b->node && memory::buffer(b->node) == b) memory::free_node(b->node);
            p += length_at(p);
            continue;
        }
        std::byte* end = p;
        while (end < old_alloc && marked_at(end)) end += length_at(end);
        while (p < end) {
            if (into && static_cast<uint64_t>(into->end - into->alloc) >= kSpillRoom) {
                const auto room = static_cast<size_t>(into->end - into->alloc);
                std::byte* cut = p;
                while (cut < end && static_cast<size_t>(cut + length_at(cut) - p) <= room) cut += length_at(cut);
                if (cut > p) {
                    move_run(p, into->alloc, static_cast<size_t>(cut - p));
                    into->alloc += cut - p;
                    p = cut;
                    continue;
                }
            }
            if (to == p) {
                into = nullptr;
                settle(p, static_cast<size_t>(end - p));
            } else {
                move_run(p, to, static_cast<size_t>(end - p));
            }
            to += end - p;
            p = end;
        }
    }
    f->alloc = to;
    memory::poison(to, static_cast<size_t>(old_alloc - to));
}

void unlink_series_frame(SeriesFrame* f) {
    memory::Record& r = memory::record();
    if (f->prev) f->prev->next = f->next;
    else r.first_series_frame = f->next;
    if (f->next) f->next->prev = f->prev;
    else r.last_series_frame = f->prev;
    memory::free_virtual(f);
}

// Returns the bytes the frames still hold, counted once all are compacted: a frame's buffers
// may move into the frame before it after that one was done.
uint64_t compact_frames() {
    memory::Record& r = memory::record();
    for (SeriesFrame* f = r.first_series_frame; f; f = f->next) compact(f, f->prev);
    uint64_t live = 0;
    for (SeriesFrame* f = r.first_series_frame; f; f = f->next) live += static_cast<uint64_t>(f->alloc - f->data());
    r.current_series_frame = r.first_series_frame;
    return live;
}

// Returns empty frames, the last first, until the heap is down to the threshold: the frames
// kept would otherwise be made again before the next cycle. The first frame always stays.
void return_empty_frames() {
    memory::Record& r = memory::record();
    for (SeriesFrame* f = r.last_series_frame; f && f != r.first_series_frame && g_state.heap > g_state.threshold;) {
        SeriesFrame* prev = f->prev;
        if (f->alloc == f->data()) {
            g_state.heap -= f->size;
            unlink_series_frame(f);
        }
        f = prev;
    }
}

uint64_t sweep_big_series() {
    memory::Record& r = memory::record();
    uint64_t live = 0;
    for (BigSeries* big = r.first_big; big;) {
        BigSeries* next = big->next;
        SeriesBuffer* b = big->buffer();
        if (b->flags & series_flag::marked) {
            b->flags &= ~series_flag::marked;
            live += big->size;
        } else {
            if (b->node && memory::buffer(b->node) == b) memory::free_node(b->node);
            if (big->prev) big->prev->next = big->next;
            else r.first_big = big->next;
            if (big->next) big->next->prev = big->prev;
            else r.last_big = big->prev;
            memory::free_virtual(big);
        }
        big = next;
    }
    return live;
}

// Node frames with no live node go back; the others record whether their use was stable.
void review_node_frames() {
    memory::Record& r = memory::record();
    bool returned = false;
    for (NodeFrame* f = r.first_node_frame; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->release) {
            if (f->prev) f->prev->next = f->next;
            else r.first_node_frame = f->next;
            if (f->next) f->next->prev = f->prev;
            else r.last_node_frame = f->prev;
            r.node_table[f->number] = nullptr;
            memory::free_virtual(f);
            returned = true;
        } else {
            f->history = (f->history << 1) | (f->used == f->used_at_last ? 1u : 0u);
            f->used_at_last = f->used;
        }
        f = next;
    }
    r.current_node_frame = r.first_node_frame;
    while (r.current_node_frame && r.current_node_frame->free_head == 0)
        r.current_node_frame = r.current_node_frame->next;
    if (returned) ++g_state.node_cycles;
}

}  // namespace

void reset() {
    g_state = State{};
    g_state.threshold = kMinBudget;
    g_roots.clear();
    g_cell_roots.clear();
    g_walkers.clear();
    g_weak_records = nullptr;
}

bool enable(bool on) {
    const bool was = g_state.enabled;
    g_state.enabled = on;
    if (!on) g_state.requested = false;
    return was;
}

void add_root(const NodeId* slot, RootKind kind) { g_roots.push_back({slot, kind}); }
void add_cell_root(const Cell* cell) { g_cell_roots.push_back(cell); }
void set_weak_records(const NodeId* slot) { g_weak_records = slot; }

void add_root_walker(RootWalker walk) {
    if (std::find(g_walkers.begin(), g_walkers.end(), walk) == g_walkers.end()) g_walkers.push_back(walk);
}
void keep_root(const Cell& value) { mark_cell(value); }
void keep_roots(const Cell* from, const Cell* to) {
    for (const Cell* c = from; c < to; ++c) mark_cell(*c);
}
void keep_root_cells(NodeId node) { keep_cells(node); }

void collect() {
    if (g_state.enabled && g_state.holds == 0) do_cycle();
}

void note_growth(uint64_t bytes) {
    g_state.heap += bytes;
    if (g_state.enabled && g_state.heap >= g_state.threshold) g_state.requested = true;
}

void do_cycle() {
    if (g_state.holds || g_state.active) return;
    g_state.active = true;
    g_state.requested = false;
    g_newly_marked = 0;
    mark_roots();
    mark_owned_records();
    sweep_owned_records();
    handles::sweep();
    const uint64_t framed = compact_frames();
    const uint64_t big = sweep_big_series();
    const uint64_t live = framed + big;
    g_state.threshold = live + std::max(kMinBudget, live);
    g_state.used = live;
    g_state.heap = big;
    for (SeriesFrame* f = memory::record().first_series_frame; f; f = f->next) g_state.heap += f->size;
    return_empty_frames();
    for (NodeId node : g_unmanaged) memory::buffer(node)->flags &= ~series_flag::marked;
    g_unmanaged.clear();
    review_node_frames();
    ++memory::g_moves;  // buffers moved, nodes freed: kept buffer pointers are stale
    ++g_state.cycles;
    g_state.active = false;
}

}  // namespace zub::collector
