#include "CleanerCore/model/CleanRuleCatalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace kb {
namespace {

// One line of testdata/catalog.tsv: the rule tables as published, one rule per line.
struct ExpectedRule {
    std::string group, id;
    std::vector<std::string> patterns;
    std::string safety, cost, privileges, busy, minimumAge;
    std::vector<std::string> excludes;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::stringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, separator)) {
        pieces.push_back(piece);
    }
    return pieces;
}

std::vector<ExpectedRule> loadExpectedRules() {
    const auto path = std::filesystem::path(__FILE__).parent_path() / "testdata" / "catalog.tsv";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::vector<ExpectedRule> rules;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto cells = split(line, '\t');
        EXPECT_EQ(cells.size(), 9u) << line;
        if (cells.size() != 9) {
            continue;
        }
        rules.push_back({cells[0], cells[1], split(cells[2], '|'), cells[3], cells[4], cells[5],
                         cells[6], cells[7],
                         cells[8] == "-" ? std::vector<std::string>{} : split(cells[8], '|')});
    }
    return rules;
}

std::string privilegesOf(const CleanRule& rule) {
    if (rule.requiresRoot && rule.requiresFullDiskAccess) {
        return "both";
    }
    return rule.requiresRoot ? "root" : rule.requiresFullDiskAccess ? "fullDiskAccess" : "none";
}

std::string busyOf(const CleanRule& rule) {
    if (const auto* running = std::get_if<BusyCheck::ProcessRunning>(&rule.busy.kind)) {
        std::string text = "processRunning:";
        for (size_t i = 0; i < running->processNames.size(); ++i) {
            text += (i ? "," : "") + running->processNames[i];
        }
        return text;
    }
    // The JSON case name of a payload-free check, e.g. {"gradleDaemon":{}}.
    const auto text = *json::encode(rule.busy, json::JsonStyle::domain);
    return text.substr(2, text.find('"', 2) - 2);
}

std::string ageOf(const CleanRule& rule) {
    if (!rule.minimumAge) {
        return "-";
    }
    std::ostringstream text;
    text << static_cast<long long>(*rule.minimumAge);
    EXPECT_EQ(static_cast<double>(static_cast<long long>(*rule.minimumAge)), *rule.minimumAge);
    return text.str();
}

TEST(CleanRuleCatalog, MatchesThePublishedTablesRuleByRule) {
    const auto expected = loadExpectedRules();
    const auto& all = CleanRuleCatalog::all();
    ASSERT_EQ(expected.size(), 54u);
    ASSERT_EQ(all.size(), expected.size());
    std::set<std::string> ids;
    for (size_t i = 0; i < all.size(); ++i) {
        const auto& rule = all[i];
        const auto& want = expected[i];
        SCOPED_TRACE(want.id);
        EXPECT_EQ(rule.id, want.id);
        EXPECT_TRUE(ids.insert(rule.id).second) << "twice";
        EXPECT_EQ(rule.group, want.group);
        const auto* globs = std::get_if<RuleProvider::Globs>(&rule.provider.kind);
        ASSERT_NE(globs, nullptr);
        EXPECT_EQ(globs->patterns, want.patterns);
        EXPECT_EQ(rawValue(rule.safety), want.safety);
        EXPECT_EQ(rawValue(rule.regenerationCost), want.cost);
        EXPECT_EQ(privilegesOf(rule), want.privileges);
        EXPECT_EQ(busyOf(rule), want.busy);
        EXPECT_EQ(ageOf(rule), want.minimumAge);
        EXPECT_EQ(rule.excludes, want.excludes);
        EXPECT_EQ(rule.mode, DeletionMode::unlink);
        EXPECT_EQ(rule.phase, 3);
    }
}

TEST(CleanRuleCatalog, GroupsAndLookupsByGroup) {
    EXPECT_EQ(CleanRuleCatalog::groups(), (std::vector<CleanGroup>{{"systemJunk", 0, "shippingbox"},
                                                                   {"developerJunk", 1, "hammer"},
                                                                   {"trashBins", 2, "trash"}}));
    EXPECT_EQ(CleanRuleCatalog::systemJunk().id, "systemJunk");
    EXPECT_EQ(CleanRuleCatalog::developerJunk().symbolName, "hammer");
    EXPECT_EQ(CleanRuleCatalog::trashBins().order, 2);
    struct Case {
        const char* group;
        size_t count;
    };
    for (const auto& c : {Case{"systemJunk", 19}, Case{"developerJunk", 33}, Case{"trashBins", 2},
                          Case{"SystemJunk", 0}, Case{"", 0}, Case{"systemJunk ", 0}}) {
        SCOPED_TRACE(c.group);
        const auto rules = CleanRuleCatalog::rules(c.group);
        EXPECT_EQ(rules.size(), c.count);
        for (const auto& rule : rules) {
            EXPECT_EQ(rule.group, c.group);
        }
    }
}

TEST(CleanRuleCatalog, FirstUseFromManyThreadsSeesOneCatalogue) {
    // Only meaningful in a fresh process; the suite may already have built it, which the
    // address comparison below still checks.
    std::vector<const std::vector<CleanRule>*> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &CleanRuleCatalog::all(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto* all : seen) {
        EXPECT_EQ(all, seen[0]);
        EXPECT_EQ(all->size(), 54u);
    }
}

}  // namespace
}  // namespace kb
