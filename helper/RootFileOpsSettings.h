// Where the root operations find the things they use. Production uses the defaults; tests
// point the state directory, the legacy staging directory and the tools at scratch copies.
#pragma once

#include <chrono>
#include <string>

namespace kb {

struct RootFileOpsSettings {
    // The fixed staging directory of earlier versions (items now travel through staging
    // subdirectories inside each Trash). Paths in it are refused; at start-up it is emptied
    // into its items' owners' Trashes and removed when it is ours.
    std::string stagingDirectory = "/var/tmp/dev.kestrelbay.staging";
    // The helper's root-only state directory; it keeps the staging records.
    std::string stateDirectory = defaultStateDirectory();
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
    // The first directory of $STATE_DIRECTORY (set by the service manager's
    // StateDirectory=), else /var/lib/dev.kestrelbay.helper.
    static std::string defaultStateDirectory();
};

}  // namespace kb
