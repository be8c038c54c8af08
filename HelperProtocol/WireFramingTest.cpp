#include "HelperProtocol/WireFraming.h"

#include <gtest/gtest.h>

namespace kb::WireFraming {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

TEST(WireFraming, FramesAreBigEndianLengthThenBody) {
    EXPECT_EQ(encodeCall({0x0102030405060708, Selector::getVersion, ""}),
              bytes({0, 0, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 1}));
    EXPECT_EQ(encodeCall({1, Selector::perform, "{}"}),
              bytes({0, 0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 1, 2, '{', '}'}));
    EXPECT_EQ(encodeVersionReply(2, 7),
              bytes({0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 7}));
    EXPECT_EQ(encodeVersionReply(2, -1).substr(12), std::string(8, '\xff'));
    EXPECT_EQ(encodeResponseReply(3, "ok"), bytes({0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 3, 'o', 'k'}));
    EXPECT_EQ(encodeGreeting({true, {}}), bytes({0, 0, 0, 1, 1}));
    EXPECT_EQ(encodeGreeting({false, "no"}), bytes({0, 0, 0, 3, 0, 'n', 'o'}));
}

TEST(WireFraming, GreetingsAndRepliesDecodeBackAndViolationsAreReported) {
    for (const Greeting& greeting :
         {Greeting{true, {}}, Greeting{false, ""}, Greeting{false, "why"}}) {
        EXPECT_EQ(decodeGreeting(encodeGreeting(greeting).substr(lengthSize)).value(), greeting);
    }
    for (const std::string& body : {std::string(), bytes({1, 'x'}), bytes({2})}) {
        EXPECT_FALSE(decodeGreeting(body).ok());
    }
    const Reply decoded = decodeReply(encodeVersionReply(9, INT64_MIN).substr(lengthSize)).value();
    EXPECT_EQ(decoded.id, 9u);
    EXPECT_EQ(decodeVersion(decoded.payload).value(), INT64_MIN);
    const std::pair<std::string, Violation> cases[] = {
        {"", Violation::bodyTooShort},
        {std::string(8, '\0'), Violation::bodyTooShort},
        {std::string(8, '\0') + '\0', Violation::unknownSelector},
        {std::string(8, '\0') + '\3', Violation::unknownSelector},
        {std::string(8, '\0') + '\xff' + "{}", Violation::unknownSelector},
    };
    for (const auto& [body, expected] : cases) {
        EXPECT_EQ(decodeCall(body).error(), expected) << body.size();
    }
    EXPECT_EQ(decodeReply("1234567").error(), Violation::bodyTooShort);
    EXPECT_EQ(decodeVersion("1234567").error(), Violation::badVersionReply);
    EXPECT_EQ(decodeVersion("123456789").error(), Violation::badVersionReply);
}

TEST(WireFraming, ReaderReassemblesSplitFramesAndRejectsOversizedOnesAtOnce) {
    std::vector<Call> sent{{~0ull, Selector::getVersion, ""},
                           {42, Selector::perform, std::string("a\0b", 3)}};
    for (std::uint64_t i = 0; i < 5; ++i) {
        sent.push_back({i, Selector::perform, std::string(i * 1000, 'x')});
    }
    std::string stream;
    for (const auto& call : sent) {
        stream += encodeCall(call);
    }
    for (size_t chunk : {1u, 3u, 7u, 4096u}) {
        SCOPED_TRACE(chunk);
        FrameReader reader;
        std::vector<Call> calls;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            reader.append(stream.data() + at, std::min(chunk, stream.size() - at));
            for (;;) {
                auto body = reader.next();
                ASSERT_TRUE(body.ok());
                if (!body->has_value()) {
                    break;
                }
                calls.push_back(decodeCall(**body).value());
            }
        }
        EXPECT_EQ(calls, sent);
        EXPECT_FALSE(reader.holdsPartialFrame());
    }

    FrameReader reader;
    reader.append("\x04\x00\x00\x01", 4);  // 64 MiB + 1, with no body yet
    EXPECT_EQ(reader.next().error(), Violation::frameTooLong);
    FrameReader limit;
    limit.append("\x04\x00\x00\x00", 4);  // exactly 64 MiB is allowed: wait for it
    EXPECT_TRUE(limit.next().ok());
    EXPECT_TRUE(limit.holdsPartialFrame());
}

}  // namespace
}  // namespace kb::WireFraming
