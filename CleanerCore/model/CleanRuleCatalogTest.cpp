#include "CleanerCore/model/CleanRuleCatalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace kb {
namespace {

// The lines of testdata/catalog.tsv: the rule tables as published, one rule per line.
std::vector<std::string> publishedLines() {
    const auto path = std::filesystem::path(KB_TEST_SOURCE_DIR) / "testdata" / "catalog.tsv";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string joined(const std::vector<std::string>& pieces, const char* separator) {
    std::string text;
    for (size_t i = 0; i < pieces.size(); ++i) {
        text += (i ? separator : "") + pieces[i];
    }
    return text;
}

std::string busyOf(const CleanRule& rule) {
    if (const auto* running = std::get_if<BusyCheck::ProcessRunning>(&rule.busy.kind)) {
        return "processRunning:" + joined(running->processNames, ",");
    }
    // The JSON case name of a payload-free check, e.g. {"gradleDaemon":{}}.
    const auto text = *json::encode(rule.busy, json::JsonStyle::domain);
    return text.substr(2, text.find('"', 2) - 2);
}

// A rule written as its line of the published tables.
std::string publishedLine(const CleanRule& rule) {
    const auto* globs = std::get_if<RuleProvider::Globs>(&rule.provider.kind);
    EXPECT_NE(globs, nullptr) << rule.id;
    const auto age = rule.minimumAge ? static_cast<long long>(*rule.minimumAge) : -1;
    EXPECT_EQ(static_cast<double>(age), rule.minimumAge.value_or(-1)) << rule.id;
    const char* privileges = rule.requiresRoot && rule.requiresFullDiskAccess ? "both"
                             : rule.requiresRoot                              ? "root"
                             : rule.requiresFullDiskAccess                    ? "fullDiskAccess"
                                                                              : "none";
    return joined({rule.group, rule.id, globs ? joined(globs->patterns, "|") : "",
                   std::string(rawValue(rule.safety)), std::string(rawValue(rule.regenerationCost)),
                   privileges, busyOf(rule), rule.minimumAge ? std::to_string(age) : "-",
                   rule.excludes.empty() ? "-" : joined(rule.excludes, "|")},
                  "\t");
}

TEST(CleanRuleCatalog, MatchesThePublishedTablesRuleByRule) {
    const auto expected = publishedLines();
    const auto& all = CleanRuleCatalog::all();
    ASSERT_EQ(expected.size(), 54u);
    ASSERT_EQ(all.size(), expected.size());
    std::set<std::string> ids;
    for (size_t i = 0; i < all.size(); ++i) {
        const auto& rule = all[i];
        EXPECT_EQ(publishedLine(rule), expected[i]);
        EXPECT_TRUE(ids.insert(rule.id).second) << rule.id << " twice";
        EXPECT_EQ(rule.mode, DeletionMode::unlink) << rule.id;
        EXPECT_EQ(rule.phase, 3) << rule.id;
    }
}

TEST(CleanRuleCatalog, GroupsAndLookupsByGroup) {
    EXPECT_EQ(CleanRuleCatalog::groups(), (std::vector<CleanGroup>{{"systemJunk", 0, "shippingbox"},
                                                                   {"developerJunk", 1, "hammer"},
                                                                   {"trashBins", 2, "trash"}}));
    const std::pair<std::string, size_t> cases[] = {
        {"systemJunk", 19}, {"developerJunk", 33}, {"trashBins", 2}, {"SystemJunk", 0}, {"", 0},
        {"systemJunk ", 0},
    };
    for (const auto& [group, count] : cases) {
        SCOPED_TRACE(group);
        const auto rules = CleanRuleCatalog::rules(group);
        EXPECT_EQ(rules.size(), count);
        for (const auto& rule : rules) {
            EXPECT_EQ(rule.group, group);
        }
    }
}

}  // namespace
}  // namespace kb
