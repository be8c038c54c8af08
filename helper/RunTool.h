// Runs a system tool as root for a request and turns its end into the request's answer.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "HelperProtocol/WireMessages.h"

namespace kb {

// Runs `executable` (an absolute path) with `arguments`, no standard input and `timeout`.
// Answers `done` when the tool exits with one of `successStatuses`, logging
// "EXECUTABLE succeeded for SUBJECT" in the operations category. Otherwise `error` with:
// "could not run EXECUTABLE: WHY" when it could not be started or did not finish in time;
// else the tool's standard error trimmed of white space at both ends, or, when that is
// empty, "EXECUTABLE exited with STATUS" ("EXECUTABLE was ended by signal N" for a tool
// killed by a signal, which never counts as success).
HelperResponse runTool(const std::string& executable, const std::vector<std::string>& arguments,
                       const std::set<int>& successStatuses, const std::string& subject,
                       std::chrono::milliseconds timeout);

}  // namespace kb
