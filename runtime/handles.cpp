// Value slots are a block of cells whose free cells form a list (an integer! holding the next
// free index); a bitmap beside it tells used slots from free ones, so a slot released twice cannot
// corrupt the list. Handle entries live on the low-level heap in a doubly linked live list and a
// free list, so removal and the collector's sweep touch only the entries concerned.
#include "runtime/handles.h"

#include <vector>

#include "runtime/collector.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"

namespace zub::handles {
namespace {

// ---- Value slots ----

constexpr uint32_t kInitialSlots = 100;

NodeId g_slots = 0;             // block of cells; every cell is in its used part
int32_t g_free_slot = -1;       // first free slot (0-based), -1 when none
std::vector<bool> g_slot_used;  // by 0-based slot

Cell* slot_cells() { return reinterpret_cast<Cell*>(memory::buffer(g_slots)->data()); }

// Threads slots [from, to) into a free list ending with -1.
void thread_slots(uint32_t from, uint32_t to) {
    Cell* cells = slot_cells();
    for (uint32_t i = from; i < to; ++i) cells[i] = cell::integer(i + 1 < to ? static_cast<int32_t>(i + 1) : -1);
    memory::buffer(g_slots)->tail = to * sizeof(Cell);
    g_slot_used.resize(to, false);
}

// ---- External handles ----

constexpr uint32_t kInitialEntries = 1000;
constexpr uint32_t kMarked = 0x80000000;
constexpr uint32_t kFree = 0x40000000;
constexpr uint32_t kClassMask = 0xFF;

struct Entry {
    uint32_t state;    // class id (bits 0-7) | kMarked; kFree alone for a free entry
    int32_t next;      // next entry of its list (live or free), -1 at the end
    int32_t prev;      // live list only: the entry before, -1 for the first
    uintptr_t handle;  // 0 when free
};

struct Class {
    std::string_view name;
    Release release;
};

Entry* g_entries = nullptr;
uint32_t g_capacity = 0;
int32_t g_live = -1;  // first live entry
int32_t g_free = -1;  // first free entry
uint32_t g_live_count = 0;
Class g_classes[kMaxClasses + 1];  // by id; 0 unused
uint32_t g_class_count = 0;

void thread_entries(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        g_entries[i] = Entry{kFree, i + 1 < to ? static_cast<int32_t>(i + 1) : -1, -1, 0};
}

bool valid_live(int32_t entry) {
    return entry >= 0 && static_cast<uint32_t>(entry) < g_capacity && g_entries[entry].state != kFree;
}

void release_handle(uint32_t class_id, uintptr_t handle) {
    if (class_id >= 1 && class_id <= g_class_count && g_classes[class_id].release) g_classes[class_id].release(handle);
}

// Takes a live entry out of the live list and puts it on the free list.
void unlink(int32_t entry) {
    Entry& e = g_entries[entry];
    if (e.prev >= 0) g_entries[e.prev].next = e.next;
    else g_live = e.next;
    if (e.next >= 0) g_entries[e.next].prev = e.prev;
    e = Entry{kFree, g_free, -1, 0};
    g_free = entry;
    --g_live_count;
}

}  // namespace

void init() {
    shutdown();
    g_slots = memory::alloc_cells(kInitialSlots);
    g_slot_used.clear();
    thread_slots(0, kInitialSlots);
    g_free_slot = 0;
    collector::add_root(&g_slots);

    g_capacity = kInitialEntries;
    g_entries = static_cast<Entry*>(lowrt::allocate(sizeof(Entry) * g_capacity));
    thread_entries(0, g_capacity);
    g_free = 0;
    g_live = -1;
    g_live_count = 0;
    g_class_count = 0;
}

void shutdown() {
    // Unlink before releasing, so a callback that looks at the registry sees the entry gone.
    while (g_live >= 0) {
        const int32_t entry = g_live;
        const uint32_t class_id = g_entries[entry].state & kClassMask;
        const uintptr_t handle = g_entries[entry].handle;
        unlink(entry);
        release_handle(class_id, handle);
    }
    lowrt::free(g_entries);
    g_entries = nullptr;
    g_capacity = 0;
    g_free = -1;
    g_live_count = 0;
    g_slots = 0;
    g_free_slot = -1;
    g_slot_used.clear();
}

uint32_t slot_store(Cell value) {
    if (g_free_slot < 0) {
        const uint32_t n = slot_capacity();
        memory::expand_series_copy(g_slots, uint64_t{n} * 2 * sizeof(Cell));
        thread_slots(n, n * 2);
        g_free_slot = static_cast<int32_t>(n);
    }
    const auto index = static_cast<uint32_t>(g_free_slot);
    Cell* slot = slot_cells() + index;
    g_free_slot = cell::as_integer(*slot);
    *slot = value;
    g_slot_used[index] = true;
    return index + 1;
}

Cell* slot_at(uint32_t n) {
    if (n == 0 || n > g_slot_used.size() || !g_slot_used[n - 1]) return nullptr;
    return slot_cells() + (n - 1);
}

bool slot_release(uint32_t n) {
    if (!slot_at(n)) return false;
    slot_cells()[n - 1] = cell::integer(g_free_slot);
    g_free_slot = static_cast<int32_t>(n - 1);
    g_slot_used[n - 1] = false;
    return true;
}

uint32_t slot_capacity() { return static_cast<uint32_t>(g_slot_used.size()); }

uint32_t register_class(std::string_view name, Release release) {
    if (g_class_count == kMaxClasses) lowrt::fatal(lowrt::Fatal::assertion);
    g_classes[++g_class_count] = Class{name, release};
    return g_class_count;
}

std::string_view class_name(uint32_t class_id) {
    return class_id >= 1 && class_id <= g_class_count ? g_classes[class_id].name : std::string_view{};
}

int32_t store(uintptr_t handle, uint32_t class_id) {
    if (g_entries[g_free].next < 0) {
        // Taking the last free entry: double first, so the free list never runs dry.
        const uint32_t old = g_capacity;
        g_capacity *= 2;
        g_entries = static_cast<Entry*>(lowrt::resize(g_entries, sizeof(Entry) * g_capacity));
        thread_entries(old, g_capacity);
        g_entries[g_free].next = static_cast<int32_t>(old);
    }
    const int32_t entry = g_free;
    g_free = g_entries[entry].next;
    g_entries[entry] = Entry{class_id & kClassMask, g_live, -1, handle};
    if (g_live >= 0) g_entries[g_live].prev = entry;
    g_live = entry;
    ++g_live_count;
    return entry;
}

uintptr_t get(int32_t entry) { return valid_live(entry) ? g_entries[entry].handle : 0; }
uint32_t class_of(int32_t entry) { return valid_live(entry) ? g_entries[entry].state & kClassMask : 0; }
bool live(int32_t entry) { return valid_live(entry); }

bool replace(int32_t entry, uintptr_t handle) {
    if (!valid_live(entry)) return false;
    const uintptr_t old = g_entries[entry].handle;
    g_entries[entry].handle = handle;
    if (old != handle) release_handle(g_entries[entry].state & kClassMask, old);
    return true;
}

bool remove(int32_t entry, bool release) {
    if (!valid_live(entry)) return false;
    const uint32_t class_id = g_entries[entry].state & kClassMask;
    const uintptr_t handle = g_entries[entry].handle;
    unlink(entry);
    if (release) release_handle(class_id, handle);
    return true;
}

void for_each_of_class(uint32_t class_id, void (*visit)(uintptr_t, void*), void* context) {
    for (int32_t e = g_live; e >= 0; e = g_entries[e].next)
        if ((g_entries[e].state & kClassMask) == class_id) visit(g_entries[e].handle, context);
}

uint32_t live_count() { return g_live_count; }
uint32_t capacity() { return g_capacity; }

bool mark(uint32_t entry) {
    if (entry > 0x7FFFFFFF || !valid_live(static_cast<int32_t>(entry))) return false;
    Entry& e = g_entries[entry];
    if (e.state & kMarked) return false;
    e.state |= kMarked;
    return true;
}

void sweep() {
    for (int32_t e = g_live; e >= 0;) {
        Entry& entry = g_entries[e];
        const int32_t next = entry.next;
        if (entry.state & kMarked) {
            entry.state &= ~kMarked;
        } else {
            const uint32_t class_id = entry.state & kClassMask;
            const uintptr_t handle = entry.handle;
            unlink(e);
            release_handle(class_id, handle);
        }
        e = next;
    }
}

}  // namespace zub::handles
