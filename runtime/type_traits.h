// Per-type traits: what the collector, the hash indexes, `same?`, copying, the evaluator and the
// cycle guard need to know about a type's payload, as plain data. Each datatype's file gives its
// row beside its action table; the registry fills the table at start, before any value is made.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zub::type_traits {

// What a payload word refers to, for the collector.
enum class Ref : uint8_t {
    none,    // plain data, or an id the collector does not own
    cells,   // a node whose series holds cells (0: none)
    bytes,   // a node whose series holds no cells (0: none)
    table,   // a hash table node (0: none)
    handle,  // an external handle id; negative: none
};

// When the gated payload words hold what their Ref says; the others always do.
enum class Gate : uint8_t {
    always,
    flag_clear,   // when every bit of `gate_flags` is clear in the header
    flag_set,     // when every bit of `gate_flags` is set in the header
    header_type,  // when the type id in header bits `gate_shift`.. is in `gate_types`
};

// Payload word bits, for the masks below.
inline constexpr uint8_t kW1 = 1;
inline constexpr uint8_t kW2 = 2;
inline constexpr uint8_t kW3 = 4;

// Hashes shared by several types' rows. Never allocate.
uint32_t hash_w1(const Cell& c);
uint32_t hash_w2(const Cell& c);
uint32_t hash_w2_near(const Cell& c);  // w2 itself: keys counted up take neighbouring buckets
uint32_t hash_w3(const Cell& c);
uint32_t hash_w1_w2(const Cell& c);     // the two words together: a series' position and node, ...
uint32_t hash_w2_w3(const Cell& c);     // the two words of a double
uint32_t hash_float(const Cell& c);     // a double, every NaN alike: a search finds a NaN by any NaN
uint32_t hash_w1_w2_w3(const Cell& c);  // the whole payload
uint32_t hash_text(const Cell& c);      // text from the head, case-folded

struct Traits {
    Ref refs[3] = {};                                  // what w1, w2 and w3 refer to
    Gate gate = Gate::always;                          // the condition on the gated words
    uint8_t gated = 0;                                 // kW1 | kW2 | kW3: the words the gate governs
    uint8_t gate_shift = 0;                            // header_type: where the type id sits in the header
    uint32_t gate_flags = 0;                           // flag_clear, flag_set: the header bits tested
    uint64_t gate_types = 0;                           // header_type: the type ids that open the gate
    uint32_t (*hash)(const Cell&) = hash_w1;           // hash-index hash; never allocates
    uint8_t same_words = kW1 | kW2 | kW3;              // same?: the payload words that must match
    bool (*same)(const Cell&, const Cell&) = nullptr;  // same? for both of this type, in place of same_words
    uint8_t key_words = 0;                             // hash indexes: keys equal only when these words match
                                                       // (0: compared by value)
    uint8_t walk_word = 2;                             // 1 to 3: the word holding the series walks go through
    std::string_view cycle_marker = "...";             // molded in place of a series met again in a walk
    bool self_evaluating = true;                       // evaluates to itself
    bool copies = false;                               // copy/types gives a copy of it, not the value itself
};

extern Traits g_rows[kTypeIdLimit];
extern uint64_t g_self_evaluating;         // one bit per type id: the types whose self_evaluating is set
extern uint8_t g_ref_words[kTypeIdLimit];  // kW1 | kW2 | kW3: the words a type's refs name, 0 for none

inline const Traits& of(TypeId type) { return g_rows[static_cast<uint8_t>(type)]; }

// Installs a type's row (the registry, at start).
void set(TypeId type, const Traits& row);

// Whether a value's gated words hold references.
inline bool gate_open(const Traits& t, const Cell& c) {
    switch (t.gate) {
        case Gate::always: return true;
        case Gate::flag_clear: return (c.header & t.gate_flags) == 0;
        case Gate::flag_set: return (c.header & t.gate_flags) == t.gate_flags;
        case Gate::header_type: {
            const uint32_t id = (c.header >> t.gate_shift) & 0xFF;
            return id < 64 && ((t.gate_types >> id) & 1) != 0;
        }
    }
    return false;
}

// Whether the words of a mask are equal in two cells.
inline bool words_equal(const Cell& a, const Cell& b, uint8_t words) {
    return (!(words & kW1) || a.w1 == b.w1) && (!(words & kW2) || a.w2 == b.w2) && (!(words & kW3) || a.w3 == b.w3);
}

// A payload word by its number, 1 to 3.
inline uint32_t word(const Cell& c, uint8_t n) { return n == 1 ? c.w1 : n == 2 ? c.w2 : c.w3; }

}  // namespace zub::type_traits
