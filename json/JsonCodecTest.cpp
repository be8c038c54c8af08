#include "json/JsonCodec.h"

#include "json/DescribedCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace kb::json {
namespace {

struct Sample {
    std::string name;
    std::uint32_t count = 0;
    std::optional<std::string> note;
    bool operator==(const Sample&) const = default;
};
BOOST_DESCRIBE_STRUCT(Sample, (), (name, count, note))

template <class T>
std::optional<T> decodeText(std::string_view text) {
    auto r = decode<T>(text);
    return r ? std::optional<T>(std::move(r).value()) : std::nullopt;
}

TEST(JsonCodec, IntegersMustFitTheirTypeExactly) {
    struct Case {
        const char* text;
        bool asU32, asI32, asU64, asI64, asU8;
    };
    const Case cases[] = {
        {"7", true, true, true, true, true},
        {"7.0", true, true, true, true, true},
        {"7.5", false, false, false, false, false},
        {"-1", false, true, false, true, false},
        {"-0", true, true, true, true, true},
        {"256", true, true, true, true, false},
        {"4294967295", true, false, true, true, false},
        {"4294967296", false, false, true, true, false},
        {"2147483648", true, false, true, true, false},
        {"-2147483648", false, true, false, true, false},
        {"-2147483649", false, false, false, true, false},
        {"18446744073709551615", false, false, true, false, false},
        {"18446744073709551616", false, false, false, false, false},
        {"9223372036854775807", false, false, true, true, false},
        {"-9223372036854775808", false, false, false, true, false},
        {"1e3", true, true, true, true, false},
        {"1e400", false, false, false, false, false},
        {"\"7\"", false, false, false, false, false},
        {"true", false, false, false, false, false},
        {"null", false, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodeText<std::uint32_t>(c.text).has_value(), c.asU32);
        EXPECT_EQ(decodeText<std::int32_t>(c.text).has_value(), c.asI32);
        EXPECT_EQ(decodeText<std::uint64_t>(c.text).has_value(), c.asU64);
        EXPECT_EQ(decodeText<std::int64_t>(c.text).has_value(), c.asI64);
        EXPECT_EQ(decodeText<std::uint8_t>(c.text).has_value(), c.asU8);
    }
    EXPECT_EQ(decodeText<std::uint64_t>("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(decodeText<std::int64_t>("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(decodeText<std::int32_t>("7.0"), 7);
}

TEST(JsonCodec, RecordsAndSetsDecodeStrictly) {
    const std::pair<const char*, Sample> accepted[] = {
        {R"({"name":"a","count":1})", Sample{"a", 1, std::nullopt}},
        {R"({"name":"a","count":1,"note":null})", Sample{"a", 1, std::nullopt}},
        {R"({"name":"a","count":1,"note":"n"})", Sample{"a", 1, "n"}},
        {R"({"name":"a","count":1,"extra":[1,2,{}]})", Sample{"a", 1, std::nullopt}},
    };
    for (const auto& [text, expected] : accepted) {
        EXPECT_EQ(decodeText<Sample>(text), expected) << text;
    }
    for (const char* text :
         {R"({"name":"a"})", R"({"name":null,"count":1})", R"({"name":1,"count":1})",
          R"({"name":"a","count":-1})", R"({"name":"a","count":1,"note":5})", "[]", R"("x")",
          R"({"name":"a","count":1} x)", R"({"name":"a","count":1,})",
          R"({"name":"a",/*c*/"count":1})", "{\"name\":\"\xff\",\"count\":1}", ""}) {
        EXPECT_EQ(decodeText<Sample>(text), std::nullopt) << text;
    }
    EXPECT_EQ(decodeText<std::set<int>>("[3,1,3,2]"), (std::set<int>{1, 2, 3}));
    EXPECT_EQ(decodeText<std::set<int>>("[1,\"2\"]"), std::nullopt);
}

TEST(JsonCodec, CaseOfDemandsExactlyOneCaseKeyWithAnObjectValue) {
    // The text, the case found (nullptr: a failure) and whether it failed on the key count.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {R"({"a":{}})", "a", false},           {R"({"b":{"x":1},"other":3})", "b", false},
        {R"({"a":{},"b":{}})", nullptr, true}, {R"({})", nullptr, true},
        {R"({"other":{}})", nullptr, true},    {R"({"a":[]})", nullptr, false},
        {R"({"a":null})", nullptr, false},     {R"(["a"])", nullptr, false},
    };
    for (const auto& [text, expectedCase, keysMessage] : cases) {
        SCOPED_TRACE(text);
        const auto parsed = parse(text).value();
        try {
            const auto view = caseOf(parsed, {"a", "b"}, "Thing");
            ASSERT_NE(expectedCase, nullptr);
            EXPECT_EQ(view.name, expectedCase);
        } catch (const DecodeFailure& failure) {
            EXPECT_EQ(expectedCase, nullptr);
            EXPECT_EQ(failure.message == invalidNumberOfKeysMessage, keysMessage)
                << failure.message;
        }
    }
}

TEST(JsonSerializer, SortsKeysAtEveryLevelAndEscapesByStyle) {
    const auto parsed =
        parse(R"({"b":{"z":1,"a":[{"y":"\/x","c":"é\n\u0001"}]},"a":-3.5})").value();
    EXPECT_EQ(serialize(parsed, JsonStyle::wire).value(),
              "{\"a\":-3.5,\"b\":{\"a\":[{\"c\":\"é\\n\\u0001\",\"y\":\"\\/x\"}],\"z\":1}}");
    EXPECT_EQ(serialize(parsed, JsonStyle::domain).value(),
              "{\"a\":-3.5,\"b\":{\"a\":[{\"c\":\"é\\n\\u0001\",\"y\":\"/x\"}],\"z\":1}}");
    EXPECT_EQ(serialize(parsed, JsonStyle::pretty).value(),
              "{\n  \"a\" : -3.5,\n  \"b\" : {\n    \"a\" : [\n      {\n        \"c\" : "
              "\"é\\n\\u0001\",\n        \"y\" : \"/x\"\n      }\n    ],\n    \"z\" : 1\n  }\n}");
    EXPECT_EQ(*serialize(boost::json::object{}, JsonStyle::pretty), "{}");
    EXPECT_FALSE(
        serialize(boost::json::value(std::numeric_limits<double>::infinity()), JsonStyle::wire));
}

TEST(JsonCodec, DeepNestingFailsInsteadOfOverflowing) {
    EXPECT_FALSE(parse(std::string(100000, '[')));
    EXPECT_TRUE(parse(std::string(60, '[') + std::string(60, ']')));
}

}  // namespace
}  // namespace kb::json
