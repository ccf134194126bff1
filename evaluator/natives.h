// The natives table: the built-in functions that are not actions, found by a 1-based index. A
// native! value holds that index, never an address. Every entry has one signature and finds its
// arguments on the evaluation stack; the specs (boot/natives.zub) give the argument checks that
// calls from C++ ask for.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "evaluator/exits.h"
#include "evaluator/signatures.h"
#include "runtime/cell.h"

namespace zub::natives {

enum class Native : uint8_t {
#define ZUB_NATIVE(member, word, entry) member,
#include "evaluator/natives.def"
};
inline constexpr uint32_t kCount = 0
#define ZUB_NATIVE(member, word, entry) +1
#include "evaluator/natives.def"
    ;

inline constexpr uint32_t index_of(Native n) { return static_cast<uint32_t>(n) + 1; }

// The words of the natives, in index order (index 1 at [0]).
inline constexpr std::string_view kWords[] = {
#define ZUB_NATIVE(member, word, entry) word,
#include "evaluator/natives.def"
};

// The entry of a native. Arguments at stack::args()[0], [1], ... in spec order, then the
// arguments of every refinement (present or not); refinements[i] is -1 when the i-th refinement
// is absent, else the position of its first argument counted from the arguments base (any value
// above -1 for a refinement without arguments). The result goes to stack::args()[0]. A native
// that evaluates code passes on the Status of break, continue, return and exit. May collect.
// evaluator/native_args.h reads this layout by name.
using Entry = Status (*)(const int32_t* refinements);

// Every entry that natives.def names, each defined in the file of its group; `planned` stands for
// the natives not written yet and raises internal not-done.
Status planned(const int32_t* refinements);
#define ZUB_NATIVE(member, word, entry) Status entry(const int32_t* refinements);
#include "evaluator/natives.def"

// Fills the table in index order and loads the native and action specs from their `word [spec]`
// texts, which start-up hands over. Once, at start, after the registry, the symbols and the lexer.
// May collect.
void init(const unsigned char* native_specs, uint32_t native_specs_size, const unsigned char* action_specs,
          uint32_t action_specs_size);

// Start-up of the groups that keep words or buffers of their own; init calls them.
namespace groups {
void control();     // conditionals and loops
void evaluation();  // do, reduce, functions, words and contexts, exits
void output();      // output, time, environment and runtime
}  // namespace groups

inline constexpr uint32_t count() { return kCount; }
inline constexpr bool filled(uint32_t index) { return index >= 1 && index <= kCount; }  // a native's index
// The table, in index order (index 1 at [0]), sized by the list: the interpreter's calls by index.
extern const Entry g_entries[kCount];
Entry entry(uint32_t index);            // an index outside the table gets an entry raising internal not-done
std::string_view word(uint32_t index);  // "if" for 1; "" outside the table

// The spec of a filled native, and that of an action slot: a block at head 0, and its parameters.
Cell spec(uint32_t index);
Cell action_spec(Slot slot);
const signatures::Shape& shape(uint32_t index);
// Whether start-up has loaded the action specs (action_shape needs them).
bool actions_loaded();
const signatures::Shape& action_shape(Slot slot);
const signatures::Param& param(const signatures::Shape& shape, uint32_t i);
// Every native's shape (index 1 at [0]) and every action slot's, in order: the interpreter's
// view, valid until the next init.
const signatures::Shape* native_shapes();
const signatures::Shape* action_shapes();

// Raises script expect-arg [the call's word, the value's datatype, the argument's word] when the
// value's type is not in the typeset. Never allocates but to raise.
void check_arg(const Cell& value, const Cell& types, symbol::Id argument);
// Raises script expect-arg for a native's argument (by its place in its argument block) that a call
// from C++ did not check: the same error the interpreter gives, never a wrong answer.
[[noreturn]] void raise_arg(Native native, uint32_t param, const Cell& value);
// Checks every fixed argument and the arguments of every present refinement of a call laid out
// as Entry describes, in spec order. Never allocates but to raise.
void check_args(const signatures::Shape& shape, const int32_t* refinements);

// Calls a native by index from C++ with the arguments already pushed after a frame mark; with
// `check` the arguments are checked first (the interpreter has checked what it fetched).
Status call(uint32_t index, const int32_t* refinements, bool check);

}  // namespace zub::natives
