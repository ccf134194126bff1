// The clock through clock_gettime and localtime_r, whose tm_gmtoff is the offset in force at the
// instant asked about, so daylight saving needs no rule of ours. Environment through getenv and
// setenv, the directory through getcwd and chdir, sleeping through nanosleep.
#include "system/platform/os.h"

#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace zub::platform {
namespace {

constexpr int64_t kMaxSleepMilliseconds = 1'000'000'000'000'000;  // about 31,700 years

timespec clock_reading() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

double time_of_day(const std::tm& t) { return t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec; }

}  // namespace

// ---- Clock --------------------------------------------------------------------------------------

Clock clock_at(int64_t unix_seconds, uint32_t nanoseconds, bool utc, bool precise) {
    const auto t = static_cast<time_t>(unix_seconds);
    const double fraction = precise ? nanoseconds / 1e9 : 0.0;
    std::tm parts{};
    if (utc) {
        ::gmtime_r(&t, &parts);
    } else {
        // localtime_r does not look at TZ again by itself; set-env may have changed it.
        ::tzset();
        ::localtime_r(&t, &parts);
    }
    return {parts.tm_year + 1900, static_cast<uint32_t>(parts.tm_mon + 1), static_cast<uint32_t>(parts.tm_mday),
            utc ? 0 : static_cast<int32_t>(parts.tm_gmtoff / 60), time_of_day(parts) + fraction};
}

Clock clock_now(bool utc, bool precise) {
    const timespec now = clock_reading();
    return clock_at(now.tv_sec, static_cast<uint32_t>(now.tv_nsec), utc, precise);
}

double get_time(bool precise) {
    const timespec now = clock_reading();
    const double seconds = static_cast<double>(now.tv_sec % 86400);
    return precise ? seconds + now.tv_nsec / 1e9 : seconds;
}

// ---- Environment --------------------------------------------------------------------------------

bool env_name_ok(std::string_view name) {
    return !name.empty() && name.find('=') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool get_env(std::string_view name, std::string& value) {
    // getenv("A=B") would find the entry "A=B=C" and answer "C".
    if (!env_name_ok(name)) return false;
    const char* found = std::getenv(std::string(name).c_str());
    if (found == nullptr) return false;
    value.assign(found);
    return true;
}

bool set_env(std::string_view name, const std::string_view* value) {
    if (!env_name_ok(name)) return false;
    const std::string key(name);
    if (value == nullptr) return ::unsetenv(key.c_str()) == 0;
    if (value->find('\0') != std::string_view::npos) return false;
    return ::setenv(key.c_str(), std::string(*value).c_str(), 1) == 0;
}

void list_env(EnvVisitor visit, void* context) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.size() > 1 ? text.find('=', 1) : std::string_view::npos;
        if (equals == std::string_view::npos) {
            visit(text, {}, context);
        } else {
            visit(text.substr(0, equals), text.substr(equals + 1), context);
        }
    }
}

// ---- Current directory --------------------------------------------------------------------------

bool get_current_dir(std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.data()));
            path = std::move(buffer);
            return true;
        }
        if (errno != ERANGE || buffer.size() >= (size_t{1} << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool set_current_dir(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return false;
    return ::chdir(std::string(path).c_str()) == 0;
}

// ---- Sleeping -----------------------------------------------------------------------------------

int64_t sleep_milliseconds(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    if (!(ms >= 1.0)) return 1;  // NaN too
    if (ms >= static_cast<double>(kMaxSleepMilliseconds)) return kMaxSleepMilliseconds;
    return static_cast<int64_t>(ms);
}

void sleep(double seconds) {
    const int64_t ms = sleep_milliseconds(seconds);
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace zub::platform
