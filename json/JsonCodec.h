// The strict JSON codec kit shared by the wire protocol and the domain library.
//
// A type T gets a JSON form by specializing kb::json::Codec<T> with
//     static T decode(const boost::json::value&);   // throws DecodeFailure
// and one or both of
//     static boost::json::value encode(const T&);    // builds a value (keys in any order)
//     static void write(JsonWriter&, const T&);      // streams, keys written in sorted order
// The streaming form is the fast one (the wire types use it); encode() is simpler.
// decode() builds T from the value and keeps nothing of it (no reference, no copy of a
// boost::json value): decode(bytes) frees the parsed tree, arena and all, when it returns.
// Built-in forms exist for bool, every integer type, double, std::string, std::vector,
// std::set and std::optional (an optional field is omitted when absent; see FieldWriter).
//
// Conventions, implemented once here:
//  - Records are objects keyed by field name; required fields must be present with the
//    right JSON type; optionals read as absent when missing or null; unknown keys are
//    ignored (FieldReader / FieldWriter).
//  - An enumeration with payloads is an object with exactly one case-name key; other keys
//    are ignored; zero or several case-name keys fail with
//    "Invalid number of keys found, expected one."; the case value must be an object
//    (caseOf / makeCase). Unlabelled fields are keyed "_0", "_1".
//  - Integers must fit their C++ type exactly: a negative number for an unsigned field,
//    a value beyond the range, a non-zero fraction or any non-number fail; 7.0 reads as 7.
//
// DecodeFailure is thrown only inside decoding and caught by decode(); nothing outside a
// codec sees an exception. Decoding errors name what was wrong and never reach a client.
#pragma once

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <concepts>
#include <initializer_list>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/Result.h"
#include "json/JsonSerializer.h"

