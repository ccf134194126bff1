// Small operations on series buffers shared across the runtime: buffers used as growable arrays
// of bytes, 32-bit integers or cells, length and truncation in units, part copies. Appending
// goes through `reserve_tail`, so buffers grow by doubling. Every function that may grow a
// buffer may collect: pointers it returns are valid until the next allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::series {

// A series of count units of the given width, head at the start.
inline NodeId alloc_with_unit(uint32_t count, uint32_t unit) { return memory::alloc_series(count, unit, 0); }

inline uint32_t unit(NodeId node) { return memory::buffer(node)->unit(); }
inline uint32_t flags(NodeId node) { return memory::buffer(node)->flags; }
inline uint32_t length(NodeId node) {
    const SeriesBuffer* b = memory::buffer(node);
    return b->used() / b->unit();
}
inline void clear(NodeId node) {
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head;
}
// Tail at the 1-based unit position p: position 1 empties the series.
inline void set_tail(NodeId node, uint32_t p) {
    SeriesBuffer* b = memory::buffer(node);
    b->tail = b->head + (p - 1) * b->unit();
}
inline NodeId copy(NodeId node) { return memory::copy_series(node); }

// Moves the tail n bytes on, expanding (with copy) when the data area would overflow: to 2 x n
// bytes when smaller than n, else to twice its size. Returns the old tail. May collect.
std::byte* reserve_tail(NodeId node, uint32_t n);

void append_byte(NodeId node, uint8_t byte);
inline uint8_t byte_at(NodeId node, uint32_t index) {  // 1-based
    return static_cast<uint8_t>(memory::buffer(node)->head_ptr()[index - 1]);
}
// Copies n bytes to the tail and returns where they went. `bytes` must not point into a series.
std::byte* append_bytes(NodeId node, const void* bytes, uint32_t n);

void append_int32(NodeId node, uint32_t value);
uint32_t int32_at(NodeId node, uint32_t index);  // 1-based
void set_int32_at(NodeId node, uint32_t index, uint32_t value);
// Byte offset from the head of the first equal integer, or -1.
int64_t find_int32(NodeId node, uint32_t value);
// Removes the first equal integer; -1 when absent, else its byte offset.
int64_t remove_int32(NodeId node, uint32_t value);

// Moves the units from the 0-based unit offset to the tail one unit up and stores the value
// there, in the series' own unit width (1, 2 or 4). May collect.
void insert_unit(NodeId node, uint32_t value, uint32_t offset);
// Moves the rest down over n bytes at the byte offset from the head.
void remove_bytes(NodeId node, uint32_t offset, uint32_t n);

// A new cell at the tail, set to unset. May collect.
Cell* alloc_tail_cell(NodeId node);
// Appends a copy of the cell (taken by value, so it may come from any series). May collect.
void append_cell(NodeId node, Cell value);

// A new series holding count units of the source from the unit index start, with the source's
// flags less the owned flag. May collect.
NodeId copy_part(NodeId source, uint32_t start, uint32_t count);

// Repeats the first n bytes at start count times in place, by doubling copies; returns the end.
std::byte* repeat_bytes(std::byte* start, uint32_t n, uint32_t count);

// Appends ASCII text to a string series of any unit width. May collect.
void append_ascii(NodeId node, std::string_view text);

// One code unit of a 1-, 2- or 4-byte string buffer, read or written in place.
inline uint32_t load_unit(const std::byte* at, uint32_t unit) {
    switch (unit) {
        case 1: return static_cast<uint8_t>(*at);
        case 2: {
            uint16_t u;
            std::memcpy(&u, at, 2);
            return u;
        }
        default: {
            uint32_t u;
            std::memcpy(&u, at, 4);
            return u;
        }
    }
}
inline void store_unit(std::byte* at, uint32_t unit, uint32_t value) {
    switch (unit) {
        case 1: *at = static_cast<std::byte>(value); break;
        case 2: {
            const auto u = static_cast<uint16_t>(value);
            std::memcpy(at, &u, 2);
            break;
        }
        default: std::memcpy(at, &value, 4); break;
    }
}
inline uint32_t code_point_at(const std::byte* data, uint32_t unit, uint32_t index) {
    return load_unit(data + size_t{index} * unit, unit);
}

// MurmurHash3 of count code points from the unit index (count clipped at the tail; kToTail for
// all), upper-cased unless case_sensitive. The same text hashes alike in every unit width.
inline constexpr uint32_t kToTail = 0xFFFFFFFF;
uint32_t hash_text(NodeId node, uint32_t index, uint32_t count, bool case_sensitive);

}  // namespace zub::series
