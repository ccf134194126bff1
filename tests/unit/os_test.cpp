// The Linux layer: the clock under set time zones, daylight saving included, and the date!
// packing of its readings; environment variables; the current directory; how long a sleep lasts.
#include "system/platform/os.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/date.h"

namespace zub {
namespace {

using platform::Clock;

// Sets TZ for one test and puts the old value back.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

struct Unpacked {
    int32_t year;
    uint32_t month, day;
    bool west;
    uint32_t hours, quarters;
};
Unpacked unpack(uint32_t date) {
    return {static_cast<int32_t>(date) >> 17,
            date >> 12 & 0xF,
            date >> 7 & 0x1F,
            (date & 0x40) != 0,
            date >> 2 & 0xF,
            date & 3};
}

// The date! a clock reading becomes.
date::Stamp stamp_of(const Clock& c) { return date::stamp(c.year, c.month, c.day, c.offset_minutes, c.seconds); }

TEST(Date, ZoneBitsTakeHoursAndQuartersFromTheOffsetsMagnitude) {
    struct Case {
        int32_t minutes;
        bool west;
        uint32_t hours, quarters;
    };
    const Case cases[] = {
        {0, false, 0, 0},    {60, false, 1, 0},       {-210, true, 3, 2},
        {345, false, 5, 3},  {-225, true, 3, 3},  // UTC-3:45: the quarter is three, not one (no -45 + 60 mix-up)
        {-15, true, 0, 1},   {-60, true, 1, 0},       {840, false, 14, 0},
        {-720, true, 12, 0}, {20 * 60, false, 15, 0},  // beyond the four bits: held at 15 rather than wrapped
    };
    for (const Case& c : cases) {
        const uint32_t zone = date::zone_bits(c.minutes);
        const Unpacked u = unpack(zone);
        EXPECT_EQ(u.west, c.west) << c.minutes;
        EXPECT_EQ(u.hours, c.hours) << c.minutes;
        EXPECT_EQ(u.quarters, c.quarters) << c.minutes;
        if (c.hours < 15) {
            EXPECT_EQ(date::zone_seconds(zone), c.minutes * 60) << c.minutes;
        }
    }
}

TEST(Date, PackedDateHoldsYearMonthDayAndZone) {
    const Unpacked u = unpack(date::pack(2024, 2, 29, date::zone_bits(-330)));
    EXPECT_EQ(u.year, 2024);
    EXPECT_EQ(u.month, 2u);
    EXPECT_EQ(u.day, 29u);
    EXPECT_TRUE(u.west);
    EXPECT_EQ(u.hours, 5u);
    EXPECT_EQ(u.quarters, 2u);
    EXPECT_EQ(date::pack(2024, 2, 29, 0) & 0x10000u, 0u);  // no has-time
    EXPECT_EQ(unpack(date::pack(-44, 3, 15, 0)).year, -44);
}

// The clock at fixed instants, as now reads it: the local date and zone of the instant, and the
// local time of day less the offset.
TEST(Os, ClockAtAnInstantFollowsTheZoneAndDaylightSaving) {
    struct Case {
        const char* tz;
        int64_t instant;  // seconds since 1970 UTC
        int32_t year;
        uint32_t month, day;
        bool west;
        uint32_t hours, quarters;
        double seconds;
    };
    constexpr int64_t kJuly1Noon2021 = 1625140800;    // 2021-07-01 12:00 UTC
    constexpr int64_t kJan15At3h2021 = 1610679600;    // 2021-01-15 03:00 UTC
    constexpr int64_t kNewYear2021 = 1609459200;      // 2021-01-01 00:00 UTC
    constexpr int64_t kMarch14At7h2021 = 1615705200;  // 2021-03-14 07:00 UTC, 3:00 EDT just begun
    const Case cases[] = {
        // Summer: daylight time, UTC-4; 08:00 local.
        {"EST5EDT,M3.2.0,M11.1.0", kJuly1Noon2021, 2021, 7, 1, true, 4, 0, 43200},
        // Winter: UTC-5, and the local date is the day before; 22:00 + 5 h stored.
        {"EST5EDT,M3.2.0,M11.1.0", kJan15At3h2021, 2021, 1, 14, true, 5, 0, 97200},
        // The hour after the switch to daylight time.
        {"EST5EDT,M3.2.0,M11.1.0", kMarch14At7h2021, 2021, 3, 14, true, 4, 0, 25200},
        {"<+0545>-5:45", kNewYear2021, 2021, 1, 1, false, 5, 3, 0},
        {"<-0330>3:30", kNewYear2021, 2020, 12, 31, true, 3, 2, 86400},
        {"<-0345>3:45", kNewYear2021, 2020, 12, 31, true, 3, 3, 86400},
        {"UTC0", kJuly1Noon2021, 2021, 7, 1, false, 0, 0, 43200},
    };
    for (const Case& c : cases) {
        const ZoneScope zone(c.tz);
        const Clock clock = platform::clock_at(c.instant, 0, false, false);
        const date::Stamp stamp = stamp_of(clock);
        const Unpacked u = unpack(stamp.packed);
        EXPECT_EQ(u.year, c.year) << c.tz << " " << c.instant;
        EXPECT_EQ(u.month, c.month) << c.tz << " " << c.instant;
        EXPECT_EQ(u.day, c.day) << c.tz << " " << c.instant;
        EXPECT_EQ(u.west, c.west) << c.tz << " " << c.instant;
        EXPECT_EQ(u.hours, c.hours) << c.tz << " " << c.instant;
        EXPECT_EQ(u.quarters, c.quarters) << c.tz << " " << c.instant;
        EXPECT_EQ(stamp.seconds, c.seconds) << c.tz << " " << c.instant;
        // The stored seconds are always universal time of day, give or take whole days.
        EXPECT_EQ(std::fmod(stamp.seconds + 86400.0, 86400.0), static_cast<double>(c.instant % 86400)) << c.tz;
    }
}

TEST(Os, UtcClockHasNoZoneAndPreciseKeepsTheFraction) {
    const ZoneScope zone("<-0330>3:30");
    const date::Stamp utc = stamp_of(platform::clock_at(1609459200 + 3661, 250'000'000, true, true));
    const Unpacked u = unpack(utc.packed);
    EXPECT_EQ(u.year, 2021);
    EXPECT_EQ(u.month, 1u);
    EXPECT_EQ(u.day, 1u);
    EXPECT_EQ(utc.packed & 0x7F, 0u);
    EXPECT_EQ(utc.seconds, 3661.25);
    EXPECT_EQ(stamp_of(platform::clock_at(1609459200 + 3661, 250'000'000, true, false)).seconds, 3661.0);
    EXPECT_EQ(stamp_of(platform::clock_at(1609459200, 500'000'000, false, true)).seconds, 86400.5);
}

TEST(Os, ClockNowAgreesWithTheSystem) {
    const ZoneScope zone("UTC0");
    const double whole = platform::get_time(false);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(whole, 86400.0);
    const double precise = platform::get_time(true);
    EXPECT_GE(precise, 0.0);
    EXPECT_LT(precise, 86400.0);
    const std::time_t t = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&t, &parts);
    const Clock today = platform::clock_now(true, false);
    EXPECT_EQ(today.year, parts.tm_year + 1900);
    EXPECT_EQ(today.offset_minutes, 0);
    EXPECT_EQ(today.seconds, std::floor(today.seconds));
}

TEST(Os, SleepLastsWholeMillisecondsAndAtLeastOne) {
    struct Case {
        double seconds;
        int64_t ms;
    };
    const Case cases[] = {
        {0.0004, 1},
        {2.5, 2500},
        {0.0, 1},
        {-3.0, 1},
        {0.0019, 1},
        {1.9999, 1999},
        {std::numeric_limits<double>::quiet_NaN(), 1},
        {-std::numeric_limits<double>::infinity(), 1},
        {1e300, 1'000'000'000'000'000},
        {std::numeric_limits<double>::infinity(), 1'000'000'000'000'000},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::sleep_milliseconds(c.seconds), c.ms) << c.seconds;
    const auto start = std::chrono::steady_clock::now();
    platform::sleep(0.02);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(Os, EnvironmentRoundTrip) {
    const std::string name = "ZUB_OS_TEST_" + std::to_string(::getpid());
    std::string value;
    EXPECT_FALSE(platform::get_env(name, value));
    const std::string_view first = "caf\xC3\xA9 = 1";
    ASSERT_TRUE(platform::set_env(name, &first));
    ASSERT_TRUE(platform::get_env(name, value));
    EXPECT_EQ(value, first);
    const std::string_view empty;
    ASSERT_TRUE(platform::set_env(name, &empty));
    ASSERT_TRUE(platform::get_env(name, value));
    EXPECT_EQ(value, "");

    bool seen = false;
    struct Seen {
        const std::string* name;
        bool* seen;
    } context{&name, &seen};
    ASSERT_TRUE(platform::set_env(name, &first));
    platform::list_env(
        [](std::string_view n, std::string_view v, void* data) {
            auto* c = static_cast<Seen*>(data);
            if (n == *c->name) *c->seen = v == "caf\xC3\xA9 = 1";
        },
        &context);
    EXPECT_TRUE(seen);

    ASSERT_TRUE(platform::set_env(name, nullptr));
    EXPECT_FALSE(platform::get_env(name, value));
    EXPECT_TRUE(platform::set_env(name, nullptr));  // removing what is not there
}

TEST(Os, NamesThatCannotBeVariablesAreRefused) {
    const std::string name = "ZUB_OS_EQ_" + std::to_string(::getpid());
    ASSERT_EQ(::setenv(name.c_str(), "B=C", 1), 0);
    std::string value;
    // getenv would find "<name>=B=C" for the name "<name>=B" and answer "C".
    EXPECT_FALSE(platform::get_env(name + "=B", value));
    const std::string_view x = "x";
    const std::string with_nul("AB\0C", 4);
    for (const std::string& bad : {std::string(), name + "=B", with_nul}) {
        EXPECT_FALSE(platform::env_name_ok(bad));
        EXPECT_FALSE(platform::set_env(bad, &x));
        EXPECT_FALSE(platform::get_env(bad, value));
    }
    const std::string_view value_with_nul("a\0b", 3);
    EXPECT_FALSE(platform::set_env(name, &value_with_nul));
    ASSERT_TRUE(platform::get_env(name, value));
    EXPECT_EQ(value, "B=C");  // left as it was, not cut at the NUL
    ::unsetenv(name.c_str());
    EXPECT_FALSE(platform::get_env("AB", value));
}

TEST(Os, CurrentDirectoryRoundTrip) {
    std::string start;
    ASSERT_TRUE(platform::get_current_dir(start));
    EXPECT_EQ(std::filesystem::path(start), std::filesystem::current_path());
    std::string scratch = (std::filesystem::temp_directory_path() / "zub-os-XXXXXX").string();
    ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
    ASSERT_TRUE(platform::set_current_dir(scratch));
    std::string now;
    ASSERT_TRUE(platform::get_current_dir(now));
    EXPECT_EQ(std::filesystem::path(now), std::filesystem::canonical(scratch));
    EXPECT_FALSE(platform::set_current_dir(scratch + "/missing"));
    EXPECT_FALSE(platform::set_current_dir(std::string("/\0tmp", 5)));
    ASSERT_TRUE(platform::get_current_dir(now));
    EXPECT_EQ(std::filesystem::path(now), std::filesystem::canonical(scratch));
    ASSERT_TRUE(platform::set_current_dir(start));
    std::filesystem::remove(scratch);
}

}  // namespace
}  // namespace zub
