// Calendar arithmetic on local wall times counted in microseconds "as if UTC"; the zone's offset is
// applied only when turning an instant into a wall time and a wall time back into an instant.
#include "foundation/calendar.h"

#include "foundation/diagnostics.h"
#include "foundation/locale.h"

#include <date/tz.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>

namespace foundation {
namespace {

using std::chrono::microseconds;
using std::chrono::seconds;

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kMicrosPerMinute = 60 * kMicrosPerSecond;
constexpr std::int64_t kMicrosPerDay = 86'400 * kMicrosPerSecond;
constexpr std::int64_t kMinYear = 1;
constexpr std::int64_t kMaxYear = 9999;
constexpr std::int64_t kCarryYears = 6'000'000;

constexpr std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr std::int64_t floorMod(std::int64_t a, std::int64_t b)
{
    return a - floorDiv(a, b) * b;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Hinnant's algorithm, widened to 64 bits so
// that any int field carries over without overflow).
constexpr std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    std::int64_t year;
    int month;
    int day;
};

constexpr Civil civilFromDays(std::int64_t z)
{
    z += 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

constexpr int daysInMonth(std::int64_t year, int month)
{
    return static_cast<int>(daysFromCivil(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1)
                            - daysFromCivil(year, month, 1));
}

// Wall times the calendar makes dates of: years 1 to 9999.
constexpr std::int64_t kMinWallMicros = daysFromCivil(kMinYear, 1, 1) * kMicrosPerDay;
constexpr std::int64_t kEndWallMicros = daysFromCivil(kMaxYear + 1, 1, 1) * kMicrosPerDay;

bool inSupportedRange(std::int64_t wallMicros)
{
    return wallMicros >= kMinWallMicros && wallMicros < kEndWallMicros;
}

// Zone lookups stay a day inside the supported years, whatever instant they are asked about.
date::sys_seconds clampedForLookup(Date date)
{
    const auto wholeSeconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    const auto lowest = kMinWallMicros / kMicrosPerSecond + 86'400;
    const auto highest = kEndWallMicros / kMicrosPerSecond - 86'400;
    return date::sys_seconds(std::chrono::seconds(std::clamp<std::int64_t>(wholeSeconds, lowest, highest)));
}

const date::time_zone* findZone(const std::string& name)
{
    try {
        return date::locate_zone(name);
    } catch (const std::exception&) {
        return nullptr;
    }
}

void reportUnknownZoneOnce(const std::string& name)
{
    static std::mutex mutex;
    static auto* reported = new std::set<std::string>(); // never destroyed: reached from any thread
    std::lock_guard lock(mutex);
    if (reported->insert(name).second)
        diagnostic("unknown time zone \"" + name + "\"; using UTC");
}

// The zone name the environment asks for: TZ without its leading ':', or the system's zone.
std::string zoneNameFromEnvironment(const char* tz)
{
    if (tz) {
        std::string_view name(tz);
        if (!name.empty() && name.front() == ':')
            name.remove_prefix(1);
        return name.empty() ? std::string("UTC") : std::string(name);
    }
    try {
        return date::current_zone()->name();
    } catch (const std::exception&) {
        return "localtime"; // no usable /etc/localtime: reported and treated as UTC
    }
}

} // namespace

Calendar::Calendar(std::string_view zoneName, std::string_view localeId)
    : zone_(findZone(std::string(zoneName))), zoneName_(zone_ ? std::string(zone_->name()) : std::string("UTC")),
      localeId_(Locale(localeId).id()), firstWeekday_(Locale(localeId_).firstWeekday())
{
    if (!zone_)
        reportUnknownZoneOnce(std::string(zoneName));
}

Calendar Calendar::current()
{
    const char* tz = std::getenv("TZ");
    std::string localeId = localeIdFromEnvironment(LocaleCategory::time);
    std::string key = (tz ? std::string("=") + tz : std::string("-")) + '\n' + localeId;

    // Building a calendar looks up the zone and asks ICU for the week; do it once per environment.
    // Never destroyed: the kits' threads may still ask for it while the process exits.
    struct Cache {
        std::string key;
        std::optional<Calendar> calendar;
    };
    static std::mutex mutex;
    static auto* cache = new Cache();
    std::lock_guard lock(mutex);
    if (!cache->calendar || cache->key != key) {
        cache->calendar.emplace(zoneNameFromEnvironment(tz), localeId);
        cache->key = std::move(key);
    }
    return *cache->calendar;
}

std::chrono::seconds Calendar::utcOffset(Date date) const
{
    if (!zone_)
        return seconds(0);
    return zone_->get_info(clampedForLookup(date)).offset;
}

Date Calendar::wallTimeAsUtc(Date date) const
{
    // Far outside the supported years no offset applies, which also keeps the sum from overflowing.
    const std::int64_t micros = date.time_since_epoch().count();
    if (micros < kMinWallMicros - kMicrosPerDay || micros > kEndWallMicros + kMicrosPerDay)
        return date;
    return date + utcOffset(date);
}

DateComponents Calendar::components(Date date) const
{
    const std::int64_t wall = wallTimeAsUtc(date).time_since_epoch().count();
    const Civil civil = civilFromDays(floorDiv(wall, kMicrosPerDay));
    const std::int64_t timeOfDay = floorMod(wall, kMicrosPerDay);
    DateComponents result;
    result.year = static_cast<int>(civil.year);
    result.month = civil.month;
    result.day = civil.day;
    result.hour = static_cast<int>(timeOfDay / (3600 * kMicrosPerSecond));
    result.minute = static_cast<int>(timeOfDay / kMicrosPerMinute % 60);
    result.second = static_cast<int>(timeOfDay / kMicrosPerSecond % 60);
    result.nanosecond = static_cast<int>(timeOfDay % kMicrosPerSecond * 1000);
    return result;
}

int Calendar::weekday(Date date) const
{
    const std::int64_t wall = wallTimeAsUtc(date).time_since_epoch().count();
    // 1970-01-01 was a Thursday, weekday 5 when Sunday is 1.
    return static_cast<int>(floorMod(floorDiv(wall, kMicrosPerDay) + 4, 7)) + 1;
}

std::optional<Date> Calendar::date(const DateComponents& c) const
{
    const std::int64_t months = std::int64_t{c.year.value_or(1)} * 12 + (std::int64_t{c.month.value_or(1)} - 1);
    const std::int64_t year = floorDiv(months, 12);
    // Far enough out that no day or time field (at most 2^31 days) could carry back into range;
    // keeps the sums below well inside 64 bits.
    if (year < -kCarryYears || year > kCarryYears)
        return std::nullopt;
    const std::int64_t days = daysFromCivil(year, floorMod(months, 12) + 1, 1) + (std::int64_t{c.day.value_or(1)} - 1);
    const std::int64_t secondsOfDay =
        std::int64_t{c.hour.value_or(0)} * 3600 + std::int64_t{c.minute.value_or(0)} * 60 + c.second.value_or(0);
    // |days| < 2^33 and |secondsOfDay| < 2^43, so this sum cannot overflow.
    const std::int64_t wallSeconds = days * 86'400 + secondsOfDay + floorDiv(c.nanosecond.value_or(0), 1'000'000'000);
    if (wallSeconds < kMinWallMicros / kMicrosPerSecond || wallSeconds >= kEndWallMicros / kMicrosPerSecond)
        return std::nullopt;
    const std::int64_t wall = wallSeconds * kMicrosPerSecond + floorMod(c.nanosecond.value_or(0), 1'000'000'000) / 1000;
    return resolve(wall, std::nullopt);
}

std::optional<Date> Calendar::resolve(std::int64_t wallMicros, std::optional<seconds> preferredOffset) const
{
    if (!inSupportedRange(wallMicros))
        return std::nullopt;
    const Date wall{microseconds(wallMicros)};
    if (!zone_)
        return wall;
    const auto local = date::local_seconds(std::chrono::floor<seconds>(wall).time_since_epoch());
    const date::local_info info = zone_->get_info(local);
    switch (info.result) {
    case date::local_info::unique: return wall - info.first.offset;
    case date::local_info::nonexistent:
        // Skipped by a spring change: the first instant after the gap is where the new period begins.
        return Date(info.second.begin);
    case date::local_info::ambiguous:
        if (preferredOffset == info.second.offset)
            return wall - info.second.offset;
        return wall - info.first.offset; // the earlier of the two instants
    }
    return std::nullopt;
}

std::optional<Date> Calendar::addingDays(Date date, int days) const
{
    const std::int64_t wall = wallTimeAsUtc(date).time_since_epoch().count();
    // A step longer than the whole supported span cannot land inside it (and would overflow).
    const std::int64_t span = (kEndWallMicros - kMinWallMicros) / kMicrosPerDay;
    if (!inSupportedRange(wall) || days > span || days < -span)
        return std::nullopt;
    return resolve(wall + std::int64_t{days} * kMicrosPerDay, utcOffset(date));
}

std::optional<Date> Calendar::shiftedMonths(Date date, std::int64_t months) const
{
    const std::int64_t wall = wallTimeAsUtc(date).time_since_epoch().count();
    if (!inSupportedRange(wall))
        return std::nullopt;
    const Civil civil = civilFromDays(floorDiv(wall, kMicrosPerDay));
    const std::int64_t total = civil.year * 12 + (civil.month - 1) + months;
    const std::int64_t year = floorDiv(total, 12);
    if (year < kMinYear || year > kMaxYear)
        return std::nullopt;
    const int month = static_cast<int>(floorMod(total, 12)) + 1;
    const int day = std::min(civil.day, daysInMonth(year, month));
    const std::int64_t shifted = daysFromCivil(year, month, day) * kMicrosPerDay + floorMod(wall, kMicrosPerDay);
    return resolve(shifted, utcOffset(date));
}

std::optional<Date> Calendar::addingMonths(Date date, int months) const
{
    return shiftedMonths(date, months);
}

std::optional<Date> Calendar::addingYears(Date date, int years) const
{
    return shiftedMonths(date, std::int64_t{years} * 12);
}

Date Calendar::truncatedToMinute(Date date) const
{
    const std::int64_t wall = wallTimeAsUtc(date).time_since_epoch().count();
    return date - microseconds(floorMod(wall, kMicrosPerMinute));
}

} // namespace foundation
