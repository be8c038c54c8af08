// Identifiers, limits and the build version shared by the application and the helper.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kb::HelperConstants {

inline constexpr std::string_view appBundleIdentifier = "dev.kestrelbay";
inline constexpr std::string_view helperBundleIdentifier = "dev.kestrelbay.helper";
inline constexpr std::string_view machServiceName = "dev.kestrelbay.helper.xpc";
inline constexpr std::string_view launchdPlistName = "dev.kestrelbay.helper.plist";
inline constexpr std::string_view teamIdentifier = "Q7Z2K4M9X1";
inline constexpr double idleExitInterval = 60;  // seconds
inline constexpr double requestTimeout = 20;    // seconds, waited by the application

// The Unix stream socket that stands for the Mach service on Linux.
inline constexpr std::string_view socketPath = "/run/dev.kestrelbay.helper.xpc";

// CFBundleVersion of the property list embedded in the running executable, parsed as a
// whole signed decimal; 0 when the section, the key or a valid number is missing.
std::int64_t buildVersion();

// The code-signing requirement text: strict, or with the development alternative.
std::string clientRequirement(bool allowDevelopmentCertificate);

// The value of CFBundleVersion in an XML property list, if it has a string value.
std::optional<std::string> bundleVersionText(std::string_view plistXml);

// Parses "+12", "-3", "7" as a signed 64-bit integer; nullopt on anything else
// (empty, sign alone, spaces, dots, overflow).
std::optional<std::int64_t> parseVersionNumber(std::string_view text);

// The version that a property list gives: 0 when there is none.
std::int64_t versionFromPlist(std::string_view plistXml);

}  // namespace kb::HelperConstants
