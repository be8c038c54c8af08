// A UUID: 16 bytes, written as the canonical 36-character hyphenated text with upper-case
// hexadecimal digits ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"). Parsing accepts either case.
// Compared, ordered and hashed by its bytes.
//
// JSON form: the canonical text. Decoding refuses any string that parse() refuses.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "json/JsonCodec.h"

namespace kb {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A fresh random (version 4) UUID. Thread-safe.
    static Uuid random();

    // Exactly 8-4-4-4-12 hexadecimal digits separated by hyphens; nothing otherwise.
    static std::optional<Uuid> parse(std::string_view text);

    // Upper-case canonical text.
    std::string uuidString() const;

    bool operator==(const Uuid&) const = default;
    std::strong_ordering operator<=>(const Uuid&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::Uuid> {
    std::size_t operator()(const kb::Uuid& uuid) const noexcept {
        return std::hash<std::string_view>()(
            std::string_view(reinterpret_cast<const char*>(uuid.bytes.data()), uuid.bytes.size()));
    }
};

namespace kb::json {

template <>
struct Codec<Uuid> {
    static boost::json::value encode(const Uuid& value);
    static Uuid decode(const boost::json::value& value);
};

}  // namespace kb::json
