// Runs one external command to completion with its output captured in memory.
//
// The command is started from an absolute path with an argument vector (no shell); its
// argv[0] is the path. Standard input is the given bytes, or the null device when there
// are none; standard output and standard error are captured whole. The working directory
// and environment are inherited; the child starts with no blocked signals and every signal
// at its default action.
//
// The first of the child's exit and the time-out decides. When the time-out comes first the
// child gets SIGTERM and at once SIGKILL, is reaped, and `timeout` is the result. In every
// case the child has been reaped before `run` returns: no zombie and no running child
// remain. Output the child wrote before it exited is all collected; a descendant that keeps
// the output pipes open does not hold `run` up once the child itself has exited.
//
// Every descriptor `run` opens is close-on-exec, so concurrent runs on other threads never
// leak their pipes into each other's children. A child that closes its input early is not
// an error (SIGPIPE is kept from the calling thread while the input is written).
//
// Thread-safe; runs share nothing. Blocks the calling thread. It reaps only its own child,
// by pidfd, and never waits for any other.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "CleanerCore/process/ProcessOutput.h"
#include "CleanerCore/process/ProcessRunnerError.h"
#include "base/Result.h"

namespace kb::ProcessRunner {

Result<ProcessOutput, ProcessRunnerError> run(const std::string& executable,
                                              const std::vector<std::string>& arguments,
                                              const std::optional<std::string>& input,
                                              std::chrono::milliseconds timeout);

}  // namespace kb::ProcessRunner
