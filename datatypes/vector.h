// vector!: a packed series of numbers of one element type (char!, integer!, float! or percent!),
// 1, 2, 4 or 8 bytes wide. The cell: word 1 the head index in elements, word 2 the node of the
// element buffer (whose unit is the element width), word 3 the element type id. Navigation, pick,
// poke, copy, remove, take and the other series actions are series!'s; this module adds make, the
// text forms, comparison, element insertion, search, sort and element-wise arithmetic.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::vector {

// The element type of a vector value.
inline TypeId element_type(const Cell& value) { return static_cast<TypeId>(value.w3); }

// An empty vector of the element type and width in bytes, with room for count elements (at least
// 1). count x width beyond what a buffer can hold raises internal no-memory. May collect.
Cell make_at(uint32_t count, TypeId element, uint32_t width);

// A new block of the elements from the head, as values of the element type (capacity at least 1).
// May collect.
Cell to_block(Cell value);

}  // namespace zub::vector
