// Where the root operations find the things they use. Production uses the defaults; tests
// point the staging directory and the tools at scratch copies.
#pragma once

#include <chrono>
#include <string>

namespace kb {

struct RootFileOpsSettings {
    // Root-owned directory through which items travel to a Trash.
    std::string stagingDirectory = "/var/tmp/dev.kestrelbay.staging";
    // The service manager's control tool (stopping service jobs).
    std::string systemctlPath = "/usr/bin/systemctl";
    // The installer-receipt tool; empty when the system keeps no installer receipts.
    std::string receiptToolPath = defaultReceiptTool();
    // How long an external tool may run before it is terminated.
    std::chrono::milliseconds toolTimeout{10'000};
    // How long polkit may take to answer, an administrator's password prompt included. The
    // application waits 20 s for a whole request; the answer must leave it time to act.
    std::chrono::milliseconds authorizationTimeout{15'000};

    static std::string defaultReceiptTool();
};

}  // namespace kb
