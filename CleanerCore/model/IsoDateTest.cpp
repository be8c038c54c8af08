#include "CleanerCore/model/IsoDate.h"

#include <gtest/gtest.h>

namespace kb {
namespace {

using namespace std::chrono;

Date at(std::int64_t secondsSinceEpoch, std::int64_t nanos = 0) {
    return Date(duration_cast<Date::duration>(seconds(secondsSinceEpoch) + nanoseconds(nanos)));
}

TEST(IsoDate, WritesWholeSecondsInUtcAlsoAsItsJsonFormAndSubtractsToSignedFractions) {
    const std::pair<Date, const char*> cases[] = {
        {at(0), "1970-01-01T00:00:00Z"},
        {at(1796545868), "2026-12-06T08:31:08Z"},
        {at(1796545868, 999'999'999), "2026-12-06T08:31:08Z"},
        {at(-1), "1969-12-31T23:59:59Z"},
        {at(-1, 500'000'000), "1969-12-31T23:59:59Z"},
        {at(951782400), "2000-02-29T00:00:00Z"},
    };
    for (const auto& [date, text] : cases) {
        EXPECT_EQ(formatIsoDate(date), text);
        EXPECT_EQ(*json::encode(date, json::JsonStyle::domain), '"' + std::string(text) + '"');
    }
    EXPECT_DOUBLE_EQ(secondsBetween(at(10), at(12, 500'000'000)), 2.5);
    EXPECT_DOUBLE_EQ(secondsBetween(at(12), at(10)), -2.0);
}

TEST(IsoDate, ReadsTheWrittenFormFractionsAndOffsetsAndNothingElse) {
    const std::pair<const char*, Date> accepted[] = {
        {"2026-12-06T08:31:08Z", at(1796545868)},
        {"2026-12-06T08:31:08.5Z", at(1796545868, 500'000'000)},
        {"2026-12-06T08:31:08.123456789Z", at(1796545868, 123'456'789)},
        {"2026-12-06T08:31:08.1234567891Z", at(1796545868, 123'456'789)},
        {"2026-12-06T09:31:08+01:00", at(1796545868)},
        {"2026-12-06T03:01:08-05:30", at(1796545868)},
        {"2000-02-29T00:00:00Z", at(951782400)},
    };
    for (const auto& [text, date] : accepted) {
        EXPECT_EQ(parseIsoDate(text), date) << text;
    }
    for (const char* text :
         {"2026-12-06T08:31:08", "2026-12-06 08:31:08Z", "2026-12-06T08:31:08.Z",
          "2026-12-06T08:31Z", "2026-12-06T08:31:08Zjunk", "2026-12-06T08:31:08+0100",
          "2026-13-06T08:31:08Z", "2026-02-29T08:31:08Z", "2026-12-00T08:31:08Z",
          "2026-12-06T24:00:00Z", "2026-12-06T23:60:00Z", "2026-12-06T23:59:60Z",
          "+2026-12-06T08:31:08Z", "0001-01-01T00:00:00Z", "9999-12-31T23:59:59Z", ""}) {
        EXPECT_EQ(parseIsoDate(text), std::nullopt) << text;
    }
    EXPECT_EQ(*json::decode<Date>("\"2026-12-06T08:31:08Z\""), at(1796545868));
    EXPECT_FALSE(json::decode<Date>("1796545868").ok());
    EXPECT_FALSE(json::decode<Date>("\"yesterday\"").ok());
}

}  // namespace
}  // namespace kb
