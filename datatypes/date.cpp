// date!: the calendar arithmetic on day numbers that every operation rests on, normalisation of
// the time of day across midnight, addition and subtraction, the path fields read and written,
// the text form, make and to, comparison by instant, and random dates.
#include "datatypes/date.h"

#include <cmath>

#include "datatypes/actions.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/locale.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"
#include "system/random.h"

namespace zub {
namespace date {
namespace {

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

struct Civil {
    int64_t year;
    uint32_t month, day;
};

// Divisions are floored, so the proleptic calendar runs the same way before year 0.
Civil civil(int64_t n) {
    const int64_t era = floor_div(n, 146097);
    const int64_t doe = n - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<uint32_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<uint32_t>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, day};
}

// The zone bits of signed hours and minutes: hours 0 to 15, minutes cut to quarters; a zone of
// zero carries no sign.
uint32_t zone_of(int32_t hours, int32_t minutes, bool negative) {
    const uint32_t h = static_cast<uint32_t>(hours < 0 ? -hours : hours),
                   m = static_cast<uint32_t>(minutes < 0 ? -minutes : minutes);
    const uint32_t bits = (h & 0xF) << 2 | (m / 15 & 3);
    return bits == 0 ? 0 : bits | (negative ? kZoneWest : 0);
}

}  // namespace

bool leap_year(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t to_days(int64_t year, int64_t month, int64_t day) {
    year += floor_div(month - 1, 12);
    month = floor_mod(month - 1, 12) + 1;
    const int64_t y = year - (month <= 2);
    const int64_t era = floor_div(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}

int64_t days_of(uint32_t packed) { return to_days(year(packed), month(packed), day(packed)); }

Cell from_days(int64_t n, uint32_t zone_bits, bool with_time, double seconds) {
    const Civil c = civil(n);
    if (c.year < kMinYear || c.year > kMaxYear) {
        const int64_t y = c.year < INT32_MIN ? INT32_MIN : c.year > INT32_MAX ? INT32_MAX : c.year;
        error::fire(ErrorId::out_of_range, cell::integer(static_cast<int32_t>(y)));
    }
    uint32_t packed = pack(static_cast<int32_t>(c.year), c.month, c.day, zone_bits);
    if (with_time) packed |= kHasTime;
    return make(packed, with_time ? seconds : 0.0);
}

Cell normalized(int64_t n, double s, uint32_t zone_bits, bool with_time) {
    // 2^46 seconds is about 2 million years: far past the packed years, and within the doubles
    // that hold whole seconds exactly.
    if (!(std::fabs(s) < 70368744177664.0)) error::fire(ErrorId::out_of_range, time::make(s));
    const double local = s + zone_seconds(zone_bits);
    const auto days = static_cast<int64_t>(std::floor(local / 86400.0));
    s -= static_cast<double>(days) * 86400.0;
    n += days;
    // A local time a rounding below a whole day belongs to the day after.
    if (s + zone_seconds(zone_bits) >= 86400.0) {
        s -= 86400.0;
        ++n;
    }
    return from_days(n, zone_bits, with_time, s);
}

Cell from_parts(int32_t y, int32_t m, int32_t d, double local_seconds, int32_t zone_hours, int32_t zone_minutes,
                bool with_time) {
    const int64_t n = to_days(y, m, 0) + d;
    if (!with_time) return from_days(n, 0, false, 0.0);
    const uint32_t zone = zone_of(zone_hours, zone_minutes, zone_hours < 0 || (zone_hours == 0 && zone_minutes < 0));
    return normalized(n, local_seconds - zone_seconds(zone), zone, true);
}

namespace {

int64_t first_day_of_year(int64_t y) { return to_days(y, 1, 1); }

// The Monday that starts ISO week 1: the week holding 4 January.
int64_t week_start(int64_t y) {
    const int64_t jan4 = to_days(y, 1, 4);
    return jan4 - floor_mod(jan4 + 2, 7);
}

int32_t weekday_of(int64_t n) { return static_cast<int32_t>(floor_mod(n + 2, 7) + 1); }

int32_t iso_week(int64_t n, int64_t y) {
    if (n < week_start(y)) return static_cast<int32_t>((n - week_start(y - 1)) / 7 + 1);
    if (n >= week_start(y + 1)) return 1;
    return static_cast<int32_t>((n - week_start(y)) / 7 + 1);
}

}  // namespace

Cell from_week(int32_t y, int32_t week, int32_t weekday) {
    return from_days(week_start(y) + 7 * int64_t{week - 1} + weekday - 1, 0, false, 0.0);
}

Cell from_yearday(int32_t y, int32_t yearday) { return from_days(first_day_of_year(y) + yearday - 1, 0, false, 0.0); }

int64_t to_epoch(const Cell& d) {
    const double s = seconds_of(d);
    return (days_of(packed_of(d)) - kEpochDay) * 86400 + static_cast<int64_t>(std::trunc(s + 0.5));
}

Cell difference(const Cell& a, const Cell& b) {
    const int64_t gap = days_of(packed_of(a)) - days_of(packed_of(b));
    return time::make(static_cast<double>(gap) * 86400.0 + (seconds_of(a) - seconds_of(b)));
}

Cell get_field(const Cell& d, int32_t field) {
    const uint32_t p = packed_of(d);
    const double local = seconds_of(d) + zone_seconds(zone(p));
    const int64_t n = days_of(p);
    switch (field) {
        case 1: return make(pack(year(p), month(p), day(p), 0), 0.0);
        case 2: return cell::integer(year(p));
        case 3: return cell::integer(static_cast<int32_t>(month(p)));
        case 4: return cell::integer(static_cast<int32_t>(day(p)));
        case 5:
        case 12: return has_time(p) ? time::make(zone_seconds(zone(p))) : cell::none();
        case 6: return has_time(p) ? time::make(local) : cell::none();
        case 7: return cell::integer(static_cast<int32_t>(std::floor(local / 3600.0)));
        case 8: return cell::integer(static_cast<int32_t>(std::floor(std::fmod(local, 3600.0) / 60.0)));
        case 9: return cell::floating(std::fmod(local, 60.0));
        case 10: return cell::integer(weekday_of(n));
        case 11: return cell::integer(static_cast<int32_t>(n - first_day_of_year(year(p)) + 1));
        case 13: {
            const int64_t e = floor_mod(first_day_of_year(year(p)) + 3, 7);
            const int64_t yd = n - first_day_of_year(year(p)) + 1;
            return cell::integer(static_cast<int32_t>(yd <= 7 - e ? 1 : (yd + e - 1) / 7 + 1));
        }
        case 14: return cell::integer(iso_week(n, year(p)));
        default: error::fire(ErrorId::out_of_range, cell::integer(field));
    }
}

}  // namespace date

namespace {

using date::days_of;
using date::has_time;
using date::packed_of;
using date::seconds_of;

// ---- Arithmetic ---------------------------------------------------------------------------------

// The date is on the left: integer days or a time are added or subtracted; date - date is the
// number of days between them.
Cell do_math(Cell a, Cell b, MathOp op) {
    const uint32_t p = packed_of(a);
    int64_t days = 0;
    double seconds = 0.0;
    bool with_time = has_time(p);
    switch (cell::type(b)) {
        case TypeId::integer: days = cell::as_integer(b); break;
        case TypeId::time:
            seconds = cell::as_float(b);
            with_time = true;
            break;
        case TypeId::date:
            if (op == math_add) integer::raise_not_related(Slot::add, TypeId::date);
            days = days_of(packed_of(b));
            seconds = seconds_of(b);
            break;
        default: error::fire(ErrorId::invalid_type, cell::datatype_of(b));
    }
    if (op != math_add && op != math_subtract) error::fire(ErrorId::invalid_type, cell::datatype_of(b));
    const int64_t n = op == math_add ? days_of(p) + days : days_of(p) - days;
    const double s = op == math_add ? seconds_of(a) + seconds : seconds_of(a) - seconds;
    if (cell::is(b, TypeId::date)) {
        // Whole days after carrying the seconds in the left date's zone.
        const double local = s + date::zone_seconds(date::zone(p));
        if (!std::isfinite(local)) error::fire(ErrorId::out_of_range, b);
        const double whole = static_cast<double>(n) + std::floor(local / 86400.0);
        if (!(std::fabs(whole) <= 2147483647.0)) error::fire(ErrorId::type_limit, cell::datatype_of(TypeId::integer));
        return cell::integer(static_cast<int32_t>(whole));
    }
    return date::normalized(n, s, date::zone(p), with_time);
}

Cell date_add(Cell a, Cell b) { return do_math(a, b, math_add); }
Cell date_subtract(Cell a, Cell b) { return do_math(a, b, math_subtract); }

// ---- Comparison ---------------------------------------------------------------------------------

// Dates compare as instants: the day number and the seconds that the zone makes universal, so
// one moment written in two zones is one value.
int32_t date_compare(Cell a, Cell b, int32_t op) {
    if (!cell::is(b, TypeId::date)) return kNotComparable;
    const uint32_t pa = packed_of(a), pb = packed_of(b);
    const double sa = seconds_of(a), sb = seconds_of(b);
    constexpr uint32_t kCalendar = ~(date::kHasTime | date::kZoneMask);
    if (op == op_same) return (pa & kCalendar) == (pb & kCalendar) && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
    const int64_t gap = days_of(pa) - days_of(pb);
    const double x = sa + static_cast<double>(gap) * 86400.0;
    const bool equal = float_::almost_equal(x, sb);
    if (equality_op(op)) return equal ? 0 : 1;
    if (equal) return 0;
    return x < sb ? -1 : 1;
}

// ---- Text ---------------------------------------------------------------------------------------

void append_number(char* text, int& n, int64_t v, int width) {
    char digits[24];
    int k = 0;
    do {
        digits[k++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (k < width) digits[k++] = '0';
    while (k > 0) text[n++] = digits[--k];
}

// 1-Jan-2000/10:00:00+02:00; "/" separators for a negative year, written 1/Jan/-0044.
int32_t date_form(Cell value, NodeId out, int32_t limit) {
    const uint32_t p = packed_of(value);
    char text[64];
    int n = 0;
    const int32_t y = date::year(p);
    const char separator = y < 0 ? '/' : '-';
    append_number(text, n, date::day(p), 1);
    text[n++] = separator;
    const locale::MonthText month = locale::month_abbreviation(date::month(p) == 0 ? 1 : date::month(p));
    limit = mold::emit(out, std::string_view(text, static_cast<size_t>(n)), limit);
    for (uint8_t i = 0; i < month.count; ++i) string::append_char(out, month.chars[i]);
    limit -= month.count;
    n = 0;
    text[n++] = separator;
    if (y < 0) text[n++] = '-';
    const int64_t magnitude = y < 0 ? -int64_t{y} : y;
    append_number(text, n, magnitude, magnitude < 100 ? 4 : 1);
    if (!has_time(p)) return mold::emit(out, std::string_view(text, static_cast<size_t>(n)), limit);
    text[n++] = '/';
    limit = mold::emit(out, std::string_view(text, static_cast<size_t>(n)), limit);
    const uint32_t zone = date::zone(p);
    limit = time::form_value(seconds_of(value) + date::zone_seconds(zone), out, limit);
    if (zone == 0) return limit;
    n = 0;
    text[n++] = (zone & date::kZoneWest) != 0 ? '-' : '+';
    append_number(text, n, zone >> 2 & 0xF, 2);
    text[n++] = ':';
    append_number(text, n, (zone & 3) * 15, 2);
    return mold::emit(out, std::string_view(text, static_cast<size_t>(n)), limit);
}

int32_t date_mold(Cell value, NodeId out, MoldFlags, int32_t limit) { return date_form(value, out, limit); }

// ---- Make and to --------------------------------------------------------------------------------

[[noreturn]] void raise_bad(const Cell& spec) {
    error::fire(ErrorId::bad_to_arg, cell::datatype_of(TypeId::date), spec);
}

// [day month year hour minute second zone-hours zone-minutes] and its shorter forms, a time! in
// place of the clock fields or of the zone; a year first when the first integer is above 99.
Cell from_block(const Cell& spec, bool make) {
    SeriesBuffer* b = memory::buffer(cell::series_node(spec));
    const uint32_t count = b->used() / sizeof(Cell);
    const uint32_t head = cell::series_index(spec);
    int64_t fields[3] = {0, 0, 0};
    int64_t hour = 0, minute = 0, zone_hours = 0, zone_minutes = 0;
    double clock = 0.0, seconds = 0.0;
    bool clock_is_time = false, zone_negative = false;
    int state = 0;
    uint32_t values = 0;
    for (uint32_t i = head; i < count; ++i, ++values) {
        const Cell v = b->cells()[i];
        const bool is_int = cell::is(v, TypeId::integer), is_time = cell::is(v, TypeId::time);
        const int64_t k = is_int ? cell::as_integer(v) : 0;
        switch (state) {
            case 0:
            case 1:
            case 2:
                if (!is_int) raise_bad(spec);
                fields[state] = k;
                ++state;
                break;
            case 3:
                if (is_time) {
                    clock = cell::as_float(v);
                    clock_is_time = true;
                    state = 4;
                } else if (is_int) {
                    hour = k;
                    state = 8;
                } else {
                    raise_bad(spec);
                }
                break;
            case 4:
            case 10:
                if (is_int) {
                    zone_hours = k;
                    zone_negative = k < 0;
                    state = state == 4 ? 6 : 12;
                } else if (is_time) {
                    const double z = cell::as_float(v);
                    zone_hours = static_cast<int64_t>(std::trunc(z / 3600.0));
                    zone_minutes = static_cast<int64_t>(std::fmod(std::fabs(z), 3600.0) / 60.0);
                    zone_negative = z < 0;
                    state = state == 4 ? 5 : 11;
                } else {
                    raise_bad(spec);
                }
                break;
            case 6:
            case 12:
                if (!is_int) raise_bad(spec);
                zone_minutes = k;
                ++state;
                break;
            case 8:
                if (!is_int) raise_bad(spec);
                minute = k;
                state = 9;
                break;
            case 9:
                if (is_int) seconds = static_cast<double>(k);
                else if (cell::is(v, TypeId::float_)) seconds = cell::as_float(v);
                else raise_bad(spec);
                state = 10;
                break;
            default: raise_bad(spec);
        }
    }
    if (values < 3) raise_bad(spec);
    if (fields[0] > 99 && fields[2] < fields[0]) std::swap(fields[0], fields[2]);
    const int64_t d = fields[0], m = fields[1], y = fields[2];
    const bool with_time = values > 3;
    if (!clock_is_time) clock = static_cast<double>(hour) * 3600.0 + static_cast<double>(minute) * 60.0 + seconds;
    // The packed zone holds 0 to 15 hours and quarters; the year must fit before the day carries.
    const int64_t zh = zone_hours < 0 ? -zone_hours : zone_hours;
    const int64_t zm = zone_minutes < 0 ? -zone_minutes : zone_minutes;
    if (zh > 15 || zm > 59 || y < date::kMinYear || y > date::kMaxYear || m < -1200000 || m > 1200000 ||
        d < -100000000 || d > 100000000 || !std::isfinite(clock))
        raise_bad(spec);
    const uint32_t zone = date::zone_of(static_cast<int32_t>(zh), static_cast<int32_t>(zm), zone_negative);
    const int64_t n = date::to_days(y, m, 0) + d;
    Cell result;
    try {
        result = with_time ? date::normalized(n, clock - date::zone_seconds(zone), zone, true)
                           : date::from_days(n, 0, false, 0.0);
    } catch (const Thrown&) {
        raise_bad(spec);
    }
    if (make) {
        const uint32_t p = packed_of(result);
        if (date::year(p) != y || date::month(p) != m || date::day(p) != d) raise_bad(spec);
        if (with_time) {
            const bool clock_ok = clock >= 0.0 && clock < 86400.0;
            const bool fields_ok = clock_is_time || (hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
                                                     seconds >= 0.0 && seconds < 60.0);
            if (!clock_ok || !fields_ok) raise_bad(spec);
        }
    }
    return result;
}

// Seconds since 1 January 1970 UTC.
Cell from_epoch(int32_t count) {
    const int64_t days = count / 86400 + date::kEpochDay;
    return date::normalized(days, static_cast<double>(count % 86400), 0, true);
}

Cell date_make(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: return from_block(spec, true);
        default: raise_bad(spec);
    }
}

Cell date_to(TypeId, Cell, Cell spec) {
    switch (cell::type(spec)) {
        case TypeId::date: return spec;
        case TypeId::integer: return from_epoch(cell::as_integer(spec));
        case TypeId::block:
        case TypeId::paren:
        case TypeId::hash: return from_block(spec, false);
        default: raise_bad(spec);
    }
}

// ---- Path fields --------------------------------------------------------------------------------

int32_t field_of(const Cell& selector) {
    if (cell::is(selector, TypeId::integer)) {
        const int32_t k = cell::as_integer(selector);
        return k >= 1 && k <= 14 ? k : 0;
    }
    if (!cell::is(selector, TypeId::word)) return 0;
    using words::Word;
    static constexpr struct {
        Word word;
        int32_t field;
    } kFields[] = {
        {Word::date, 1},     {Word::year, 2},    {Word::month, 3},     {Word::day, 4},    {Word::zone, 5},
        {Word::time, 6},     {Word::hour, 7},    {Word::minute, 8},    {Word::second, 9}, {Word::weekday, 10},
        {Word::yearday, 11}, {Word::julian, 11}, {Word::timezone, 12}, {Word::week, 13},  {Word::isoweek, 14},
    };
    const symbol::Id id = symbol::resolve(selector.w2);
    for (const auto& f : kFields) {
        if (id == symbol::resolve(words::id(f.word))) return f.field;
    }
    return 0;
}

// The zone bits a written zone stands for: integer hours (remainder by 16), or a time's hours
// and quarter hours; a time of 16 hours or more has no zone to stand for.
uint32_t zone_from(const Cell& v) {
    if (cell::is(v, TypeId::integer)) {
        const int32_t h = cell::as_integer(v) % 16;
        return date::zone_of(h, 0, h < 0);
    }
    if (!cell::is(v, TypeId::time)) error::fire(ErrorId::invalid_arg, v);
    const double t = std::fmod(cell::as_float(v), 86400.0);
    if (!(std::fabs(t) < 16.0 * 3600.0)) error::fire(ErrorId::out_of_range, v);
    const auto h = static_cast<int32_t>(std::trunc(t / 3600.0));
    const auto m = static_cast<int32_t>(std::fmod(std::fabs(t), 3600.0) / 60.0);
    return date::zone_of(h, m, t < 0);
}

// The date with the field written. Day fields move the day number and keep the time and zone;
// the clock fields act on the local time of day.
Cell set_field(const Cell& d, int32_t field, const Cell& v) {
    const uint32_t p = packed_of(d);
    const uint32_t zone = date::zone(p);
    const double s = seconds_of(d);
    const bool with_time = has_time(p);
    const int64_t n = days_of(p);
    const int64_t y = date::year(p);
    const bool is_int = cell::is(v, TypeId::integer);
    const int64_t k = is_int ? cell::as_integer(v) : 0;
    switch (field) {
        case 2:
        case 3:
        case 4:
        case 10:
        case 11:
        case 13:
        case 14:
            if (!is_int) error::fire(ErrorId::invalid_arg, v);
            break;
        default: break;
    }
    const auto on_day = [&](int64_t day) { return date::normalized(day, s, zone, with_time); };
    switch (field) {
        case 1: {
            if (!cell::is(v, TypeId::date)) error::fire(ErrorId::invalid_arg, v);
            const bool t = has_time(packed_of(v));
            return date::normalized(days_of(packed_of(v)), t ? s : 0.0, t ? zone : 0, t);
        }
        case 2: return on_day(date::to_days(k, date::month(p), date::day(p)));
        case 3: return on_day(date::to_days(y, k, date::day(p)));
        case 4: return on_day(date::to_days(y, date::month(p), 0) + k);
        case 10: return on_day(n - ((n + 2) % 7 + 7) % 7 + k - 1);
        case 11: return on_day(date::to_days(y, 1, 1) + k - 1);
        case 13: {
            const int64_t first = date::to_days(y, 1, 1);
            const int64_t e = ((first + 3) % 7 + 7) % 7;
            return on_day(k <= 1 ? first : first + 7 * k - e - 7);
        }
        case 14: {
            const int64_t jan4 = date::to_days(y, 1, 4);
            return on_day(jan4 - ((jan4 + 2) % 7 + 7) % 7 + 7 * (k - 1));
        }
        case 5: {
            // The local clock stays; the stored seconds change.
            const uint32_t z = zone_from(v);
            const double local = with_time ? s + date::zone_seconds(zone) : 0.0;
            return date::normalized(n, local - date::zone_seconds(z), z, true);
        }
        case 12: {
            // The instant stays; the local date and clock follow the new zone.
            const uint32_t z = zone_from(v);
            return date::normalized(n, with_time ? s : -date::zone_seconds(zone), z, true);
        }
        case 6:
            if (cell::is(v, TypeId::none)) return date::from_days(n, 0, false, 0.0);
            if (!cell::is(v, TypeId::time)) error::fire(ErrorId::invalid_arg, v);
            return date::normalized(n, cell::as_float(v) - date::zone_seconds(zone), zone, true);
        default: {
            // hour, minute, second: the time! path setter applied to the local time of day.
            const double local = with_time ? s + date::zone_seconds(zone) : 0.0;
            const Cell clock = time::make(local);
            const Cell part = cell::integer(field - 6);
            PathStep step{&v, part, cell::none(), 0, false};
            const Cell changed = registry::actions(TypeId::time).eval_path(clock, part, step);
            return date::normalized(n, cell::as_float(changed) - date::zone_seconds(zone), zone, true);
        }
    }
}

Cell date_eval_path(Cell parent, Cell element, const PathStep& step) {
    const int32_t field = field_of(element);
    if (field == 0) error::fire(ErrorId::invalid_path, step.path, element);
    if (step.set_value) return set_field(parent, field, *step.set_value);
    return date::get_field(parent, field);
}

Cell date_pick(Cell value, int32_t index, Cell index_value) {
    const int32_t field = cell::is(index_value, TypeId::word) ? field_of(index_value)
                          : index >= 1 && index <= 14         ? index
                                                              : 0;
    if (field == 0) error::fire(ErrorId::out_of_range, index_value);
    return date::get_field(value, field);
}

// ---- Random -------------------------------------------------------------------------------------

// A day before the value's day number; with a time, a random zone and a local time that is a
// multiple of 24 seconds.
Cell date_random(Cell value, bool seed, bool secure, bool) {
    const uint32_t p = packed_of(value);
    const double s = seconds_of(value);
    if (seed) {
        random::seed(p + static_cast<uint32_t>(static_cast<int64_t>(std::isfinite(s) ? s : 0.0)));
        return cell::unset();
    }
    const int64_t n = days_of(p);
    const int32_t bound = n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : static_cast<int32_t>(n);
    const int64_t day = int64_t{random::int_range(secure, bound)} - 1;
    if (!has_time(p)) return date::from_days(day, date::zone(p), false, 0.0);
    uint32_t zone = static_cast<uint32_t>(random::draw(secure)) & date::kZoneMask;
    if ((zone & ~date::kZoneWest) == 0) zone = 0;
    const double local = std::floor(random::fraction(secure) * 3600.0) / 3600.0 * 86400.0;
    return date::normalized(day, local - date::zone_seconds(zone), zone, true);
}

// One instant, one hash: the universal seconds since day 0, whatever the zone or the has-time bit.
uint32_t date_hash(const Cell& c) {
    const double instant = static_cast<double>(days_of(packed_of(c))) * 86400.0 + seconds_of(c);
    return hash::murmur3(&instant, sizeof instant);
}

}  // namespace

extern const ActionTable date_actions = {
    .make = date_make,
    .random = date_random,
    .to = date_to,
    .form = date_form,
    .mold = date_mold,
    .eval_path = date_eval_path,
    .compare = date_compare,
    .add = date_add,
    .subtract = date_subtract,
    .pick = date_pick,
};

extern const type_traits::Traits date_traits = {.hash = date_hash};

}  // namespace zub
