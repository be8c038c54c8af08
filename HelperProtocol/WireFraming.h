// The framing of the helper's socket, the same in both directions.
//
// Every message is a frame: a 4-byte big-endian length L (at most maximumFrameLength), then
// L bytes of body. A call's body is the client's 8-byte big-endian call id, one selector
// byte and, for `perform`, the request bytes. A reply's body is the call's id followed, for
// `getVersion`, by the version as an 8-byte big-endian signed integer and, for `perform`,
// by the response bytes. Replies may come in any order. Before anything else the helper
// sends one greeting frame on every connection: a status byte (1 admitted, 0 refused) and,
// for a refusal, why, in words for the user; a refused connection is closed after it.
// docs/wire-framing.md is the contract for clients.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace kb::WireFraming {

inline constexpr std::uint32_t maximumFrameLength = 64u << 20;
inline constexpr size_t lengthSize = 4;
inline constexpr size_t callIdSize = 8;

enum class Selector : std::uint8_t { getVersion = 1, perform = 2 };

struct Call {
    std::uint64_t id = 0;
    Selector selector = Selector::getVersion;
    std::string request;  // empty for getVersion
    bool operator==(const Call&) const = default;
};

struct Reply {
    std::uint64_t id = 0;
    std::string payload;  // the 8 version bytes, or the response bytes
    bool operator==(const Reply&) const = default;
};

struct Greeting {
    bool admitted = false;
    std::string refusal;  // empty when admitted
    bool operator==(const Greeting&) const = default;
};

enum class Violation {
    frameTooLong,
    bodyTooShort,
    unknownSelector,
    badVersionReply,
    badGreeting,
    bytesBeforeGreeting,
    foreignSender,
};

// A sentence for the log line that closes the connection.
std::string_view describe(Violation violation);

// Whole frames, length prefix included.
std::string encodeCall(const Call& call);
std::string encodeVersionReply(std::uint64_t id, std::int64_t version);
std::string encodeResponseReply(std::uint64_t id, std::string_view response);
std::string encodeGreeting(const Greeting& greeting);

// Bodies (without the length prefix).
Result<Call, Violation> decodeCall(std::string_view body);
// The same, reusing the body's storage for the request.
Result<Call, Violation> decodeCall(std::string&& body);
Result<Greeting, Violation> decodeGreeting(std::string_view body);
Result<Reply, Violation> decodeReply(std::string_view body);
Result<std::int64_t, Violation> decodeVersion(std::string_view payload);

// Cuts a byte stream into frame bodies. Not thread-safe; one per connection direction.
class FrameReader {
  public:
    void append(const char* bytes, size_t size);

    // The next whole frame's body, nullopt when more bytes are needed, or frameTooLong as
    // soon as a length over the limit has arrived (nothing after it is meaningful).
    Result<std::optional<std::string>, Violation> next();

    // True while bytes of an unfinished frame are buffered.
    bool holdsPartialFrame() const { return buffer_.size() > consumed_; }

    // The size, length prefix included, of the next frame once its length has arrived
    // (over the limit too); 0 before.
    size_t nextFrameSize() const;

  private:
    std::string buffer_;
    size_t consumed_ = 0;
};

}  // namespace kb::WireFraming
