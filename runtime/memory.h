// The memory manager: every series of the language lives in a series buffer carved from a series
// frame (or, when large, in a block of its own: a "big series"). Values reach a buffer only
// through its node, a slot in the node table whose content is the buffer's current address, so
// the collector can move a buffer and fix one slot. Node ids are stable for a node's lifetime.
//
// Allocation does not collect: when no frame has room it makes a new one and, once the heap has
// reached the collector's threshold, asks for a collection at the next safe point. Expansion
// still moves the series it expands, and the collector's eager mode (tests) collects inside
// allocation, so keep node ids and offsets across any allocation, never a SeriesBuffer* or a
// pointer into data.
//
// Keeping a new series alive (the one statement of this rule; other comments point here): a
// series just allocated is reachable from nothing, only its caller holds the node. Before anything
// that may collect runs, it must be reachable from a root: on the evaluation stack (stack::push,
// stack::Rooted), in a cell that is itself reachable (a value slot, a block or context already
// reachable), or registered with collector::add_root. What may collect: a safe point (between
// expressions, at function entry, at loop iterations), so any evaluation of code and `recycle`,
// and every function whose comment says "May collect", allocation among them in the eager mode.
// A short C++ section that cannot root its new series at once holds a collector::Guard instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(ZUB_GC_TORTURE) && defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "runtime/cell.h"

namespace zub {

// Flags in the first word of a series buffer.
namespace series_flag {
inline constexpr uint32_t unit_mask = 0x0000001F;   // unit width in bytes: 1, 2, 4 or 16
inline constexpr uint32_t owned = 0x00020000;       // owned by an object field
inline constexpr uint32_t indexed = 0x00040000;     // a hash! index over it is in step (bar appends)
inline constexpr uint32_t complement = 0x00080000;  // bitset: bits past the data read as 1
inline constexpr uint32_t unmanaged = 0x00100000;   // lives on the low-level heap, never moved
inline constexpr uint32_t big = 0x01000000;         // has a system block of its own
inline constexpr uint32_t marked = 0x08000000;      // reached in the current collection
inline constexpr uint32_t middle = 0x10000000;      // allocated with its head mid-area
inline constexpr uint32_t allocated = 0x20000000;   // set on every buffer at allocation
inline constexpr uint32_t live = 0x80000000;        // cleared when expansion abandons it

// Changes to a series with either of these are told (an owner's handlers, a hash! index).
inline constexpr uint32_t watched = owned | indexed;
}  // namespace series_flag

// The header of a series buffer. head and tail are byte offsets from the data start, so a move
// changes nothing here. The data follows the header, 8-byte aligned.
struct SeriesBuffer {
    uint32_t flags;  // series_flag bits and the unit width
    NodeId node;     // back-pointer; 0 once the buffer is abandoned
    uint32_t size;   // bytes in the data area, a multiple of 16
    uint32_t head;   // first used byte
    uint32_t tail;   // one past the last used byte
    uint32_t spare;  // unused; keeps the data 8-byte aligned

    std::byte* data() { return reinterpret_cast<std::byte*>(this + 1); }
    std::byte* head_ptr() { return data() + head; }
    std::byte* tail_ptr() { return data() + tail; }
    std::byte* end_ptr() { return data() + size; }
    uint32_t unit() const { return flags & series_flag::unit_mask; }
    uint32_t used() const { return tail - head; }
    Cell* cells() { return reinterpret_cast<Cell*>(head_ptr()); }  // for unit 16
};
static_assert(sizeof(SeriesBuffer) == 24);

inline constexpr uint32_t kNodesPerFrame = 10000;
inline constexpr uint32_t kBufferOverhead = sizeof(SeriesBuffer);  // bytes beyond the data

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t number;        // its place in the node table: ids number x 10000 + 1 onwards
    uint32_t capacity;      // slots: 10000
    uint32_t free_head;     // first free slot + 1; 0 when full
    uint32_t used;          // live slots
    uint32_t stamp;         // collector cycle when made
    uint32_t used_at_last;  // live slots at the previous collection
    uint32_t history;       // one bit per collection, newest in bit 0: 1 = used count stable
    uint32_t release;       // 1 = to be returned at the end of the collection
    // Its 10,000 slots, a piece of the one node slot area. Live slot: the buffer's address (0
    // until set). Free slot: (next free + 1) << 1 | 1.
    uintptr_t* slots;
};

struct SeriesFrame {
    SeriesFrame* next;  // frames sorted by ascending address
    SeriesFrame* prev;
    uint64_t size;     // bytes in the data area
    std::byte* alloc;  // next free byte
    std::byte* end;    // one past the data area
    uint64_t spare;    // keeps the data 16-byte aligned

