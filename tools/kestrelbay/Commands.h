// The commands of the kestrelbay tool. Each writes its report to standard output, problems
// to standard error ("kestrelbay: PATH: reason"), and returns an exit status of ToolContext.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ToolContext.h"

namespace kb::tool {

struct ScanRequest {
    bool json = false;
};

enum class RemovalMode { trash, remove };

struct CleanRequest {
    std::vector<std::string> ruleIDs;  // empty: the rules chosen by default
    bool dryRun = false;
    bool assumeYes = false;
    RemovalMode mode = RemovalMode::trash;
};

// Scans every rule of the catalogue; a table (or the ScanResults as JSON).
int runScan(ToolContext& context, const ScanRequest& request);

// Scans the chosen rules, shows the plan, asks, and removes the items: the account's own
// items by this process, the others through the helper; every step journalled.
int runClean(ToolContext& context, const CleanRequest& request);

// Puts back what one clean (the last one, or `operation`: a plan id or its first
// characters) moved to a Trash.
int runUndo(ToolContext& context, const std::optional<std::string>& operation);

// The journal's operations, oldest first.
int runHistory(ToolContext& context);

// Reports the rule files that did not load on standard error.
void reportProblems(const ToolContext& context);

}  // namespace kb::tool
