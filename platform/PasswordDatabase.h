// Looks up an account in the password database (getpwuid_r, so NSS sources count too).
// Thread-safe; never logs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kb {

struct AccountEntry {
    std::string name;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string home;  // as the database has it; may be empty

    bool operator==(const AccountEntry&) const = default;
};

// The account with `uid`, or nothing when there is none or the look-up fails.
std::optional<AccountEntry> lookUpAccount(std::uint32_t uid);

}  // namespace kb
