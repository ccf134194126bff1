// The C++ side of the ZUBBIN codec object.
#pragma once

namespace zub::zubbin_codec {

// Registers the codec's routines by name. With the other routines, once per start. May collect.
void register_routines();

}  // namespace zub::zubbin_codec
