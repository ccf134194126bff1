// Two registries that connect the collected world of values with things outside it.
//
// Value slots hold values on behalf of code that refers to them by number (a window's face, a
// callback, a native object): the slot table is a collector root, so a stored value lives until
// its slot is released.
//
// External handles record operating-system and library objects (windows, surfaces, transfer
// handles) owned by handle! values. Each kind of object is a class with a release callback; a
// handle that no live handle! value marks at a collection is released through it, exactly once.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub::handles {

// Makes both tables empty: 100 value slots, 1000 handle entries, no classes. Once, at start,
// after the collector's reset. May allocate series.
void init();
// Releases every live handle through its class (each once) and frees the tables. At exit.
void shutdown();

// ---- Value slots (numbers from 1) ----

// Copies the value into a free slot and returns its number; the table doubles when full. The
// value is taken by value, so it may come from any series. May allocate.
uint32_t slot_store(Cell value);
// The value in a slot, or null when n names no stored value. Valid until the next allocation.
Cell* slot_at(uint32_t n);
// Frees the slot for reuse; false (and nothing done) when n names no stored value. Never
// allocates.
bool slot_release(uint32_t n);
uint32_t slot_capacity();

// ---- External handles (entries from 0) ----

// Called with the handle when its entry is released. Runs inside a collection when the sweep
// releases it: it must not allocate series or evaluate code.
using Release = void (*)(uintptr_t handle);

inline constexpr uint32_t kMaxClasses = 255;  // class ids are one byte

// A class of handles and the callback that releases them (may be null: nothing to release). The
// name is kept as given: pass a literal.
// Returns its id, from 1. Registering more than kMaxClasses is a fault of the program.
uint32_t register_class(std::string_view name, Release release);
std::string_view class_name(uint32_t class_id);  // "" for an unknown id

// Records a handle of a class; returns its entry. Never allocates series.
int32_t store(uintptr_t handle, uint32_t class_id);
// The handle of a live entry, or 0.
uintptr_t get(int32_t entry);
uint32_t class_of(int32_t entry);  // 0 for a free or unknown entry
bool live(int32_t entry);
// Gives a live entry a new handle, releasing the old one when it differs. False for a free or
// unknown entry.
bool replace(int32_t entry, uintptr_t handle);
// Unregisters a live entry, releasing its handle first when asked. False for a free or unknown
// entry (so a second remove does nothing).
bool remove(int32_t entry, bool release);
// Calls visit(handle, context) for every live entry of the class. visit must not store or
// remove handles.
void for_each_of_class(uint32_t class_id, void (*visit)(uintptr_t handle, void* context), void* context);
uint32_t live_count();
uint32_t capacity();

// ---- For the collector ----

// Marks the entry that a reachable handle! value names; a free or unknown entry is ignored.
// True when it was not yet marked in this collection.
bool mark(uint32_t entry);
// Releases and frees every live entry left unmarked, and unmarks the others.
void sweep();

}  // namespace zub::handles
