#include "CleanerCore/persistence/JSONStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "CleanerCore/model/CleanRule.h"
#include "CleanerCore/persistence/AppDirectories.h"
#include "testing/TempDir.h"
#include "testing/TestAccount.h"

namespace kb {
namespace {

using testing::pathExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// A small record with a date and a path, as the application keeps in its stores.
struct Settings {
    std::string name;
    std::int64_t count = 0;
    std::optional<Date> lastRun;
    bool operator==(const Settings&) const = default;
};

}  // namespace

template <>
struct json::Codec<Settings> {
    static boost::json::value encode(const Settings& s) {
        return FieldWriter()
            .field("name", s.name)
            .field("count", s.count)
            .optional("lastRun", s.lastRun)
            .value();
    }
    static Settings decode(const boost::json::value& v) {
        FieldReader r(v, "Settings");
        return {r.required<std::string>("name"), r.required<std::int64_t>("count"),
                r.optional<Date>("lastRun")};
    }
};

namespace {

FileURL urlOf(const std::string& path) {
    return *FileURL::fromPath(path);
}

mode_t modeOf(const std::string& path) {
    return testing::statusOf(path).mode & 07777;
}

const Settings defaults{"default", 0, std::nullopt};
const Settings stored{"a/b", 7, Date(std::chrono::seconds(1796545868))};

TEST(JSONStore, MissingFileGivesTheDefaultAndCreatesNothing) {
    TempDir dir;
    const auto path = dir / "missing/settings.json";
    JSONStore<Settings> store(urlOf(path), defaults);
    EXPECT_EQ(*store.load(), defaults);
    EXPECT_FALSE(pathExists(dir / "missing"));
    // The cached default stays even after the file appears.
    testing::makeDirectories(dir / "missing");
    writeFile(path, R"({"name":"x","count":1})");
    EXPECT_EQ(*store.load(), defaults);
    JSONStore<Settings> fresh(urlOf(path), defaults);
    EXPECT_EQ(*fresh.load(), (Settings{"x", 1, std::nullopt}));
}

TEST(JSONStore, SaveCreatesThePrivateDirectoryChainAndAPrettySortedFile) {
    TempDir dir;
    const auto path = dir / "a/b/c/settings.json";
    JSONStore<Settings> store(urlOf(path), defaults);
    ASSERT_TRUE(store.save(stored).ok());
    EXPECT_EQ(readFile(path),
              "{\n  \"count\" : 7,\n  \"lastRun\" : \"2026-12-06T08:31:08Z\",\n"
              "  \"name\" : \"a/b\"\n}");
    for (const char* made : {"a", "a/b", "a/b/c"}) {
        EXPECT_EQ(modeOf(dir / made), 0700u) << made;
    }
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(*store.load(), stored);
    EXPECT_EQ(*JSONStore<Settings>(urlOf(path), defaults).load(), stored);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "a/b/c"), {}), 1);
}

TEST(JSONStore, SaveKeepsTheModeOfTheFileItReplaces) {
    TempDir dir;
    const auto path = dir / "settings.json";
    writeFile(path, R"({"name":"x","count":1})");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    JSONStore<Settings> store(urlOf(path), defaults);
    ASSERT_TRUE(store.save(stored).ok());
    EXPECT_EQ(modeOf(path), 0640u);
}

TEST(JSONStore, InvalidFileFailsEveryLoadUntilASaveReplacesIt) {
    TempDir dir;
    const auto path = dir / "settings.json";
    for (const char* contents : {"{not json", "", R"({"name":"x"})", R"({"name":"x","count":"1"})",
                                 R"({"name":"x","count":1,"lastRun":"yesterday"})", "[]"}) {
        SCOPED_TRACE(contents);
        writeFile(path, contents);
        JSONStore<Settings> store(urlOf(path), defaults);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto loaded = store.load();
            ASSERT_FALSE(loaded.ok());
            EXPECT_TRUE(std::holds_alternative<PersistenceError::Decoding>(loaded.error().kind));
        }
        EXPECT_FALSE(store.update([](Settings s) { return s; }).ok());
        EXPECT_EQ(readFile(path), contents);
        ASSERT_TRUE(store.save(stored).ok());
        EXPECT_EQ(*store.load(), stored);
    }
}

TEST(JSONStore, UnreadableFileFailsTheLoadWithoutSubstitutingTheDefault) {
    TempDir dir;
    const auto path = dir / "settings.json";
    testing::makeDirectories(path);  // a directory where the file should be
    JSONStore<Settings> store(urlOf(path), defaults);
    const auto loaded = store.load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_TRUE(std::holds_alternative<PersistenceError::Io>(loaded.error().kind));
    EXPECT_FALSE(store.save(stored).ok());
}