    std::byte* data() { return reinterpret_cast<std::byte*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 16 == 0);

struct BigSeries {
    BigSeries* next;  // oldest first, new ones at the end
    BigSeries* prev;
    uint64_t size;  // bytes of the buffer: header and data
    uint64_t spare;

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigSeries) % 16 == 0);

namespace memory {

inline constexpr uint32_t kInitialFrameSize = 0x100000;  // first series frame: 1 MB
inline constexpr uint32_t kMaxFrameSize = 0x200000;      // later frames; and the big-series bar
inline constexpr uint32_t kMinFrameRoom = 0xCCCC;        // frames with less free are passed over

// The manager's state. Read by the collector and the statistics.
struct Record {
    uint64_t used_bytes;  // system blocks obtained and not returned
    NodeFrame* first_node_frame;
    NodeFrame* last_node_frame;
    NodeFrame* current_node_frame;
    SeriesFrame* first_series_frame;
    SeriesFrame* current_series_frame;
    SeriesFrame* last_series_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size;
    uint32_t max_frame_size;
    BigSeries* first_big;
    BigSeries* last_big;
    NodeFrame** node_table;  // frame by number; null where a number is free
    uint32_t node_table_size;
};
extern Record g_record;
inline Record& record() { return g_record; }

void init();      // before anything allocates
void free_all();  // returns every frame and big series; the manager is then as after init

// System blocks that remember their size. A refusal raises internal no-memory / wrong-mem.
void* allocate_virtual(size_t size, bool executable = false);
void free_virtual(void* block);

// Every node's slot, by id - 1, in one area reserved at start and committed a frame at a time:
// node frame n's slots are the 10,000 from n x 10,000. Reaching a buffer is one indexed load.
extern uintptr_t* g_node_slots;
// Counts the moves of live nodes' buffers (expansion, compaction): a buffer pointer kept while the
// count stays the same is still the node's buffer.
extern uint32_t g_moves;

// The slot of a node, and the buffer it holds.
inline uintptr_t& node_slot(NodeId node) { return g_node_slots[node - 1]; }
inline SeriesBuffer* buffer(NodeId node) { return reinterpret_cast<SeriesBuffer*>(node_slot(node)); }

NodeId alloc_node();  // its slot holds 0
void free_node(NodeId node);

// A buffer of count x unit bytes (rounded up to 16) with its head at the byte offset, or in the
// middle of the data area for -1. Its node back-pointer is 0. May collect.
SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset);
// A buffer and a node pointing at each other. May collect.
NodeId alloc_series(uint32_t count, uint32_t unit, int32_t offset);
NodeId alloc_cells(uint32_t count);                       // unit 16, head at the start
NodeId alloc_unset_cells(uint32_t count);                 // the whole capacity set to unset cells
NodeId alloc_bytes(uint32_t count);                       // a count of 0 gives 16 bytes
NodeId alloc_bytes_filled(uint32_t count, uint8_t byte);  // the whole capacity filled
// Head at the start; a count of 0 takes 16 >> (unit / 2) units (none for cells).
NodeId alloc_series_flags(uint32_t count, uint32_t unit);
// On the low-level heap, never moved or freed by the collector.
NodeId alloc_unmanaged_series(uint32_t count, uint32_t unit, int32_t offset);

void set_series_flags(NodeId node, uint32_t bits);

// Gives the node a new buffer of new_size bytes (0 doubles the current size) keeping the unit,
// the flags and the used length, with the head at the data start. The old buffer is abandoned.
// expand_series leaves the new contents undefined; the copy form copies from the old head to the
// end of the old data area; the filled form also fills the capacity gained with the byte.
// May collect. A size that overflows raises internal no-memory.
SeriesBuffer* expand_series(NodeId node, uint64_t new_size);
SeriesBuffer* expand_series_copy(NodeId node, uint64_t new_size);
SeriesBuffer* expand_series_filled(NodeId node, uint64_t new_size, uint8_t byte);

// A new series with the same size, flags, head, tail and contents. May collect.
NodeId copy_series(NodeId node);

void fill_bytes(std::byte* start, std::byte* end, uint8_t byte);

// Space that nothing may read any more (moved-from and freed buffers). Built with ZUB_GC_TORTURE
// it is filled with 0xA5 and, under AddressSanitizer, poisoned, so a stale pointer shows at once;
// otherwise these do nothing. Space must be unpoisoned before it is used again.
inline void unpoison([[maybe_unused]] void* at, [[maybe_unused]] size_t n) {
#if defined(ZUB_GC_TORTURE) && defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(at, n);
#endif
}
inline void poison([[maybe_unused]] void* at, [[maybe_unused]] size_t n) {
#ifdef ZUB_GC_TORTURE
    unpoison(at, n);
    std::memset(at, 0xA5, n);
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(at, n);
#endif
#endif
}

}  // namespace memory
}  // namespace zub
