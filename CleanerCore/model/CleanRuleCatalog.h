// The built-in cleaning rules and their display groups: three groups and 54 rules, in
// catalogue order (the system junk rules, the developer junk rules, the trash bins).
//
// Everything is built on first use, exactly once even when first touched from several
// threads, and never changes afterwards; the references stay valid for the process.
// The exclusions of "user.caches" are derived from the other rules: "com.apple.*", then
// for every glob pattern under "~/Library/Caches/" of the developer junk rules and then of
// the four browser rules, the first path piece after that prefix (in order, duplicates kept),
// so the general cache rule leaves alone the folders that more specific rules cover.
#pragma once

#include <string_view>
#include <vector>

#include "CleanerCore/model/CleanRule.h"

namespace kb::CleanRuleCatalog {

const CleanGroup& systemJunk();     // "systemJunk", order 0, "shippingbox"
const CleanGroup& developerJunk();  // "developerJunk", order 1, "hammer"
const CleanGroup& trashBins();      // "trashBins", order 2, "trash"

// systemJunk, developerJunk, trashBins.
const std::vector<CleanGroup>& groups();

// All rules in catalogue order.
const std::vector<CleanRule>& all();

// The rules of `all` whose group is exactly `groupID` (case-sensitive), in catalogue order;
// empty for an unknown identifier.
std::vector<CleanRule> rules(std::string_view groupID);

}  // namespace kb::CleanRuleCatalog
