// Arbitrary bytes as a path: evaluation and normalization never crash, normalization is
// idempotent, an allowed path's resolved form is one the tables do not deny, and an
// oversized path is never allowed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "CleanerCore/policy/PathPolicy.h"

namespace {

const kb::PathPolicy& policy() {
    static const kb::PathPolicy instance("/home/fuzz", {"/home/fuzz/Keep", "/srv/Caf\u00e9"});
    return instance;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);

    const std::string once = kb::PathPolicy::normalize(path);
    check(!once.empty() && once.front() == '/');
    check(kb::PathPolicy::normalize(once) == once);

    const kb::PolicyDecision decision = policy().evaluate(path);
    check(decision.kind.index() <= 1);
    if (const auto* resolved = decision.resolvedPath()) {
        check(path.size() <= kb::PathPolicy::maximumPathBytes);
        check(!resolved->empty() && resolved->front() == '/');
        check(!policy().classify(*resolved).has_value());
    } else {
        check(decision.reason() != nullptr);
        check(!decision.reason()->description().empty());
    }
    return 0;
}
