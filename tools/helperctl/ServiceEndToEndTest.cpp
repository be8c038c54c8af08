// Service mode end to end: the real helper executable, given a listening socket the way
// the service manager passes it, and the real command-line client running as real
// accounts from attested (or deliberately unattested) copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sysexits.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "testing/ChildProcess.h"
#include "testing/TestAccount.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using namespace testing;

// Peers that fail admission are disconnected before any request. Which identities satisfy the
// requirement is the requirement's own test; here the real executable, its attribute, its
// mode, secure execution and a tracer.
TEST(ServiceEndToEnd, OnlyAdmittedPeersAreServedAndClientsLeaveNoDescriptorOrThreadBehind) {
    TempDir dir;
    TestAccount user("kbsvc");
    TestAccount groupOwner("kbsvcg");  // its group owns the client copies
    RunningHelper helper(dir);
    const gid_t group = groupOwner.gid();
    const std::string client = installClient(dir, "client", group, genuineAttestation());
    const auto run = [&](const std::string& executable, std::vector<std::string> args,
                         const std::string& input = {}, Tracing tracing = Tracing::none) {
        args.insert(args.begin(), {executable, "--socket", helper.socketPath()});
        return runChild(args, input, {{{user.uid(), user.gid()}}, tracing});
    };
    const std::string unattested = installClient(dir, "unattested", group, std::nullopt);
    const std::string otherApp =
        installClient(dir, "otherapp", group, Attestation{"dev.other", "Q7Z2K4M9X1", false});
    const std::string notSetgid = installClient(dir, "notsetgid", group, genuineAttestation());
    ASSERT_EQ(::chmod(notSetgid.c_str(), 0755), 0);
    const std::string ownGroup =  // set-group-id to the user's own group: no secure mode
        installClient(dir, "owngroup", user.gid(), genuineAttestation());
    const std::tuple<std::string, Tracing, std::string> cases[] = {
        {unattested, Tracing::none, "the executable is not attested"},
        {otherApp, Tracing::none, "its code identity does not satisfy the requirement"},
        {notSetgid, Tracing::none, "the executable is not set-group-id"},
        {ownGroup, Tracing::none, "it was not started in secure mode"},
        {client, Tracing::tracedByRoot, "it is being traced"},
    };
    for (const auto& [peer, tracing, reason] : cases) {
        SCOPED_TRACE(peer + " " + reason);
        const auto r = run(peer, {"--json", "send", "-"}, R"({"getVersion":{}})", tracing);
        EXPECT_EQ(r.exitStatus, EX_UNAVAILABLE);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("this program is not admitted: " + reason), std::string::npos)
            << r.err;
        EXPECT_TRUE(helper.logged("[listener] error: refused a client (pid ") &&
                    helper.logged(", uid " + std::to_string(user.uid()) + ", executable " + peer +
                                  "): " + reason))
            << helper.log();
    }
    EXPECT_EQ(helper.log().find("accepted a client"), std::string::npos);
    // Root can attest or trace anything, so it needs neither.
    const auto asRoot = runChild({unattested, "--socket", helper.socketPath(), "version"}, {},
                                 {{}, Tracing::tracedByRoot});
    EXPECT_EQ(asRoot.out, "7\n") << asRoot.err;

    // The refusals cost nothing: the genuine client is still served. Load is the service
    // benchmark's; here only that what clients leave behind (connections, a request still
    // running) is released. The worker pool starts with the first request.
    EXPECT_EQ(run(client, {"--json", "send", "-"}, R"({"getVersion":{}})").out,
              "{\"version\":{\"_0\":7}}\n");
    EXPECT_TRUE(helper.logged("[service] notice: listening on " + helper.socketPath()));
    std::this_thread::sleep_for(100ms);
    const size_t descriptors = helper.procEntries("fd");
    const size_t threads = helper.procEntries("task");
    const std::string uid = std::to_string(user.uid());
    std::string many = R"({"removeItems":{"paths":[)";
    for (int i = 0; i < 10000; ++i) {
        many += (i ? ",\"" : "\"") + user.home() + "/gone" + std::to_string(i) + "\"";
    }
    const std::string requests[] = {
        "not json at all", R"({"forgetReceipt":{"packageID":"bad id"}})",
        R"({"removeItems":{"paths":[")" + user.home() + R"(/absent"],"uid":)" + uid + "}}"};
    {
        std::vector<std::jthread> clients;
        for (int i = 0; i < 12; ++i) {
            clients.emplace_back([&, i] { run(client, {"send", "-"}, requests[i % 3]); });
        }
        // This one goes away with its request still running.
        const auto gone =
            run(client, {"--timeout", "0.001", "send", "-"}, many + "],\"uid\":" + uid + "}}");
        EXPECT_EQ(gone.exitStatus, EX_TEMPFAIL);
    }
    EXPECT_EQ(run(client, {"version"}).out, "7\n");
    for (int i = 0; i < 100 && helper.procEntries("fd") > descriptors; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(helper.procEntries("fd"), descriptors);
    EXPECT_EQ(helper.procEntries("task"), threads);
}

}  // namespace
}  // namespace kb
