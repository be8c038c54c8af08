// What every command of the kestrelbay tool shares: the account it runs for, its base
// directories, the rule catalogue chosen on the command line and the journal's place.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "CleanerCore/model/CleanRule.h"
#include "CleanerCore/scanner/RuleFiles.h"
#include "CleanerCore/scanner/RuleScanner.h"

namespace kb::tool {

// Exit statuses (sysexits.h).
enum ExitStatus : int {
    exitOk = 0,
    exitUsage = 64,
    exitDataError = 65,
    exitNoInput = 66,
    exitUnavailable = 69,
    exitSoftware = 70,
    exitCantCreate = 73,
    exitIoError = 74,
    exitConfig = 78,
};

enum class CatalogueName { builtin, linuxRules };

struct ToolContext {
    ScanAccount account;
    std::vector<CleanRule> rules;
    std::vector<RuleFiles::Problem> problems;  // rule files that did not load
    std::string helperSocket;                  // empty: the helper's usual socket

    // DATA_HOME/kestrelbay/journal.jsonl
    std::string journalPath() const;
};

// The running account (real uid; home from $HOME when absolute, else the password
// database) with its catalogue: the built-in rules or the Linux rules from `rulesDirectory`
// (the derived exclusions applied), then the user's rules from CONFIG_HOME/kestrelbay/rules.d.
// A user rule whose id is already taken is reported as a problem and left out.
ToolContext makeContext(CatalogueName catalogue, const std::string& rulesDirectory);

// Where the Linux rules are installed, looked for beside the executable first.
std::string defaultRulesDirectory();

// "1.5 MB" style (decimal units).
std::string formatBytes(std::uint64_t bytes);

}  // namespace kb::tool
