// What the uninstaller knows about one installed app: identity and version, where it came
// from, its size, when it was last used and how that was found, whether it is protected,
// its launch items and, when sampled, its running processes.
//
// A plain value identified by `id`: member-wise (aggregate) construction in declaration
// order (`runtime` may be left out and is then absent), compared and hashed over every
// field. The inventory fills every field once; only `launchItems` and `runtime` are meant to
// be replaced afterwards. The raw values of the enumerations are their case names; converting
// an unknown text yields nothing (case matters: "X86_64" is not x86_64).
//
// JSON form: an object keyed by field name. "id", "name", "path", "source", "architecture",
// "isAppleSystem", "isProtected", "entitlementGroups", "embeddedBundleIDs" and "launchItems"
// are required; every other key is omitted when absent. URLs are absolute file URL strings,
// dates ISO 8601 text. Unknown keys are ignored; a missing required key, a wrong type or an
// unknown raw value anywhere, nested records included, fails the decoding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CleanerCore/model/AppRuntimeStatus.h"
#include "CleanerCore/model/FileURL.h"
#include "CleanerCore/model/IsoDate.h"
#include "CleanerCore/model/LaunchItem.h"
#include "json/DescribedCodec.h"

namespace kb {

// How the app was installed or is kept up to date.
enum class AppSource { appStore, homebrewCask, setapp, sparkle, directDownload, system, unknown };
BOOST_DESCRIBE_ENUM(AppSource, appStore, homebrewCask, setapp, sparkle, directDownload, system,
                    unknown)

inline constexpr std::array<AppSource, 7> allAppSources = {
    AppSource::appStore,       AppSource::homebrewCask, AppSource::setapp, AppSource::sparkle,
    AppSource::directDownload, AppSource::system,       AppSource::unknown};

// What the last-used date was taken from: a recorded launch, or the modification time of the
// app's preferences, container, caches, HTTP storage or saved state.
enum class LastUsedSource { launchRecord, preferences, container, caches, httpStorage, savedState };
BOOST_DESCRIBE_ENUM(LastUsedSource, launchRecord, preferences, container, caches, httpStorage,
                    savedState)

inline constexpr std::array<LastUsedSource, 6> allLastUsedSources = {
    LastUsedSource::launchRecord, LastUsedSource::preferences, LastUsedSource::container,
    LastUsedSource::caches,       LastUsedSource::httpStorage, LastUsedSource::savedState};

// False for a recorded launch, true for every date guessed from a file's modification time.
constexpr bool isEstimate(LastUsedSource source) {
    return source != LastUsedSource::launchRecord;
}

enum class CPUArchitecture { arm64, x86_64, universal, unknown };
BOOST_DESCRIBE_ENUM(CPUArchitecture, arm64, x86_64, universal, unknown)

struct InstalledApp {
    std::string id{};
    std::optional<std::string> bundleID{};
    std::string name{};
    FileURL path;
    std::optional<std::string> version{};
    std::optional<std::string> buildNumber{};
    std::optional<std::string> teamID{};
    AppSource source = AppSource::unknown;
    CPUArchitecture architecture = CPUArchitecture::unknown;
    std::optional<std::uint64_t> bundleSize{};
    std::optional<Date> lastUsed{};
    std::optional<LastUsedSource> lastUsedSource{};
    std::optional<Date> installedAt{};
    std::optional<Date> modifiedAt{};
    bool isAppleSystem = false;
    bool isProtected = false;
    std::vector<std::string> entitlementGroups{};
    std::vector<std::string> embeddedBundleIDs{};
    std::vector<LaunchItem> launchItems{};
    std::optional<AppRuntimeStatus> runtime{};

    // False without a runtime sample, otherwise whether the sample found a process.
    bool isRunning() const { return runtime.has_value() && runtime->isRunning(); }

    bool operator==(const InstalledApp&) const = default;
};
BOOST_DESCRIBE_STRUCT(InstalledApp, (),
                      (id, bundleID, name, path, version, buildNumber, teamID, source, architecture,
                       bundleSize, lastUsed, lastUsedSource, installedAt, modifiedAt, isAppleSystem,
                       isProtected, entitlementGroups, embeddedBundleIDs, launchItems, runtime))

}  // namespace kb

template <>
struct std::hash<kb::InstalledApp> : kb::MemberHash<kb::InstalledApp> {};
