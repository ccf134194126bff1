// Cell primitives that need more than a header: the checked conversion to a 32-bit integer.
#include "runtime/cell.h"

#include "runtime/error.h"

namespace zub::cell {

bool truthy_checked(const Cell& c) {
    if (is(c, TypeId::unset)) error::fire(ErrorId::no_return);
    return truthy(c);
}

int32_t to_int32_checked(const Cell& value) {
    if (is(value, TypeId::integer)) return as_integer(value);
    const double d = as_float(value);
    // The comparisons are false for NaN, so it falls through to the error.
    if (d <= 2147483647.0 && d >= -2147483648.0) return static_cast<int32_t>(d);
    error::fire(ErrorId::out_of_range, value);
}

}  // namespace zub::cell
