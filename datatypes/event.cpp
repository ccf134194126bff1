// event!: making events from a spec block, reading and setting their path words, picking fields,
// form, mold and comparison. Made events carry face, window, offset and picked in a block of four
// values; the live event's platform fields are read through the hook the GUI layer installs.
#include "datatypes/event.h"

#include <array>
#include <string_view>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/mold.h"
#include "datatypes/pair.h"
#include "runtime/error.h"
#include "runtime/type_traits.h"

namespace zub {

namespace event {

namespace {

constexpr std::array<std::string_view, kTypeCount + 1> kTypeNames = {
    "",          "down",   "up",       "mid-down", "mid-up",    "alt-down", "alt-up",   "aux-down", "aux-up",  "click",
    "dbl-click", "wheel",  "over",     "key",      "key-down",  "key-up",   "ime",      "focus",    "unfocus", "enter",
    "zoom",      "pan",    "rotate",   "two-tap",  "press-tap", "select",   "change",   "menu",     "close",   "move",
    "resize",    "moving", "resizing", "time",     "drawing",   "scroll",   "minimize", "maximize", "restore",
};

constexpr std::array<std::string_view, 16> kFieldNames = {
    "",      "type",  "face",      "window",    "offset",    "key",   "picked", "flags",
    "away?", "down?", "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};

struct FlagWord {
    std::string_view name;
    uint32_t bit;
};

// In the order a flags block lists them; command is accepted by make and never listed.
constexpr std::array<FlagWord, 9> kFlagWords = {{
    {"away", flag::away},
    {"down", flag::down},
    {"mid-down", flag::mid_down},
    {"alt-down", flag::alt_down},
    {"aux-down", flag::aux_down},
    {"control", flag::control},
    {"shift", flag::shift},
    {"alt", flag::alt},
    {"command", flag::command},
}};

// The set-words a spec block may hold, after the path words that share their names.
enum SpecWord { s_type, s_key, s_flags, s_face, s_window, s_offset, s_picked, kSpecWords };
constexpr std::array<std::string_view, kSpecWords> kSpecNames = {"type",   "key",    "flags", "face",
                                                                 "window", "offset", "picked"};

// Canonical symbol ids, interned on first use (symbols live as long as the runtime).
struct Symbols {
    bool ready = false;
    symbol::Id types[kTypeCount + 1] = {};
    symbol::Id fields[kFieldNames.size()] = {};
    symbol::Id flags[kFlagWords.size()] = {};
    symbol::Id spec[kSpecWords] = {};
};
Symbols g_symbols;
LiveReader g_live_reader = nullptr;

const Symbols& symbols() {
    if (g_symbols.ready) [[likely]]
        return g_symbols;
    for (int i = 1; i <= kTypeCount; ++i) g_symbols.types[i] = symbol::resolve(symbol::make(kTypeNames[i]));
    for (size_t i = 1; i < kFieldNames.size(); ++i) g_symbols.fields[i] = symbol::resolve(symbol::make(kFieldNames[i]));
    for (size_t i = 0; i < kFlagWords.size(); ++i)
        g_symbols.flags[i] = symbol::resolve(symbol::make(kFlagWords[i].name));
    for (int i = 0; i < kSpecWords; ++i) g_symbols.spec[i] = symbol::resolve(symbol::make(kSpecNames[i]));
    g_symbols.ready = true;
    return g_symbols;
}

Cell unbound_word(symbol::Id s) { return cell::make(TypeId::word, 0, s, context::kUnresolved); }

bool is_word_like(const Cell& c) { return cell::is(c, TypeId::word) || cell::is(c, TypeId::lit_word); }

// The path field a word names, 0 for none.
int32_t field_of_symbol(symbol::Id id) {
    const Symbols& s = symbols();
    const symbol::Id canonical = symbol::resolve(id);
    for (size_t i = 1; i < kFieldNames.size(); ++i)
        if (s.fields[i] == canonical) return static_cast<int32_t>(i);
    return 0;
}

uint32_t flag_bit(symbol::Id id) {
    const Symbols& s = symbols();
    const symbol::Id canonical = symbol::resolve(id);
    for (size_t i = 0; i < kFlagWords.size(); ++i)
        if (s.flags[i] == canonical) return kFlagWords[i].bit;
    return 0;
}

int32_t spec_word(symbol::Id id) {
    const Symbols& s = symbols();
    const symbol::Id canonical = symbol::resolve(id);
    for (int i = 0; i < kSpecWords; ++i)
        if (s.spec[i] == canonical) return i;
    return -1;
}

// The type code a word names, raising not-event-type for any other word.
int32_t checked_type_code(const Cell& word) {
    const int32_t code = type_code(word.w2);
    if (code == 0) error::fire(ErrorId::not_event_type, cell::make(TypeId::word, word.w1, word.w2, word.w3));
    return code;
}

// A word or get-word in a spec stands for its value when it has one; a word without a value stays
// as written, so `type: down` works where down means nothing.
Cell spec_value(const Cell& value) {
    if (!cell::is(value, TypeId::word) && !cell::is(value, TypeId::get_word)) return value;
    if (value.w1 == 0 || value.w3 == context::kUnresolved) return value;
    const Cell* slot = context::value_at(value.w1, value.w3);
    if (!slot || cell::is(*slot, TypeId::unset)) return value;
    return *slot;
}

Cell data_field(const Cell& event, int index) {
    if (!is_made(event) || event.w2 == 0) {
        switch (index) {
            case 2: return pair::make(0, 0);
            case 3: return cell::integer(0);
            default: return cell::none();
        }
    }
    return block::abs_at(cell::series(TypeId::block, event.w2), static_cast<uint32_t>(index));
}

Cell read_field(const Cell& event, int32_t field) {
    const uint32_t flags = event.w3;
    switch (field) {
        case f_type: {
            const symbol::Id s = type_symbol(type_of(event));
            return s ? unbound_word(s) : cell::none();
        }
        case f_flags: return flag_words(flags);
        case f_away: return cell::logic(flags & flag::away);
        case f_down: return cell::logic(flags & flag::down);
        case f_mid_down: return cell::logic(flags & flag::mid_down);
        case f_alt_down: return cell::logic(flags & flag::alt_down);
        case f_aux_down: return cell::logic(flags & flag::aux_down);
        case f_ctrl: return cell::logic(flags & flag::control);
        case f_shift: return cell::logic(flags & flag::shift);
        default: break;
    }
    if (!is_made(event)) return g_live_reader ? g_live_reader(event, static_cast<Field>(field)) : cell::none();
    switch (field) {
        case f_face: return data_field(event, 0);
        case f_window: return data_field(event, 1);
        case f_offset: return data_field(event, 2);
        case f_picked: return data_field(event, 3);
        case f_key: {
            const uint32_t key = flags & flag::key_mask;
            return key ? cell::character(key) : cell::none();
        }
        default: return cell::none();  // orientation
    }
}

// ---- Actions ----------------------------------------------------------------------------------

Cell event_make(TypeId, Cell, Cell spec) {
    symbols();  // interned before the walk: nothing below collects until the data block is made
    Cell result = cell::make(TypeId::event, 0, 0, 0);
    result.header |= kMade;
    if (!cell::is(spec, TypeId::block)) return result;
    Cell data[4] = {cell::none(), cell::none(), pair::make(0, 0), cell::integer(0)};
    bool has_data = false;
    const uint32_t length = block::length(spec);
    for (uint32_t i = 0; i + 1 < length; ++i) {
        const Cell key = block::abs_at(spec, block::head_index(spec) + i);
        if (!cell::is(key, TypeId::set_word)) continue;
        const Cell written = block::abs_at(spec, block::head_index(spec) + i + 1);
        const Cell value = spec_value(written);
        switch (spec_word(key.w2)) {
            case s_type:
                // A word whose value is no word names the type itself: `type: close` means the
                // close event, not the close function (which would be skipped without a word).
                if (is_word_like(value)) result.w1 = static_cast<uint32_t>(checked_type_code(value));
                else if (cell::is(written, TypeId::word)) result.w1 = static_cast<uint32_t>(checked_type_code(written));
                break;
            case s_key:
                if (cell::is(value, TypeId::char_)) result.w3 |= cell::as_char(value) & flag::key_mask;
                break;
            case s_flags:
                if (!cell::is(value, TypeId::block)) break;
                for (uint32_t k = 0, n = block::length(value); k < n; ++k) {
                    const Cell w = block::abs_at(value, block::head_index(value) + k);
                    if (cell::is(w, TypeId::word)) result.w3 |= flag_bit(w.w2);
                }
                break;
            case s_face:
            case s_window:
                if (cell::is(value, TypeId::object)) {
                    data[spec_word(key.w2) == s_face ? 0 : 1] = value;
                    has_data = true;
                }
                break;
            case s_offset:
                if (cell::is(value, TypeId::pair) || cell::is(value, TypeId::point2D)) {
                    data[2] = value;
                    has_data = true;
                }
                break;
            case s_picked:
                if (cell::is(value, TypeId::integer)) {
                    data[3] = value;
                    has_data = true;
                }
                break;
            default: break;
        }
    }
    if (has_data) {
        // The values stay reachable from the block the event is made from meanwhile; the new block is the
        // result's alone.
        const Cell block = block::make(4);
        for (const Cell& v : data) block::append(cell::series_node(block), v);
        result.w2 = cell::series_node(block);
    }
    return result;
}

int32_t event_form(Cell, NodeId out, int32_t limit) { return mold::emit(out, "event", limit); }

int32_t event_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return event_form(value, out, limit); }

// Any two events are equal: an event names a happening, not a value to tell apart. Against other
// types an event is unequal and has no order.
int32_t event_compare(Cell, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::event)) return equality_op(op) ? 1 : kNotComparable;
    switch (op) {
        case op_equal:
        case op_not_equal:
        case op_strict_equal:
        case op_sort:
        case op_sort_case:
        case op_same:
        case op_find: return 0;
        default: return kNotComparable;
    }
}

// Writing sets the type only; the changed event goes back where it came from.
Cell event_eval_path(Cell parent, Cell element, const PathStep& step) {
    const int32_t field = cell::is(element, TypeId::word) ? field_of_symbol(element.w2) : 0;
    if (!step.set_value) {
        if (field == 0) error::fire(ErrorId::invalid_path, step.path, element);
        return read_field(parent, field);
    }
    const Cell value = *step.set_value;
    if (field != f_type || !cell::is(value, TypeId::word)) error::fire(ErrorId::bad_path_set, step.path, element);
    parent.w1 = static_cast<uint32_t>(checked_type_code(value));
    return parent;
}

Cell event_pick(Cell value, int32_t index, Cell index_value) {
    if (cell::is(index_value, TypeId::word)) {
        const int32_t field = field_of_symbol(index_value.w2);
        if (field == 0) error::fire(ErrorId::cannot_use, index_value, value);
        return read_field(value, field);
    }
    if (!cell::is(index_value, TypeId::integer) || index < 1 || index > f_orientation)
        error::fire(ErrorId::out_of_range, index_value);
    return read_field(value, index);
}

}  // namespace

