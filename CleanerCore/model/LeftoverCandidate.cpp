#include "CleanerCore/model/LeftoverCandidate.h"

#include "CleanerCore/model/RecordSupport.h"

namespace kb {
namespace {

constexpr json::RawName<LeftoverKind> kindNames[] = {
    {LeftoverKind::container, "container"},
    {LeftoverKind::groupContainer, "groupContainer"},
    {LeftoverKind::appSupport, "appSupport"},
    {LeftoverKind::cache, "cache"},
    {LeftoverKind::preferences, "preferences"},
    {LeftoverKind::log, "log"},
    {LeftoverKind::savedState, "savedState"},
    {LeftoverKind::webkit, "webkit"},
    {LeftoverKind::httpStorage, "httpStorage"},
    {LeftoverKind::cookies, "cookies"},
    {LeftoverKind::launchAgent, "launchAgent"},
    {LeftoverKind::launchDaemon, "launchDaemon"},
    {LeftoverKind::privilegedHelper, "privilegedHelper"},
    {LeftoverKind::receipt, "receipt"},
    {LeftoverKind::plugin, "plugin"},
    {LeftoverKind::crashReport, "crashReport"},
    {LeftoverKind::shellDotfile, "shellDotfile"},
    {LeftoverKind::usrLocal, "usrLocal"},
    {LeftoverKind::other, "other"},
};

constexpr json::RawName<MatchReason> reasonNames[] = {
    {MatchReason::bundleIDExact, "bundleIDExact"},
    {MatchReason::containerMetadata, "containerMetadata"},
    {MatchReason::bundleIDComponents, "bundleIDComponents"},
    {MatchReason::nameExact, "nameExact"},
    {MatchReason::nameVariant, "nameVariant"},
    {MatchReason::companyPrefix, "companyPrefix"},
    {MatchReason::teamID, "teamID"},
    {MatchReason::entitlementGroup, "entitlementGroup"},
    {MatchReason::embeddedHelper, "embeddedHelper"},
    {MatchReason::receiptBOM, "receiptBOM"},
    {MatchReason::overrideInclude, "overrideInclude"},
    {MatchReason::spotlight, "spotlight"},
    {MatchReason::launchdProgramPath, "launchdProgramPath"},
};

}  // namespace

std::string_view rawValue(LeftoverKind value) {
    return json::rawNameOf(value, kindNames);
}
std::string_view rawValue(MatchReason value) {
    return json::rawNameOf(value, reasonNames);
}
std::optional<LeftoverKind> leftoverKindFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, kindNames);
}
std::optional<MatchReason> matchReasonFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, reasonNames);
}

}  // namespace kb

std::size_t std::hash<kb::LeftoverCandidate>::operator()(
    const kb::LeftoverCandidate& candidate) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, candidate.path);
    kb::hashCombine(seed, candidate.kind);
    kb::hashCombine(seed, candidate.size);
    kb::hashCombine(seed, candidate.reasons);
    kb::hashCombine(seed, candidate.confidence);
    kb::hashCombine(seed, candidate.isProtected);
    kb::hashCombine(seed, candidate.protectionNote);
    kb::hashCombine(seed, candidate.sharedWith);
    kb::hashCombine(seed, candidate.ownerProcesses);
    kb::hashCombine(seed, candidate.requiresRoot);
    return seed;
}

namespace kb::json {

boost::json::value Codec<LeftoverKind>::encode(LeftoverKind value) {
    return boost::json::string(rawValue(value));
}
LeftoverKind Codec<LeftoverKind>::decode(const boost::json::value& value) {
    return decodeRawName(value, kindNames, "LeftoverKind");
}

boost::json::value Codec<MatchReason>::encode(MatchReason value) {
    return boost::json::string(rawValue(value));
}
MatchReason Codec<MatchReason>::decode(const boost::json::value& value) {
    return decodeRawName(value, reasonNames, "MatchReason");
}

boost::json::value Codec<Confidence>::encode(Confidence value) {
    return boost::json::value(static_cast<std::int64_t>(rawValue(value)));
}
Confidence Codec<Confidence>::decode(const boost::json::value& value) {
    const auto raw = fromValue<std::int64_t>(value);
    const auto confidence = confidenceFromRawValue(raw);
    if (!confidence) {
        failDecode("Confidence: no case for " + std::to_string(raw));
    }
    return *confidence;
}

boost::json::value Codec<LeftoverCandidate>::encode(const LeftoverCandidate& value) {
    return FieldWriter()
        .field("path", value.path)
        .field("kind", value.kind)
        .optional("size", value.size)
        .field("reasons", value.reasons)
        .field("confidence", value.confidence)
        .field("isProtected", value.isProtected)
        .optional("protectionNote", value.protectionNote)
        .field("sharedWith", value.sharedWith)
        .field("ownerProcesses", value.ownerProcesses)
        .field("requiresRoot", value.requiresRoot)
        .value();
}

LeftoverCandidate Codec<LeftoverCandidate>::decode(const boost::json::value& value) {
    FieldReader r(value, "LeftoverCandidate");
    return LeftoverCandidate{
        .path = r.required<FileURL>("path"),
        .kind = r.required<LeftoverKind>("kind"),
        .size = r.optional<std::uint64_t>("size"),
        .reasons = r.required<std::set<MatchReason>>("reasons"),
        .confidence = r.required<Confidence>("confidence"),
        .isProtected = r.required<bool>("isProtected"),
        .protectionNote = r.optional<std::string>("protectionNote"),
        .sharedWith = r.required<std::vector<std::string>>("sharedWith"),
        .ownerProcesses = r.required<std::vector<ProcessRef>>("ownerProcesses"),
        .requiresRoot = r.required<bool>("requiresRoot"),
    };
}

}  // namespace kb::json
