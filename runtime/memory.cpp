// Frames come from the kernel; buffers are carved from frames by bumping a pointer, and space
// comes back only through the collector's compaction. Nodes come from an intrusive free list.
#include "runtime/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "system/platform/virtual_memory.h"

namespace zub::memory {

Record g_record{};
uintptr_t* g_node_slots = nullptr;
uint32_t g_moves = 0;

namespace {

constexpr size_t kBlockPrefix = 16;  // a system block starts with its size, keeping 16-alignment
// Largest data area a buffer may have: its size and offsets are 32-bit.
constexpr uint64_t kMaxBufferSize = 0xFFFFFF00u;

constexpr uint64_t round16(uint64_t n) { return (n + 15) & ~uint64_t{15}; }

uintptr_t free_slot(uint32_t next_plus_one) { return uintptr_t{next_plus_one} << 1 | 1; }

uint32_t take_node_number() {
    Record& r = g_record;
    for (uint32_t i = 0; i < r.node_table_size; ++i)
        if (!r.node_table[i]) return i;
    const uint32_t grown = r.node_table_size ? r.node_table_size * 2 : 16;
    auto* table = static_cast<NodeFrame**>(lowrt::resize(r.node_table, grown * sizeof(NodeFrame*)));
    std::fill(table + r.node_table_size, table + grown, nullptr);
    const uint32_t first_free = r.node_table_size;
    r.node_table = table;
    r.node_table_size = grown;
    return first_free;
}

// Node ids are 32-bit: this many frames of slots cover them all.
constexpr uint64_t kNodeFrameLimit = (uint64_t{1} << 32) / kNodesPerFrame + 1;
constexpr uint64_t kSlotArea = kNodeFrameLimit * kNodesPerFrame * sizeof(uintptr_t);

// Reserves the slot area once per process: address space only, no memory.
void reserve_node_slots() {
    if (g_node_slots) return;
    void* area = ::mmap(nullptr, kSlotArea, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) lowrt::fatal(lowrt::Fatal::out_of_memory);
    g_node_slots = static_cast<uintptr_t*>(area);
}

// Makes a frame's slots usable (the pages at its ends may be shared with its neighbours).
uintptr_t* commit_node_slots(uint32_t number) {
    uintptr_t* slots = g_node_slots + uint64_t{number} * kNodesPerFrame;
    const size_t page = 4096;
    const auto start = reinterpret_cast<uintptr_t>(slots) & ~(page - 1);
    const auto end = (reinterpret_cast<uintptr_t>(slots + kNodesPerFrame) + page - 1) & ~(page - 1);
    if (::mprotect(reinterpret_cast<void*>(start), end - start, PROT_READ | PROT_WRITE) != 0)
        error::fire(ErrorId::no_memory);
    return slots;
}

NodeFrame* new_node_frame() {
    Record& r = g_record;
    const uint32_t number = take_node_number();
    if (uint64_t{number + 1} * kNodesPerFrame > 0xFFFFFFFFu) error::fire(ErrorId::no_memory);
    auto* f = static_cast<NodeFrame*>(allocate_virtual(sizeof(NodeFrame)));
    f->slots = commit_node_slots(number);
    f->number = number;
    f->capacity = kNodesPerFrame;
    for (uint32_t i = 0; i + 1 < kNodesPerFrame; ++i) f->slots[i] = free_slot(i + 2);
    f->slots[kNodesPerFrame - 1] = free_slot(0);
    f->free_head = 1;
    f->used = 0;
    f->stamp = collector::g_state.cycles;
    f->used_at_last = 0;
    f->history = 0;
    f->release = 0;
    f->next = nullptr;
    f->prev = r.last_node_frame;
    if (r.last_node_frame) r.last_node_frame->next = f;
    else r.first_node_frame = f;
    r.last_node_frame = f;
    r.node_table[number] = f;
    return f;
}

SeriesFrame* new_series_frame(uint32_t need) {
    Record& r = g_record;
    if (need >= r.next_frame_size) r.next_frame_size = r.max_frame_size;
    const uint32_t size = r.next_frame_size;
    if (r.next_frame_size < r.max_frame_size) r.next_frame_size = std::min(r.next_frame_size * 2, r.max_frame_size);

    auto* f = static_cast<SeriesFrame*>(allocate_virtual(sizeof(SeriesFrame) + size));
    f->size = size;
    f->alloc = f->data();
    f->end = f->data() + size;
    f->spare = 0;
    // Keep the list sorted by address, so compaction can slide buffers toward lower frames.
    SeriesFrame* after = r.last_series_frame;
    while (after && after > f) after = after->prev;
    f->prev = after;
    f->next = after ? after->next : r.first_series_frame;
    if (f->next) f->next->prev = f;
    else r.last_series_frame = f;
    if (after) after->next = f;
    else r.first_series_frame = f;
    return f;
}

bool fits(const SeriesFrame* f, uint32_t need) { return f->alloc + need < f->end; }

SeriesFrame* find_series_frame(uint32_t need) {
    for (SeriesFrame* f = g_record.first_series_frame; f; f = f->next)
        if (fits(f, need)) return f;
    return nullptr;
}

SeriesBuffer* carve(uint32_t need) {
    Record& r = g_record;
    SeriesFrame* f = r.current_series_frame;
    if (!f || !fits(f, need)) {
        f = find_series_frame(need);
        if (!f && collector::g_state.eager) {
            collector::collect();
            f = find_series_frame(need);
            if (f && static_cast<uint64_t>(f->end - f->alloc) < kMinFrameRoom) f = nullptr;
        }
        if (!f) {
            f = new_series_frame(need);
            collector::note_growth(f->size);
        }
        r.current_series_frame = f;
    }
    auto* b = reinterpret_cast<SeriesBuffer*>(f->alloc);
    f->alloc += need;
    collector::note_use(need);
    unpoison(b, need);
    return b;
}

SeriesBuffer* new_big_series(uint32_t need) {
    Record& r = g_record;
    if (collector::g_state.eager) collector::collect();
    auto* big = static_cast<BigSeries*>(allocate_virtual(sizeof(BigSeries) + need));
    collector::note_growth(need);
    collector::note_use(need);
    big->size = need;
    big->spare = 0;
    big->next = nullptr;
    big->prev = r.last_big;
    if (r.last_big) r.last_big->next = big;
    else r.first_big = big;
    r.last_big = big;
    return big->buffer();
}

// The head offset of a new buffer; -1 asks for the middle, kept on a unit boundary.
uint32_t head_offset(int32_t offset, uint32_t size, uint32_t unit) {
    if (offset >= 0) return std::min(static_cast<uint32_t>(offset), size);
    const uint32_t middle = size / 2;
    return middle - middle % unit;
}

uint32_t checked_size(uint64_t bytes) {
    const uint64_t size = round16(bytes);
    if (size > kMaxBufferSize) error::fire(ErrorId::no_memory);
    return static_cast<uint32_t>(size);
}

void init_header(SeriesBuffer* b, uint32_t flags, uint32_t size, uint32_t head) {
    b->flags = flags;
    b->node = 0;
    b->size = size;
    b->head = head;
    b->tail = head;
    b->spare = 0;
}

SeriesBuffer* expand(NodeId node, uint64_t new_size, bool copy) {
    SeriesBuffer* old = buffer(node);
    const uint64_t size = new_size ? new_size : uint64_t{old->size} * 2;
    if (size == 0) error::fire(ErrorId::no_memory);  // doubling an empty buffer
    const uint32_t unit = old->unit();
    const uint32_t used = old->used();
    const uint64_t wanted = std::max<uint64_t>(size, used);
    if (wanted > kMaxBufferSize) error::fire(ErrorId::no_memory);

    if (old->flags & series_flag::unmanaged) {
        // An unmanaged buffer stays on the low-level heap, where the collector never looks.
        const uint32_t bytes = checked_size(wanted);
        auto* fresh = static_cast<SeriesBuffer*>(lowrt::allocate(kBufferOverhead + bytes));
        init_header(fresh, old->flags, bytes, 0);
        fresh->node = node;
        fresh->tail = used;
        if (copy) std::memcpy(fresh->data(), old->head_ptr(), std::min(old->size - old->head, bytes));
        lowrt::free(old);
        node_slot(node) = reinterpret_cast<uintptr_t>(fresh);
        ++g_moves;
        return fresh;
    }

    SeriesBuffer* fresh = alloc_series_buffer(static_cast<uint32_t>((wanted + unit - 1) / unit), unit, 0);
    old = buffer(node);  // the allocation may have collected and moved it
    fresh->flags = (old->flags & ~series_flag::big) | (fresh->flags & series_flag::big);
    fresh->node = node;
    fresh->head = 0;
    fresh->tail = used;
    if (copy) std::memcpy(fresh->data(), old->head_ptr(), std::min(old->size - old->head, fresh->size));
    old->node = 0;
    old->flags &= ~series_flag::live;
    poison(old->data(), old->size);  // the header stays readable: compaction steps over it
    node_slot(node) = reinterpret_cast<uintptr_t>(fresh);
    ++g_moves;
    return fresh;
}

}  // namespace

void init() {
    ++g_moves;  // buffers kept from an earlier runtime are gone
    reserve_node_slots();
    g_record = Record{};
    g_record.initial_frame_size = kInitialFrameSize;
    g_record.next_frame_size = kInitialFrameSize;
    g_record.max_frame_size = kMaxFrameSize;
}

void free_all() {
    Record& r = g_record;
    for (NodeFrame* f = r.first_node_frame; f;) {
        NodeFrame* next = f->next;
        free_virtual(f);
        f = next;
    }
    for (SeriesFrame* f = r.first_series_frame; f;) {
        SeriesFrame* next = f->next;
        free_virtual(f);
        f = next;
    }
    for (BigSeries* b = r.first_big; b;) {
        BigSeries* next = b->next;
        free_virtual(b);
        b = next;
    }
    lowrt::free(r.node_table);
    init();
}

void* allocate_virtual(size_t size, bool executable) {
    const size_t page = platform::page_size();
    const size_t total = (size + kBlockPrefix + page - 1) / page * page;
    void* block = platform::allocate_virtual(total, executable);
    if (!block) error::fire(ErrorId::no_memory);
    *static_cast<uint64_t*>(block) = total;
    g_record.used_bytes += total;
    return static_cast<std::byte*>(block) + kBlockPrefix;
}

void free_virtual(void* block) {
    void* base = static_cast<std::byte*>(block) - kBlockPrefix;
    const uint64_t total = *static_cast<uint64_t*>(base);
    unpoison(base, total);  // the shadow of unmapped memory would outlive it
    if (!platform::free_virtual(base, total)) error::fire(ErrorId::wrong_mem);
    g_record.used_bytes -= total;
}

NodeId alloc_node() {
    Record& r = g_record;
    NodeFrame* f = r.current_node_frame;
    if (!f || f->free_head == 0) {
        // Next fit: go on from the current frame, so frames with a few free slots are not
        // walked again from the first for every node.
        NodeFrame* const start = f;
        f = start && start->next ? start->next : r.first_node_frame;
        while (f && f != start && (f->free_head == 0 || f->release))
            f = f->next ? f->next : (start ? r.first_node_frame : nullptr);
        if (!f || f == start) f = new_node_frame();
        r.current_node_frame = f;
    }
    const uint32_t index = f->free_head - 1;
    f->free_head = static_cast<uint32_t>(f->slots[index] >> 1);
    f->slots[index] = 0;
    ++f->used;
    return f->number * kNodesPerFrame + index + 1;
}

void free_node(NodeId node) {
    const uint32_t index = (node - 1) % kNodesPerFrame;
    NodeFrame* f = g_record.node_table[(node - 1) / kNodesPerFrame];
    f->slots[index] = free_slot(f->free_head);
    f->free_head = index + 1;
    --f->used;
}

SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    const uint32_t size = checked_size(uint64_t{count} * unit);
    const uint32_t need = size + kBufferOverhead;
    uint32_t flags = unit | series_flag::live | series_flag::allocated;
    SeriesBuffer* b;
    if (need >= g_record.max_frame_size) {
        b = new_big_series(need);
        flags |= series_flag::big;
    } else {
        b = carve(need);
    }
    if (offset == -1) flags |= series_flag::middle;
    init_header(b, flags, size, head_offset(offset, size, unit));
    return b;
}

