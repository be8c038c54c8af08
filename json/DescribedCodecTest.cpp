#include "json/DescribedCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kb {
namespace {

enum class Colour { red, deepBlue };
BOOST_DESCRIBE_ENUM(Colour, red, deepBlue)

struct Inner {
    enum class Mode { on, off };
    BOOST_DESCRIBE_NESTED_ENUM(Mode, on, off)

    Mode mode = Mode::on;
    std::optional<std::int64_t> limit{};

    bool operator==(const Inner&) const = default;
};
BOOST_DESCRIBE_STRUCT(Inner, (), (mode, limit))

struct Outer {
    std::string name{};
    Colour colour = Colour::red;
    std::vector<Inner> inners{};
    std::optional<Inner> extra{};

    bool operator==(const Outer&) const = default;
};
BOOST_DESCRIBE_STRUCT(Outer, (), (name, colour, inners, extra))

std::string encoded(const Outer& value) {
    return *json::encode(value, json::JsonStyle::domain);
}

TEST(DescribedCodec, EncodesSortedDecodesExactCaseNamesAndHashesEveryMember) {
    const Outer plain{.name = "a"};
    EXPECT_EQ(encoded(plain), R"({"colour":"red","inners":[],"name":"a"})");
    const Outer full{.name = "b",
                     .colour = Colour::deepBlue,
                     .inners = {{.mode = Inner::Mode::off, .limit = 0}},
                     .extra = Inner{}};
    EXPECT_EQ(encoded(full), R"({"colour":"deepBlue","extra":{"mode":"on"},)"
                             R"("inners":[{"limit":0,"mode":"off"}],"name":"b"})");
    EXPECT_EQ(rawValue(static_cast<Colour>(9)), "");
    EXPECT_EQ(fromRawValue<Colour>("deepBlue"), Colour::deepBlue);
    for (const char* other : {"DeepBlue", "deepblue", "deepBlue ", ""}) {
        EXPECT_EQ(fromRawValue<Colour>(other), std::nullopt) << other;
    }
    for (const auto& value : {plain, full}) {
        EXPECT_EQ(json::decode<Outer>(encoded(value)).value(), value);
    }
    Outer changed = full;
    EXPECT_EQ(hashOf(changed), hashOf(full));
    changed.inners.front().limit.reset();
    EXPECT_NE(hashOf(changed), hashOf(full));
    changed = full;
    changed.extra.reset();
    EXPECT_NE(hashOf(changed), hashOf(full));
}

}  // namespace
}  // namespace kb
