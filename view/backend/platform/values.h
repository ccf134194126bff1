// Small conversions between the platform layer's UTF-8 text and language values, and plain field
// access to faces, shared by the views, widgets, clipboard, dialogs and camera.
#pragma once

#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace zub::platform::values {

// A new string! holding the UTF-8 text (invalid UTF-8 raises access invalid-utf8). May collect.
Cell text(std::string_view utf8);
// Appends a new string! of the text to the block. May collect.
void append_text(NodeId block, std::string_view utf8);
// A string!'s (or file!'s) text as UTF-8. May collect (the conversion buffer).
std::string utf8_of(Cell value);

// An object's field by its index (a face's facet); none when the object has no such field.
Cell field(const Cell& object, uint32_t index);
// Sets a field without telling the object: the backend's own bookkeeping (state, selected ...).
void set_quiet(const Cell& object, uint32_t index, const Cell& value);

}  // namespace zub::platform::values
