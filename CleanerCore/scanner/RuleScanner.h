// Applies one CleanRule to the disk for one account and yields its ScanResult. Nothing is
// ever deleted, moved or changed by a scan.
//
// Locations. A glob pattern names items by absolute path. It may start with "~/" (the
// account's home directory) or with "$XDG_CACHE_HOME/", "$XDG_CONFIG_HOME/" or
// "$XDG_DATA_HOME/" (the account's base directories, see ScanAccount); any other pattern
// must start with "/". The base directory is opened by its path; below it, every piece is
// opened relative to its parent's descriptor and never through a symbolic link. In a piece,
// "*" matches any run of characters (names starting with "." included), "?" one character
// and "[...]" a set, all within that one piece (fnmatch without FNM_PATHNAME or FNM_PERIOD);
// a wildcard never matches across "/". A piece without wildcards is looked up by name.
// Patterns of the `builtin` provider are not known: such a rule yields one error.
//
// Which matches become items, in this order:
//  1. `excludes`: a pattern without "/" is matched against the item's name, one with "/"
//     against the item's whole path ("*" then also matches "/"); a match leaves the item out.
//  2. An item that is itself the root of a mount (another file system than its parent) is
//     left out silently: a scan never leaves the file system of the directory it lists.
//  3. `minimumAge` (seconds) is compared with the age of the item's own modification time
//     (lstat) at `ScanOptions::now`; a younger item is left out. Without it, any age counts.
//  4. Items the account cannot delete itself go to `skipped` with `needsHelper`, unless the
//     rule says `requiresRoot` (then they are items, for the helper to delete). The account
//     can delete an item when it may write and search the item's directory (owner, group and
//     other bits for its uid and groups; uid 0 always may), when that directory is sticky
//     only if the account owns the item or the directory, and for a directory item only if
//     the account owns it. Entries below a directory item are not examined.
//  5. Busy checks, for the account's own processes (ProcessTable):
//     - `processRunning`: while a process whose command name or executable base name is one
//       of the names runs, every item is skipped as `busy` with that name;
//     - `gradleDaemon`: a Java process whose command line names the Gradle daemon's main
//       class makes every item `busy` with "GradleDaemon";
//     - `openHandle`, `sqliteLive` and `owningApplication`: an item that a process of the
//       account holds open (the item or something below it) is `busy` with that process's
//       command name; the others are items;
//     - `dockerRunning`: a running "dockerd" or "containerd" makes every item `busy`.
//  6. An entry that vanishes between listing and examining is skipped as `absent`.
// Items are sorted by path. A directory item's size is DirectorySizer's allocated size of
// its tree on its own file system (links never followed, other mounts not entered); a file's
// size is its own allocated size; a symbolic link is an item of size 0 (deleting it deletes
// the link only). `modifiedAt` is the item's modification time.
//
// A directory on the way that the scanning process may not open is skipped as `needsHelper`
// (its contents are unknown); other failures (a failed listing or status) become `errors`
// strings "PATH: reason"; a missing location is not an error, the rule just finds nothing.
//
// Cancellation and progress: the scan checks `stop` between items and while sizing; when
// stopped it fails with CleanerError::cancelled. `progress` is called after every item with
// the items and bytes found so far by this scan.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "CleanerCore/errors/CleanerError.h"
#include "CleanerCore/model/CleanRule.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/scanner/ProcessTable.h"
#include "base/Result.h"
#include "platform/FileStatus.h"

namespace kb {

struct ScanAccount {
    uid_t uid = 0;
    std::vector<gid_t> groups;  // primary group first
    std::string home;
    std::string cacheHome;   // $XDG_CACHE_HOME, else home + "/.cache"
    std::string configHome;  // $XDG_CONFIG_HOME, else home + "/.config"
    std::string dataHome;    // $XDG_DATA_HOME, else home + "/.local/share"

    // The account with `uid` and `home`, its groups from the group database, and the base
    // directories from the XDG variables of the environment when they hold absolute paths.
    static ScanAccount fromEnvironment(uid_t uid, std::string home);
    // The same with the default base directories, ignoring the environment.
    static ScanAccount withDefaults(uid_t uid, std::string home);
};

struct ScanProgress {
    std::uint64_t items = 0;
    std::uint64_t bytes = 0;
};

struct ScanOptions {
    Date now = std::chrono::system_clock::now();
    std::stop_token stop;
    std::function<void(const ScanProgress&)> progress;
};

// Whether `account` may delete the entry `item` of the directory `directory` itself (see
// rule 4 above). Both are statuses of the entries themselves, links not followed.
bool accountCanDelete(const ScanAccount& account, const FileStatus& directory,
                      const FileStatus& item);

// `processes` must be the table of `account`'s processes; it is shared so that a catalogue
// is scanned against one reading of /proc.
Result<ScanResult, CleanerError> scanRule(const CleanRule& rule, const ScanAccount& account,
                                          ProcessTable& processes, const ScanOptions& options);

}  // namespace kb
