#include "CleanerCore/persistence/OperationJournal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using testing::pathExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Action = JournalEntry::Action;

const Uuid planA = *Uuid::parse("AAAAAAAA-0000-4000-8000-000000000001");
const Uuid planB = *Uuid::parse("BBBBBBBB-0000-4000-8000-000000000002");
const Date now = Date(std::chrono::seconds(1796545868));

JournalEntry entry(Action action, std::string path, Uuid plan = planA,
                   std::optional<std::string> trashedPath = std::nullopt, Date when = now) {
    return JournalEntry(Uuid::random(), plan, DeletionPlan::Origin::clean({"user.caches"}), action,
                        JournalEntry::Actor::user, std::move(path), std::move(trashedPath), 4096,
                        std::nullopt, when, std::nullopt);
}

FileURL urlOf(const std::string& path) {
    return *FileURL::fromPath(path);
}

std::string line(const JournalEntry& e) {
    return *json::encode(e, json::JsonStyle::domain) + "\n";
}

TEST(JournalEntry, JsonLineHasSortedKeysStaysOnOneLineAndReadsBack) {
    JournalEntry full(
        *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"), planA,
        DeletionPlan::Origin::uninstall("com.example.app"), Action::trashed,
        JournalEntry::Actor::root, "/Users/a/x y", "/Users/a/.Trash/x y", 18446744073709551615ull,
        StatIdentity{66306, 1234, -5, 501, 0xA1ED, 0x00080000}, now, "caf\xC3\xA9 \"q\"");
    EXPECT_EQ(*json::encode(full, json::JsonStyle::domain),
              R"({"action":"trashed","actor":"root","bytes":18446744073709551615,)"
              R"("id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","identity":{"device":66306,)"
              R"("flags":524288,"inode":1234,"mode":41453,"modificationTime":-5,"ownerUID":501},)"
              "\"note\":\"caf\xC3\xA9 \\\"q\\\"\",\"origin\":{\"uninstall\":{\"bundleID\":"
              R"("com.example.app"}},"path":"/Users/a/x y",)"
              R"("planID":"AAAAAAAA-0000-4000-8000-000000000001",)"
              R"("timestamp":"2026-12-06T08:31:08Z","trashedPath":"/Users/a/.Trash/x y"})");
    auto multiLine = entry(Action::failed, "/odd\nname");
    multiLine.note = "first\nsecond\r\n";
    EXPECT_EQ(line(multiLine).find('\n'), line(multiLine).size() - 1);
    for (const auto& e : {full, multiLine, entry(Action::removed, "/x")}) {
        EXPECT_EQ(*json::decode<JournalEntry>(line(e)), e);
    }
}

TEST(OperationJournal, AppendCreatesWhatIsMissingAndReadSkipsWhatIsNotAnEntry) {
    TempDir dir;
    const auto path = dir / "Library/Application Support/dev.kestrelbay/journal.jsonl";
    OperationJournal journal(urlOf(path));
    EXPECT_TRUE(journal.readAll().empty());
    // Prune needs the directory; it makes an empty file in one that exists.
    EXPECT_FALSE(OperationJournal(urlOf(dir / "missing/journal.jsonl")).prune(60, now).ok());
    EXPECT_FALSE(pathExists(dir / "missing"));
    EXPECT_FALSE(pathExists(dir / "Library"));
    const auto first = entry(Action::trashed, "/a", planA, "/t/a");
    ASSERT_TRUE(journal.append(first).ok());
    EXPECT_EQ(readFile(path), line(first));
    const auto plain = dir / "journal.jsonl";
    ASSERT_TRUE(OperationJournal(urlOf(plain)).prune(60, now).ok());
    EXPECT_EQ(readFile(plain), "");

    const auto second = entry(Action::removed, "/b");
    const std::string firstLine = line(first);
    writeFile(plain, "\n" + firstLine + "garbage\n{\"id\":1}\n\n" +
                         firstLine.substr(0, firstLine.size() - 1) + "x\n[]\n" + line(second) +
                         "\xFF\xFE\n");
    EXPECT_EQ(OperationJournal(urlOf(plain)).readAll(), (std::vector{first, second}));
    // A directory where the journal should be reads as empty and is never pruned away.
    testing::makeDirectories(dir / "directory.jsonl/sub");
    OperationJournal directory(urlOf(dir / "directory.jsonl"));
    EXPECT_TRUE(directory.readAll().empty());
    EXPECT_FALSE(directory.prune(0, now).ok());
    EXPECT_TRUE(pathExists(dir / "directory.jsonl/sub"));
    // A FIFO where the journal should be neither hangs a read nor takes an entry.
    const auto fifo = dir / "fifo.jsonl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    OperationJournal fifoJournal(urlOf(fifo));
    EXPECT_TRUE(fifoJournal.readAll().empty());
    EXPECT_FALSE(fifoJournal.append(second).ok());
    EXPECT_FALSE(fifoJournal.prune(60, now).ok());
}

