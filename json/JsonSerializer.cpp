#include "json/JsonSerializer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kb::json {
namespace {

// How many bytes an escape adds to a character: 0 (copied as is), 1 ("\n", "\/", ...)
// or 5 ("\u0001").
constexpr std::array<std::uint8_t, 256> makeEscapeTable(bool slash) {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<size_t>(c)] = 5;
    }
    for (const char c : {'\b', '\f', '\n', '\r', '\t', '"', '\\'}) {
        table[static_cast<unsigned char>(c)] = 1;
    }
    if (slash) {
        table['/'] = 1;
    }
    return table;
}

constexpr auto wireEscapes = makeEscapeTable(true);
constexpr auto domainEscapes = makeEscapeTable(false);

constexpr std::uint64_t everyByte(std::uint8_t b) {
    return 0x0101010101010101ULL * b;
}

// Whether any of the eight bytes of `w` is a control character, '"', '\\' or `slash` (the
// classic word-at-a-time tests for a zero byte and for a byte below a bound).
inline bool anyNeedsEscape(std::uint64_t w, std::uint64_t slash) {
    constexpr std::uint64_t high = everyByte(0x80);
    const auto zeroIn = [](std::uint64_t v) { return (v - everyByte(1)) & ~v & high; };
    const std::uint64_t control = (w - everyByte(0x20)) & ~w & high;
    return (control | zeroIn(w ^ everyByte('"')) | zeroIn(w ^ everyByte('\\')) |
            zeroIn(w ^ slash)) != 0;
}

}  // namespace

void JsonWriter::newline(size_t depth) {
    char* p = room(1 + depth * 2);
    *p++ = '\n';
    std::memset(p, ' ', depth * 2);
    used_ += 1 + depth * 2;
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        if (used_ != 0) {
            failure_ = "two values at the top level";
        }
        return;
    }
    Level& level = levels_.back();
    if (level.isObject) {
        failure_ = "a value in an object without a key";
        return;
    }
    if (!level.empty) {
        put(',');
    }
    level.empty = false;
    if (style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
}

void JsonWriter::beginObject() {
    beforeValue();
    put('{');
    levels_.push_back(Level{true, true, {}});
}

void JsonWriter::beginArray() {
    beforeValue();
    put('[');
    levels_.push_back(Level{false, true, {}});
}

void JsonWriter::endObject() {
    if (levels_.empty() || !levels_.back().isObject || afterKey_) {
        failure_ = "unbalanced object";
        return;
    }
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty && style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
    put('}');
}

void JsonWriter::endArray() {
    if (levels_.empty() || levels_.back().isObject) {
        failure_ = "unbalanced array";
        return;
    }
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty && style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
    put(']');
}

