// time!: seconds in a double, a child of float!. Its own are construction from [h m s] and text,
// the h:mm:ss form, the hour/minute/second parts by path and pick, the date and time-by-time
// rules of its arithmetic, and a round that stays a time. The rest it inherits from float!.
#include "datatypes/time.h"

#include <charconv>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {
namespace time {

Cell from_parts(bool negative, double hours, double minutes, double seconds) {
    const double total = hours * 3600.0 + minutes * 60.0 + seconds;
    return make(negative ? -total : total);
}

int32_t get_hours(double seconds) { return integer::from_float(std::trunc(seconds / 3600.0)); }

int32_t get_minutes_part(double seconds) {
    if (!std::isfinite(seconds)) return 0;
    return static_cast<int32_t>(std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0));
}

Cell get_field(Cell value, int32_t part) {
    const double s = cell::as_float(value);
    switch (part) {
        case 1: return cell::integer(get_hours(s));
        case 2: return cell::integer(get_minutes_part(s));
        case 3: return cell::floating(std::fmod(s, 60.0));
        default: error::fire(ErrorId::out_of_range, cell::integer(part));
    }
}

int32_t form_value(double seconds, NodeId out, int32_t limit) {
    // The float formatter already spells the infinities and NaN; h:mm:ss has nothing to add.
    if (!std::isfinite(seconds))
        return mold::emit(out, float_::form(seconds, float_::FormKind::time_seconds).view(), limit);
    if (seconds < 0) {
        limit = mold::emit(out, "-", limit);
        seconds = -seconds;
    }
    // Seconds that print as "60" at six digits carry into the minute: the text must read back,
    // and a literal's seconds stop below 60.
    double s = std::fmod(seconds, 60.0);
    const float_text::FloatText text = float_::form(s, float_::FormKind::time_seconds);
    if (text.view() == "60") {
        seconds = seconds - s + 60.0;
        s = 0.0;
    }
    const double hours = std::floor(seconds / 3600.0);
    if (hours <= 2147483647.0) {
        limit = mold::emit(out, integer::form_signed(static_cast<int32_t>(hours)).view(), limit);
    } else {
        // A whole double prints exactly with no fraction digits.
        char digits[320];
        const auto end = std::to_chars(digits, digits + sizeof digits, hours, std::chars_format::fixed, 0).ptr;
        limit = mold::emit(out, std::string_view(digits, static_cast<size_t>(end - digits)), limit);
    }
    const int32_t minutes = get_minutes_part(seconds);
    const char mm[4] = {':', static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10), ':'};
    limit = mold::emit(out, std::string_view(mm, 4), limit);

    if (s < 1e-6) return mold::emit(out, "00", limit);
    if (text.length == 1 || text.text[1] == '.') limit = mold::emit(out, "0", limit);
    return mold::emit(out, text.view(), limit);
}

}  // namespace time

namespace {

[[noreturn]] void raise_bad_to(const Cell& spec) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::time), spec);
}

// [hours minutes seconds], any tail of it left out; only the hours carry a sign.
Cell from_block(Cell spec) {
    SeriesBuffer* b = memory::buffer(cell::series_node(spec));
    const uint32_t index = cell::series_index(spec);
    const uint32_t count = b->used() / sizeof(Cell);
    const uint32_t items = index < count ? count - index : 0;
    if (items > 3) raise_bad_to(spec);
    double parts[3] = {0.0, 0.0, 0.0};
    bool negative = false;
    for (uint32_t i = 0; i < items; ++i) {
        const Cell item = b->cells()[index + i];
        if (cell::is(item, TypeId::integer)) parts[i] = cell::as_integer(item);
        else if (i == 2 && cell::is(item, TypeId::float_)) parts[i] = cell::as_float(item);
        else raise_bad_to(spec);
        if (parts[i] < 0) {
            if (i > 0) raise_bad_to(spec);
            negative = true;
            parts[i] = -parts[i];
        }
    }
    return time::from_parts(negative, parts[0], parts[1], parts[2]);
}

// The text loaded as one value, which must be a time.
Cell from_text(Cell text) {
    if (string::rs_tail(text)) raise_bad_to(text);
    Cell loaded;
    try {
        loaded = lexer::transcode_value(text, -1, lexer::Options{}).value;
    } catch (const Thrown&) {
        // A part of the lexer that is not built yet is not the text's fault.
        if (error::pending().id == ErrorId::not_done) throw;
        raise_bad_to(text);
    }
    if (series::length(loaded.w2) - loaded.w1 != 1) raise_bad_to(text);
    const Cell value = memory::buffer(loaded.w2)->cells()[loaded.w1];
    if (!cell::is(value, TypeId::time)) raise_bad_to(text);
    return value;
}

// A made time has an hour that is an integer! and a text that loads back as a time: finite, its
// hour within 32 bits, and zero or not so small that its digits would pass the longest number
// text the lexer reads; anything else raises script out-of-range with the source.
Cell in_range(Cell time, const Cell& source) {
    const double seconds = cell::as_float(time), a = std::fabs(seconds);
    const double limit = seconds < 0 ? 2147483649.0 * 3600.0 : 2147483648.0 * 3600.0;
    if (!(a < limit) || (a != 0.0 && a < 1e-250)) error::fire(ErrorId::out_of_range, source);
    return time;
}

// make and to are one operation.
Cell time_make(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::time: return spec;
        case TypeId::integer: return time::make(cell::as_integer(spec));
        case TypeId::float_:
        case TypeId::percent: return in_range(time::make(cell::as_float(spec)), spec);
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: return in_range(from_block(spec), spec);
        default:
            if (!string::is_text(cell::type(spec))) raise_bad_to(spec);
            return from_text(spec);
    }
}

