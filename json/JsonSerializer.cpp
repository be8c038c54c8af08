#include "json/JsonSerializer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kb::json {
namespace {

// The letter written after the backslash for each byte that must be escaped ('u' for
// "\u00XX"), or 0 for a byte copied as is.
constexpr std::array<char, 256> makeEscapeTable(bool slash) {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<size_t>(c)] = 'u';
    }
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['"'] = '"';
    table['\\'] = '\\';
    if (slash) {
        table['/'] = '/';
    }
    return table;
}

constexpr auto wireEscapes = makeEscapeTable(true);
constexpr auto domainEscapes = makeEscapeTable(false);

constexpr std::uint64_t everyByte(std::uint8_t b) {
    return 0x0101010101010101ULL * b;
}

constexpr std::uint64_t highBits = everyByte(0x80);

// Eight bytes of text as one word whose lowest byte is the first in memory, and back.
inline std::uint64_t loadWord(const char* in) {
    std::uint64_t w;
    std::memcpy(&w, in, 8);
    if constexpr (std::endian::native == std::endian::big) {
        w = __builtin_bswap64(w);
    }
    return w;
}

inline void storeWord(char* out, std::uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) {
        w = __builtin_bswap64(w);
    }
    std::memcpy(out, &w, 8);
}

// The first 1 to 7 bytes at `in`, in the word's low bytes, without a call to memcpy: two
// overlapping loads put each byte in its place.
inline std::uint64_t loadShort(const char* in, size_t n) {
    const auto byte = [in](size_t i) {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(in[i]));
    };
    if (n >= 4) {
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, in, 4);
        std::memcpy(&hi, in + n - 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        return lo | (static_cast<std::uint64_t>(hi) << (8 * (n - 4)));
    }
    return byte(0) | (byte(n / 2) << (8 * (n / 2))) | (byte(n - 1) << (8 * (n - 1)));
}

// The high bit of each byte of `w` that is a control character, '"', '\\' or `slash`, and
// of no other byte: no test lets a carry cross into the next byte.
inline std::uint64_t escapesIn(std::uint64_t w, std::uint64_t slash) {
    constexpr std::uint64_t low = everyByte(0x7F);
    const auto zeroIn = [](std::uint64_t v) { return ~(((v & low) + low) | v) & highBits; };
    const std::uint64_t control = ~(((w & low) + everyByte(0x60)) | w) & highBits;
    return control | zeroIn(w ^ everyByte('"')) | zeroIn(w ^ everyByte('\\')) | zeroIn(w ^ slash);
}

// Writes the first `n` bytes of `word`, already stored whole at `p`, with the bytes marked
// in `escapes` escaped; returns the end. After each escape the rest of the word is stored
// again behind it.
inline char* escapeWord(char* p, std::uint64_t word, std::uint64_t escapes, size_t n,
                        const std::array<char, 256>& table) {
    static constexpr char hex[] = "0123456789abcdef";
    size_t done = 0;
    while (escapes != 0) {
        const auto at = static_cast<size_t>(std::countr_zero(escapes) / 8);
        escapes &= escapes - 1;
        p += at - done;
        const auto c = static_cast<unsigned char>(word >> (8 * at));
        const char letter = table[c];
        p[0] = '\\';
        p[1] = letter;
        if (letter == 'u') {
            p[2] = '0';
            p[3] = '0';
            p[4] = hex[c >> 4];
            p[5] = hex[c & 0xF];
            p += 6;
        } else {
            p += 2;
        }
        done = at + 1;
        if (done < 8) {
            storeWord(p, word >> (8 * done));
        }
    }
    return p + (n - done);
}

// Whether `a` sorts before `b` byte-wise; most keys of one object differ in their first byte.
inline bool keyBefore(std::string_view a, std::string_view b) {
    if (!a.empty() && !b.empty() && a.front() != b.front()) {
        return static_cast<unsigned char>(a.front()) < static_cast<unsigned char>(b.front());
    }
    return a < b;
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
        if (!keyBefore(level.lastKey, name)) {
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

void JsonWriter::beginCase(std::string_view name) {
    if (style_ == JsonStyle::pretty) {
        beginObject();
        key(name);
        beginObject();
        return;
    }
    beforeValue();
    put('{');
    appendEscaped(name);
    put(":{");
    levels_.push_back(Level{true, false, name});
    levels_.push_back(Level{true, true, {}});
}

void JsonWriter::emptyCase(std::string_view name) {
    if (style_ == JsonStyle::pretty) {
        beginCase(name);
        endCase();
        return;
    }
    beforeValue();
    put('{');
    appendEscaped(name);
    put(":{}}");
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
    const bool wire = style_ == JsonStyle::wire;
    const auto& table = wire ? wireEscapes : domainEscapes;
    // Room for the worst case (every byte a six-byte escape), counted exactly only for long
    // texts where that bound would waste memory, plus one word: every step stores a whole
    // word and advances past the bytes it keeps.
    size_t bound = text.size() * 6 + 2 + 8;
    if (text.size() > 4096) {
        bound = text.size() + 2 + 8;
        for (char c : text) {
            const char letter = table[static_cast<unsigned char>(c)];
            bound += letter == 0 ? 0 : letter == 'u' ? 5 : 1;
        }
    }
    char* const start = room(bound);
    char* p = start;
    *p++ = '"';
    const std::uint64_t slash = everyByte(wire ? '/' : '"');
    const char* in = text.data();
    const char* const end = in + text.size();
    for (; end - in >= 8; in += 8) {
        const std::uint64_t word = loadWord(in);
        const std::uint64_t escapes = escapesIn(word, slash);
        storeWord(p, word);
        p = escapes == 0 ? p + 8 : escapeWord(p, word, escapes, 8, table);
    }
    if (in != end) {
        const auto left = static_cast<size_t>(end - in);
        const std::uint64_t word = loadShort(in, left);
        storeWord(p, word);
        p = escapeWord(p, word, escapesIn(word, slash) & (highBits >> (8 * (8 - left))), left,
                       table);
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
