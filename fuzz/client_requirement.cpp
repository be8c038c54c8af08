// Arbitrary text as the client requirement: parsing never crashes, a parsed requirement is
// never satisfied when nothing was attested, and evaluating it twice gives the same answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "helper/ClientRequirement.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto requirement = kb::ClientRequirement::parse(text);
    if (!requirement) {
        check(!requirement.error().message.empty());
        return 0;
    }
    check(!requirement->isSatisfiedBy(std::nullopt));
    const kb::Attestation identities[] = {
        {"dev.kestrelbay", "", false},
        {"dev.kestrelbay", "Q7Z2K4M9X1", false},
        {"dev.kestrelbay.other", "Q7Z2K4M9X1", true},
    };
    for (const auto& identity : identities) {
        const bool once = requirement->isSatisfiedBy(identity);
        check(requirement->isSatisfiedBy(identity) == once);
    }
    return 0;
}
