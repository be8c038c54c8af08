#include "CleanerCore/policy/OrderedPathList.h"

#include <gtest/gtest.h>

#include <tuple>

#include "CleanerCore/policy/KeywordSet.h"

namespace kb {
namespace {

using Match = OrderedPathList::Match;

std::string matched(const OrderedPathList& list, std::string_view path, Match match) {
    const std::string* name = list.firstMatch(path, match);
    return name != nullptr ? *name : "-";
}

TEST(OrderedPathList, TheFirstEntryInOrderIsNamedWhateverTheDepth) {
    OrderedPathList list;
    list.add("/Var/Lib");
    list.add("/var");
    list.add("/var/lib/");  // folds like the first entry; never named
    list.add("/Usr/Local/");
    const std::tuple<std::string_view, Match, std::string> rows[] = {
        {"/var/lib", Match::equal, "/Var/Lib"},
        {"/var", Match::equal, "/var"},
        {"/var/lib/dpkg", Match::equal, "-"},
        {"/var/lib/dpkg", Match::equalOrInside, "/Var/Lib"},
        {"/var/cache/x", Match::equalOrInside, "/var"},
        {"/var", Match::inside, "-"},
        {"/var/lib", Match::inside, "/var"},
        {"/usr/local", Match::inside, "-"},
        {"/usr/local/bin", Match::inside, "/Usr/Local/"},
        {"/usr/localx", Match::equalOrInside, "-"},
        {"/variable", Match::equalOrInside, "-"},
        {"/", Match::equalOrInside, "-"},
    };
    for (const auto& [path, match, expected] : rows) {
        EXPECT_EQ(matched(list, path, match), expected) << path;
    }

    OrderedPathList root;
    root.add("/opt/a");
    root.add("/");
    EXPECT_EQ(matched(root, "/", Match::equal), "/");
    EXPECT_EQ(matched(root, "/opt/a/b", Match::equalOrInside), "/opt/a");
    EXPECT_EQ(matched(root, "/srv/x", Match::equalOrInside), "/");
    EXPECT_EQ(matched(root, "/srv/x", Match::inside), "/");
}

TEST(KeywordSet, FindsAnyWordAnywhereInTheText) {
    KeywordSet set;
    for (const char* word : {"keychain", "2fas", "exodus", "x"}) {
        set.add(word);
    }
    const std::pair<std::string_view, bool> rows[] = {
        {"mykeychainbackup", true}, {"keychai", false}, {"2fa", false}, {"the2fasapp", true},
        {"eodus", false},           {"", false},        {"abcx", true}, {"KEYCHAIN", false},
    };
    for (const auto& [text, found] : rows) {
        EXPECT_EQ(set.foundIn(text), found) << text;
    }
    KeywordSet longOnly;
    longOnly.add("monero");
    EXPECT_TRUE(longOnly.foundIn("backupmonero"));
    EXPECT_FALSE(longOnly.foundIn("backupmoner"));
    EXPECT_FALSE(longOnly.foundIn("m"));
}

}  // namespace
}  // namespace kb
