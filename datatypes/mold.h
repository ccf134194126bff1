// Helpers shared by the form and mold entries of every datatype: text goes to the tail of an
// output string and the entry returns the part budget left.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/series.h"

namespace zub::mold {

// Appends ASCII text and returns the budget less its length. May collect.
inline int32_t emit(NodeId out, std::string_view text, int32_t limit) {
    series::append_ascii(out, text);
    return limit - static_cast<int32_t>(text.size());
}

// Four spaces per level.
inline int32_t indent(NodeId out, int32_t level, int32_t limit) {
    for (int32_t i = 0; i < level; ++i) limit = emit(out, "    ", limit);
    return limit;
}

}  // namespace zub::mold
