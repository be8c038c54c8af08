// Dates of the domain library: std::chrono system-clock time points, written as ISO 8601
// UTC text with whole seconds ("2026-12-06T08:31:08Z").
//
// Writing truncates toward the earlier whole second (floor), so a date with a fractional
// part does not survive a round trip unchanged; whole-second dates do. Years outside
// 0000...9999 cannot be written.
// Reading accepts "YYYY-MM-DDTHH:MM:SS", an optional fraction (".5", ".123456789"; digits
// beyond nanoseconds are ignored), then "Z" or an offset "+HH:MM" / "-HH:MM". Calendar
// fields are checked (no February 30, no hour 24, no leap second).
//
// JSON form: the text above. Encoding an unwritable date fails the encoding.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonCodec.h"

namespace kb {

using Date = std::chrono::system_clock::time_point;

// Whole-second ISO 8601 text; nothing when the year lies outside 0000...9999.
std::optional<std::string> formatIsoDate(Date date);

std::optional<Date> parseIsoDate(std::string_view text);

// Seconds from `earlier` to `later` as a double (negative when `later` is earlier).
double secondsBetween(Date earlier, Date later);

}  // namespace kb

namespace kb::json {

template <>
struct Codec<Date> {
    static boost::json::value encode(const Date& value);
    static Date decode(const boost::json::value& value);
};

}  // namespace kb::json
