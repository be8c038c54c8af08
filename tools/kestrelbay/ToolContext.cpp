#include "ToolContext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "CleanerCore/model/CleanRuleCatalog.h"
#include "platform/FileStatus.h"
#include "platform/PasswordDatabase.h"

namespace kb::tool {

std::string ToolContext::journalPath() const {
    return account.dataHome + "/kestrelbay/journal.jsonl";
}

std::string defaultRulesDirectory() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto beside = executable.parent_path().parent_path() / "share/kestrelbay/rules";
        if (isDirectoryAt(AT_FDCWD, beside.string(), FinalLink::follow)) {
            return beside.string();
        }
    }
    return KB_RULES_INSTALL_DIR;
}

ToolContext makeContext(CatalogueName catalogue, const std::string& rulesDirectory) {
    const uid_t uid = ::getuid();
    std::string home;
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/') {
        home = value;
    } else if (const auto entry = lookUpAccount(uid)) {
        home = entry->home;
    }
    ToolContext context{ScanAccount::fromEnvironment(uid, home), {}, {}, {}};
    if (catalogue == CatalogueName::builtin) {
        context.rules = CleanRuleCatalog::all();
    } else {
        auto loaded = RuleFiles::loadDirectory(rulesDirectory);
        context.rules = std::move(loaded.rules);
        context.problems = std::move(loaded.problems);
        if (context.rules.empty() && context.problems.empty()) {
            context.problems.push_back({rulesDirectory, "no rule files"});
        }
    }
    auto user = RuleFiles::loadDirectory(context.account.configHome + "/kestrelbay/rules.d");
    for (auto& rule : user.rules) {
        const bool taken = std::any_of(context.rules.begin(), context.rules.end(),
                                       [&](const CleanRule& r) { return r.id == rule.id; });
        if (taken) {
            context.problems.push_back(
                {context.account.configHome + "/kestrelbay/rules.d",
                 "rule " + rule.id + " is defined twice; later one ignored"});
        } else {
            context.rules.push_back(std::move(rule));
        }
    }
    std::move(user.problems.begin(), user.problems.end(), std::back_inserter(context.problems));
    if (catalogue == CatalogueName::linuxRules) {
        // Shown group by group, like the built-in catalogue; rules of other groups last.
        const auto& groups = CleanRuleCatalog::groups();
        const auto position = [&](const CleanRule& rule) {
            const auto it = std::find_if(groups.begin(), groups.end(),
                                         [&](const CleanGroup& g) { return g.id == rule.group; });
            return it == groups.end() ? INT64_MAX : it->order;
        };
        std::stable_sort(
            context.rules.begin(), context.rules.end(),
            [&](const CleanRule& a, const CleanRule& b) { return position(a) < position(b); });
        RuleFiles::deriveExclusions(context.rules);
    }
    return context;
}

std::string formatBytes(std::uint64_t bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

}  // namespace kb::tool
