#include "HelperProtocol/HelperConstants.h"

#include <charconv>

// The helper executable defines these around its embedded property list; other programs
// leave them undefined and read version 0.
extern "C" {
extern const char kb_info_plist_start[] __attribute__((weak));
extern const char kb_info_plist_end[] __attribute__((weak));
}

namespace kb::HelperConstants {

std::string clientRequirement(bool allowDevelopmentCertificate) {
    std::string text = "anchor apple generic and identifier \"";
    text += appBundleIdentifier;
    text += '"';
    if (allowDevelopmentCertificate) {
        text += " and (certificate leaf[subject.OU] = \"";
        text += teamIdentifier;
        text += "\" or certificate 1[field.1.2.840.113635.100.6.2.1] exists)";
    } else {
        text += " and certificate leaf[subject.OU] = \"";
        text += teamIdentifier;
        text += '"';
    }
    return text;
}

namespace {

size_t skipSpace(std::string_view text, size_t at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
        ++at;
    }
    return at;
}

}  // namespace

std::optional<std::string> bundleVersionText(std::string_view plistXml) {
    static constexpr std::string_view key = "<key>CFBundleVersion</key>";
    const size_t keyAt = plistXml.find(key);
    if (keyAt == std::string_view::npos) {
        return std::nullopt;
    }
    size_t at = skipSpace(plistXml, keyAt + key.size());
    static constexpr std::string_view open = "<string>";
    static constexpr std::string_view close = "</string>";
    if (plistXml.substr(at, open.size()) == open) {
        at += open.size();
        const size_t end = plistXml.find(close, at);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        return std::string(plistXml.substr(at, end - at));
    }
    if (plistXml.substr(at, 9) == "<string/>") {
        return std::string();
    }
    return std::nullopt;
}

std::optional<std::int64_t> parseVersionNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    // Parse the magnitude as unsigned so that INT64_MIN is representable.
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > maxPositive + 1) {
            return std::nullopt;
        }
        return magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > maxPositive) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(magnitude);
}

std::int64_t versionFromPlist(std::string_view plistXml) {
    const auto text = bundleVersionText(plistXml);
    if (!text) {
        return 0;
    }
    return parseVersionNumber(*text).value_or(0);
}

std::int64_t buildVersion() {
    if (kb_info_plist_start == nullptr || kb_info_plist_end == nullptr) {
        return 0;
    }
    return versionFromPlist(std::string_view(
        kb_info_plist_start, static_cast<size_t>(kb_info_plist_end - kb_info_plist_start)));
}

}  // namespace kb::HelperConstants
