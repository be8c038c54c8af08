#include "HelperProtocol/JsonSerializer.h"

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
    for (unsigned char c : {'\b', '\f', '\n', '\r', '\t', '"', '\\'}) {
        table[c] = 1;
    }
    if (slash) {
        table['/'] = 1;
    }
    return table;
}

constexpr auto wireEscapes = makeEscapeTable(true);
constexpr auto domainEscapes = makeEscapeTable(false);

}  // namespace

void JsonWriter::newline(size_t depth) {
    out_ += '\n';
    out_.append(depth * 2, ' ');
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        if (!out_.empty()) {
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
        out_ += ',';
    }
    level.empty = false;
    if (style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
}

void JsonWriter::beginObject() {
    beforeValue();
    out_ += '{';
    levels_.push_back(Level{true, true, {}});
}

void JsonWriter::beginArray() {
    beforeValue();
    out_ += '[';
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
    out_ += '}';
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
    out_ += ']';
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
        out_ += ',';
    }
    level.empty = false;
    level.lastKey = name;
    if (style_ == JsonStyle::pretty) {
        newline(levels_.size());
    }
    appendEscaped(name);
    out_ += style_ == JsonStyle::pretty ? " : " : ":";
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
    out_.append(buffer, end);
}

void JsonWriter::unsignedInteger(std::uint64_t number) {
    beforeValue();
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    out_.append(buffer, end);
}

void JsonWriter::number(double number) {
    beforeValue();
    if (!std::isfinite(number)) {
        failure_ = "a number is not finite";
        return;
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
    out_.append(buffer, end);
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    out_ += value ? "true" : "false";
}

void JsonWriter::null() {
    beforeValue();
    out_ += "null";
}

void JsonWriter::appendEscaped(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    const auto& table = style_ == JsonStyle::wire ? wireEscapes : domainEscapes;
    // Two passes: size the output once, then fill it.
    size_t extra = 0;
    for (char c : text) {
        extra += table[static_cast<unsigned char>(c)];
    }
    const size_t at = out_.size();
    out_.resize(at + text.size() + extra + 2);
    char* p = out_.data() + at;
    *p++ = '"';
    if (extra == 0) {
        std::memcpy(p, text.data(), text.size());
        p += text.size();
    } else {
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (table[c] == 0) {
                *p++ = ch;
                continue;
            }
            *p++ = '\\';
            switch (c) {
                case '"':
                    *p++ = '"';
                    break;
                case '\\':
                    *p++ = '\\';
                    break;
                case '/':
                    *p++ = '/';
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
    }
    *p = '"';
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
    if (failure_ == nullptr && (!levels_.empty() || afterKey_ || out_.empty())) {
        failure_ = "incomplete document";
    }
    if (failure_ != nullptr) {
        return fail(EncodeError{failure_});
    }
    return std::move(out_);
}

Result<std::string, EncodeError> serialize(const boost::json::value& value, JsonStyle style) {
    JsonWriter writer(style);
    writer.value(value);
    return writer.finish();
}

}  // namespace kb::json
