#include "CleanerCore/model/IsoDate.h"

#include <gtest/gtest.h>

namespace kb {
namespace {

using namespace std::chrono;

Date at(std::int64_t secondsSinceEpoch, std::int64_t nanos = 0) {
    return Date(duration_cast<Date::duration>(seconds(secondsSinceEpoch) + nanoseconds(nanos)));
}

TEST(IsoDate, WritesWholeSecondsInUtc) {
    struct Case {
        Date date;
        const char* text;
    };
    const Case cases[] = {
        {at(0), "1970-01-01T00:00:00Z"},
        {at(1796545868), "2026-12-06T08:31:08Z"},
        {at(1796545868, 999'999'999), "2026-12-06T08:31:08Z"},
        {at(-1), "1969-12-31T23:59:59Z"},
        {at(-1, 500'000'000), "1969-12-31T23:59:59Z"},
        {at(951782400), "2000-02-29T00:00:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatIsoDate(c.date), c.text);
    }
}

TEST(IsoDate, ReadsTheWrittenFormFractionsAndOffsets) {
    struct Case {
        const char* text;
        std::optional<Date> date;
    };
    const Case cases[] = {
        {"2026-12-06T08:31:08Z", at(1796545868)},
        {"2026-12-06T08:31:08.5Z", at(1796545868, 500'000'000)},
        {"2026-12-06T08:31:08.123456789Z", at(1796545868, 123'456'789)},
        {"2026-12-06T08:31:08.1234567891Z", at(1796545868, 123'456'789)},
        {"2026-12-06T09:31:08+01:00", at(1796545868)},
        {"2026-12-06T03:01:08-05:30", at(1796545868)},
        {"2000-02-29T00:00:00Z", at(951782400)},
        {"2026-12-06T08:31:08", std::nullopt},
        {"2026-12-06 08:31:08Z", std::nullopt},
        {"2026-12-06T08:31:08.Z", std::nullopt},
        {"2026-12-06T08:31Z", std::nullopt},
        {"2026-12-06T08:31:08Zjunk", std::nullopt},
        {"2026-12-06T08:31:08+0100", std::nullopt},
        {"2026-13-06T08:31:08Z", std::nullopt},
        {"2026-02-29T08:31:08Z", std::nullopt},
        {"2026-12-00T08:31:08Z", std::nullopt},
        {"2026-12-06T24:00:00Z", std::nullopt},
        {"2026-12-06T23:60:00Z", std::nullopt},
        {"2026-12-06T23:59:60Z", std::nullopt},
        {"+2026-12-06T08:31:08Z", std::nullopt},
        {"0001-01-01T00:00:00Z", std::nullopt},
        {"9999-12-31T23:59:59Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIsoDate(c.text), c.date);
    }
}

TEST(IsoDate, JsonRoundTripKeepsWholeSeconds) {
    const Date date = at(1796545868);
    const auto text = json::encode(date, json::JsonStyle::domain);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "\"2026-12-06T08:31:08Z\"");
    EXPECT_EQ(*json::decode<Date>(*text), date);
    EXPECT_FALSE(json::decode<Date>("1796545868").ok());
    EXPECT_FALSE(json::decode<Date>("\"yesterday\"").ok());
}

TEST(IsoDate, SecondsBetweenIsSignedAndFractional) {
    EXPECT_DOUBLE_EQ(secondsBetween(at(10), at(12, 500'000'000)), 2.5);
    EXPECT_DOUBLE_EQ(secondsBetween(at(12), at(10)), -2.0);
}

}  // namespace
}  // namespace kb
