// The thin layer over the Linux kernel and C library for what is neither a file, a process nor an
// image: the clock with the local zone, environment variables, the current directory and sleeping.
// Each call returns the system's answer and raises nothing; the natives decide what is an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zub::platform {

// ---- Clock --------------------------------------------------------------------------------------

// One reading of the clock: the calendar date and the time of day, local with the zone's offset
// in force at that instant, or UTC with offset 0, all taken from the same instant.
struct Clock {
    int32_t year;            // the calendar year (astronomical: 0 is 1 BC)
    uint32_t month;          // 1 to 12
    uint32_t day;            // 1 to 31
    int32_t offset_minutes;  // the zone's offset east of UTC; 0 for UTC
    double seconds;          // the time of day, with the fraction when precise
};
// The clock at an instant given as seconds and nanoseconds since 1970-01-01 UTC; without
// `precise` the fraction is dropped. The local zone is that of the instant (daylight saving
// included) under the process's TZ.
Clock clock_at(int64_t unix_seconds, uint32_t nanoseconds, bool utc, bool precise);
// The clock now.
Clock clock_now(bool utc, bool precise);

// Seconds since midnight UTC: whole seconds, or with nanosecond resolution when precise.
double get_time(bool precise);

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
