// HelperCodec: the JSON form of the wire types, used by both sides.
//
// encode() writes compact JSON with keys sorted at every level, "/" escaped as "\/" and
// non-ASCII text as UTF-8; an absent optional is omitted. decode() applies the strict
// rules of the codec kit (JsonCodec.h). Neither throws.
#pragma once

#include <string>
#include <string_view>

#include "HelperProtocol/WireMessages.h"
#include "json/JsonCodec.h"

namespace kb::json {

template <>
struct Codec<LaunchdDomain> {
    static void write(JsonWriter& writer, const LaunchdDomain& value);
    static LaunchdDomain decode(const boost::json::value& value);
};
template <>
struct Codec<HelperRequest> {
    static void write(JsonWriter& writer, const HelperRequest& value);
    static HelperRequest decode(const boost::json::value& value);
};
template <>
struct Codec<ItemOutcome> {
    static void write(JsonWriter& writer, const ItemOutcome& value);
    static ItemOutcome decode(const boost::json::value& value);
};
template <>
struct Codec<ItemResult> {
    static void write(JsonWriter& writer, const ItemResult& value);
    static ItemResult decode(const boost::json::value& value);
};
template <>
struct Codec<HelperResponse> {
    static void write(JsonWriter& writer, const HelperResponse& value);
    static HelperResponse decode(const boost::json::value& value);
};

}  // namespace kb::json

namespace kb::HelperCodec {

template <class T>
Result<std::string, json::EncodeError> encode(const T& value) {
    return json::encode(value, json::JsonStyle::wire);
}

template <class T>
Result<T, json::DecodeError> decode(std::string_view bytes) {
    return json::decode<T>(bytes);
}

// The `error` response "the helper could not encode its response", sent instead of a
// response that failed to encode. Created once; lives for the process.
const std::string& encodingFailureFallback();

// Encodes a response, or gives the fallback bytes when encoding fails.
std::string encodeOrFallback(const HelperResponse& response);

}  // namespace kb::HelperCodec
