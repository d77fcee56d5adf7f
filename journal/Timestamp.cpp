#include "Timestamp.h"

#include "DataFolder.h"

#include <cstdio>
#include <ctime>

namespace journal {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::size_t kTimestampSize = 29; // "2026-12-09T10:15:30.123+03:00"
constexpr std::size_t kDateSize = 10;
constexpr int kMaxOffsetHours = 14;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int daysInMonth(int y, int m) {
    return m == 2 && leapYear(y) ? 29 : kMonthDays[m - 1];
}

// The number of count digits at text[at], or -1.
int digits(const std::string& text, std::size_t at, std::size_t count) {
    int n = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

bool dateAt(const std::string& text, int& y, int& m, int& d) {
    y = digits(text, 0, 4);
    m = digits(text, 5, 2);
    d = digits(text, 8, 2);
    return text[4] == '-' && text[7] == '-' && y >= 0 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

} // namespace

std::string timestampText(std::chrono::system_clock::time_point when) {
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    std::int64_t seconds = ms / kMsPerSecond;
    std::int64_t milli = ms % kMsPerSecond;
    if (milli < 0) {
        milli += kMsPerSecond;
        --seconds;
    }
    const std::tm local = localTime(static_cast<std::time_t>(seconds));
    // The offset is what the local clock shows minus UTC, so it needs no
    // time-zone call of its own and holds daylight saving as it was then.
    const std::int64_t localSeconds =
        daysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday)) *
            kSecondsPerDay +
        local.tm_hour * kSecondsPerHour + local.tm_min * kSecondsPerMinute + local.tm_sec;
    const std::int64_t offsetMinutes = (localSeconds - seconds) / kSecondsPerMinute;
    const std::int64_t absOffset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(milli),
                  offsetMinutes < 0 ? '-' : '+', static_cast<int>(absOffset / 60), static_cast<int>(absOffset % 60));
    return text;
}

std::optional<std::int64_t> timestampMs(const std::string& text) {
    if (text.size() != kTimestampSize || text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != '.' ||
        (text[23] != '+' && text[23] != '-') || text[26] != ':')
        return std::nullopt;
    int y, mo, d;
    if (!dateAt(text, y, mo, d))
        return std::nullopt;
    const int h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2), ms = digits(text, 20, 3);
    const int oh = digits(text, 24, 2), om = digits(text, 27, 2);
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60 || ms < 0 || oh < 0 || oh > kMaxOffsetHours || om < 0 ||
        om > 59)
        return std::nullopt;
    const std::int64_t offset = (oh * kSecondsPerHour + om * kSecondsPerMinute) * (text[23] == '-' ? -1 : 1);
    const std::int64_t local = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kSecondsPerDay +
                               h * kSecondsPerHour + mi * kSecondsPerMinute + s;
    return (local - offset) * kMsPerSecond + ms;
}

bool isDateText(const std::string& text) {
    int y, m, d;
    return text.size() == kDateSize && dateAt(text, y, m, d);
}

} // namespace journal