namespace kb::json {

struct DecodeError {
    std::string message;
    bool operator==(const DecodeError&) const = default;
};

// Thrown by Codec<T>::decode; never escapes decode()/fromValue callers' try blocks.
struct DecodeFailure {
    std::string message;
};

[[noreturn]] void failDecode(std::string message);

inline constexpr std::string_view invalidNumberOfKeysMessage =
    "Invalid number of keys found, expected one.";

template <class T>
struct Codec;

template <class T>
concept StreamingCodec = requires(JsonWriter& writer, const T& value) {
    Codec<T>::write(writer, value);
};

template <class T>
concept ValueCodec = requires(const T& value) {
    { Codec<T>::encode(value) } -> std::convertible_to<boost::json::value>;
};

// Parses text that our own writer produced (used to turn a streamed form into a value).
boost::json::value parseWritten(const std::string& text);

// Writes `value` with its streaming form if it has one, else through its value form.
template <class T>
void writeValue(JsonWriter& writer, const T& value) {
    if constexpr (StreamingCodec<T>) {
        Codec<T>::write(writer, value);
    } else {
        writer.value(Codec<T>::encode(value));
    }
}

template <class T>
boost::json::value toValue(const T& value) {
    if constexpr (ValueCodec<T>) {
        return Codec<T>::encode(value);
    } else {
        JsonWriter writer(JsonStyle::domain);
        Codec<T>::write(writer, value);
        auto text = writer.finish();
        if (!text) {
            throw std::runtime_error(text.error().message);
        }
        return parseWritten(*text);
    }
}

template <class Range>
boost::json::array encodeArray(const Range& values) {
    boost::json::array array;
    array.reserve(values.size());
    for (const auto& v : values) {
        array.push_back(toValue(v));
    }
    return array;
}

// Writes `values` as an array. A long one makes room for all of its elements once the first
// few have shown their size, rather than growing the output step by step; at most 16 MiB
// at once, so that a few large first elements cannot make it ask for far more than the
// array needs.
template <class Range>
void writeArray(JsonWriter& writer, const Range& values) {
    constexpr size_t sample = 16;
    constexpr size_t mostReserved = size_t{16} << 20;
    writer.beginArray();
    const size_t start = writer.size();
    size_t written = 0;
    for (const auto& v : values) {
        writeValue(writer, v);
        if (++written == sample && values.size() > 2 * sample) {
            const size_t each = (writer.size() - start) / sample + 1;
            const size_t rest = values.size() - sample;
            writer.reserve(each > mostReserved / rest ? mostReserved : each * rest * 9 / 8);
        }
    }
    writer.endArray();
}

// Streaming helper: a field. An enumeration case {"name":{...}} is JsonWriter::beginCase.
template <class T>
void writeField(JsonWriter& writer, std::string_view key, const T& value) {
    writer.key(key);
    writeValue(writer, value);
}

template <class T>
T fromValue(const boost::json::value& value) {
    return Codec<T>::decode(value);
}

// Checks and returns the object inside `value`; `what` names it in the error.
const boost::json::object& expectObject(const boost::json::value& value, std::string_view what);
const boost::json::array& expectArray(const boost::json::value& value, std::string_view what);
// The text of a string value; fails with "WHAT: expected a string" otherwise.
std::string_view expectString(const boost::json::value& value, std::string_view what);

// ---- integers, bool, double, string ----

namespace detail {
template <class Int>
Int decodeInteger(const boost::json::value& value) {
    using Limits = std::numeric_limits<Int>;
    if (value.is_int64()) {
        const std::int64_t n = value.get_int64();
        if constexpr (std::is_signed_v<Int>) {
            if (n >= static_cast<std::int64_t>(Limits::min()) &&
                n <= static_cast<std::int64_t>(Limits::max())) {
                return static_cast<Int>(n);
            }
        } else {
            if (n >= 0 && static_cast<std::uint64_t>(n) <= Limits::max()) {
                return static_cast<Int>(n);
            }
        }
        failDecode("integer out of range: " + std::to_string(n));
    }
    if (value.is_uint64()) {
        const std::uint64_t n = value.get_uint64();
        if (n <= static_cast<std::uint64_t>(Limits::max())) {
            return static_cast<Int>(n);
        }
        failDecode("integer out of range: " + std::to_string(n));
    }
    if (value.is_double()) {
        const double d = value.get_double();
        if (!std::isfinite(d) || std::trunc(d) != d) {
            failDecode("number is not an integer");
        }
        // Bounds as exact doubles: min is -2^k or 0, max+1 is 2^k.
        const double low = static_cast<double>(Limits::min());
        const double highExclusive = std::ldexp(1.0, Limits::digits);
        if (d < low || d >= highExclusive) {
            failDecode("integer out of range");
        }
        return static_cast<Int>(d);
    }
    failDecode("expected a number");
}
}  // namespace detail

template <class Int>
requires(std::integral<Int> && !std::same_as<Int, bool>) struct Codec<Int> {
    static boost::json::value encode(Int value) {
        if constexpr (std::is_signed_v<Int>) {
            return boost::json::value(static_cast<std::int64_t>(value));
        } else {
            return boost::json::value(static_cast<std::uint64_t>(value));
        }
    }
    static void write(JsonWriter& writer, Int value) {
        if constexpr (std::is_signed_v<Int>) {
            writer.integer(value);
        } else {
            writer.unsignedInteger(value);
        }
    }
    static Int decode(const boost::json::value& value) { return detail::decodeInteger<Int>(value); }
};

template <>
struct Codec<bool> {
    static boost::json::value encode(bool value) { return boost::json::value(value); }
    static void write(JsonWriter& writer, bool value) { writer.boolean(value); }
    static bool decode(const boost::json::value& value);
};

template <>
struct Codec<double> {
    static boost::json::value encode(double value) { return boost::json::value(value); }
    static void write(JsonWriter& writer, double value) { writer.number(value); }
    static double decode(const boost::json::value& value);
};

template <>
struct Codec<std::string> {
    static boost::json::value encode(const std::string& value) {
        return boost::json::value(boost::json::string_view(value));
    }
    static void write(JsonWriter& writer, const std::string& value) { writer.string(value); }
    static std::string decode(const boost::json::value& value);
};

template <class T>
struct Codec<std::vector<T>> {
    static boost::json::value encode(const std::vector<T>& values) { return encodeArray(values); }
    static void write(JsonWriter& writer, const std::vector<T>& values) {
        writeArray(writer, values);
    }
    static std::vector<T> decode(const boost::json::value& value) {
        const auto& array = expectArray(value, "array");
        std::vector<T> out;
        out.reserve(array.size());
        for (const auto& element : array) {
            out.push_back(fromValue<T>(element));
        }
        return out;
    }
};

// A set is an array whose order carries no meaning; duplicates collapse on decoding.
template <class T>
struct Codec<std::set<T>> {
    static boost::json::value encode(const std::set<T>& values) { return encodeArray(values); }
    static void write(JsonWriter& writer, const std::set<T>& values) { writeArray(writer, values); }
    static std::set<T> decode(const boost::json::value& value) {
        std::set<T> out;
        for (const auto& element : expectArray(value, "array")) {
            out.insert(fromValue<T>(element));
        }
        return out;
    }
};

// ---- records ----

class FieldReader {
  public:
    // `what` names the record in error messages.
    FieldReader(const boost::json::value& value, std::string_view what);

