// The fixed lists the path policy consults, in their order of precedence (where several
// entries could match, the first is the one named in the reason).
//
// Each kind has a general list and a Linux list; classification consults the Linux list
// right after the general list of the same kind, so a general entry wins a tie.
//  - deniedRoots: absolute paths never touched themselves (their contents are judged by
//    the other lists). Whole path, letter case ignored.
//  - homeDeniedRoots: the same relative to the home directory; "" is the home itself.
//  - homeProtectedLocations: home-relative private data stores, protected with everything
//    below them. Case ignored.
//  - protectedDirectoryNames: a path piece with one of these names (case ignored) is a
//    protected location.
//  - protectedKeywords: a path piece whose letters, marks and digits, lower-cased, contain
//    one of these words is a protected location.
//  - allowedPrefixes: a path starting with one of these (case ignored) passes the subtree
//    rules; it does not lift roots, protected locations or keywords, checked before.
//  - deniedSubtrees: absolute paths whose whole contents are protected. Case ignored.
//  - homeParentPrefixes: a path made of one of these plus one piece is somebody's home
//    directory, a denied root (case-sensitive).
#pragma once

#include <array>
#include <string_view>

namespace kb::ProtectedPatterns {

inline constexpr std::array<std::string_view, 35> deniedRoots = {
    "/",
    "/Applications",
    "/Applications/Utilities",
    "/Library",
    "/Library/Application Support",
    "/Library/Caches",
    "/Library/Logs",
    "/Library/Preferences",
    "/Library/LaunchAgents",
    "/Library/LaunchDaemons",
    "/Library/PrivilegedHelperTools",
    "/Library/Frameworks",
    "/Users",
    "/Users/Shared",
    "/Volumes",
    "/opt",
    "/opt/homebrew",
    "/usr/local",
    "/private",
    "/private/tmp",
    "/private/var",
    "/private/var/tmp",
    "/private/var/folders",
    "/private/var/log",
    "/private/var/db",
    "/private/var/db/receipts",
    "/System",
    "/usr",
    "/bin",
    "/sbin",
    "/private/etc",
    "/cores",
    "/home",
    "/net",
    "/dev",
};

inline constexpr std::array<std::string_view, 23> linuxDeniedRoots = {
    "/boot",    "/etc",     "/lib",      "/lib32",     "/lib64",       "/libx32",
    "/media",   "/mnt",     "/proc",     "/root",      "/run",         "/snap",
    "/srv",     "/sys",     "/tmp",      "/var",       "/var/backups", "/var/cache",
    "/var/lib", "/var/log", "/var/mail", "/var/spool", "/var/tmp",
};

inline constexpr std::array<std::string_view, 21> homeDeniedRoots = {
    "",
    "Library",
    "Library/Application Support",
    "Library/Caches",
    "Library/Preferences",
    "Library/Containers",
    "Library/Group Containers",
    "Library/Logs",
    "Library/LaunchAgents",
    "Library/Developer",
    "Library/Developer/Xcode",
    "Library/Developer/CoreSimulator",
    "Desktop",
    "Documents",
    "Downloads",
    "Pictures",
    "Music",
    "Movies",
    "Public",
    "Applications",
    ".Trash",
};

inline constexpr std::array<std::string_view, 11> linuxHomeDeniedRoots = {
    ".cache", ".config",  ".local", ".local/bin", ".local/share", ".local/state",
    ".var",   ".var/app", "snap",   "Videos",     "Templates",
};

inline constexpr std::array<std::string_view, 27> homeProtectedLocations = {
    "Library/Keychains",
    "Library/Mail",
    "Library/Accounts",
    "Library/Contacts",
    "Library/Calendars",
    "Library/Messages",
    "Library/Mobile Documents",
    "Library/CloudStorage",
    "Library/Passes",
    "Library/PersonalizationPortrait",
    "Library/Suggestions",
    "Library/Application Support/AddressBook",
    "Library/Application Support/CallHistoryDB",
    "Library/Application Support/com.apple.TCC",
    "Library/Application Support/MobileSync",
    "Library/Application Support/iCloud",
    "Library/Group Containers/group.com.apple.notes",
    "Library/Containers/com.apple.Notes",
    "Library/Containers/com.apple.mail",
    "Library/Containers/com.apple.Safari",
    "Library/Safari",
    "Library/Photos",
    "Pictures/Photos Library.photoslibrary",
    ".ssh",
    ".gnupg",
    ".aws/credentials",
    ".kube/config",
};

inline constexpr std::array<std::string_view, 12> linuxHomeProtectedLocations = {
    ".local/share/keyrings",
    ".password-store",
    ".pki",
    ".mozilla",
    ".thunderbird",
    ".config/google-chrome",
    ".config/chromium",
    ".local/share/Trash",
    ".netrc",
    ".git-credentials",
    ".docker/config.json",
    ".config/gh/hosts.yml",
};

inline constexpr std::array<std::string_view, 3> protectedDirectoryNames = {
    ".ssh",
    ".gnupg",
    "Keychains",
};

inline constexpr std::array<std::string_view, 30> protectedKeywords = {
    "1password", "onepassword", "agilebits",  "bitwarden",  "lastpass",      "keepass",
    "dashlane",  "enpass",      "nordpass",   "protonpass", "strongbox",     "codebook",
    "pastebot",  "keychain",    "secretive",  "gpgtools",   "gnupg",         "yubico",
    "yubikey",   "opensc",      "authy",      "2fas",       "raivo",         "otpauth",
    "electrum",  "exodus",      "ledgerlive", "trezor",     "sparrowwallet", "monero",
};

inline constexpr std::array<std::string_view, 10> allowedPrefixes = {
    "/usr/local/",
    "/private/tmp/",
    "/private/var/tmp/",
    "/private/var/folders/",
    "/private/var/log/",
    "/private/var/db/receipts/",
    "/private/var/db/diagnostics/",
    "/private/var/db/DiagnosticPipeline/",
    "/private/var/db/powerlog/",
    "/private/var/db/reportmemoryexception/",
};

inline constexpr std::array<std::string_view, 18> deniedSubtrees = {
    "/System",
    "/bin",
    "/sbin",
    "/usr",
    "/private/etc",
    "/private/var/db",
    "/Library/Extensions",
    "/Library/Apple",
    "/Library/Security",
    "/Library/Keychains",
    "/Library/SystemExtensions",
    "/Library/StagedExtensions",
    "/Library/Developer/CommandLineTools",
    "/dev",
    "/cores",
    "/Applications/Safari.app",
    "/Applications/Xcode.app/Contents/Developer/usr",
    "/Library/Application Support/com.apple.TCC",
};

inline constexpr std::array<std::string_view, 15> linuxDeniedSubtrees = {
    "/boot", "/etc",  "/lib",  "/lib32",   "/lib64",     "/libx32",   "/proc",        "/sys",
    "/run",  "/root", "/snap", "/var/lib", "/var/spool", "/var/mail", "/var/backups",
};

// Per-user temporary folders: a path below this prefix with at most
// temporaryFolderMaxPieces pieces is a denied root.
inline constexpr std::string_view temporaryFoldersPrefix = "/private/var/folders/";
inline constexpr std::size_t temporaryFolderMaxPieces = 6;

inline constexpr std::array<std::string_view, 2> homeParentPrefixes = {"/Users/", "/home/"};

// Anything below this prefix that no list decided is in the denied subtree privateSubtree.
inline constexpr std::string_view privatePrefix = "/private/";
inline constexpr std::string_view privateSubtree = "/private";

// Linux only, after every list and rule above: a path that none of them decided and that
// lies neither below one of these places (case-sensitive) nor inside the acting account's
// home directory is in the denied subtree named by its first piece ("/srv", "/var").
inline constexpr std::array<std::string_view, 9> linuxReachablePlaces = {
    "/home/",      "/tmp/",     "/opt/",       "/media/",   "/mnt/",
    "/usr/local/", "/var/tmp/", "/var/cache/", "/var/log/",
};

// The helper's own staging areas, checked before every list: the directory itself is a
// denied root and everything in it the denied subtree it names, for every request.
//  - stagingDirectories: fixed staging directories of earlier versions (case ignored).
//  - stagingNamePrefix: a path piece starting with this (case ignored) is a staging
//    subdirectory; the helper creates them as stagingNamePrefix + "-XXXXXX" in a Trash.
inline constexpr std::array<std::string_view, 2> stagingDirectories = {
    "/var/tmp/dev.kestrelbay.staging",
    "/private/var/tmp/dev.kestrelbay.staging",
};
inline constexpr std::string_view stagingNamePrefix = ".dev.kestrelbay.staging";

}  // namespace kb::ProtectedPatterns
