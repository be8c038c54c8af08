#include "testing/TestAccount.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "testing/ChildProcess.h"

namespace kb::testing {
namespace {

std::atomic<int> counter{0};

}  // namespace

TestAccount::TestAccount(const std::string& prefix, const std::string& homeParent) {
    name_ = prefix.substr(0, 8) + std::to_string(counter++) + "p" + std::to_string(::getpid());
    home_ = homeParent + "/" + name_;
    // useradd serializes on /etc/passwd's lock; retry briefly when another test holds it.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto r = runChild({"/usr/sbin/useradd", "--create-home", "--home-dir", home_,
                                 "--user-group", "--shell", "/bin/sh", name_});
        if (r.exitStatus == 0) {
            break;
        }
        if (r.exitStatus != 1 && r.exitStatus != 10) {
            ADD_FAILURE() << "useradd " << name_ << " failed: " << r.err;
            return;
        }
        ::usleep(100000);
    }
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name_.c_str(), &pw, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
        ADD_FAILURE() << "account " << name_ << " was not created";
        return;
    }
    uid_ = pw.pw_uid;
    gid_ = pw.pw_gid;
}

TestAccount::~TestAccount() {
    if (!valid()) {
        return;
    }
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto r = runChild({"/usr/sbin/userdel", "--remove", "--force", name_});
        // 12: the home directory could not be removed (already gone); the account is.
        if (r.exitStatus == 0 || r.exitStatus == 6 || r.exitStatus == 12) {
            break;
        }
        ::usleep(100000);
    }
    // Anything the test left in the home directory (for example immutable files).
    [[maybe_unused]] const int rc = std::system(
        ("chattr -R -i -a '" + home_ + "' >/dev/null 2>&1; rm -rf '" + home_ + "'").c_str());
}

int TestAccount::runAs(const std::function<int()>& body) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0) {
            ::_exit(120);
        }
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kb::testing
