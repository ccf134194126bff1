// The checks of /part and /skip that natives and actions share, with their exact errors.
#include "evaluator/part_skip.h"

#include <algorithm>

#include "datatypes/series_value.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace zub::part_skip {
namespace {

bool takes_part(TypeId t) { return type_group::in(type_group::series | type_group::bit(TypeId::map), t); }

}  // namespace

void refuse(words::Word refinement, const Cell& argument) {
    error::fire(ErrorId::invalid_refine_arg, words::global(refinement), argument);
}

bool part(Cell& series, const Cell* part, int32_t& length) {
    if (!part) {
        length = -1;
        return true;
    }
    if (!takes_part(cell::type(series))) error::fire(ErrorId::invalid_part, *part);
    const uint32_t tail = series::length(cell::series_node(series));
    if (cell::series_index(series) > tail) cell::set_series_index(series, tail);
    int32_t n;
    if (cell::is(*part, TypeId::integer)) {
        n = cell::as_integer(*part);
    } else if (cell::type(*part) == cell::type(series) && cell::series_node(*part) == cell::series_node(series)) {
        n = static_cast<int32_t>(cell::series_index(*part)) - static_cast<int32_t>(cell::series_index(series));
    } else {
        refuse(words::Word::part, *part);
    }
    if (n == 0) return false;
    if (n < 0) {
        if (cell::series_index(series) == 0) return false;
        const uint32_t back = std::min(static_cast<uint32_t>(-static_cast<int64_t>(n)), cell::series_index(series));
        cell::set_series_index(series, cell::series_index(series) - back);
        n = static_cast<int32_t>(back);
    }
    length = n;
    return true;
}

int64_t length(const Cell& value, const Cell& part) {
    if (cell::is(part, TypeId::integer)) return cell::as_integer(part);
    if (cell::type(part) == cell::type(value) && cell::series_node(part) == cell::series_node(value))
        return series_value::raw_head(part) - series_value::raw_head(value);
    refuse(words::Word::part, part);
}

int32_t skip(const Cell& size) {
    if (!cell::is(size, TypeId::integer)) refuse(words::Word::skip, size);
    return cell::as_integer(size);
}

int32_t step(const Cell* size) {
    if (!size) return 1;
    const int32_t n = skip(*size);
    if (n < 1) error::fire(ErrorId::out_of_range, *size);
    return n;
}

int32_t positive(const Cell& size) {
    const int32_t n = skip(size);
    if (n < 1) refuse(words::Word::skip, size);
    return n;
}

int32_t records(const Cell& size, int64_t count) {
    const int32_t n = skip(size);
    if (n < 1 || n > count || count % n != 0) refuse(words::Word::skip, size);
    return n;
}

int64_t part_range(const Cell& series, const Cell* part, uint32_t total, uint32_t& head) {
    const int64_t count = total - head;
    if (!part) return count;
    const int64_t n = length(series, *part);
    if (n >= 0) return std::min(count, n);
    const int64_t back = std::min<int64_t>(-n, head);
    head -= static_cast<uint32_t>(back);
    return back;
}

}  // namespace zub::part_skip