NodeId alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    SeriesBuffer* b = alloc_series_buffer(count, unit, offset);
    const NodeId node = alloc_node();  // takes no series space, so `b` stays put
    b->node = node;
    node_slot(node) = reinterpret_cast<uintptr_t>(b);
    return node;
}

NodeId alloc_cells(uint32_t count) { return alloc_series(count, sizeof(Cell), 0); }

NodeId alloc_unset_cells(uint32_t count) {
    const NodeId node = alloc_cells(count);
    SeriesBuffer* b = buffer(node);
    std::fill_n(reinterpret_cast<Cell*>(b->data()), b->size / sizeof(Cell), cell::unset());
    return node;
}

NodeId alloc_bytes(uint32_t count) { return alloc_series(count ? count : 16, 1, 0); }

NodeId alloc_bytes_filled(uint32_t count, uint8_t byte) {
    const NodeId node = alloc_bytes(count);
    SeriesBuffer* b = buffer(node);
    fill_bytes(b->data(), b->end_ptr(), byte);
    return node;
}

NodeId alloc_series_flags(uint32_t count, uint32_t unit) {
    if (count == 0) count = 16u >> (unit / 2);
    return alloc_series(count, unit, 0);
}

NodeId alloc_unmanaged_series(uint32_t count, uint32_t unit, int32_t offset) {
    const uint32_t size = checked_size(uint64_t{count} * unit);
    auto* b = static_cast<SeriesBuffer*>(lowrt::allocate(kBufferOverhead + size));
    uint32_t flags = unit | series_flag::live | series_flag::allocated | series_flag::unmanaged;
    if (offset == -1) flags |= series_flag::middle;
    init_header(b, flags, size, head_offset(offset, size, unit));
    const NodeId node = alloc_node();
    b->node = node;
    node_slot(node) = reinterpret_cast<uintptr_t>(b);
    return node;
}

