// The root-owned directory through which items travel to a Trash, and its per-item
// subdirectories.
//
// The staging directory must be a real directory (not a link) owned by uid 0 with
// permission bits exactly 0700. Claiming it is safe against concurrent claimers: a claimer
// that loses the race to create it finds a conforming directory. A foreign object in its
// place is replaced once (logged at fault level, "PATH was not ours; replacing it"); if a
// foreign object is found again after that, the claim fails with EPERM ("cannot claim
// PATH"). The conformity is checked on the descriptor that is then used, so the directory
// cannot be swapped after the check. Thread-safe.
#pragma once

#include <string>

#include "HelperProtocol/Result.h"
#include "platform/UniqueFd.h"

namespace kb {

// A descriptor of the claimed staging directory at `path`, or the errno of the failure.
Result<UniqueFd, int> claimStagingDirectory(const std::string& path);

struct StagingSubdirectory {
    UniqueFd fd;       // O_PATH descriptor of the new subdirectory
    std::string name;  // a random UUID in upper-case canonical form
};

// Creates a fresh subdirectory (mode 0700) in the staging directory `stagingFd`.
Result<StagingSubdirectory, int> makeStagingSubdirectory(int stagingFd);

}  // namespace kb