symbol::Id type_symbol(int32_t code) {
    if (code < 1 || code > kTypeCount) return 0;
    return symbols().types[code];
}

int32_t type_code(symbol::Id symbol) {
    const Symbols& s = symbols();
    const symbol::Id canonical = symbol::resolve(symbol);
    for (int i = 1; i <= kTypeCount; ++i)
        if (s.types[i] == canonical) return i;
    return 0;
}

Cell flag_words(uint32_t flags) {
    const Symbols& s = symbols();
    const Cell block = block::make(8);
    for (size_t i = 0; i + 1 < kFlagWords.size(); ++i)
        if (flags & kFlagWords[i].bit) block::append(cell::series_node(block), unbound_word(s.flags[i]));
    return block;
}

void init() {
    g_symbols.ready = false;
    (void)symbols();
}

void set_live_reader(LiveReader reader) { g_live_reader = reader; }

Cell read(const Cell& ev, Field field) { return read_field(ev, field); }

}  // namespace event

extern const ActionTable event_actions = {
    .make = event::event_make,
    .form = event::event_form,
    .mold = event::event_mold,
    .eval_path = event::event_eval_path,
    .compare = event::event_compare,
    .pick = event::event_pick,
};

extern const type_traits::Traits event_traits = {
    .refs = {type_traits::Ref::none, type_traits::Ref::cells, type_traits::Ref::none},
    .gate = type_traits::Gate::flag_set,
    .gated = type_traits::kW2,
    .gate_flags = cell_flag::event_series,
    .hash = type_traits::hash_w2,
};

}  // namespace zub
