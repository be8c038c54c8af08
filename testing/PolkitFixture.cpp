#include "testing/PolkitFixture.h"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "platform/Polkit.h"
#include "platform/ProcessRecord.h"
#include "platform/UnixSocket.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

namespace kb::testing {
namespace {

using namespace std::chrono_literals;

const std::string busSocket = "/run/dbus/system_bus_socket";
const std::string actionsDirectory = "/usr/share/polkit-1/actions";
const std::string packagedActions = actionsDirectory + "/dev.kestrelbay.helper.policy";
const std::string polkitName = "org.freedesktop.PolicyKit1";

std::atomic<int> counter{0};

// Polls `done` every `interval` until it holds (true) or `limit` has passed (false).
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds interval = 20ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

// A socket file alone proves nothing: a bus daemon that died (or a machine whose /run was
// kept) leaves it behind, and then only a connection tells.
bool busRunning() {
    return UnixSocket::connectToPath(busSocket).ok();
}

testing::ChildResult callBus(const std::string& method, const std::string& signature,
                             std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"/usr/bin/busctl", "--system", "call", "org.freedesktop.DBus",
                      "/org/freedesktop/DBus", "org.freedesktop.DBus", method, signature});
    return runChild(arguments);
}

// Asks the bus daemon who owns polkit's name.
pid_t polkitdPid() {
    const auto r = callBus("GetConnectionUnixProcessID", "s", {polkitName});  // "u 1234"
    return r.exitStatus == 0 && r.out.starts_with("u ") ? std::stoi(r.out.substr(2)) : -1;
}

// The system bus and polkitd, each started unless it runs; what went wrong, if anything.
std::string startBusAndPolkitd() {
    if (!busRunning()) {
        ::unlink(busSocket.c_str());
        ::unlink("/run/dbus/pid");
        ::mkdir("/run/dbus", 0755);
        const auto r = runChild({"/usr/bin/dbus-daemon", "--system", "--fork"});
        if (!pollUntil(busRunning, 2s)) {
            return "could not start the system bus: " + r.err;
        }
    }
    callBus("StartServiceByName", "su", {polkitName, "0"});  // by activation
    if (polkitdPid() > 0) {
        return {};
    }
    // The bus could not activate it: started directly, in a session of its own.
    runChild({"/usr/bin/setsid", "--fork", "/usr/lib/polkit-1/polkitd", "--no-debug"});
    return pollUntil([] { return polkitdPid() > 0; }, 10s) ? std::string()
                                                           : "could not start polkitd";
}

std::string rulesFor(const std::vector<PolkitGrant>& grants) {
    std::string text = "polkit.addRule(function(action, subject) {\n";
    for (const auto& g : grants) {
        text += "    if (action.id == \"" + g.actionId + "\" && subject.user == \"" + g.account +
                "\") { return polkit.Result.YES; }\n";
    }
    return text + "});\n";
}

bool grantHolds(const PolkitGrant& grant) {
    const auto answer = checkAuthorization({::getpid(), processStartTicks(::getpid()).value_or(0),
                                            static_cast<std::uint32_t>(grant.uid)},
                                           {grant.actionId, 2s, {}});
    return answer && *answer == PolkitAnswer::authorized;
}

}  // namespace

PolkitFixture::PolkitFixture(const std::vector<PolkitGrant>& grants) {
    problem_ = startBusAndPolkitd();
    if (!problem_.empty()) {
        return;
    }
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (::access(packagedActions.c_str(), F_OK) != 0) {
        installedActions_ = actionsDirectory + "/dev.kestrelbay.helper.test-" + tag + ".policy";
        writeFile(installedActions_, readFile(KB_POLKIT_POLICY));
    }
    rulesPath_ = "/etc/polkit-1/rules.d/10-kestrelbay-test-" + tag + ".rules";
    writeFile(rulesPath_, rulesFor(grants));
    ::chmod(rulesPath_.c_str(), 0644);
    // polkitd notices new rules and actions by itself, shortly after they appear.
    for (const auto& grant : grants) {
        if (!pollUntil([&] { return grantHolds(grant); }, 10s, 100ms)) {
            problem_ = "polkitd did not take up the rule for " + grant.account;
            return;
        }
    }
}

PolkitFixture::~PolkitFixture() {
    // An empty path (nothing written) names no file.
    ::unlink(rulesPath_.c_str());
    ::unlink(installedActions_.c_str());
}

StoppedPolkitd::StoppedPolkitd() {
    const pid_t pid = polkitdPid();
    if (pid > 0 && ::kill(pid, SIGSTOP) == 0) {
        pid_ = pid;
    }
}

StoppedPolkitd::~StoppedPolkitd() {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT);
    }
}

SleepingProcess::SleepingProcess(uid_t uid, gid_t gid) {
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(1);
        }
        for (;;) {
            ::pause();
        }
    }
    // Ready once the kernel shows it as the account.
    pollUntil([&] { return pid_ <= 0 || processRealUid(pid_) == uid; }, 1s, 2ms);
}

SleepingProcess::~SleepingProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

int SleepingProcess::reap() {
    int status = 0;
    ::waitpid(std::exchange(pid_, -1), &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

bool SleepingProcess::running() const {
    return pid_ > 0 && processStartTicks(pid_).has_value();
}

}  // namespace kb::testing
