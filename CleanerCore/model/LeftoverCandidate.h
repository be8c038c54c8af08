// A file that may belong to an app being uninstalled (or to an app no longer present): where
// it is, what kind of leftover it is, how large, why and how surely it is tied to the app,
// whether it must not be touched, who else uses it, which processes hold it and whether
// deleting it needs the privileged helper.
//
// A plain value: member-wise (aggregate) construction in declaration order, compared and
// hashed over every field, `reasons` as a set (so the order reasons were found in does not
// matter). LeftoverKind and MatchReason convert from and to their case names, Confidence from
// and to its integer 1...4 (low < medium < high < exact); anything else yields nothing.
//
// JSON form: an object keyed by field name. "path" (absolute file URL string), "kind",
// "reasons" (array of raw strings, any order; duplicates collapse on input), "confidence"
// (integer 1...4), "isProtected", "sharedWith", "ownerProcesses" and "requiresRoot" are
// required; "size" and "protectionNote" are omitted when absent. Unknown keys are ignored; a
// wrong type, an unknown kind or reason, or a confidence outside 1...4 fails the decoding.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "CleanerCore/model/AppRuntimeStatus.h"
#include "CleanerCore/model/FileURL.h"
#include "json/DescribedCodec.h"

namespace kb {

enum class LeftoverKind {
    container,
    groupContainer,
    appSupport,
    cache,
    preferences,
    log,
    savedState,
    webkit,
    httpStorage,
    cookies,
    launchAgent,
    launchDaemon,
    privilegedHelper,
    receipt,
    plugin,
    crashReport,
    shellDotfile,
    usrLocal,
    other
};
BOOST_DESCRIBE_ENUM(LeftoverKind, container, groupContainer, appSupport, cache, preferences, log,
                    savedState, webkit, httpStorage, cookies, launchAgent, launchDaemon,
                    privilegedHelper, receipt, plugin, crashReport, shellDotfile, usrLocal, other)

// Why a candidate was tied to the app.
enum class MatchReason {
    bundleIDExact,       // its name equals the bundle identifier
    containerMetadata,   // the container's metadata names the app
    bundleIDComponents,  // its name is made of components of the bundle identifier
    nameExact,           // its name equals the app's name
    nameVariant,         // its name is a variant of the app's name
    companyPrefix,       // its name starts with the maker's prefix of the bundle identifier
    teamID,              // it carries the app's code-signing team identifier
    entitlementGroup,    // its name is one of the app's entitlement groups
    embeddedHelper,      // it belongs to a bundle embedded in the app
    receiptBOM,          // an installer receipt's bill of materials lists it
    overrideInclude,     // an explicit override includes it
    spotlight,           // the search index ties it to the app
    launchdProgramPath,  // a launchd job's program path points into the app
};
BOOST_DESCRIBE_ENUM(MatchReason, bundleIDExact, containerMetadata, bundleIDComponents, nameExact,
                    nameVariant, companyPrefix, teamID, entitlementGroup, embeddedHelper,
                    receiptBOM, overrideInclude, spotlight, launchdProgramPath)

// How sure the tie is; the enumerators' values are the raw integers.
enum class Confidence : std::int32_t { low = 1, medium = 2, high = 3, exact = 4 };

constexpr std::int32_t rawValue(Confidence confidence) {
    return static_cast<std::int32_t>(confidence);
}

// 1...4 give the cases; any other integer nothing.
constexpr std::optional<Confidence> confidenceFromRawValue(std::int64_t raw) {
    if (raw < 1 || raw > 4) {
        return std::nullopt;
    }
    return static_cast<Confidence>(raw);
}

struct LeftoverCandidate {
    FileURL path;
    LeftoverKind kind = LeftoverKind::other;
    std::optional<std::uint64_t> size{};  // absent until measured
    std::set<MatchReason> reasons{};
    Confidence confidence = Confidence::low;
    bool isProtected = false;
    std::optional<std::string> protectionNote{};  // why it is protected
    std::vector<std::string> sharedWith{};        // identifiers of other apps using it
    std::vector<ProcessRef> ownerProcesses{};     // processes holding it
    bool requiresRoot = false;

    bool operator==(const LeftoverCandidate&) const = default;
};
BOOST_DESCRIBE_STRUCT(LeftoverCandidate, (),
                      (path, kind, size, reasons, confidence, isProtected, protectionNote,
                       sharedWith, ownerProcesses, requiresRoot))

}  // namespace kb

template <>
struct std::hash<kb::LeftoverCandidate> : kb::MemberHash<kb::LeftoverCandidate> {};

namespace kb::json {

template <>
struct Codec<Confidence> {
    static boost::json::value encode(Confidence value);
    static Confidence decode(const boost::json::value& value);
};

}  // namespace kb::json
