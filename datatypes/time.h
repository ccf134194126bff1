// time!: a duration or time of day, a float! of seconds with its own text form (h:mm:ss), its
// parts reachable by path and pick, and construction from hours, minutes and seconds. The rest of
// its arithmetic is float!'s. The lexer builds time literals and date! its time of day from here.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::time {

// A time! cell of that many seconds. Never allocates.
inline Cell make(double seconds) { return cell::floating(seconds, TypeId::time); }

// hours x 3600 + minutes x 60 + seconds, negated when `negative`: what a literal such as
// -1:30:00 or 1:02:03.5 denotes. The parts are taken as they stand (minutes are not limited to
// 59). Never allocates.
Cell from_parts(bool negative, double hours, double minutes, double seconds);

// Whole hours, truncated toward zero (-1:30:00 has -1). A time beyond the 32-bit range of hours
// raises script type-limit with integer!.
int32_t get_hours(double seconds);
// Whole minutes past the hour of |seconds|, 0 to 59 (0 for an infinite or NaN time).
int32_t get_minutes_part(double seconds);
// Part 1 the hours (integer!), 2 the minutes (integer!), 3 the seconds within the minute with
// the time's sign (float!). Other parts raise script out-of-range with the part as integer!.
Cell get_field(Cell time, int32_t part);

// Appends the text form (h:mm:ss, seconds with up to six significant digits, "-" before a
// negative time) and returns the part budget less its length. May collect.
int32_t form_value(double seconds, NodeId out, int32_t limit);

}  // namespace zub::time
