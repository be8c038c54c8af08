// Stops a service job of the system's service manager or of one user's manager.
#pragma once

#include "HelperProtocol/WireMessages.h"
#include "helper/Authority.h"
#include "helper/RootFileOpsSettings.h"

namespace kb {

// Refuses a label that breaks the identifier rule ("'LABEL' is not a valid launchd label")
// and a user domain whose uid is below the smallest user uid or has no account ("refusing
// to touch the gui domain of uid UID"). Otherwise runs, through runTool:
//   system domain:  systemctl stop -- LABEL
//   user domain:    systemctl --user --machine=NAME@.host stop -- LABEL
// with NAME the account's name from the password database. Statuses 0 and 5 (the unit is
// not loaded, so there is nothing left to stop) answer `done`; the success line names the
// target as "system/LABEL" or "gui/UID/LABEL". A caller that is not root stops jobs of its
// own user domain on its own authority; the system domain and other users' domains need
// the administrator's consent (dev.kestrelbay.helper.manage-services), asked after the
// checks above; without it the answer is `error` with notAuthorizedMessage.
HelperResponse bootoutLaunchd(const HelperRequest::BootoutLaunchd& request,
                              RequestAuthority& authority, const RootFileOpsSettings& settings);

}  // namespace kb
