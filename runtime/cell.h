// The value cell: the one 16-byte representation of every Zub value, on the evaluation stack or
// inside a block's series. A 32-bit header (type id in the low byte, flags above) and three 32-bit
// payload words whose meaning depends on the type. References are 32-bit ids, never pointers.
#pragma once

#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zub {

enum class TypeId : uint8_t {
#define ZUB_TYPE(name, text, id, parent, stem) name = id,
#include "datatypes/types.def"
};
inline constexpr int kTypeCount = 54;
inline constexpr int kTypeIdLimit = 57;  // room in the type tables

using NodeId = uint32_t;  // index into the node table; 0 is no node

// The type groups rules are written in: one bit per type id.
namespace type_group {
constexpr uint64_t bit(TypeId t) { return uint64_t{1} << static_cast<uint8_t>(t); }
inline constexpr uint64_t block_like = bit(TypeId::block) | bit(TypeId::paren) | bit(TypeId::path) |
                                       bit(TypeId::lit_path) | bit(TypeId::set_path) | bit(TypeId::get_path) |
                                       bit(TypeId::hash);
inline constexpr uint64_t text_like = bit(TypeId::string) | bit(TypeId::file) | bit(TypeId::url) | bit(TypeId::tag) |
                                      bit(TypeId::email) | bit(TypeId::ref);
inline constexpr uint64_t series =
    block_like | text_like | bit(TypeId::binary) | bit(TypeId::vector) | bit(TypeId::image);
inline constexpr uint64_t all_word = bit(TypeId::word) | bit(TypeId::set_word) | bit(TypeId::lit_word) |
                                     bit(TypeId::get_word) | bit(TypeId::refinement) | bit(TypeId::issue);
constexpr bool in(uint64_t group, TypeId t) { return (group & bit(t)) != 0; }
}  // namespace type_group

struct Cell {
    uint32_t header;  // type id in bits 0-7, flags above
    uint32_t w1;      // payload, by type: series head index, context node, ...
    uint32_t w2;      // payload: series node, integer value, low half of a double, ...
    uint32_t w3;      // payload: conversion buffer, high half of a double, ...
};
static_assert(sizeof(Cell) == 16);
static_assert(std::is_trivially_copyable_v<Cell>);

// Header flags shared across the runtime.
namespace cell_flag {
inline constexpr uint32_t new_line = 0x40000000;        // a new line precedes it when molded
inline constexpr uint32_t stack_values = 0x00400000;    // context!: values on the evaluation stack
inline constexpr uint32_t context_kind = 0x00001800;    // context!: 0 plain, 1 function, 2 object
inline constexpr uint32_t object_context = 0x01000000;  // context!: belongs to an object
inline constexpr uint32_t owns_series = 0x00010000;     // context!: the object owns its series
inline constexpr uint32_t word_set = 0x00002000;        // word in an object's word list: written
inline constexpr uint32_t event_series = 0x00001000;    // event!: w2 holds a cell series
inline constexpr uint32_t function_trace = 0x00000400;  // function!: traced
inline constexpr uint32_t function_no_trace = 0x00000200;
}  // namespace cell_flag

namespace cell {

inline TypeId type(const Cell& c) { return static_cast<TypeId>(c.header & 0xFF); }
inline bool is(const Cell& c, TypeId t) { return (c.header & 0xFF) == static_cast<uint32_t>(t); }

// Keeps the flags, replaces the type id.
inline void set_type(Cell& c, TypeId t) { c.header = (c.header & ~0xFFu) | static_cast<uint32_t>(t); }

inline bool new_line(const Cell& c) { return (c.header & cell_flag::new_line) != 0; }
inline void set_new_line(Cell& c, bool on) {
    c.header = on ? (c.header | cell_flag::new_line) : (c.header & ~cell_flag::new_line);
}
inline void clear_new_line(Cell& c) { c.header &= ~cell_flag::new_line; }

// Built in a vector register, so that storing a new cell is one 16-byte store: a cell stored in
// pieces and soon read whole (as every copy reads it) stalls the load.
inline constexpr Cell make(TypeId t, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
    if (std::is_constant_evaluated()) return Cell{static_cast<uint32_t>(t), w1, w2, w3};
    return std::bit_cast<Cell>(
        _mm_setr_epi32(static_cast<int>(t), static_cast<int>(w1), static_cast<int>(w2), static_cast<int>(w3)));
}
inline constexpr Cell unset() { return make(TypeId::unset); }
inline constexpr Cell none() { return make(TypeId::none); }
inline constexpr Cell logic(bool b) { return make(TypeId::logic, b ? 1u : 0u); }
inline constexpr Cell integer(int32_t v) { return make(TypeId::integer, 0, static_cast<uint32_t>(v)); }
inline constexpr Cell character(uint32_t cp) { return make(TypeId::char_, 0, cp); }

// A double lives in w2 (low half) and w3 (high half).
inline Cell floating(double v, TypeId t = TypeId::float_) {
    const auto bits = std::bit_cast<uint64_t>(v);
    return make(t, 0, static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32));
}

// A series value: head index in units (w1) and node (w2).
inline constexpr Cell series(TypeId t, NodeId node, uint32_t index = 0) { return make(t, index, node); }

// Copies a cell with one 16-byte load and store (a plain assignment may go field by field).
inline void copy(Cell& to, const Cell& from) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(&from)));
}

// Stores a value over a cell, keeping the cell's new-line flag (one the value has stays too).
inline void store_keeping_new_line(Cell& to, const Cell& from) {
    const uint32_t line = to.header & cell_flag::new_line;
    copy(to, from);
    to.header |= line;
}

// The datatype! value of a type, and of a value's type.
inline constexpr Cell datatype_of(TypeId t) { return make(TypeId::datatype, static_cast<uint32_t>(t)); }
inline Cell datatype_of(const Cell& value) { return datatype_of(type(value)); }
// The type a datatype! value names (its w1).
inline TypeId datatype_type(const Cell& c) { return static_cast<TypeId>(c.w1); }

inline bool as_logic(const Cell& c) { return c.w1 != 0; }
inline int32_t as_integer(const Cell& c) { return static_cast<int32_t>(c.w2); }
inline double as_float(const Cell& c) { return std::bit_cast<double>(static_cast<uint64_t>(c.w3) << 32 | c.w2); }
inline uint32_t as_char(const Cell& c) { return c.w2; }  // the code point of a char!
inline NodeId series_node(const Cell& c) { return c.w2; }
inline uint32_t series_index(const Cell& c) { return c.w1; }
inline void set_series_index(Cell& c, uint32_t index) { c.w1 = index; }
// A series value's third word: a string's conversion buffer node, a vector's element type.
inline uint32_t series_extra(const Cell& c) { return c.w3; }
inline void set_series_extra(Cell& c, uint32_t extra) { c.w3 = extra; }

// Identity of values compared by their payload alone (callables): 0 when all three payload words
// match, else ordered by w1.
inline int32_t payload_order(const Cell& a, const Cell& b) {
    if (a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3) return 0;
    return a.w1 < b.w1 ? -1 : 1;
}

// Truth: only none and false are false.
inline bool truthy(const Cell& c) { return !(is(c, TypeId::none) || (is(c, TypeId::logic) && c.w1 == 0)); }

// Truth for conditions that must have a value: unset raises script no-return.
bool truthy_checked(const Cell& c);

// integer! as it is; float! and percent! truncated toward zero when within the 32-bit range.
// Out-of-range values and NaN raise script out-of-range with the value. May not allocate.
int32_t to_int32_checked(const Cell& value);

}  // namespace cell
}  // namespace zub
