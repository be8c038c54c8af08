#include "CleanerCore/model/FileURL.h"

#include <gtest/gtest.h>

#include <tuple>
#include <unordered_set>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

using Kind = FileURL::Kind;

TEST(FileURL, FromPathPercentEncodesAbsolutePathsAndRefusesOthers) {
    const std::tuple<const char*, Kind, const char*, const char*> cases[] = {
        {"/Users/alice/Library/Application Support/x", Kind::file,
         "file:///Users/alice/Library/Application%20Support/x",
         "/Users/alice/Library/Application Support/x"},
        {"/Users/alice/Library/Caches", Kind::directory, "file:///Users/alice/Library/Caches/",
         "/Users/alice/Library/Caches"},
        {"/a/b/", Kind::file, "file:///a/b", "/a/b"},
        {"/a/b///", Kind::directory, "file:///a/b/", "/a/b"},
        {"/", Kind::file, "file:///", "/"},
        {"/", Kind::directory, "file:///", "/"},
        {"/100%/q?x#y", Kind::file, "file:///100%25/q%3Fx%23y", "/100%/q?x#y"},
        {"/caf\xC3\xA9", Kind::file, "file:///caf%C3%A9", "/caf\xC3\xA9"},
        {"/keep!$&'()*+,-.:=@_~", Kind::file, "file:///keep!$&'()*+,-.:=@_~",
         "/keep!$&'()*+,-.:=@_~"},
        {"/a;b[c]d", Kind::file, "file:///a%3Bb%5Bc%5Dd", "/a;b[c]d"},
        {"/quote\"back\\slash", Kind::file, "file:///quote%22back%5Cslash", "/quote\"back\\slash"},
        {"/a/../b", Kind::file, "file:///a/../b", "/a/../b"},
    };
    for (const auto& [path, kind, text, pathBack] : cases) {
        SCOPED_TRACE(path);
        const auto url = FileURL::fromPath(path, kind);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->absoluteString(), text);
        EXPECT_EQ(url->path(), pathBack);
        EXPECT_EQ(url->isDirectory(), std::string_view(text).ends_with("/"));
        EXPECT_EQ(FileURL::parse(text), url);
    }
    using namespace std::string_view_literals;
    for (const auto path : {""sv, "relative/x"sv, "./x"sv, "~/x"sv, "/a\0b"sv}) {
        EXPECT_FALSE(FileURL::fromPath(path).has_value());
    }
}

TEST(FileURL, ParseAcceptsOnlyWellFormedFileURLs) {
    const std::pair<const char*, const char*> accepted[] = {
        {"file:///x", "file:///x"},
        {"file://localhost/x/", "file:///x/"},
        {"file:///a%2fb", "file:///a%2fb"},
        {"file:///", "file:///"},
    };
    for (const auto& [text, canonical] : accepted) {
        const auto url = FileURL::parse(text);
        ASSERT_TRUE(url.has_value()) << text;
        EXPECT_EQ(url->absoluteString(), canonical);
    }
    EXPECT_EQ(FileURL::parse("file:///a%2Fb%20c")->path(), "/a/b c");
    for (const char* text :
         {"file://", "file://host/x", "file:x", "http:///x", "FILE:///x", "/x", "file:///a b",
          "file:///a%2", "file:///a%zz", "file:///a%00b", "file:///a?q", "file:///a#f",
          "file:///caf\xC3\xA9", "file:///tab\t"}) {
        EXPECT_FALSE(FileURL::parse(text).has_value()) << text;
    }
}

TEST(FileURL, EqualityAndJsonFormAreByTheURLString) {
    const auto file = *FileURL::fromPath("/a/b");
    const auto dir = *FileURL::fromPath("/a/b", Kind::directory);
    EXPECT_NE(file, dir);
    EXPECT_EQ(file.path(), dir.path());
    EXPECT_EQ(*FileURL::parse("file:///a/b"), file);
    EXPECT_NE(*FileURL::parse("file:///a/%62"), file);
    EXPECT_EQ((std::unordered_set<FileURL>{file, dir, *FileURL::fromPath("/a/b")}.size()), 2u);
    EXPECT_EQ(testing::domainJson(dir), "\"file:///a/b/\"");
    EXPECT_EQ(*json::decode<FileURL>("\"file:///a/b/\""), dir);
    for (const char* bad : {"\"/Users/alice\"", "\"https://x.example/\"", "42", "null", "[]"}) {
        EXPECT_FALSE(json::decode<FileURL>(bad).ok()) << bad;
    }
}

TEST(FileURL, AppendingBuildsChildURLs) {
    const auto home = *FileURL::fromPath("/home/alice", Kind::directory);
    EXPECT_EQ(home.appending("Library/Application Support/dev.kestrelbay", Kind::directory)
                  .absoluteString(),
              "file:///home/alice/Library/Application%20Support/dev.kestrelbay/");
    EXPECT_EQ(home.appending("/x.json").absoluteString(), "file:///home/alice/x.json");
    EXPECT_EQ(FileURL::fromPath("/home/alice")->appending("x").absoluteString(),
              "file:///home/alice/x");
    EXPECT_EQ(home.appending("").absoluteString(), "file:///home/alice");
    EXPECT_EQ(FileURL::fromPath("/")->appending("etc").absoluteString(), "file:///etc");
    EXPECT_EQ(home.appending("a b").lastPathComponent(), "a b");
    EXPECT_EQ(FileURL::fromPath("/")->lastPathComponent(), "");
}

}  // namespace
}  // namespace kb