int32_t time_form(Cell value, NodeId out, int32_t limit) { return time::form_value(cell::as_float(value), out, limit); }

// mold/all writes the seconds with every digit they need, so the text loads back as the same time.
int32_t time_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    const double seconds = cell::as_float(value);
    if (!flags.all || !std::isfinite(seconds)) return time_form(value, out, limit);
    const double a = std::fabs(seconds);
    const double s = std::fmod(a, 60.0);
    if (seconds < 0) limit = mold::emit(out, "-", limit);
    limit = time::form_value(a - s, out, limit);  // exact: a multiple of 60 no larger than a
    if (s == 0.0) return limit;
    string::truncate(out, series::length(out) - 2);  // its "00" seconds
    limit += 2;
    if (s < 10.0) limit = mold::emit(out, "0", limit);
    return float_::emit_plain_digits(s, 0, out, limit);
}

// The part a selector names: 1 to 3 or the words hour, minute, second; 0 for anything else.
int32_t part_of(const Cell& selector) {
    if (cell::is(selector, TypeId::integer)) {
        const int32_t k = cell::as_integer(selector);
        return k >= 1 && k <= 3 ? k : 0;
    }
    if (!cell::is(selector, TypeId::word)) return 0;
    const symbol::Id id = symbol::resolve(selector.w2);
    if (id == symbol::resolve(words::id(words::Word::hour))) return 1;
    if (id == symbol::resolve(words::id(words::Word::minute))) return 2;
    if (id == symbol::resolve(words::id(words::Word::second))) return 3;
    return 0;
}

// Reading gives the part; writing gives the whole new time, which the path's evaluator stores
// where the time came from (a time is held by value, so there is nothing here to change in place).
Cell time_eval_path(Cell parent, Cell element, const PathStep& step) {
    const int32_t part = part_of(element);
    if (part == 0) error::fire(ErrorId::invalid_path, step.path, element);
    if (!step.set_value) return time::get_field(parent, part);

    const Cell v = *step.set_value;
    const double s = cell::as_float(parent);
    double x;
    if (cell::is(v, TypeId::integer)) x = cell::as_integer(v);
    else if (part == 3 && cell::is(v, TypeId::float_)) x = cell::as_float(v);
    else error::fire(ErrorId::invalid_arg, v);
    // Each write undoes its read: hours truncated toward zero, minutes of the magnitude, seconds
    // with the sign. So setting the minute of -1:30:00 to 10 gives -1:10:00.
    switch (part) {
        case 1: return time::make(s - (std::trunc(s / 3600.0) - x) * 3600.0);
        case 2: {
            const double m = std::fabs(s);
            return time::make(std::copysign(m - (std::floor(std::fmod(m, 3600.0) / 60.0) - x) * 60.0, s));
        }
        default: return time::make(s - (std::fmod(s, 60.0) - x));
    }
}

Cell time_pick(Cell value, int32_t index, Cell index_value) {
    const int32_t part = cell::is(index_value, TypeId::word) ? part_of(index_value)
                         : index >= 1 && index <= 3          ? index
                                                             : 0;
    if (part == 0) error::fire(ErrorId::out_of_range, index_value);
    return time::get_field(value, part);
}

Cell time_add(Cell a, Cell b) {
    // The date owns date arithmetic and takes its own value first.
    if (cell::is(b, TypeId::date)) return integer::hand_over(TypeId::date, math_add, b, a);
    return float_::do_math(a, b, math_add);
}

Cell time_subtract(Cell a, Cell b) {
    if (cell::is(b, TypeId::date)) integer::raise_not_related(Slot::subtract, TypeId::time);
    return float_::do_math(a, b, math_subtract);
}

Cell time_multiply(Cell a, Cell b) {
    if (cell::is(b, TypeId::time)) integer::raise_not_related(Slot::multiply, TypeId::time);
    return float_::do_math(a, b, math_multiply);
}

// A time divided by a time is a ratio.
Cell time_divide(Cell a, Cell b) {
    Cell r = float_::do_math(a, b, math_divide);
    if (cell::is(b, TypeId::time)) cell::set_type(r, TypeId::float_);
    return r;
}

// The result stays a time whatever the scale. An integer scale goes in as a float, so that the
// rounding of a time beyond the 32-bit range is not refused for want of an integer to hold it.
Cell time_round(Cell value, const RoundOptions& options) {
    RoundOptions o = options;
    Cell scale;
    if (o.to && cell::is(*o.to, TypeId::integer)) {
        scale = cell::floating(cell::as_integer(*o.to));
        o.to = &scale;
    }
    Cell r = float_::round(value, o);
    cell::set_type(r, TypeId::time);
    return r;
}

// The parity of the whole seconds within the minute; 1e-6 away from zero first, so that a
// 2.9999999 left by decimal arithmetic counts as 3.
bool time_odd(Cell value) {
    const double s = cell::as_float(value);
    if (!std::isfinite(s)) error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
    const double whole = std::trunc(std::fmod(s + std::copysign(1e-6, s), 60.0));
    return std::fmod(whole, 2.0) != 0.0;
}
bool time_even(Cell value) { return !time_odd(value); }

}  // namespace

extern const ActionTable time_actions = {
    .make = time_make,
    .to = time_make,
    .form = time_form,
    .mold = time_mold,
    .eval_path = time_eval_path,
    .add = time_add,
    .divide = time_divide,
    .multiply = time_multiply,
    .power = unsupported::power,
    .round = time_round,
    .subtract = time_subtract,
    .even_q = time_even,
    .odd_q = time_odd,
    .pick = time_pick,
};

extern const type_traits::Traits time_traits = {.hash = type_traits::hash_float,
                                                .same_words = type_traits::kW2 | type_traits::kW3};

}  // namespace zub
