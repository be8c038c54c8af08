#include "HelperProtocol/WireFraming.h"

#include <utility>

namespace kb::WireFraming {
namespace {

void putBigEndian(std::string& out, std::uint64_t value, size_t width) {
    for (size_t i = width; i-- > 0;) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint64_t readBigEndian(std::string_view bytes, size_t width) {
    std::uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

std::string frameWithHeader(size_t bodySize) {
    std::string frame;
    frame.reserve(lengthSize + bodySize);
    putBigEndian(frame, bodySize, lengthSize);
    return frame;
}

}  // namespace

std::string_view describe(Violation violation) {
    switch (violation) {
        case Violation::frameTooLong:
            return "a frame longer than 64 MiB";
        case Violation::bodyTooShort:
            return "a frame shorter than its header";
        case Violation::unknownSelector:
            return "an unknown selector";
        case Violation::badVersionReply:
            return "a version reply that is not 8 bytes";
        case Violation::badGreeting:
            return "a malformed greeting";
        case Violation::bytesBeforeGreeting:
            return "bytes before the helper's greeting";
        case Violation::foreignSender:
            return "bytes written by a process other than the admitted one";
    }
    return "a malformed frame";
}

std::string encodeCall(const Call& call) {
    const size_t body = callIdSize + 1 + call.request.size();
    std::string frame = frameWithHeader(body);
    putBigEndian(frame, call.id, callIdSize);
    frame.push_back(static_cast<char>(call.selector));
    frame += call.request;
    return frame;
}

std::string encodeVersionReply(std::uint64_t id, std::int64_t version) {
    std::string frame = frameWithHeader(callIdSize + 8);
    putBigEndian(frame, id, callIdSize);
    putBigEndian(frame, static_cast<std::uint64_t>(version), 8);
    return frame;
}

std::string encodeResponseReply(std::uint64_t id, std::string_view response) {
    std::string frame = frameWithHeader(callIdSize + response.size());
    putBigEndian(frame, id, callIdSize);
    frame += response;
    return frame;
}

std::string encodeGreeting(const Greeting& greeting) {
    const std::string_view text = greeting.admitted ? std::string_view() : greeting.refusal;
    std::string frame = frameWithHeader(1 + text.size());
    frame.push_back(greeting.admitted ? '\1' : '\0');
    frame += text;
    return frame;
}

Result<Greeting, Violation> decodeGreeting(std::string_view body) {
    if (body == std::string_view("\1", 1)) {
        return Greeting{true, {}};
    }
    if (!body.empty() && body[0] == '\0') {
        return Greeting{false, std::string(body.substr(1))};
    }
    return fail(Violation::badGreeting);
}

Result<Call, Violation> decodeCall(std::string&& body) {
    auto call = decodeCall(std::string_view(body).substr(0, callIdSize + 1));
    if (call && call->selector == Selector::perform) {
        body.erase(0, callIdSize + 1);
        call->request = std::move(body);
    }
    return call;
}

Result<Call, Violation> decodeCall(std::string_view body) {
    if (body.size() < callIdSize + 1) {
        return fail(Violation::bodyTooShort);
    }
    Call call;
    call.id = readBigEndian(body, callIdSize);
    const auto selector = static_cast<std::uint8_t>(body[callIdSize]);
    if (selector == static_cast<std::uint8_t>(Selector::getVersion)) {
        call.selector = Selector::getVersion;
    } else if (selector == static_cast<std::uint8_t>(Selector::perform)) {
        call.selector = Selector::perform;
        call.request.assign(body.substr(callIdSize + 1));
    } else {
        return fail(Violation::unknownSelector);
    }
    return call;
}

Result<Reply, Violation> decodeReply(std::string_view body) {
    if (body.size() < callIdSize) {
        return fail(Violation::bodyTooShort);
    }
    return Reply{readBigEndian(body, callIdSize), std::string(body.substr(callIdSize))};
}

Result<std::int64_t, Violation> decodeVersion(std::string_view payload) {
    if (payload.size() != 8) {
        return fail(Violation::badVersionReply);
    }
    return static_cast<std::int64_t>(readBigEndian(payload, 8));
}

void FrameReader::append(const char* bytes, size_t size) {
    if (consumed_ > 0 && consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    } else if (consumed_ > (1u << 16) && consumed_ * 2 > buffer_.size()) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    buffer_.append(bytes, size);
}

size_t FrameReader::nextFrameSize() const {
    const std::string_view pending = std::string_view(buffer_).substr(consumed_);
    if (pending.size() < lengthSize) {
        return 0;
    }
    return lengthSize + readBigEndian(pending, lengthSize);
}

Result<std::optional<std::string>, Violation> FrameReader::next() {
    const std::string_view pending = std::string_view(buffer_).substr(consumed_);
    if (pending.size() < lengthSize) {
        return std::optional<std::string>();
    }
    const std::uint64_t length = readBigEndian(pending, lengthSize);
    if (length > maximumFrameLength) {
        return fail(Violation::frameTooLong);
    }
    if (pending.size() - lengthSize < length) {
        return std::optional<std::string>();
    }
    if (consumed_ == 0 && lengthSize + length == buffer_.size()) {
        // The whole buffer is this frame (the usual case for a large one): hand it over.
        std::string body = std::exchange(buffer_, std::string());
        body.erase(0, lengthSize);
        return std::optional<std::string>(std::move(body));
    }
    std::string body(pending.substr(lengthSize, length));
    consumed_ += lengthSize + length;
    if (consumed_ == buffer_.size() && buffer_.capacity() > (1u << 20)) {
        // Keep no large buffer for a connection after its large frame is out.
        buffer_ = std::string();
        consumed_ = 0;
    }
    return std::optional<std::string>(std::move(body));
}

}  // namespace kb::WireFraming
