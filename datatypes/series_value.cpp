// Routines on series values that the series types' actions share.
#include "datatypes/series_value.h"

#include <algorithm>
#include <cstring>

#include "datatypes/image.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::series_value {

namespace {

NodeId node_of(const Cell& value) { return cell::series_node(value); }
SeriesBuffer* buffer_of(const Cell& value) { return memory::buffer(node_of(value)); }
void set_head(Cell& value, int64_t index) { value.w1 = static_cast<uint32_t>(index); }

Cell vector_element(const std::byte* at, uint32_t unit, TypeId element) {
    switch (element) {
        case TypeId::char_:
        case TypeId::integer: {
            int32_t v;
            switch (unit) {
                // Chars read unsigned: a negative code point is no char.
                case 1: v = element == TypeId::char_ ? std::to_integer<uint8_t>(*at) : static_cast<int8_t>(*at); break;
                case 2: {
                    uint16_t h;
                    std::memcpy(&h, at, 2);
                    v = element == TypeId::char_ ? h : static_cast<int16_t>(h);
                    break;
                }
                case 4: std::memcpy(&v, at, 4); break;
                default: lowrt::fatal(lowrt::Fatal::no_switch);
            }
            return element == TypeId::integer ? cell::integer(v) : cell::character(static_cast<uint32_t>(v));
        }
        case TypeId::float_:
        case TypeId::percent: {
            double d;
            if (unit == 8) {
                std::memcpy(&d, at, 8);
            } else if (unit == 4 && element == TypeId::float_) {
                float f;
                std::memcpy(&f, at, 4);
                d = f;
            } else {
                lowrt::fatal(lowrt::Fatal::no_switch);
            }
            return cell::floating(d, element);
        }
        default: lowrt::fatal(lowrt::Fatal::no_switch);
    }
}

}  // namespace

uint32_t buffer_length(const Cell& value) {
    const SeriesBuffer* b = buffer_of(value);
    return b->used() / checked_unit(b);
}

bool at_tail(const Cell& value) { return raw_head(value) >= buffer_length(value); }

bool skip_forward(Cell& value, int32_t n) {
    const int64_t moved = raw_head(value) + n;
    if (moved >= 0 && moved <= buffer_length(value)) set_head(value, moved);
    return at_tail(value);
}

uint32_t position(const Cell& value, const Cell& offset, bool at) {
    if (!cell::is(offset, TypeId::integer)) error::fire(ErrorId::invalid_arg, offset);
    const int64_t k = cell::as_integer(offset);
    const int64_t target = raw_head(value) + (at && k >= 1 ? k - 1 : k);
    return static_cast<uint32_t>(std::clamp<int64_t>(target, 0, buffer_length(value)));
}

uint32_t length_from_head(Cell& value, bool absolute) {
    const uint32_t length = buffer_length(value);
    if (raw_head(value) > length) set_head(value, length);
    return absolute ? length : static_cast<uint32_t>(length - std::max<int64_t>(0, raw_head(value)));
}

Cell element_at(const Cell& value, uint32_t index) {
    SeriesBuffer* b = buffer_of(value);
    const uint32_t unit = checked_unit(b);
    const std::byte* at = b->head_ptr() + size_t{index} * unit;
    if (unit == 16) {
        Cell c;
        std::memcpy(&c, at, sizeof c);
        return c;
    }
    if (cell::is(value, TypeId::vector)) return vector_element(at, unit, static_cast<TypeId>(value.w3));
    if (cell::is(value, TypeId::image)) return image::pixel_tuple(series::load_unit(at, 4));
    if (unit == 8) lowrt::fatal(lowrt::Fatal::no_switch);
    const uint32_t unit_value = series::load_unit(at, unit);
    return cell::is(value, TypeId::binary) ? cell::integer(static_cast<int32_t>(unit_value))
                                           : cell::character(unit_value);
}

void tell_owner(const Cell& value, words::Word action, int64_t index, int64_t part) {
    ownership::check(value, words::global(action), static_cast<int32_t>(index), static_cast<int32_t>(part));
}

}  // namespace zub::series_value
