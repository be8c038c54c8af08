#include "CleanerCore/model/IsoDate.h"

#include <cstdio>
#include <stdexcept>

namespace kb {
namespace {

using namespace std::chrono;

class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool digits(size_t count, int& value) {
        if (pos_ + count > text_.size()) {
            return false;
        }
        value = 0;
        for (size_t i = 0; i < count; ++i) {
            const char c = text_[pos_ + i];
            if (c < '0' || c > '9') {
                return false;
            }
            value = value * 10 + (c - '0');
        }
        pos_ += count;
        return true;
    }
    bool literal(char expected) {
        if (pos_ < text_.size() && text_[pos_] == expected) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool peekDigit() const {
        return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9';
    }
    bool atEnd() const { return pos_ == text_.size(); }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::optional<std::string> formatIsoDate(Date date) {
    const auto seconds = floor<std::chrono::seconds>(date);
    const auto day = floor<days>(seconds);
    const year_month_day ymd(day);
    const hh_mm_ss<std::chrono::seconds> time(seconds - day);
    const int y = static_cast<int>(ymd.year());
    if (y < 0 || y > 9999) {
        return std::nullopt;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", y,
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return std::string(text);
}

std::optional<Date> parseIsoDate(std::string_view text) {
    Scanner s(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!(s.digits(4, y) && s.literal('-') && s.digits(2, mo) && s.literal('-') && s.digits(2, d) &&
          s.literal('T') && s.digits(2, h) && s.literal(':') && s.digits(2, mi) && s.literal(':') &&
          s.digits(2, sec))) {
        return std::nullopt;
    }
    std::int64_t nanos = 0;
    if (s.literal('.')) {
        if (!s.peekDigit()) {
            return std::nullopt;
        }
        std::int64_t scale = 100'000'000;
        int digit = 0;
        while (s.peekDigit()) {
            s.digits(1, digit);
            nanos += digit * scale;
            scale /= 10;
        }
    }
    int offsetMinutes = 0;
    if (!s.literal('Z')) {
        int sign = 0;
        if (s.literal('+')) {
            sign = 1;
        } else if (s.literal('-')) {
            sign = -1;
        } else {
            return std::nullopt;
        }
        int oh = 0, om = 0;
        if (!(s.digits(2, oh) && s.literal(':') && s.digits(2, om)) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetMinutes = sign * (oh * 60 + om);
    }
    if (!s.atEnd()) {
        return std::nullopt;
    }
    const year_month_day ymd{year(y), month(static_cast<unsigned>(mo)),
                             day(static_cast<unsigned>(d))};
    if (!ymd.ok() || h > 23 || mi > 59 || sec > 59) {
        return std::nullopt;
    }
    const auto utc = sys_days(ymd) + hours(h) + minutes(mi) + seconds(sec) - minutes(offsetMinutes);
    // A Date spans a few centuries around 1970; outside that the text names no Date.
    const auto earliest = ceil<seconds>(Date::min()) + seconds(1);
    const auto latest = floor<seconds>(Date::max()) - seconds(1);
    if (utc < earliest || utc > latest) {
        return std::nullopt;
    }
    return time_point_cast<Date::duration>(utc) + nanoseconds(nanos);
}

double secondsBetween(Date earlier, Date later) {
    return duration<double>(later - earlier).count();
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<Date>::encode(const Date& value) {
    auto text = formatIsoDate(value);
    if (!text) {
        // Caught by json::encode and turned into its EncodeError.
        throw std::out_of_range("date outside the years 0000...9999");
    }
    return boost::json::value(boost::json::string_view(*text));
}

Date Codec<Date>::decode(const boost::json::value& value) {
    const std::string_view text = expectString(value, "date");
    auto date = parseIsoDate(text);
    if (!date) {
        failDecode("date: not an ISO 8601 date: \"" + std::string(text) + "\"");
    }
    return *date;
}

}  // namespace kb::json
