#include "json/JsonSerializer.h"

#include "json/JsonCodec.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <string>
#include <vector>

namespace kb::json {
namespace {

// `length` bytes of 'a' with `special` written from `offset` on, every `every` bytes.
std::string textWith(std::size_t length, const std::string& special, std::size_t offset,
                     std::size_t every) {
    std::string text(length, 'a');
    for (std::size_t at = offset; at + special.size() <= length; at += every) {
        text.replace(at, special.size(), special);
    }
    return text;
}

// Every byte class (plain, UTF-8, slash, quote, backslash, control) at every offset of an
// eight-byte word, alone in its word or several to a word, in texts short and long (past
// the size where the output is counted exactly): what the writer escapes reads back as the
// same text, and the wire form never holds a bare "/".
TEST(JsonWriter, EscapedTextsReadBackUnchangedAtEveryOffsetAndLength) {
    const std::string specials[] = {"/",    "\"",      "\\", "\n", std::string(1, '\0'),
                                    "\x1f", "\xc3\xa9"};
    for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 63u, 4096u, 4097u, 9000u}) {
        for (const auto& special : specials) {
            for (std::size_t offset = 0; offset < 9 && offset <= length; ++offset) {
                for (std::size_t every : {11u, 3u, 2u}) {
                    const std::string text = textWith(length, special, offset, every);
                    for (auto style : {JsonStyle::wire, JsonStyle::domain}) {
                        auto bytes = serialize(boost::json::string(text), style);
                        ASSERT_TRUE(bytes);
                        const auto back = boost::json::parse(*bytes);
                        ASSERT_EQ(std::string(back.as_string()), text)
                            << length << " " << offset << " " << every;
                        for (std::size_t at = bytes->find('/');
                             style == JsonStyle::wire && at != std::string::npos;
                             at = bytes->find('/', at + 1)) {
                            ASSERT_EQ((*bytes)[at - 1], '\\');
                        }
                    }
                }
            }
        }
    }
}

// A key is accepted only after keys that sort before it byte-wise, also when they share
// their first byte and when the earlier key was written by a case; an unbalanced document
// is refused too.
TEST(JsonWriter, RefusesKeysOutOfOrderAndUnbalancedDocuments) {
    using Pair = std::tuple<const char*, const char*, bool>;
    for (const auto& [first, second, accepted] : {
             Pair{"a", "ab", true},
             Pair{"ab", "a", false},
             Pair{"ab", "ac", true},
             Pair{"ac", "ab", false},
             Pair{"a", "a", false},
             Pair{"z", "\xc3\xa9", true},
             Pair{"\xc3\xa9", "z", false},
         }) {
        for (bool byCase : {false, true}) {
            JsonWriter w(JsonStyle::wire);
            if (byCase) {
                w.beginCase(first);
                w.endObject();
            } else {
                w.beginObject();
                w.key(first);
                w.null();
            }
            w.key(second);
            w.null();
            w.endObject();
            EXPECT_EQ(w.finish().ok(), accepted) << first << " " << second << " " << byCase;
        }
    }
    JsonWriter openArray(JsonStyle::wire);
    openArray.beginArray();
    EXPECT_FALSE(openArray.finish());
    JsonWriter keyWithoutValue(JsonStyle::wire);
    keyWithoutValue.beginObject();
    keyWithoutValue.key("a");
    keyWithoutValue.endObject();
    EXPECT_FALSE(keyWithoutValue.finish());
    EXPECT_FALSE(JsonWriter(JsonStyle::wire).finish());
}

// A case written whole has the bytes of the same case written as plain objects.
TEST(JsonWriter, CasesWrittenWholeMatchTheirPlainObjectForm) {
    const auto plain =
        boost::json::parse(R"([{"ok":{}},{"ok":{"x":null}},{"a/\"b":{}},{"a/\"b":{"x":null}}])");
    for (auto style : {JsonStyle::wire, JsonStyle::domain, JsonStyle::pretty}) {
        JsonWriter whole(style);
        whole.beginArray();
        for (const char* name : {"ok", "a/\"b"}) {
            whole.emptyCase(name);
            whole.beginCase(name);
            whole.key("x");
            whole.null();
            whole.endCase();
        }
        whole.endArray();
        EXPECT_EQ(whole.finish().value(), serialize(plain, style).value());
    }
}

// A long array makes room ahead from its first elements; whatever the size of the later
// ones (growing, shrinking, or empty after large first ones, which must not make it ask for
// gigabytes), it comes out whole, the same as the array written value by value.
TEST(JsonWriter, LongArraysComeOutWholeWhateverTheSizeOfLaterElements) {
    using Shape = std::pair<std::size_t, std::size_t (*)(std::size_t)>;
    for (const auto& [count, length] : {
             Shape{3000, [](std::size_t i) { return i; }},
             Shape{3000, [](std::size_t i) { return 3000 - i; }},
             Shape{300000, [](std::size_t i) { return i < 16 ? std::size_t{1} << 16 : 0; }},
         }) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < count; ++i) {
            paths.push_back("/" + std::string(length(i), 'x'));
        }
        EXPECT_EQ(encode(paths, JsonStyle::wire).value(),
                  serialize(toValue(paths), JsonStyle::wire).value());
    }
}

}  // namespace
}  // namespace kb::json
