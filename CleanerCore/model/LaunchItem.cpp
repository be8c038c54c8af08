#include "CleanerCore/model/LaunchItem.h"

#include "CleanerCore/model/RecordSupport.h"

namespace kb {
namespace {

constexpr json::RawName<LaunchOwnerReason> ownerReasonNames[] = {
    {LaunchOwnerReason::associatedBundleIdentifiers, "associatedBundleIdentifiers"},
    {LaunchOwnerReason::programInsideBundle, "programInsideBundle"},
    {LaunchOwnerReason::labelEqualsBundleID, "labelEqualsBundleID"},
    {LaunchOwnerReason::labelPrefix, "labelPrefix"},
    {LaunchOwnerReason::embeddedBundleID, "embeddedBundleID"},
    {LaunchOwnerReason::authorizedClients, "authorizedClients"},
    {LaunchOwnerReason::receipt, "receipt"},
};

constexpr json::RawName<LaunchItem::Kind> kindNames[] = {
    {LaunchItem::Kind::launchAgentUser, "launchAgentUser"},
    {LaunchItem::Kind::launchAgentSystem, "launchAgentSystem"},
    {LaunchItem::Kind::launchDaemon, "launchDaemon"},
    {LaunchItem::Kind::loginItemLegacy, "loginItemLegacy"},
    {LaunchItem::Kind::smAppServiceLoginItem, "smAppServiceLoginItem"},
    {LaunchItem::Kind::privilegedHelper, "privilegedHelper"},
};

}  // namespace

std::string_view rawValue(LaunchOwnerReason value) {
    return json::rawNameOf(value, ownerReasonNames);
}
std::string_view rawValue(LaunchItem::Kind value) {
    return json::rawNameOf(value, kindNames);
}
std::optional<LaunchOwnerReason> launchOwnerReasonFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, ownerReasonNames);
}
std::optional<LaunchItem::Kind> launchItemKindFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, kindNames);
}

}  // namespace kb

std::size_t std::hash<kb::LaunchItem>::operator()(const kb::LaunchItem& item) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, item.id);
    kb::hashCombine(seed, item.kind);
    kb::hashCombine(seed, item.label);
    kb::hashCombine(seed, item.plistPath);
    kb::hashCombine(seed, item.programPath);
    kb::hashCombine(seed, item.isLoaded);
    kb::hashCombine(seed, item.ownerBundleID);
    kb::hashCombine(seed, item.ownerReason);
    kb::hashCombine(seed, item.schedule);
    return seed;
}

namespace kb::json {

boost::json::value Codec<LaunchOwnerReason>::encode(LaunchOwnerReason value) {
    return boost::json::string(rawValue(value));
}
LaunchOwnerReason Codec<LaunchOwnerReason>::decode(const boost::json::value& value) {
    return decodeRawName(value, ownerReasonNames, "LaunchOwnerReason");
}

boost::json::value Codec<LaunchItem::Kind>::encode(LaunchItem::Kind value) {
    return boost::json::string(rawValue(value));
}
LaunchItem::Kind Codec<LaunchItem::Kind>::decode(const boost::json::value& value) {
    return decodeRawName(value, kindNames, "LaunchItem.Kind");
}

boost::json::value Codec<LaunchItem>::encode(const LaunchItem& value) {
    return FieldWriter()
        .field("id", value.id)
        .field("kind", value.kind)
        .optional("label", value.label)
        .optional("plistPath", value.plistPath)
        .optional("programPath", value.programPath)
        .optional("isLoaded", value.isLoaded)
        .optional("ownerBundleID", value.ownerBundleID)
        .optional("ownerReason", value.ownerReason)
        .optional("schedule", value.schedule)
        .value();
}

LaunchItem Codec<LaunchItem>::decode(const boost::json::value& value) {
    FieldReader r(value, "LaunchItem");
    return LaunchItem{
        .id = r.required<std::string>("id"),
        .kind = r.required<LaunchItem::Kind>("kind"),
        .label = r.optional<std::string>("label"),
        .plistPath = r.optional<FileURL>("plistPath"),
        .programPath = r.optional<FileURL>("programPath"),
        .isLoaded = r.optional<bool>("isLoaded"),
        .ownerBundleID = r.optional<std::string>("ownerBundleID"),
        .ownerReason = r.optional<LaunchOwnerReason>("ownerReason"),
        .schedule = r.optional<LaunchSchedule>("schedule"),
    };
}

}  // namespace kb::json
