// Validation rules the helper applies to request fields.
#pragma once

#include <cstdint>
#include <set>
#include <string_view>

namespace kb::HelperValidation {

// The smallest uid the helper acts for. On Linux uids below 1000 are system accounts
// (Debian's SYS_UID_MAX is 999); on the system the protocol was first written for, 500.
#if defined(__APPLE__)
inline constexpr std::uint32_t minimumUserUID = 500;
#else
inline constexpr std::uint32_t minimumUserUID = 1000;
#endif

// SIGTERM and SIGKILL, and nothing else. Created once; lives for the process.
const std::set<std::int32_t>& allowedSignals();

// Non-empty, at most 255 bytes, only ASCII letters, digits, '-', '.' and '_'.
bool isValidIdentifier(std::string_view text);

}  // namespace kb::HelperValidation
