// The checks of /part and /skip that natives and actions share, with their exact errors.
#include "evaluator/native_args.h"

#include <algorithm>

#include "datatypes/registry.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "evaluator/words.h"

namespace zub::native_args {
namespace {

bool takes_part(TypeId t) { return type_group::in(type_group::series | type_group::bit(TypeId::map), t); }

[[noreturn]] void refuse(words::Word refinement, const Cell& value) {
    error::fire(ErrorId::invalid_refine_arg, words::global(words::id(refinement)), value);
}

}  // namespace

bool part(Cell& series, const Cell* part, int32_t& length) {
    if (!part) {
        length = -1;
        return true;
    }
    if (!takes_part(cell::type(series))) error::fire(ErrorId::invalid_part, *part);
    const uint32_t tail = series::length(cell::series_node(series));
    if (series.w1 > tail) series.w1 = tail;
    int32_t n;
    if (cell::is(*part, TypeId::integer)) {
        n = cell::as_integer(*part);
    } else if (cell::type(*part) == cell::type(series) && part->w2 == series.w2) {
        n = static_cast<int32_t>(part->w1) - static_cast<int32_t>(series.w1);
    } else {
        refuse(words::Word::part, *part);
    }
    if (n == 0) return false;
    if (n < 0) {
        if (series.w1 == 0) return false;
        const uint32_t back = std::min(static_cast<uint32_t>(-static_cast<int64_t>(n)), series.w1);
        series.w1 -= back;
        n = static_cast<int32_t>(back);
    }
    length = n;
    return true;
}

int32_t skip(const Cell& size) {
    if (!cell::is(size, TypeId::integer)) refuse(words::Word::skip, size);
    return cell::as_integer(size);
}

}  // namespace zub::native_args
