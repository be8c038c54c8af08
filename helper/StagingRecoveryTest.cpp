#include "helper/StagingRecovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "HelperProtocol/HelperCodec.h"
#include "helper/StagingDirectory.h"
#include "helper/StagingRecord.h"
#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using namespace kb::testing;

TEST(StagingRecord, RoundTripsAnyPathAndRefusesDamagedText) {
    const std::string odd = "100% \n\x7f odd";
    const StagingRecord record(StagingRecord::Contents::copy, "/home/a b/.Trash",
                               std::string(stagingPrefix) + "X", ObjectId{2049, 77}, 1000, 1001,
                               "/home/a b", "/home/a b/" + odd, odd);
    EXPECT_EQ(StagingRecord::decode(record.encode()), record);
    std::string text = record.encode();
    EXPECT_EQ(StagingRecord::decode(text.substr(0, text.size() - 1)), std::nullopt);
    text.replace(text.find("staging .dev"), 12, "staging dev.");
    EXPECT_EQ(StagingRecord::decode(text), std::nullopt);
}

TEST(StagingRecovery, AnItemLeftByAKilledHelperReachesItsOwnersTrash) {
    FileOpsScenario world(HomeLocation::tmpfs);
    makeDirectories(world.at("tree/wide"));
    ASSERT_TRUE(makeManyFiles(world.at("tree/wide"), 50000));
    const std::string requestFile = world.scratch() / "request.json";
    const HelperRequest request{HelperRequest::TrashItems{{world.at("tree")}, world.uid()}};
    writeFile(requestFile, HelperCodec::encode(request).value());

    // env(1) execs the helper in its own place, so the pid is the helper's.
    const std::string state = "STATE_DIRECTORY=" + world.settings.stateDirectory;
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(null.get(), STDOUT_FILENO);
        ::execl("/usr/bin/env", "env", state.c_str(), KB_HELPER_EXECUTABLE, "--oneshot",
                requestFile.c_str(), nullptr);
        ::_exit(127);
    }
    // Killed once the item has left its place (it is then being re-owned in staging).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pathExists(world.at("tree")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the helper finished before it was killed";
    ASSERT_FALSE(pathExists(world.at("tree")));
    ASSERT_FALSE(pathExists(world.trashed("tree")));
    ASSERT_NE(world.stagingLeftovers(), std::vector<std::string>{});

    recoverStaging(world.settings);
    EXPECT_EQ(ownerOf(world.trashed("tree")), world.uid());
    EXPECT_EQ(ownerOf(world.trashed("tree/wide/49999")), world.uid());
    EXPECT_EQ(1u, world.log.count("recovered " + world.at("tree") + " from staging: moved to " +
                                      world.trashed("tree"),
                                  LogLevel::standard));
    EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
}

// Crafted leftovers: an item in a subdirectory the account renamed (named after the
// directory of the item its record's note names, and its own name), a copy whose original is
// still in place, a record whose subdirectory is gone, and the old staging directory with an
// item of the account and one whose account is unknown (still root's: it stays, logged, and so
// does the directory).
TEST(StagingRecovery, ItemsGoToTheTrashCopiesAreDeletedStaleRecordsDroppedOldStagingEmptied) {
    FileOpsScenario world;
    const std::string legacy = world.settings.stagingDirectory;
    putFile(legacy + "/UUID-1/tree/f", "theirs");
    putFile(legacy + "/UUID-2/unowned", "root's");
    ASSERT_EQ(::chmod(legacy.c_str(), 0700), 0);
    ASSERT_EQ(::chown((legacy + "/UUID-1/tree").c_str(), world.uid(), world.account().gid()), 0);

    makeDirectories(world.trashed(""));
    writeFile(world.at("original"), "original");
    UniqueFd trash(::open(world.trashed("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    auto records = StagingRecords::open(world.settings.stateDirectory);
    ASSERT_TRUE(records.ok());
    auto stage = [&](StagingRecord::Contents contents, const std::string& name) {
        auto sub = makeStagingSubdirectory(trash.get());
        EXPECT_TRUE(sub.ok());
        const StagingRecord record{
            contents,    world.home() + "/.Trash", sub->name,    sub->id,
            world.uid(), world.account().gid(),    world.home(), world.at(name),
            name,        ForeignEntries::handOver};
        EXPECT_TRUE(records->write(record).ok());
        return record;
    };
    // The subdirectory's first item has left, so has the one from docs/ the note names; the
    // one inside now came from docs/ too.
    StagingRecord shared = stage(StagingRecord::Contents::item, "first");
    shared.original = world.at("docs/noted");
    shared.name = "noted";
    ASSERT_TRUE(records->noteItem(shared).ok());
    const std::string item = shared.staging;
    putFile(world.trashed(item + "/item/sub/f"), "item");
    // The account renames the subdirectory (it owns the Trash); recovery still finds it.
    ASSERT_EQ(::rename(world.trashed(item).c_str(),
                       world.trashed(std::string(stagingPrefix) + "renamed").c_str()),
              0);
    const std::string copy = stage(StagingRecord::Contents::copy, "original").staging;
    writeFile(world.trashed(copy + "/original"), "half a cop");
    const std::string gone = stage(StagingRecord::Contents::item, "gone").staging;
    ASSERT_EQ(::rmdir(world.trashed(gone).c_str()), 0);
    writeFile(world.trashed("item"), "already there");

    recoverStaging(world.settings);
    EXPECT_EQ(readFile(world.trashed("item 2/sub/f")), "item");
    EXPECT_EQ(ownerOf(world.trashed("item 2/sub/f")), world.uid());
    EXPECT_EQ(readFile(world.at("original")), "original");
    EXPECT_FALSE(pathExists(world.trashed("original")));
    EXPECT_EQ(1u, world.log.count("recovered " + world.at("docs/item") +
                                      " from staging: moved to " + world.trashed("item 2"),
                                  LogLevel::standard));
    EXPECT_EQ(1u, world.log.count("deleted an unfinished copy of " + world.at("original"),
                                  LogLevel::standard));
    EXPECT_EQ(world.stagingLeftovers(), std::vector<std::string>{});
    EXPECT_EQ(readFile(world.trashed("tree/f")), "theirs");
    EXPECT_EQ(ownerOf(world.trashed("tree")), world.uid());
    EXPECT_EQ(ownerOf(world.trashed("tree/f")), 0u);  // nothing says it may change hands
    EXPECT_FALSE(pathExists(legacy + "/UUID-1"));
    EXPECT_EQ(readFile(legacy + "/UUID-2/unowned"), "root's");
    EXPECT_EQ(1u, world.log.count("left " + legacy + "/UUID-2/unowned", LogLevel::error));

    ASSERT_EQ(::unlink((legacy + "/UUID-2/unowned").c_str()), 0);
    recoverStaging(world.settings);
    EXPECT_FALSE(pathExists(legacy));
}

}  // namespace
}  // namespace kb
