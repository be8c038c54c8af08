// Cleaning rules kept as data files, and the catalogues the scanner runs.
//
// A rule file holds either one CleanRule object or an array of them, in the JSON form of
// CleanRule.h, decoded with the library's codec. A directory of rule files is read in name
// order, "*.json" files only; a file that cannot be read or decoded is reported with its path
// and the reason (the codec's message) and the other files still load. A missing directory
// holds no rules and is no problem.
//
// Derived exclusions: a general rule whose provider is the single pattern "DIR/*" (DIR
// without wildcards) leaves alone what more specific rules cover: for every other rule's
// glob pattern that starts with "DIR/", the first piece after that prefix is appended to the
// general rule's excludes (in rule order, duplicates dropped). So "$XDG_CACHE_HOME/*" skips
// "pip" when "$XDG_CACHE_HOME/pip/*" is a rule of its own.
#pragma once

#include <string>
#include <vector>

#include "CleanerCore/model/CleanRule.h"

namespace kb::RuleFiles {

struct Problem {
    std::string path;
    std::string message;

    bool operator==(const Problem&) const = default;
};

struct LoadedRules {
    std::vector<CleanRule> rules;
    std::vector<Problem> problems;
};

// The rules of one file, or its problem.
LoadedRules loadFile(const std::string& path);

// The rules of every "*.json" file of `directory`, in file-name order.
LoadedRules loadDirectory(const std::string& directory);

// Appends the derived exclusions (see above) to the general rules of `rules`.
void deriveExclusions(std::vector<CleanRule>& rules);

}  // namespace kb::RuleFiles