TEST(OperationJournal, RestorableEntriesMatchRestoresByPlanAndPath) {
    TempDir dir;
    OperationJournal journal(urlOf(dir / "journal.jsonl"));
    const auto restoredLater = entry(Action::trashed, "/a", planA, "/t/a");
    const auto restoredElsewhere = entry(Action::trashed, "/b", planA, "/t/b");
    const auto noTrashedPath = entry(Action::trashed, "/c", planA);
    const auto removed = entry(Action::removed, "/d", planA, "/t/d");
    const auto otherPlan = entry(Action::trashed, "/a", planB, "/t/a2");
    for (const auto& e :
         {restoredLater, restoredElsewhere, noTrashedPath, removed, otherPlan,
          entry(Action::restored, "/a", planA), entry(Action::restored, "/b", planB)}) {
        ASSERT_TRUE(journal.append(e).ok());
    }
    EXPECT_EQ(journal.restorableEntries(), (std::vector{restoredElsewhere, otherPlan}));
}

TEST(OperationJournal, PruneKeepsOnlyEntriesYoungerThanMaxAge) {
    TempDir dir;
    const auto path = dir / "journal.jsonl";
    OperationJournal journal(urlOf(path));
    const auto old = entry(Action::removed, "/old", planA, std::nullopt, now - 100s);
    const auto exact = entry(Action::removed, "/exact", planA, std::nullopt, now - 60s);
    const auto young = entry(Action::removed, "/young", planA, std::nullopt, now - 59s);
    const auto future = entry(Action::removed, "/future", planA, std::nullopt, now + 3600s);
    writeFile(path, line(old) + "garbage\n" + line(exact) + line(young) + line(future));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(journal.prune(60, now).ok());
    EXPECT_EQ(readFile(path), line(young) + line(future));
    EXPECT_EQ(testing::statusOf(path).mode & 07777, 0640u);

    ASSERT_TRUE(journal.prune(-7200, now).ok());
    EXPECT_EQ(readFile(path), "");

    const auto refused = journal.prune(std::nan(""), now);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(std::holds_alternative<PersistenceError::InvalidArgument>(refused.error().kind));
}

TEST(OperationJournal, FilesThatCannotBeOpenedAreNeverReplaced) {
    TempDir dir;
    const auto path = dir / "journal.jsonl";
    const std::string contents = line(entry(Action::removed, "/x"));
    writeFile(path, contents);
    // Root ignores permission bits; the immutable attribute stops it from opening for
    // writing, so chattr stands in for a file the user may not write.
    ASSERT_EQ(std::system(("chattr +i '" + path + "'").c_str()), 0);
    OperationJournal journal(urlOf(path));
    const auto appended = journal.append(entry(Action::removed, "/y"));
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(std::get<PersistenceError::Io>(appended.error().kind).error.code, EPERM);
    EXPECT_EQ(journal.readAll().size(), 1u);
    ASSERT_EQ(std::system(("chattr -i '" + path + "'").c_str()), 0);
    EXPECT_EQ(readFile(path), contents);
}

TEST(OperationJournal, ATornLastLineIsSkippedAtEveryOffsetAndNotGluedOnto) {
    TempDir dir;
    const auto path = dir / "journal.jsonl";
    const auto first = entry(Action::trashed, "/a", planA, "/t/a");
    auto last = entry(Action::trashed, "/b/caf\xC3\xA9", planB, "/t/b");
    last.identity = StatIdentity{1, 2, 3, 4, 5, 6};
    last.note = "n";
    const std::string head = line(first);
    const std::string lastLine = line(last);
    OperationJournal journal(urlOf(path));
    for (size_t cut = 0; cut <= lastLine.size(); ++cut) {
        SCOPED_TRACE(cut);
        writeFile(path, head + lastLine.substr(0, cut));
        // Only the complete JSON object (with or without its line feed) counts as a line.
        EXPECT_EQ(journal.readAll(),
                  (cut >= lastLine.size() - 1 ? std::vector{first, last} : std::vector{first}));
    }
    // The next entry after a torn line starts a line of its own.
    const auto torn = head + lastLine.substr(0, lastLine.size() / 2);
    writeFile(path, torn);
    ASSERT_TRUE(journal.append(first).ok());
    EXPECT_EQ(journal.readAll(), (std::vector{first, first}));
    EXPECT_EQ(readFile(path), torn + "\n" + head);
}

TEST(OperationJournal, TwoJournalsAppendingFromManyThreadsLoseAndMixNothing) {
    TempDir dir;
    const auto path = dir / "shared/journal.jsonl";
    OperationJournal one(urlOf(path));
    OperationJournal two(urlOf(path));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const auto name = std::to_string(t) + "/" + std::to_string(i);
                const auto trashed = "/trash/" + std::string(static_cast<size_t>(i * 7), 'x');
                ASSERT_TRUE(
                    (t % 2 ? two : one).append(entry(Action::trashed, name, planA, trashed)).ok());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    // Every entry once, and every non-empty line decodes: nothing was interleaved inside a
    // line. (An appender racing another's line may add a line feed of its own: an empty line.)
    std::set<std::string> paths;
    for (const auto& e : one.readAll()) {
        EXPECT_TRUE(paths.insert(e.path).second) << e.path;
    }
    EXPECT_EQ(paths.size(), 1200u);
    std::istringstream lines(readFile(path));
    for (std::string text; std::getline(lines, text);) {
        EXPECT_TRUE(text.empty() || json::decode<JournalEntry>(text).ok()) << text;
    }
}

}  // namespace
}  // namespace kb
