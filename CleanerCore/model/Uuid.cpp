#include "CleanerCore/model/Uuid.h"

#include <uuid/uuid.h>

#include <cstring>

namespace kb {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isHyphenPosition(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

Uuid Uuid::random() {
    uuid_t raw;
    uuid_generate_random(raw);
    Uuid uuid;
    std::memcpy(uuid.bytes.data(), raw, uuid.bytes.size());
    return uuid;
}

// Parsed here rather than with uuid_parse, which needs a NUL-terminated string.
std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0 || isHyphenPosition(i + 1)) {
            return std::nullopt;
        }
        uuid.bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return uuid;
}

std::string Uuid::uuidString() const {
    uuid_t raw;
    std::memcpy(raw, bytes.data(), bytes.size());
    char text[37];
    uuid_unparse_upper(raw, text);
    return std::string(text, 36);
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<Uuid>::encode(const Uuid& value) {
    return boost::json::value(boost::json::string_view(value.uuidString()));
}

Uuid Codec<Uuid>::decode(const boost::json::value& value) {
    const std::string_view text = expectString(value, "UUID");
    auto uuid = Uuid::parse(text);
    if (!uuid) {
        failDecode("UUID: invalid UUID string \"" + std::string(text) + "\"");
    }
    return *uuid;
}

}  // namespace kb::json
