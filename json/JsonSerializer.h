// Our JSON writer. Keys of every object are written in sorted (byte-wise) order at every
// level. Strings are escaped minimally: quote, backslash and control characters; non-ASCII
// text is written as raw UTF-8.
//
//  - JsonStyle::wire:   compact, and "/" written as "\/" (the helper protocol's bytes).
//  - JsonStyle::domain: compact, slashes unescaped (one line per journal entry).
//  - JsonStyle::pretty: two-space indentation, `"key" : value`, slashes unescaped
//                       (store files).
//
// Doubles are written in their shortest round-trip form; a non-finite double cannot be
// written and makes the writer fail.
#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace kb::json {

enum class JsonStyle { wire, domain, pretty };

struct EncodeError {
    std::string message;
    bool operator==(const EncodeError&) const = default;
};

// A streaming writer. Within one object, key() must be called in ascending byte order
// (streaming encoders write their fields sorted by hand); a key out of order, a non-finite
// number or unbalanced nesting makes finish() fail rather than write unsorted JSON.
// value() writes a Boost.JSON value, sorting its keys itself.
class JsonWriter {
  public:
    explicit JsonWriter(JsonStyle style) : style_(style) { levels_.reserve(16); }

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);

    // An enumeration case {"name":{...}}: beginCase(name) opens both objects and endCase()
    // closes them; emptyCase(name) writes {"name":{}} whole.
    void beginCase(std::string_view name);
    void endCase() {
        endObject();
        endObject();
    }
    void emptyCase(std::string_view name);

    void string(std::string_view text);
    void integer(std::int64_t number);
    void unsignedInteger(std::uint64_t number);
    void number(double number);
    void boolean(bool value);
    void null();
    void value(const boost::json::value& value);

    Result<std::string, EncodeError> finish();

    // The bytes written so far, and room for `bytes` more at once: a caller that can tell
    // the size ahead spares the output its repeated growth.
    size_t size() const { return used_; }
    void reserve(size_t bytes) { room(bytes); }

  private:
    struct Level {
        bool isObject;
        bool empty = true;
        std::string_view lastKey;  // keys written by streaming encoders are literals
    };

    void beforeValue();
    void newline(size_t depth);
    // Room for `bytes` more bytes at the end of the output; put() and the callers of room()
    // advance used_ by what they wrote.
    char* room(size_t bytes) {
        if (out_.size() - used_ < bytes) {
            grow(bytes);
        }
        return out_.data() + used_;
    }
    void grow(size_t bytes);
    void put(char c) {
        *room(1) = c;
        ++used_;
    }
    void put(std::string_view text) {
        std::memcpy(room(text.size()), text.data(), text.size());
        used_ += text.size();
    }
    void appendEscaped(std::string_view text);
    void writeObjectSorted(const boost::json::object& object);

    JsonStyle style_;
    std::string out_;  // its first used_ bytes are the document
    size_t used_ = 0;
    std::vector<Level> levels_;
    bool afterKey_ = false;
    const char* failure_ = nullptr;
};

Result<std::string, EncodeError> serialize(const boost::json::value& value, JsonStyle style);

}  // namespace kb::json