TEST(JSONStore, UpdateTransformsTheDefaultOfAMissingFileAndWritesIt) {
    TempDir dir;
    const auto path = dir / "sub/settings.json";
    JSONStore<Settings> store(urlOf(path), defaults);
    const auto updated = store.update([](Settings s) {
        s.count += 5;
        return s;
    });
    ASSERT_TRUE(updated.ok());
    EXPECT_EQ(updated->count, 5);
    EXPECT_EQ(*JSONStore<Settings>(urlOf(path), defaults).load(), *updated);
}

TEST(JSONStore, ConcurrentUpdatesOfOneStoreAreNeverLost) {
    TempDir dir;
    JSONStore<Settings> store(urlOf(dir / "counter.json"), defaults);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store] {
            for (int i = 0; i < 25; ++i) {
                ASSERT_TRUE(store
                                .update([](Settings s) {
                                    ++s.count;
                                    return s;
                                })
                                .ok());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(JSONStore<Settings>(urlOf(dir / "counter.json"), defaults).load()->count, 100);
}

TEST(JSONStore, FailedSaveInAReadOnlyDirectoryKeepsTheOldFileAndTheCache) {
    TempDir dir;
    const auto path = dir / "settings.json";
    writeFile(path, *json::encode(stored, json::JsonStyle::pretty));
    const std::string before = readFile(path);
    testing::TestAccount account("kbdoma");
    ASSERT_TRUE(account.valid());
    // The directory belongs to root and is 0755: the account may read the file, not replace it.
    const int status = account.runAs([&] {
        JSONStore<Settings> store(urlOf(path), defaults);
        if (!store.load().ok()) {
            return 1;
        }
        const auto saved = store.save(Settings{"new", 1, std::nullopt});
        if (saved.ok()) {
            return 2;
        }
        const auto* io = std::get_if<PersistenceError::Io>(&saved.error().kind);
        if (io == nullptr || io->error.code != EACCES) {
            return 3;
        }
        if (store.load().ok() && *store.load() == stored) {
            // An update fails the same way and keeps the cache too.
            const auto updated = store.update([](Settings s) {
                s.count = 99;
                return s;
            });
            return !updated.ok() && *store.load() == stored ? 0 : 4;
        }
        return 5;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(JSONStore, StoresAnyTypeWithAJsonForm) {
    TempDir dir;
    JSONStore<std::vector<CleanRule>> rules(urlOf(dir / "rules.json"), {});
    EXPECT_TRUE(rules.load()->empty());
    const CleanRule rule{"user.caches",
                         "systemJunk",
                         RuleProvider::globs({"~/Library/Caches/*"}),
                         SafetyLevel::safe,
                         RegenerationCost::free,
                         false,
                         false,
                         BusyCheck::none(),
                         DeletionMode::unlink,
                         86400.0,
                         {"com.apple.*"},
                         3};
    ASSERT_TRUE(rules.save({rule}).ok());
    EXPECT_NE(readFile(dir / "rules.json").find("\"~/Library/Caches/*\""), std::string::npos);
    EXPECT_EQ(*JSONStore<std::vector<CleanRule>>(urlOf(dir / "rules.json"), {}).load(),
              std::vector{rule});
}

TEST(AppDirectories, SupportDirectoryIsBelowTheHomeLibrary) {
    EXPECT_EQ(AppDirectories::appIdentifier, "dev.kestrelbay");
    struct Case {
        FileURL home;
        const char* expected;
    };
    const Case cases[] = {
        {*FileURL::fromPath("/Users/alice", FileURL::Kind::directory),
         "file:///Users/alice/Library/Application%20Support/dev.kestrelbay/"},
        {*FileURL::fromPath("/Users/alice"),
         "file:///Users/alice/Library/Application%20Support/dev.kestrelbay/"},
        {*FileURL::fromPath("/home/bob smith", FileURL::Kind::directory),
         "file:///home/bob%20smith/Library/Application%20Support/dev.kestrelbay/"},
    };
    for (const auto& c : cases) {
        const auto support = AppDirectories::supportDirectory(c.home);
        EXPECT_EQ(support.absoluteString(), c.expected);
        EXPECT_TRUE(support.isDirectory());
    }
    TempDir dir;
    AppDirectories::supportDirectory(*FileURL::fromPath(dir.path()));
    EXPECT_FALSE(pathExists(dir / "Library"));
}

}  // namespace
}  // namespace kb
