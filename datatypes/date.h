// The payload of date!: the packed date word (year, month, day and zone) and the seconds of the
// time of day less the zone's offset. Packing a clock reading into it lives here, so the platform
// layer hands over plain calendar fields.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::date {

// The packed date word: year in bits 17-31 (signed), month in bits 12-15, day in bits 7-11 and
// the zone in bits 0-6 (bit 6 west of UTC, bits 2-5 the whole hours, bits 0-1 the quarter hours
// of the offset). Bit 16 says the value has a time.
inline constexpr uint32_t kYearShift = 17;
inline constexpr uint32_t kMonthShift = 12;
inline constexpr uint32_t kDayShift = 7;
inline constexpr uint32_t kHasTime = 0x10000;
inline constexpr uint32_t kZoneMask = 0x7F;
inline constexpr uint32_t kZoneWest = 0x40;
inline constexpr uint32_t kMaxZoneHours = 15;

// The zone bits of an offset in minutes east of UTC. Hours and quarters both come from the
// offset's magnitude, so UTC-3:45 is 3 hours and 3 quarters west; hours beyond 15 are held at 15.
inline uint32_t zone_bits(int32_t offset_minutes) {
    const uint32_t magnitude = offset_minutes < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(offset_minutes))
                                                  : static_cast<uint32_t>(offset_minutes);
    uint32_t hours = magnitude / 60;
    if (hours > kMaxZoneHours) hours = kMaxZoneHours;
    const uint32_t quarters = (magnitude % 60) / 15;
    return (offset_minutes < 0 ? kZoneWest : 0) | hours << 2 | quarters;
}

// The offset in seconds that zone bits stand for: +-(hours x 3600 + quarters x 900).
inline int32_t zone_seconds(uint32_t zone) {
    const int32_t seconds = static_cast<int32_t>((zone >> 2 & 0xF) * 3600 + (zone & 3) * 900);
    return (zone & kZoneWest) != 0 ? -seconds : seconds;
}

// The packed word, has-time clear.
inline uint32_t pack(int32_t year, uint32_t month, uint32_t day, uint32_t zone) {
    return static_cast<uint32_t>(year) << kYearShift | (month & 0xF) << kMonthShift | (day & 0x1F) << kDayShift |
           (zone & kZoneMask);
}

inline int32_t year(uint32_t packed) { return static_cast<int32_t>(packed) >> kYearShift; }
inline uint32_t month(uint32_t packed) { return packed >> kMonthShift & 0xF; }
inline uint32_t day(uint32_t packed) { return packed >> kDayShift & 0x1F; }
inline uint32_t zone(uint32_t packed) { return packed & kZoneMask; }

// What a date! holds for a calendar date and local time of day with the zone's offset (0 for
// UTC): the packed word, and the seconds of the time of day less the offset its zone bits stand
// for (so -3600 .. 86400 + 3600 and more).
struct Stamp {
    uint32_t packed;  // has-time clear
    double seconds;   // local time of day minus the zone's offset
};
inline Stamp stamp(int32_t year, uint32_t month, uint32_t day, int32_t offset_minutes, double local_seconds) {
    const uint32_t zone = zone_bits(offset_minutes);
    return {pack(year, month, day, zone), local_seconds - zone_seconds(zone)};
}

// ---- Values --------------------------------------------------------------------------------------

inline constexpr int32_t kMinYear = -16384;  // the packed year's range
inline constexpr int32_t kMaxYear = 16383;
inline constexpr int64_t kEpochDay = 719468;  // the day number of 1 January 1970

inline bool has_time(uint32_t packed) { return (packed & kHasTime) != 0; }
inline uint32_t packed_of(const Cell& d) { return d.w1; }
inline double seconds_of(const Cell& d) { return cell::as_float(d); }
// A date! cell of a packed word and stored seconds. Never allocates.
inline Cell make(uint32_t packed, double seconds) {
    Cell c = cell::floating(seconds, TypeId::date);
    c.w1 = packed;
    return c;
}

// Day number of a calendar date, day 0 being 1 March of year 0 (1 January 1970 is 719468).
// Months outside 1-12 and days outside the month carry. Never allocates.
int64_t to_days(int64_t year, int64_t month, int64_t day);
int64_t days_of(uint32_t packed);
bool leap_year(int64_t year);

// The date of a day number with the zone and has-time bits, and the stored seconds; a year beyond
// the packed range raises script out-of-range with the year.
Cell from_days(int64_t day, uint32_t zone, bool with_time, double seconds);
// The same after carrying whole days between the seconds and the day number, so that the local
// time of day (seconds + the zone's offset) lies in [0, 86400). Non-finite seconds raise script
// out-of-range with the seconds as a time!.
Cell normalized(int64_t day, double seconds, uint32_t zone, bool with_time);

// The date that a calendar date, a local time of day and a zone (hours with their sign, minutes
// cut to quarters) give; without `with_time` a plain date. Raises out-of-range as from_days.
Cell from_parts(int32_t year, int32_t month, int32_t day, double local_seconds, int32_t zone_hours,
                int32_t zone_minutes, bool with_time);
// A day of an ISO week (week-start + 7(week - 1) + weekday - 1) or of the year (1-based).
Cell from_week(int32_t year, int32_t week, int32_t weekday);
Cell from_yearday(int32_t year, int32_t yearday);

// (day number - 719468) x 86400 + the seconds rounded to the nearest whole: seconds since 1970 UTC.
int64_t to_epoch(const Cell& d);
// The time! from b to a: (day a - day b) x 86400 + (seconds a - seconds b).
Cell difference(const Cell& a, const Cell& b);

// A path field by index (1 date, 2 year, 3 month, 4 day, 5 zone, 6 time, 7 hour, 8 minute,
// 9 second, 10 weekday, 11 yearday, 12 timezone, 13 week, 14 isoweek).
Cell get_field(const Cell& d, int32_t field);

}  // namespace zub::date
