// Our JSON writer over Boost.JSON values. Keys of every object are written in sorted
// (byte-wise) order at every level. Strings are escaped minimally: quote, backslash and
// control characters; non-ASCII text is written as raw UTF-8.
//
//  - JsonStyle::wire:   compact, and "/" written as "\/" (the helper protocol's bytes).
//  - JsonStyle::domain: compact, slashes unescaped (one line per journal entry).
//  - JsonStyle::pretty: two-space indentation, `"key" : value`, slashes unescaped
//                       (store files).
//
// Doubles are written in their shortest round-trip form; a non-finite double cannot be
// written and makes serialize() fail.
#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "HelperProtocol/Result.h"

namespace kb::json {

enum class JsonStyle { wire, domain, pretty };

struct EncodeError {
    std::string message;
    bool operator==(const EncodeError&) const = default;
};

Result<std::string, EncodeError> serialize(const boost::json::value& value, JsonStyle style);

}  // namespace kb::json
