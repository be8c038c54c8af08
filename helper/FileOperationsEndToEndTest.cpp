// trashItems, removeItems and restoreFromTrash through the real executable in one-shot
// mode. The executable uses the production staging directory; it is removed afterwards
// when the test created it.
#include <gtest/gtest.h>
#include <unistd.h>

#include "HelperProtocol/HelperCodec.h"
#include "testing/ChildProcess.h"
#include "testing/FileOpsScenario.h"

namespace kb {
namespace {

using testing::FileOpsScenario;
using testing::pathExists;
using testing::readFile;
using testing::writeFile;

const std::string helper = KB_HELPER_EXECUTABLE;

HelperResponse runOneShot(const FileOpsScenario& world, const HelperRequest& request) {
    const std::string file = world.scratch() / "request.json";
    auto bytes = HelperCodec::encode(request);
    EXPECT_TRUE(bytes.ok());
    writeFile(file, *bytes);
    const auto r = testing::runChild({helper, "--oneshot", file});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    auto response = HelperCodec::decode<HelperResponse>(r.out);
    EXPECT_TRUE(response.ok()) << r.out;
    return response.ok() ? *response : HelperResponse::error("undecodable");
}

TEST(FileOperationsEndToEnd, TrashRestoreAndRemoveThroughTheExecutable) {
    const std::string staging = RootFileOpsSettings{}.stagingDirectory;
    const bool stagingExisted = pathExists(staging);
    FileOpsScenario world;
    testing::makeDirectories(world.at("docs/tree"));
    writeFile(world.at("docs/report.pdf"), "report");
    writeFile(world.at("docs/tree/f"), "f");
    const std::uint32_t uid = world.uid();

    auto trashed = runOneShot(
        world, {HelperRequest::TrashItems{{world.at("docs/report.pdf"), "/etc/passwd"}, uid}});
    auto items = testing::itemsOf(trashed);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (ItemResult{world.at("docs/report.pdf"), ItemOutcome::ok(),
                                    world.trashed("report.pdf")}));
    EXPECT_TRUE(std::holds_alternative<ItemOutcome::PolicyDenied>(items[1].outcome.kind));
    EXPECT_EQ(testing::ownerOf(world.trashed("report.pdf")), uid);

    auto restored =
        runOneShot(world, {HelperRequest::RestoreFromTrash{world.trashed("report.pdf"),
                                                           world.at("docs/report.pdf"), uid}});
    EXPECT_EQ(testing::onlyItem(restored),
              (ItemResult{world.at("docs/report.pdf"), ItemOutcome::ok(), std::nullopt}));
    EXPECT_EQ(readFile(world.at("docs/report.pdf")), "report");

    auto removed = runOneShot(
        world, {HelperRequest::RemoveItems{{world.at("docs/tree"), world.at("docs/none")}, uid}});
    items = testing::itemsOf(removed);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].outcome, ItemOutcome::ok());
    EXPECT_EQ(items[1].outcome, ItemOutcome::notFound());
    EXPECT_FALSE(pathExists(world.at("docs/tree")));

    EXPECT_EQ(runOneShot(world, {HelperRequest::RemoveItems{{world.at("docs")}, 999}}),
              HelperResponse::error("uid 999 is not a user account this helper will act for"));
    EXPECT_TRUE(pathExists(world.at("docs/report.pdf")));
    if (!stagingExisted) {
        ::rmdir(staging.c_str());
    }
}

}  // namespace
}  // namespace kb
