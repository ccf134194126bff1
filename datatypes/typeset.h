// typeset!: a set of datatypes held in one cell. Function specs, the interpreter's argument checks,
// the tracer's filters and the standard typesets of the environment (number!, any-string! ...)
// are typesets. Type id i is bit i of the 96 payload bits, counted from the first payload byte in
// memory order, most significant bit first.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace zub::typeset {

inline constexpr uint32_t kBits = 96;  // type ids 0 to 95; only 1 to kTypeCount are ever shown

static_assert(std::endian::native == std::endian::little, "the bit masks below assume it");

// Where type id i lives: payload word i / 32 (w1 first), byte (i / 8) % 4 of that word in memory,
// most significant bit of the byte first.
inline uint32_t word_mask(uint32_t id) { return (0x80u >> (id & 7)) << (((id >> 3) & 3) * 8); }
inline uint32_t& payload_word(Cell& set, uint32_t id) { return id < 32 ? set.w1 : id < 64 ? set.w2 : set.w3; }
inline uint32_t payload_word(const Cell& set, uint32_t id) { return id < 32 ? set.w1 : id < 64 ? set.w2 : set.w3; }

// Whether the type is in the set. Never allocates.
inline bool contains(const Cell& set, TypeId type) {
    const auto id = static_cast<uint32_t>(type);
    return id < kBits && (payload_word(set, id) & word_mask(id)) != 0;
}
// The set's type ids below 64 as the bits of one word (id i is bit i), so a check that is made
// on every call is one shift: ids past 63 are never a value's type.
inline uint64_t low_mask(const Cell& set) {
    uint64_t mask = 0;
    for (uint32_t id = 0; id < 64; ++id)
        if (contains(set, static_cast<TypeId>(id))) mask |= uint64_t{1} << id;
    return mask;
}
// Puts the type in the set. Never allocates.
inline void add(Cell& set, TypeId type) {
    const auto id = static_cast<uint32_t>(type);
    if (id < kBits) payload_word(set, id) |= word_mask(id);
}

// Whether two sets hold the same types. Never allocates.
inline bool same_types(const Cell& a, const Cell& b) { return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3; }
// Puts every type of the other set in the set. Never allocates.
inline void add_all(Cell& set, const Cell& more) { set.w1 |= more.w1, set.w2 |= more.w2, set.w3 |= more.w3; }

inline constexpr Cell make_empty() { return cell::make(TypeId::typeset); }
// From raw payload words, as the binary loaders store them.
inline constexpr Cell make_raw(uint32_t w1, uint32_t w2, uint32_t w3) {
    return cell::make(TypeId::typeset, w1, w2, w3);
}
// The set of the listed types.
Cell make_of(std::initializer_list<TypeId> types);
// Every bit set but that of unset!: the tracer's default filter.
Cell make_default();

// The number of registered types (ids 1 to kTypeCount) in the set.
uint32_t count(const Cell& set);

// The add routine of make and of the bitwise actions: a word! is replaced by its value (looked
// up in its context); a typeset! is or-ed in; a datatype! sets its bit. Anything else raises
// script invalid-arg with the value. Never allocates but to raise.
void add_value(Cell& set, Cell value);

// The tracer's form of make: each element of the block from its head, a word! replaced by its
// value, is added; a block! element is passed over; anything else raises script
// invalid-type-spec with the value.
Cell make_from_block(Cell block);

// Appends to the block the datatype! value of every type in the set, in ascending id order.
// May collect.
void to_block(Cell set, NodeId block);

// The bitwise actions and the set natives, by their operation codes: 5 or~, 6 and~, 7 xor~,
// 9 union, 10 intersect, 11 exclude, 12 difference. A datatype! operand counts as the set of that
// one type; any other operand that is not a typeset! raises script invalid-arg with it.
inline constexpr int32_t kOr = 5, kAnd = 6, kXor = 7, kUnion = 9, kIntersect = 10, kExclude = 11, kDifference = 12;
Cell combine(Cell a, Cell b, int32_t op);

}  // namespace zub::typeset
