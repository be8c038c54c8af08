// A real polkit for one test: the system bus (dbus-daemon --system) and polkitd running
// (started when they are not), the helper's polkit actions installed (unless the package's
// file is there already), and a rules file that authorizes the named accounts, each for one
// action, and no one else. The rules file and an action file it installed are removed on
// destruction; the bus and polkitd are left running. Root only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kb::testing {

struct PolkitGrant {
    std::string actionId;
    std::string account;  // login name
    uid_t uid = 0;
};

class PolkitFixture {
  public:
    // Waits (a few seconds at most) until polkitd answers yes for every grant.
    explicit PolkitFixture(const std::vector<PolkitGrant>& grants);
    ~PolkitFixture();
    PolkitFixture(const PolkitFixture&) = delete;
    PolkitFixture& operator=(const PolkitFixture&) = delete;

    // Empty when polkit is ready; otherwise what went wrong.
    const std::string& problem() const { return problem_; }

  private:
    std::string rulesPath_;
    std::string installedActions_;
    std::string problem_;
};

// Keeps polkitd stopped (SIGSTOP) while it lives, so calls to it go unanswered; continues it
// on destruction.
class StoppedPolkitd {
  public:
    StoppedPolkitd();
    ~StoppedPolkitd();
    StoppedPolkitd(const StoppedPolkitd&) = delete;
    StoppedPolkitd& operator=(const StoppedPolkitd&) = delete;
    bool stopped() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

// A child process that sleeps as `uid`/`gid` (supplementary groups cleared) until it is
// killed; killed and reaped on destruction. A polkit subject, a signal target.
class SleepingProcess {
  public:
    SleepingProcess(uid_t uid, gid_t gid);
    ~SleepingProcess();
    SleepingProcess(const SleepingProcess&) = delete;
    SleepingProcess& operator=(const SleepingProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const;  // not yet ended (a zombie counts as ended)
    // Waits for the process to end: the signal that ended it, or 0.
    int reap();

  private:
    pid_t pid_ = -1;
};

}  // namespace kb::testing