    template <class T>
    T required(std::string_view key) const {
        const boost::json::value* v = find(key);
        if (v == nullptr) {
            failDecode(std::string(what_) + ": missing key \"" + std::string(key) + "\"");
        }
        return decodeField<T>(*v, key);
    }

    template <class T>
    std::optional<T> optional(std::string_view key) const {
        const boost::json::value* v = find(key);
        if (v == nullptr || v->is_null()) {
            return std::nullopt;
        }
        return decodeField<T>(*v, key);
    }

    const boost::json::object& object() const { return *object_; }

  private:
    const boost::json::value* find(std::string_view key) const;

    template <class T>
    T decodeField(const boost::json::value& v, std::string_view key) const {
        try {
            return fromValue<T>(v);
        } catch (DecodeFailure& failure) {
            failure.message = std::string(what_) + "." + std::string(key) + ": " + failure.message;
            throw;
        }
    }

    const boost::json::object* object_;
    std::string_view what_;
};

class FieldWriter {
  public:
    template <class T>
    FieldWriter& field(std::string_view key, const T& value) {
        object_[key] = toValue(value);
        return *this;
    }
    // An absent optional is omitted, never written as null.
    template <class T>
    FieldWriter& optional(std::string_view key, const std::optional<T>& value) {
        if (value) {
            object_[key] = toValue(*value);
        }
        return *this;
    }
    boost::json::object take() { return std::move(object_); }
    boost::json::value value() { return boost::json::value(std::move(object_)); }

  private:
    boost::json::object object_;
};

// ---- enumerations with payloads ----

// Returns the one case-name key of `value` among `caseNames`; throws the "Invalid number of
// keys" message when there are zero or several, and requires the case value to be an object.
struct CaseView {
    std::string_view name;
    const boost::json::value* body;  // always an object
};
CaseView caseOf(const boost::json::value& value, std::initializer_list<std::string_view> caseNames,
                std::string_view what);

// {"name": body}
boost::json::value makeCase(std::string_view name, boost::json::object body = {});

// ---- whole documents ----

// Parses strict JSON (no comments, no trailing commas, valid UTF-8, nothing after the
// value, nesting at most 64 deep). The value's memory comes from `storage` (by default the
// heap), which must outlive it.
Result<boost::json::value, DecodeError> parse(std::string_view bytes,
                                              boost::json::storage_ptr storage = {});

template <class T>
Result<T, DecodeError> decode(std::string_view bytes) {
    // The parsed tree lives only while T is built from it: one arena instead of one
    // allocation per string, which is most of the parse's time on a request of many paths.
    boost::json::monotonic_resource arena(2 * bytes.size() + 1024);
    auto parsed = parse(bytes, &arena);
    if (!parsed) {
        return fail(parsed.error());
    }
    try {
        return fromValue<T>(*parsed);
    } catch (const DecodeFailure& failure) {
        return fail(DecodeError{failure.message});
    } catch (const std::exception& e) {
        return fail(DecodeError{e.what()});
    }
}

template <class T>
Result<T, DecodeError> decodeValue(const boost::json::value& value) {
    try {
        return fromValue<T>(value);
    } catch (const DecodeFailure& failure) {
        return fail(DecodeError{failure.message});
    } catch (const std::exception& e) {
        return fail(DecodeError{e.what()});
    }
}

template <class T>
Result<std::string, EncodeError> encode(const T& value, JsonStyle style) {
    try {
        JsonWriter writer(style);
        writeValue(writer, value);
        return writer.finish();
    } catch (const std::exception& e) {
        return fail(EncodeError{e.what()});
    }
}

}  // namespace kb::json
