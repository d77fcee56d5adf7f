#pragma once
// A record's times: local time with its UTC offset to the millisecond
// ("2026-12-09T10:15:30.123+03:00"), readable where it was made and exact
// everywhere else.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace journal {

std::string timestampText(std::chrono::system_clock::time_point when);
// Milliseconds since 1970-01-01 UTC of such a text; none when it is not one.
std::optional<std::int64_t> timestampMs(const std::string& text);
// Whether text is a date "YYYY-MM-DD" of the calendar.
bool isDateText(const std::string& text);

} // namespace journal
