// The thin layer over the Linux kernel and C library for what is neither a file, a process nor an
// image: the clock with the local zone, environment variables, the current directory and sleeping.
// Each call returns the system's answer and raises nothing; the natives decide what is an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zub::platform {

// ---- Clock --------------------------------------------------------------------------------------

// The packed date word of a date! value: year in bits 17-31 (signed), month in bits 12-15, day in
// bits 7-11 and the zone in bits 0-6 (bit 6 west of UTC, bits 2-5 the whole hours, bits 0-1 the
// quarter hours of the offset). The has-time bit (16) is left clear.
namespace packed_date {
inline constexpr uint32_t kYearShift = 17;
inline constexpr uint32_t kMonthShift = 12;
inline constexpr uint32_t kDayShift = 7;
inline constexpr uint32_t kZoneMask = 0x7F;
inline constexpr uint32_t kZoneWest = 0x40;
}  // namespace packed_date

// The zone bits of an offset in minutes east of UTC. Hours and quarters both come from the
// offset's magnitude, so UTC-3:45 is 3 hours and 3 quarters west; hours beyond 15 are held at 15.
uint32_t zone_bits(int32_t offset_minutes);
// The offset in seconds that zone bits stand for: +-(hours x 3600 + quarters x 900).
int32_t zone_seconds(uint32_t zone);
uint32_t pack_date(int32_t year, uint32_t month, uint32_t day, uint32_t zone);

// One reading of the clock, as a date! holds it: the calendar date (local, or UTC with zone 0),
// and the seconds of the local time of day less the zone offset (so -3600 .. 86400 + 3600 and
// more), the date and the seconds taken from the same instant.
struct Clock {
    uint32_t date;   // packed as above, has-time clear
    double seconds;  // local time of day minus the zone's offset
};
// The clock at an instant given as seconds and nanoseconds since 1970-01-01 UTC; without
// `precise` the fraction is dropped. The local zone is that of the instant (daylight saving
// included) under the process's TZ.
Clock clock_at(int64_t unix_seconds, uint32_t nanoseconds, bool utc, bool precise);
// The clock now.
Clock clock_now(bool utc, bool precise);

// Seconds since midnight UTC: whole seconds, or with nanosecond resolution when precise.
double get_time(bool precise);
// Today as a packed date: UTC with zone 0, or the local date with the local zone.
uint32_t get_date(bool utc);

// ---- Environment --------------------------------------------------------------------------------

// Whether a text can name a variable: not empty, no "=" and no NUL inside.
bool env_name_ok(std::string_view name);
// Fills `value` with the variable's value (UTF-8 bytes as the environment holds them); false
// when the variable is not defined or the name cannot name one.
bool get_env(std::string_view name, std::string& value);
// Sets the variable, or removes it when `value` is null; false when the name cannot name a
// variable, the value holds a NUL, or the system refuses.
bool set_env(std::string_view name, const std::string_view* value);
// Calls visit(name, value, context) for each entry of the environment in its order. A name runs to
// the first "=" after its first character; an entry without one has an empty value.
using EnvVisitor = void (*)(std::string_view name, std::string_view value, void* context);
void list_env(EnvVisitor visit, void* context);

// ---- Current directory --------------------------------------------------------------------------

// The current directory as an absolute path; false when it cannot be read (removed, too long).
bool get_current_dir(std::string& path);
// False when the directory cannot be entered or the path holds a NUL.
bool set_current_dir(std::string_view path);

// ---- Sleeping -----------------------------------------------------------------------------------

// Milliseconds a sleep of `seconds` lasts: seconds x 1000 truncated, at least 1 (zero, negative
// and NaN waits included), held below about 290 million years.
int64_t sleep_milliseconds(double seconds);
// Sleeps that long; a signal does not cut the sleep short.
void sleep(double seconds);

}  // namespace zub::platform