void JsonWriter::key(std::string_view name) {
    if (levels_.empty() || !levels_.back().isObject || afterKey_) {
        failure_ = "a key outside an object";
        return;
    }
    Level& level = levels_.back();
    if (!level.empty) {
        if (!(level.lastKey < name)) {
            failure_ = "object keys out of order";
        }
        put(',');
    }
    level.empty = false;
    level.lastKey = name;
    if (style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
    appendEscaped(name);
    put(style_ == JsonStyle::pretty ? " : " : ":");
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
    beforeValue();
    appendEscaped(text);
}

void JsonWriter::integer(std::int64_t number) {
    beforeValue();
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    put(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

void JsonWriter::unsignedInteger(std::uint64_t number) {
    beforeValue();
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    put(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

void JsonWriter::number(double number) {
    beforeValue();
    if (!std::isfinite(number)) {
        failure_ = "a number is not finite";
        return;
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    put(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    put(value ? "true" : "false");
}

void JsonWriter::null() {
    beforeValue();
    put("null");
}

void JsonWriter::grow(size_t bytes) {
    // The bytes past used_ are scratch, cut off by finish().
    out_.resize(std::max(out_.size() * 2, std::max(used_ + bytes, size_t{256})));
}

void JsonWriter::appendEscaped(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    const bool wire = style_ == JsonStyle::wire;
    const auto& table = wire ? wireEscapes : domainEscapes;
    // Room for the worst case (every byte a six-byte escape), counted exactly only for long
    // texts where that bound would waste memory; then one pass that copies clean eight-byte
    // words whole.
    size_t bound = text.size() * 6 + 2;
    if (text.size() > 4096) {
        bound = text.size() + 2;
        for (char c : text) {
            bound += table[static_cast<unsigned char>(c)];
        }
    }
    char* const start = room(bound);
    char* p = start;
    *p++ = '"';
    const std::uint64_t slash = everyByte(wire ? '/' : '"');
    const char* in = text.data();
    const char* const end = in + text.size();
    while (in != end) {
        std::uint64_t word;
        while (end - in >= 8 && (std::memcpy(&word, in, 8), !anyNeedsEscape(word, slash))) {
            std::memcpy(p, in, 8);
            in += 8;
            p += 8;
        }
        while (in != end && table[static_cast<unsigned char>(*in)] == 0) {
            *p++ = *in++;
        }
        if (in == end) {
            break;
        }
        const auto c = static_cast<unsigned char>(*in++);
        *p++ = '\\';
        switch (c) {
            case '"':
            case '\\':
            case '/':
                *p++ = static_cast<char>(c);
                break;
            case '\b':
                *p++ = 'b';
                break;
            case '\f':
                *p++ = 'f';
                break;
            case '\n':
                *p++ = 'n';
                break;
            case '\r':
                *p++ = 'r';
                break;
            case '\t':
                *p++ = 't';
                break;
            default:
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = hex[c >> 4];
                *p++ = hex[c & 0xF];
        }
    }
    *p++ = '"';
    used_ += static_cast<size_t>(p - start);
}

void JsonWriter::writeObjectSorted(const boost::json::object& object) {
    // Most objects are small: sort pointers on the stack when they fit.
    std::array<const boost::json::key_value_pair*, 16> small;
    std::vector<const boost::json::key_value_pair*> large;
    const boost::json::key_value_pair** members = small.data();
    if (object.size() > small.size()) {
        large.resize(object.size());
        members = large.data();
    }
    size_t n = 0;
    for (const auto& member : object) {
        members[n++] = &member;
    }
    std::sort(members, members + n,
              [](const auto* a, const auto* b) { return a->key() < b->key(); });
    beginObject();
    for (size_t i = 0; i < n; ++i) {
        const auto k = members[i]->key();
        key(std::string_view(k.data(), k.size()));
        value(members[i]->value());
    }
    endObject();
}

void JsonWriter::value(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null:
            null();
            return;
        case boost::json::kind::bool_:
            boolean(value.get_bool());
            return;
        case boost::json::kind::int64:
            integer(value.get_int64());
            return;
        case boost::json::kind::uint64:
            unsignedInteger(value.get_uint64());
            return;
        case boost::json::kind::double_:
            number(value.get_double());
            return;
        case boost::json::kind::string: {
            const auto& s = value.get_string();
            string(std::string_view(s.data(), s.size()));
            return;
        }
        case boost::json::kind::array:
            beginArray();
            for (const auto& element : value.get_array()) {
                this->value(element);
            }
            endArray();
            return;
        case boost::json::kind::object:
            writeObjectSorted(value.get_object());
            return;
    }
}

Result<std::string, EncodeError> JsonWriter::finish() {
    if (failure_ == nullptr && (!levels_.empty() || afterKey_ || used_ == 0)) {
        failure_ = "incomplete document";
    }
    if (failure_ != nullptr) {
        return fail(EncodeError{failure_});
    }
    out_.resize(used_);
    return std::move(out_);
}

Result<std::string, EncodeError> serialize(const boost::json::value& value, JsonStyle style) {
    JsonWriter writer(style);
    writer.value(value);
    return writer.finish();
}

}  // namespace kb::json
