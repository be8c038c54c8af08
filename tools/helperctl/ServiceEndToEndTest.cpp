// Service mode end to end: the real helper executable, given a listening socket the way
// the service manager passes it, and the real command-line client running as real
// accounts from attested (or deliberately unattested) copies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <thread>

#include "HelperProtocol/WireFraming.h"
#include "testing/TestAccount.h"
#include "tools/helperctl/ServiceHarness.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using testing::ClientRun;
using testing::installClient;
using testing::runClientAs;
using testing::RunningHelper;
using testing::TempDir;
using testing::TestAccount;
using testing::Tracing;

constexpr int exUnavailable = 69;

bool logShows(const RunningHelper& helper, const std::string& line) {
    return testing::journalPresent() || helper.log().find(line) != std::string::npos;
}

class ServiceEndToEnd : public ::testing::Test {
  protected:
    TempDir dir;
    TestAccount user{"kbsvc"};
    TestAccount groupOwner{"kbsvcg"};  // its group owns the client copies

    std::string genuineClient() {
        return installClient(dir, "client", groupOwner.gid(), testing::genuineAttestation());
    }
    ClientRun run(const std::string& client, const RunningHelper& helper,
                  std::vector<std::string> args, Tracing tracing = Tracing::none,
                  const std::string& input = {}) {
        std::vector<std::string> argv = {client, "--socket", helper.socketPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return runClientAs(argv, user.uid(), user.gid(), tracing, input);
    }
};

TEST_F(ServiceEndToEnd, AnAttestedClientIsServed) {
    RunningHelper helper(dir);
    const std::string client = genuineClient();

    const auto version = run(client, helper, {"version"});
    EXPECT_EQ(version.exitStatus, 0) << version.err;
    EXPECT_EQ(version.out, "7\n");

    const auto asRequest =
        run(client, helper, {"--json", "send", "-"}, Tracing::none, R"({"getVersion":{}})");
    EXPECT_EQ(asRequest.exitStatus, 0) << asRequest.err;
    EXPECT_EQ(asRequest.out, "{\"version\":{\"_0\":7}}\n");

    const auto garbage = run(client, helper, {"--json", "send", "-"}, Tracing::none, "0123456789");
    EXPECT_EQ(garbage.exitStatus, 1);
    EXPECT_EQ(garbage.out, "{\"error\":{\"_0\":\"this helper cannot decode the request\"}}\n");

    EXPECT_TRUE(logShows(helper, "[service] notice: listening on " + helper.socketPath()));
    EXPECT_TRUE(logShows(helper,
                         "[listener] notice: accepted a client that satisfies the code-signing "
                         "requirement"));
    EXPECT_TRUE(logShows(helper, "[service] error: undecodable request of 10 bytes"));
}

TEST_F(ServiceEndToEnd, PeersThatFailAdmissionAreDisconnectedBeforeAnyRequest) {
    RunningHelper helper(dir);
    const gid_t group = groupOwner.gid();
    const std::string unattested = installClient(dir, "unattested", group, std::nullopt);
    const std::string otherApp =
        installClient(dir, "otherapp", group, Attestation{"dev.other", "Q7Z2K4M9X1", false});
    const std::string otherTeam =
        installClient(dir, "otherteam", group, Attestation{"dev.kestrelbay", "AAAAAAAAAA", false});
    const std::string development =
        installClient(dir, "development", group, Attestation{"dev.kestrelbay", "", true});
    const std::string notSetgid =
        installClient(dir, "notsetgid", group, testing::genuineAttestation());
    ASSERT_EQ(::chmod(notSetgid.c_str(), 0755), 0);
    const std::string ownGroup =  // set-group-id to the user's own group: no secure mode
        installClient(dir, "owngroup", user.gid(), testing::genuineAttestation());
    const std::string genuine = genuineClient();

    struct Case {
        std::string client;
        Tracing tracing;
        std::string reason;
    };
    const Case cases[] = {
        {unattested, Tracing::none, "the executable is not attested"},
        {otherApp, Tracing::none, "its code identity does not satisfy the requirement"},
        {otherTeam, Tracing::none, "its code identity does not satisfy the requirement"},
        {development, Tracing::none, "its code identity does not satisfy the requirement"},
        {notSetgid, Tracing::none, "the executable is not set-group-id"},
        {ownGroup, Tracing::none, "it was not started in secure mode"},
        {genuine, Tracing::tracedByRoot, "it is being traced"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.client + " " + c.reason);
        const auto r =
            run(c.client, helper, {"--json", "send", "-"}, c.tracing, R"({"getVersion":{}})");
        EXPECT_EQ(r.exitStatus, exUnavailable);
        EXPECT_EQ(r.out, "");
        // The greeting told the client why, in words for its user.
        EXPECT_NE(r.err.find("this program is not admitted: " + c.reason), std::string::npos)
            << r.err;
        EXPECT_TRUE(logShows(helper, "[listener] error: refused a client (pid ") &&
                    logShows(helper, ", uid " + std::to_string(user.uid()) + ", executable " +
                                         c.client + "): " + c.reason))
            << helper.log();
    }
    EXPECT_FALSE(logShows(helper, "undecodable") || logShows(helper, "accepted a client"));
    // The refusals cost nothing: the genuine client is still served.
    EXPECT_EQ(run(genuine, helper, {"version"}).out, "7\n");
    // Root can attest or trace anything, so it needs neither.
    const auto asRoot = runClientAs({unattested, "--socket", helper.socketPath(), "version"}, 0, 0,
                                    Tracing::tracedByRoot);
    EXPECT_EQ(asRoot.out, "7\n") << asRoot.err;
}

TEST_F(ServiceEndToEnd, BytesOfAProcessBeforeItsExecOrOfItsChildAreNeverServed) {
    const std::string client = genuineClient();
    for (int round = 0; round < 20; ++round) {
        const auto write = round % 2 == 0 ? testing::AttackWrite::beforeExec
                                          : testing::AttackWrite::byChildAfterGreeting;
        SCOPED_TRACE(round);
        RunningHelper helper(dir);  // cold, as under socket activation
        const std::string seen =
            testing::connectThenExec(helper.socketPath(), client, user.uid(), user.gid(), write);
        // At most the greeting (refused, or admitted for the exec'd program); no reply.
        WireFraming::FrameReader frames;
        frames.append(seen.data(), seen.size());
        auto greeting = frames.next();
        ASSERT_TRUE(greeting.ok() && greeting->has_value()) << "no greeting";
        auto decoded = WireFraming::decodeGreeting(**greeting);
        ASSERT_TRUE(decoded.ok());
        if (write == testing::AttackWrite::beforeExec) {
            EXPECT_FALSE(decoded->admitted);
        }
        EXPECT_FALSE(frames.holdsPartialFrame()) << "the helper replied";
    }
}

TEST_F(ServiceEndToEnd, AFileGoesToItsOwnersTrashAndComesBack) {
    RunningHelper helper(dir);
    const std::string client = genuineClient();
    const std::string uid = std::to_string(user.uid());
    const std::string file = user.home() + "/report.txt";
    testing::writeFile(file, "numbers");
    ASSERT_EQ(::chown(file.c_str(), user.uid(), user.gid()), 0);

    const auto trashed = run(client, helper, {"trash", file, "--uid", uid});
    ASSERT_EQ(trashed.exitStatus, 0) << trashed.out << trashed.err;
    const std::string marker = " -> ";
    const size_t at = trashed.out.find(marker);
    ASSERT_NE(at, std::string::npos) << trashed.out;
    const std::string inTrash =
        trashed.out.substr(at + marker.size(), trashed.out.size() - at - marker.size() - 1);
    EXPECT_EQ(inTrash.rfind(user.home() + "/.Trash/", 0), 0u) << inTrash;
    EXPECT_FALSE(testing::pathExists(file));
    EXPECT_EQ(testing::readFile(inTrash), "numbers");

    const auto restored = run(client, helper, {"restore", inTrash, file, "--uid", uid});
    EXPECT_EQ(restored.exitStatus, 0) << restored.out << restored.err;
    EXPECT_EQ(testing::readFile(file), "numbers");
    EXPECT_FALSE(testing::pathExists(inTrash));
}

TEST_F(ServiceEndToEnd, ManyClientsAreAllAnsweredWithoutLeaks) {
    RunningHelper helper(dir);
    TestAccount second("kbsvcb");
    const std::string client = genuineClient();
    // The worker pool starts with the first request.
    ASSERT_EQ(run(client, helper, {"send", "-"}, Tracing::none, R"({"getVersion":{}})").exitStatus,
              0);
    std::this_thread::sleep_for(100ms);
    const size_t descriptors = helper.openDescriptors();
    const size_t threads = helper.threads();

    // Each client alternates version calls with a request of its own kind, from 4 threads.
    std::vector<std::pair<const TestAccount*, std::string>> kinds;
    for (const TestAccount* account : {&user, &second}) {
        const std::string uid = std::to_string(account->uid());
        kinds.push_back({account, R"({"getVersion":{}})"});
        kinds.push_back({account, "not json at all"});
        kinds.push_back({account, R"({"removeItems":{"paths":[")" + account->home() +
                                      R"(/absent"],"uid":)" + uid + "}}"});
        kinds.push_back({account, R"({"forgetReceipt":{"packageID":"bad id"}})"});
    }
    std::vector<std::thread> clients;
    std::vector<ClientRun> results(32);
    for (size_t i = 0; i < results.size(); ++i) {
        clients.emplace_back([&, i] {
            const auto& [account, request] = kinds[i % kinds.size()];
            results[i] = runClientAs({client, "--socket", helper.socketPath(), "--repeat", "1000",
                                      "--concurrency", "4", "send", "-"},
                                     account->uid(), account->gid(), Tracing::none, request);
        });
    }
    // A client that goes away with its request still running.
    std::string many = R"({"removeItems":{"paths":[)";
    for (int i = 0; i < 10000; ++i) {
        many += (i ? ",\"" : "\"") + user.home() + "/gone" + std::to_string(i) + "\"";
    }
    many += "],\"uid\":" + std::to_string(user.uid()) + "}}";
    const auto quitter =
        run(client, helper, {"--timeout", "0.001", "send", "-"}, Tracing::none, many);
    EXPECT_EQ(quitter.exitStatus, 75) << quitter.err;
    for (auto& t : clients) {
        t.join();
    }
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].exitStatus, 0) << results[i].err;
        EXPECT_NE(results[i].out.find("calls 1000 mismatches 0\n"), std::string::npos)
            << results[i].out;
    }
    EXPECT_EQ(run(client, helper, {"version"}).out, "7\n");
    // Connections are released when their clients are gone.
    for (int i = 0; i < 100 && helper.openDescriptors() > descriptors; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(helper.openDescriptors(), descriptors);
    EXPECT_EQ(helper.threads(), threads);
}

TEST_F(ServiceEndToEnd, LargeRequestsInFlightStayWithinAMemoryLimit) {
    testing::MemoryLimit limit(size_t{1} << 30);
    if (!limit.available()) {
        GTEST_SKIP() << "no memory cgroup can be made here";
    }
    RunningHelper helper(dir);
    ASSERT_TRUE(limit.confine(helper.pid()));
    const std::string client = genuineClient();
    // 48 MiB each; unbounded, two connections with eight in flight each would need several
    // times the limit.
    const std::string request =
        R"({"forgetReceipt":{"packageID":")" + std::string(48 << 20, 'p') + "\"}}";
    std::vector<ClientRun> runs(2);
    std::vector<std::thread> clients;
    for (auto& r : runs) {
        clients.emplace_back([&, out = &r] {
            *out = run(client, helper,
                       {"--timeout", "300", "--repeat", "16", "--concurrency", "8", "send", "-"},
                       Tracing::none, request);
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    for (const auto& r : runs) {
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find("calls 16 mismatches 0\n"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(helper.waitExit(0ms).has_value()) << "the helper was killed";
    EXPECT_EQ(run(client, helper, {"version"}).out, "7\n");
}

}  // namespace
}  // namespace kb
