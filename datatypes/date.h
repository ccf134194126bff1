// The payload of date!: the packed date word (year, month, day and zone) and the seconds of the
// time of day less the zone's offset. Packing a clock reading into it lives here, so the platform
// layer hands over plain calendar fields.
#pragma once

#include <cstdint>

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

}  // namespace zub::date
