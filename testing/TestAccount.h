// A real user account for one test: created with useradd (home directory made, own
// group), removed with userdel -r on destruction. Names are unique per process and test.
// Uids come from the system's normal range (>= 1000). Root only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace kb::testing {

class TestAccount {
  public:
    // `prefix` of at most 8 letters names the test; the account is PREFIX + a counter +
    // the pid. The home directory is created under `homeParent` (default /home).
    explicit TestAccount(const std::string& prefix, const std::string& homeParent = "/home");
    ~TestAccount();
    TestAccount(const TestAccount&) = delete;
    TestAccount& operator=(const TestAccount&) = delete;

    bool valid() const { return uid_ != static_cast<uid_t>(-1); }
    const std::string& name() const { return name_; }
    const std::string& home() const { return home_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

    // Runs `body` in a forked child that has dropped to this account (groups, gid, uid) and
    // returns the child's exit status (the body's return value), or -1 on abnormal end.
    int runAs(const std::function<int()>& body) const;

  private:
    std::string name_;
    std::string home_;
    uid_t uid_ = static_cast<uid_t>(-1);
    gid_t gid_ = static_cast<gid_t>(-1);
};

}  // namespace kb::testing
