// The root-side executor: runs one decoded request with root privileges and yields its
// response. Never throws; every failure is expressed in the response.
#pragma once

#include <cstdint>
#include <string>

#include "HelperProtocol/WireMessages.h"
#include "helper/Caller.h"
#include "helper/RootFileOpsSettings.h"
#include "platform/TreeOwnership.h"

namespace kb {

// The account a path-carrying request acts for, built by admission once per request.
struct RootFileOps {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string home;  // from the password database, lexically normalized
    // Whether a trashed tree's entries of other accounts are handed to this one: only with
    // root's authority or an administrator's consent (set per item by the item pipeline).
    ForeignEntries foreignEntries = ForeignEntries::keepTheirOwner;

    // Runs `request` for `caller` (whose uid bounds what it may do without an administrator's
    // consent, helper/Authority.h) to completion on the calling thread; items of one request
    // are handled strictly in order. Calls for different requests may run at the same time.
    static HelperResponse perform(const HelperRequest& request, const Caller& caller,
                                  const RootFileOpsSettings& settings = {});

    bool operator==(const RootFileOps&) const = default;
};

}  // namespace kb