void set_series_flags(NodeId node, uint32_t bits) { buffer(node)->flags |= bits; }

SeriesBuffer* expand_series(NodeId node, uint64_t new_size) { return expand(node, new_size, false); }

SeriesBuffer* expand_series_copy(NodeId node, uint64_t new_size) { return expand(node, new_size, true); }

SeriesBuffer* expand_series_filled(NodeId node, uint64_t new_size, uint8_t byte) {
    const uint32_t old_size = buffer(node)->size;
    SeriesBuffer* b = expand(node, new_size, true);
    if (b->size > old_size) fill_bytes(b->data() + old_size, b->end_ptr(), byte);
    return b;
}

NodeId copy_series(NodeId node) {
    SeriesBuffer* old = buffer(node);
    const uint32_t unit = old->unit();
    const NodeId copy = alloc_series(old->size / unit, unit, static_cast<int32_t>(old->head));
    old = buffer(node);
    SeriesBuffer* b = buffer(copy);
    constexpr uint32_t kPlacement = series_flag::big | series_flag::unmanaged | series_flag::marked;
    b->flags = (old->flags & ~kPlacement) | (b->flags & series_flag::big);
    b->tail = old->tail;
    std::memcpy(b->head_ptr(), old->head_ptr(), old->used());
    return copy;
}

void fill_bytes(std::byte* start, std::byte* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

}  // namespace zub::memory
