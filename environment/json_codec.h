// The C++ halves of the JSON codec: the routines `json-decode` (text to values, or the error value
// that says where the text stops being JSON) and `json-encode` (values to JSON text), which
// environment/0270-json.zub binds for `load-json` and `to-json`.
#pragma once

namespace zub::json_codec {

// Registers both routines by name. Once per start, with the other routines.
void register_routines();

}  // namespace zub::json_codec
