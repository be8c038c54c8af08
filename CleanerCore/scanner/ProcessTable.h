// The processes of one account, read once from /proc, for the busy checks of the scanner.
//
// A process belongs to the account when its /proc directory is owned by the account's uid
// (the process's effective uid). Each process is known by its command name (/proc/PID/comm,
// at most 15 bytes), the base name of its executable (/proc/PID/exe, readable only for
// processes the reader may trace) and its command line. Processes that end while the table
// is read are left out; unreadable fields are empty.
//
// openFiles() lists, on first use, the paths that the account's processes hold open
// (/proc/PID/fd links that name a path). A ProcessTable is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kb {

struct ProcessInfo {
    pid_t pid = 0;
    std::string commandName;
    std::string executableName;
    std::vector<std::string> arguments;
};

class ProcessTable {
  public:
    // Reads `procRoot` (normally "/proc") for the processes whose owner is `uid`.
    static ProcessTable read(uid_t uid, const std::string& procRoot = "/proc");

    const std::vector<ProcessInfo>& processes() const { return processes_; }

    // The first process whose command name or executable base name is `name` (a command
    // name is compared with `name` cut to 15 bytes); nothing when none runs.
    const ProcessInfo* findByName(std::string_view name) const;

    // The first Java process whose command line names the Gradle daemon's main class.
    const ProcessInfo* findGradleDaemon() const;

    // Every open path with the command name of a process holding it, sorted by path.
    const std::vector<std::pair<std::string, std::string>>& openFiles();

    // The command name of a process holding `path` or something below it open.
    std::optional<std::string> holderOf(const std::string& path);

  private:
    std::string procRoot_;
    std::vector<ProcessInfo> processes_;
    std::optional<std::vector<std::pair<std::string, std::string>>> openFiles_;
};

}  // namespace kb
