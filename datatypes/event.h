// event!: the value every user-interface happening reaches the language as. The cell holds the
// event type code (w1, 0 when a made event named none), the made event's data block (w2, present
// when the header has kMade and w2 is not 0) and the flags word (w3: key, character, picked index
// or menu id in the low bits, modifier and button bits above). The one live event is filled by
// the GUI platform layer, which reads its platform-dependent paths through a hook.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/symbol.h"

namespace zub::event {

inline constexpr uint32_t kMade = cell_flag::event_series;  // built by make; w2 may hold its data

// Event type codes: 1 down ... 38 restore.
inline constexpr int32_t kTypeCount = 38;
enum Type : int32_t {
    down = 1,
    up,
    mid_down,
    mid_up,
    alt_down,
    alt_up,
    aux_down,
    aux_up,
    click,
    dbl_click,
    wheel,
    over,
    key,
    key_down,
    key_up,
    ime,
    focus,
    unfocus,
    enter,
    zoom,
    pan,
    rotate,
    two_tap,
    press_tap,
    select,
    change,
    menu,
    close,
    move,
    resize,
    moving,
    resizing,
    time,
    drawing,
    scroll,
    minimize,
    maximize,
    restore,
};

// Bits of the flags word. The key or character takes the bits below kFlagBits: 21 bits hold any
// code point, so a character above U+FFFF keeps its value.
namespace flag {
inline constexpr uint32_t command = 0x80000000;
inline constexpr uint32_t alt = 0x40000000;
inline constexpr uint32_t shift = 0x20000000;
inline constexpr uint32_t control = 0x10000000;
inline constexpr uint32_t away = 0x04000000;
inline constexpr uint32_t down = 0x02000000;
inline constexpr uint32_t mid_down = 0x01000000;
inline constexpr uint32_t alt_down = 0x00800000;
inline constexpr uint32_t aux_down = 0x00400000;
inline constexpr uint32_t key_mask = 0x001FFFFF;
}  // namespace flag

// The path words by index: 1 type ... 15 orientation.
enum Field : int32_t {
    f_type = 1,
    f_face,
    f_window,
    f_offset,
    f_key,
    f_picked,
    f_flags,
    f_away,
    f_down,
    f_mid_down,
    f_alt_down,
    f_aux_down,
    f_ctrl,
    f_shift,
    f_orientation,
};

// Interns the event words. Once per runtime start, after the symbol table. May collect.
void init();

// The word of a type code (its symbol), 0 for a code outside 1..38. May collect on first use.
symbol::Id type_symbol(int32_t code);
// The type code of a word's symbol, 0 when it names no event type. May collect on first use.
int32_t type_code(symbol::Id symbol);

// A live event cell (no kMade) of a type code and flags word.
inline Cell make_live(int32_t type, uint32_t flags) {
    return cell::make(TypeId::event, static_cast<uint32_t>(type), 0, flags);
}
inline bool is_made(const Cell& event) { return (event.header & kMade) != 0; }
inline int32_t type_of(const Cell& event) { return static_cast<int32_t>(event.w1); }

// The block of flag words that a flags word holds, in the order away, down, mid-down, alt-down,
// aux-down, control, shift, alt. May collect.
Cell flag_words(uint32_t flags);

// Reads the fields of the live event that only the platform knows (face, window, offset, key,
// picked, orientation); flags and the logic fields come from the cell. Installed by the GUI
// platform layer; without one those fields read none.
using LiveReader = Cell (*)(const Cell& event, Field field);
void set_live_reader(LiveReader reader);

// A field as its path word reads it. May collect (flags makes a block).
Cell read(const Cell& event, Field field);

}  // namespace zub::event
