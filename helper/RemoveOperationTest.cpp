#include "helper/RemoveOperation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "helper/testing/FileOpsScenario.h"

namespace kb {
namespace {

using namespace kb::testing;

// A link is removed as a link; a path through a link is removed at its resolved place and
// reported as given. A parent swapped for a link after the verdict is a race: nothing is
// touched. What cannot be removed fails with its errno and text.
TEST(RemoveItems, RemovesTreesAndLinksAsLinksButNotThroughASwappedParentAndReportsFailures) {
    FileOpsScenario world;
    TempDir outside;
    writeFile(outside / "keep", "keep");
    putFile(world.at("tree/a/b/c/f"), "x");
    ASSERT_EQ(::symlink(outside.path().c_str(), world.at("tree/a/out").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), world.at("dirlink").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", world.at("dangling").c_str()), 0);
    writeFile(world.at("file"), "x");
    putFile(world.at("real/file"), "x");
    ASSERT_EQ(::symlink("real", world.at("via").c_str()), 0);
    const std::vector<std::string> paths{world.at("tree"), world.at("dirlink"),
                                         world.at("dangling"), world.at("file"),
                                         world.at("via/file")};
    const auto results = itemsOf(world.remove(paths));
    ASSERT_EQ(results.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(results[i], (ItemResult{paths[i], ItemOutcome::ok(), std::nullopt}));
        EXPECT_FALSE(pathExists(paths[i])) << paths[i];
    }
    EXPECT_FALSE(pathExists(world.at("real/file")));
    EXPECT_TRUE(pathExists(world.at("via")));
    EXPECT_EQ(readFile(outside / "keep"), "keep");

    putFile(outside / "victim/keep", "keep");
    makeDirectories(world.at("parent/victim"));
    // The verdict is taken on the real directory; then the directory becomes a link.
    const auto policy = PathPolicy::forUser(*lookUpAccount(world.uid())).value();
    const auto verdict = std::get<std::string>(evaluateItem(policy, world.at("parent/victim")));
    ASSERT_EQ(std::system(("rm -rf '" + world.at("parent") + "'").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), world.at("parent").c_str()), 0);
    EXPECT_EQ(std::get<ItemOutcome>(captureItem(world.at("parent/victim"), verdict)),
              ItemOutcome::raceDetected());
    EXPECT_TRUE(pathExists(outside / "victim/keep"));

    makeDirectories(world.at("item"));
    ScratchMount mount(world.at("item/mnt"));
    ASSERT_TRUE(mount.mounted());
    writeFile(world.at("item/mnt/data"), "data");
    EXPECT_EQ(onlyItem(world.remove({world.at("item")})).outcome,
              ItemOutcome::failed(EBUSY, "Device or resource busy"));
    EXPECT_EQ(readFile(world.at("item/mnt/data")), "data");

    // A file's own errno (a tree's goes through the walk, as the busy mount point above).
    writeFile(world.at("locked"), "x");
    if (std::system(("chattr +i '" + world.at("locked") + "'").c_str()) != 0) {
        GTEST_SKIP() << "no immutable attribute here";
    }
    EXPECT_EQ(onlyItem(world.remove({world.at("locked")})).outcome,
              ItemOutcome::failed(EPERM, "Operation not permitted"));
    EXPECT_TRUE(pathExists(world.at("locked")));
}

}  // namespace
}  // namespace kb
