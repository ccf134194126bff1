// The datatype registry: the name and parent of every type and its row of the action table.
// Rows are filled once at start, parents before children, and never change afterwards.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub::registry {

extern ActionTable g_actions[kTypeIdLimit];

// The row of a type: g_actions[type].mold(...) is the whole dispatch.
inline const ActionTable& actions(TypeId type) { return g_actions[static_cast<uint8_t>(type)]; }

// Registers every datatype. Once, at start, before any action is called.
void init();

bool is_type_id(uint32_t id);             // 1 to 54
std::string_view name(TypeId type);       // with its "!": "integer!"
TypeId parent(TypeId type);               // the type itself when it has none
std::string_view action_word(Slot slot);  // "append", "even?"

}  // namespace zub::registry
