// The authority rule end to end: the real helper serving a socket, the real command-line
// client run as real accounts, and the real polkitd deciding for whoever asks beyond their
// own rights. An ordinary account's attacks on other accounts' files, root's files, root's
// processes and the system's services are refused and touch nothing; the same requests are
// done for an account the administrator authorized and for root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HelperProtocol/HelperValidation.h"
#include "helper/Authority.h"
#include "platform/ProcessStartTime.h"
#include "testing/ChildProcess.h"
#include "testing/PolkitFixture.h"
#include "testing/ScratchTree.h"
#include "testing/TestAccount.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

using namespace testing;

const std::string refusedItem = ": failed: Operation not permitted\n";
const std::string refusedRequest = "error: " + std::string(notAuthorizedMessage) + "\n";

const std::string rootScript = "#!/bin/sh\necho root\n";
const std::string unit = "kb-authority-test.service";

// A name in root's /usr/local/bin, removed with whatever took it.
struct SystemPath {
    explicit SystemPath(const std::string& what)
        : name("kb-authority-" + what + "-" + std::to_string(::getpid())),
          path("/usr/local/bin/" + name) {}
    ~SystemPath() { ::unlink(path.c_str()); }
    std::string name;
    std::string path;
};

std::vector<std::string> terminate(const SleepingProcess& process) {
    return {"terminate", std::to_string(process.pid()),
            std::to_string(processStartTime(process.pid()).value_or(0)), "15"};
}

std::string ownedFile(const TestAccount& owner, const std::string& name, const std::string& text) {
    const std::string path = owner.home() + "/" + name;
    writeFile(path, text);
    EXPECT_EQ(::chown(path.c_str(), owner.uid(), owner.gid()), 0);
    return path;
}

TEST(AuthorityEndToEnd, AnOrdinaryAccountStaysWithinItsRightsAndAnAuthorizedOneOrRootIsServed) {
    TempDir dir;
    TestAccount attacker("kbauta");
    TestAccount victim("kbautv");
    TestAccount admin("kbautg");  // authorized for every action
    TestAccount groupOwner("kbautc");
    PolkitFixture polkit({
        {std::string(actionIdOf(Consent::manageFiles)), admin.name(), admin.uid()},
        {std::string(actionIdOf(Consent::signalProcesses)), admin.name(), admin.uid()},
        {std::string(actionIdOf(Consent::manageServices)), admin.name(), admin.uid()},
    });
    ASSERT_EQ(polkit.problem(), "");
    RunningHelper helper(dir);
    const std::string client = installClient(dir, "client", groupOwner.gid(), genuineAttestation());
    const auto as = [&](const TestAccount* account, std::vector<std::string> args) {
        args.insert(args.begin(), {client, "--socket", helper.socketPath()});
        return runChild(args, {},
                        {Credentials{account ? account->uid() : 0, account ? account->gid() : 0}});
    };
    const std::string uid = std::to_string(attacker.uid());
    makeDirectories(victim.home() + "/notes");
    const std::string diary = ownedFile(victim, "notes/diary.txt", "secret");
    ::chmod(diary.c_str(), 0600);
    SystemPath tool("tool");
    writeFile(tool.path, rootScript);
    SystemPath planted("planted");
    const std::string mine = ownedFile(attacker, "mine.txt", "mine");
    const std::string payload = ownedFile(attacker, "payload", "#!/bin/sh\necho attacker\n");
    const std::string rootLock = attacker.home() + "/root-lock";  // root's file in A's home
    writeFile(rootLock, "placed by root");

    // Items within the caller's rights are still done in the same request.
    auto r = as(&attacker, {"trash", mine, diary, "--uid", uid});
    EXPECT_EQ(r.out,
              mine + ": ok -> " + attacker.home() + "/.Trash/mine.txt\n" + diary + refusedItem);
    const std::pair<std::string, std::string> refused[] = {{"remove", victim.home() + "/notes"},
                                                           {"trash", tool.path},
                                                           {"trash", rootLock},
                                                           {"clear-protection", rootLock}};
    for (const auto& [command, path] : refused) {
        EXPECT_EQ(as(&attacker, {command, path, "--uid", uid}).out, path + refusedItem) << command;
    }
    ASSERT_EQ(as(&attacker, {"trash", payload, "--uid", uid}).exitStatus, 0);
    r = as(&attacker, {"restore", attacker.home() + "/.Trash/payload", planted.path, "--uid", uid});
    EXPECT_EQ(r.out, planted.path + refusedItem);
    EXPECT_EQ(r.exitStatus, 1);

    EXPECT_EQ(readFile(diary), "secret");
    EXPECT_EQ(ownerOf(diary), victim.uid());
    EXPECT_EQ(readFile(tool.path), rootScript);
    EXPECT_FALSE(pathExists(planted.path));
    EXPECT_EQ(ownerOf(rootLock), 0u);

    SleepingProcess rootProcess(0, 0);
    SleepingProcess ownProcess(attacker.uid(), attacker.gid());
    EXPECT_EQ(as(&attacker, terminate(rootProcess)).err, refusedRequest);
    EXPECT_TRUE(rootProcess.running());
    EXPECT_EQ(as(&attacker, terminate(ownProcess)).out, "done\n");
    EXPECT_EQ(as(&attacker, {"bootout", unit}).err, refusedRequest);
    EXPECT_EQ(as(&attacker, {"bootout", unit, "--gui", std::to_string(victim.uid())}).err,
              refusedRequest);
    // The caller's own service manager is the caller's to manage: the tool runs.
    EXPECT_NE(as(&attacker, {"bootout", unit, "--gui", uid}).err, refusedRequest);
    // Deleting what root left in the caller's home is within the caller's rights.
    EXPECT_EQ(as(&attacker, {"remove", rootLock, "--uid", uid}).out, rootLock + ": ok\n");

    SystemPath restored("restored");
    for (const TestAccount* account : std::vector<const TestAccount*>{&admin, nullptr}) {
        SCOPED_TRACE(account ? "authorized account" : "root");
        // Root acts for an account named in the request: the attacker's, here.
        const TestAccount& actedFor = account ? *account : attacker;
        const std::string actedForUid = std::to_string(actedFor.uid());
        const std::string trash = actedFor.home() + "/.Trash/";
        writeFile(tool.path, rootScript);
        r = as(account, {"trash", tool.path, "--uid", actedForUid});
        EXPECT_EQ(r.out, tool.path + ": ok -> " + trash + tool.name + "\n");
        r = as(account, {"restore", trash + tool.name, restored.path, "--uid", actedForUid});
        EXPECT_EQ(r.out, restored.path + ": ok\n");
        EXPECT_EQ(::unlink(restored.path.c_str()), 0);

        SleepingProcess target(0, 0);
        EXPECT_EQ(as(account, terminate(target)).out, "done\n");
        EXPECT_NE(as(account, {"bootout", unit}).err, refusedRequest);
    }
    EXPECT_EQ(
        as(&admin, {"remove", victim.home() + "/notes", "--uid", std::to_string(admin.uid())}).out,
        victim.home() + "/notes: ok\n");
    EXPECT_FALSE(pathExists(diary));
}

}  // namespace
}  // namespace kb
