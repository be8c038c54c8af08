#include "CleanerCore/model/InstalledApp.h"

#include "CleanerCore/model/RecordSupport.h"

namespace kb {
namespace {

constexpr json::RawName<AppSource> appSourceNames[] = {
    {AppSource::appStore, "appStore"},
    {AppSource::homebrewCask, "homebrewCask"},
    {AppSource::setapp, "setapp"},
    {AppSource::sparkle, "sparkle"},
    {AppSource::directDownload, "directDownload"},
    {AppSource::system, "system"},
    {AppSource::unknown, "unknown"},
};

constexpr json::RawName<LastUsedSource> lastUsedSourceNames[] = {
    {LastUsedSource::launchRecord, "launchRecord"}, {LastUsedSource::preferences, "preferences"},
    {LastUsedSource::container, "container"},       {LastUsedSource::caches, "caches"},
    {LastUsedSource::httpStorage, "httpStorage"},   {LastUsedSource::savedState, "savedState"},
};

constexpr json::RawName<CPUArchitecture> architectureNames[] = {
    {CPUArchitecture::arm64, "arm64"},
    {CPUArchitecture::x86_64, "x86_64"},
    {CPUArchitecture::universal, "universal"},
    {CPUArchitecture::unknown, "unknown"},
};

}  // namespace

std::string_view rawValue(AppSource value) {
    return json::rawNameOf(value, appSourceNames);
}
std::string_view rawValue(LastUsedSource value) {
    return json::rawNameOf(value, lastUsedSourceNames);
}
std::string_view rawValue(CPUArchitecture value) {
    return json::rawNameOf(value, architectureNames);
}
std::optional<AppSource> appSourceFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, appSourceNames);
}
std::optional<LastUsedSource> lastUsedSourceFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, lastUsedSourceNames);
}
std::optional<CPUArchitecture> cpuArchitectureFromRawValue(std::string_view raw) {
    return records::fromRawName(raw, architectureNames);
}

}  // namespace kb

std::size_t std::hash<kb::InstalledApp>::operator()(const kb::InstalledApp& app) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, app.id);
    kb::hashCombine(seed, app.bundleID);
    kb::hashCombine(seed, app.name);
    kb::hashCombine(seed, app.path);
    kb::hashCombine(seed, app.version);
    kb::hashCombine(seed, app.buildNumber);
    kb::hashCombine(seed, app.teamID);
    kb::hashCombine(seed, app.source);
    kb::hashCombine(seed, app.architecture);
    kb::hashCombine(seed, app.bundleSize);
    kb::hashCombine(seed, app.lastUsed);
    kb::hashCombine(seed, app.lastUsedSource);
    kb::hashCombine(seed, app.installedAt);
    kb::hashCombine(seed, app.modifiedAt);
    kb::hashCombine(seed, app.isAppleSystem);
    kb::hashCombine(seed, app.isProtected);
    kb::hashCombine(seed, app.entitlementGroups);
    kb::hashCombine(seed, app.embeddedBundleIDs);
    kb::hashCombine(seed, app.launchItems);
    kb::hashCombine(seed, app.runtime);
    return seed;
}

namespace kb::json {

boost::json::value Codec<AppSource>::encode(AppSource value) {
    return boost::json::string(rawValue(value));
}
AppSource Codec<AppSource>::decode(const boost::json::value& value) {
    return decodeRawName(value, appSourceNames, "AppSource");
}

boost::json::value Codec<LastUsedSource>::encode(LastUsedSource value) {
    return boost::json::string(rawValue(value));
}
LastUsedSource Codec<LastUsedSource>::decode(const boost::json::value& value) {
    return decodeRawName(value, lastUsedSourceNames, "LastUsedSource");
}

boost::json::value Codec<CPUArchitecture>::encode(CPUArchitecture value) {
    return boost::json::string(rawValue(value));
}
CPUArchitecture Codec<CPUArchitecture>::decode(const boost::json::value& value) {
    return decodeRawName(value, architectureNames, "CPUArchitecture");
}

boost::json::value Codec<InstalledApp>::encode(const InstalledApp& value) {
    return FieldWriter()
        .field("id", value.id)
        .optional("bundleID", value.bundleID)
        .field("name", value.name)
        .field("path", value.path)
        .optional("version", value.version)
        .optional("buildNumber", value.buildNumber)
        .optional("teamID", value.teamID)
        .field("source", value.source)
        .field("architecture", value.architecture)
        .optional("bundleSize", value.bundleSize)
        .optional("lastUsed", value.lastUsed)
        .optional("lastUsedSource", value.lastUsedSource)
        .optional("installedAt", value.installedAt)
        .optional("modifiedAt", value.modifiedAt)
        .field("isAppleSystem", value.isAppleSystem)
        .field("isProtected", value.isProtected)
        .field("entitlementGroups", value.entitlementGroups)
        .field("embeddedBundleIDs", value.embeddedBundleIDs)
        .field("launchItems", value.launchItems)
        .optional("runtime", value.runtime)
        .value();
}

InstalledApp Codec<InstalledApp>::decode(const boost::json::value& value) {
    FieldReader r(value, "InstalledApp");
    return InstalledApp{
        .id = r.required<std::string>("id"),
        .bundleID = r.optional<std::string>("bundleID"),
        .name = r.required<std::string>("name"),
        .path = r.required<FileURL>("path"),
        .version = r.optional<std::string>("version"),
        .buildNumber = r.optional<std::string>("buildNumber"),
        .teamID = r.optional<std::string>("teamID"),
        .source = r.required<AppSource>("source"),
        .architecture = r.required<CPUArchitecture>("architecture"),
        .bundleSize = r.optional<std::uint64_t>("bundleSize"),
        .lastUsed = r.optional<Date>("lastUsed"),
        .lastUsedSource = r.optional<LastUsedSource>("lastUsedSource"),
        .installedAt = r.optional<Date>("installedAt"),
        .modifiedAt = r.optional<Date>("modifiedAt"),
        .isAppleSystem = r.required<bool>("isAppleSystem"),
        .isProtected = r.required<bool>("isProtected"),
        .entitlementGroups = r.required<std::vector<std::string>>("entitlementGroups"),
        .embeddedBundleIDs = r.required<std::vector<std::string>>("embeddedBundleIDs"),
        .launchItems = r.required<std::vector<LaunchItem>>("launchItems"),
        .runtime = r.optional<AppRuntimeStatus>("runtime"),
    };
}

}  // namespace kb::json
