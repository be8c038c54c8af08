#include "CleanerCore/model/CleanRuleCatalog.h"

#include <optional>
#include <string>

namespace kb::CleanRuleCatalog {
namespace {

enum class Privilege { none, root, fullDiskAccess };

constexpr std::optional<double> noAge;
constexpr std::optional<double> oneDay = 86400;
constexpr std::optional<double> sevenDays = 604800;
constexpr std::optional<double> thirtyDays = 2592000;
constexpr std::optional<double> oneHundredEightyDays = 15552000;

constexpr std::string_view userCachesPrefix = "~/Library/Caches/";

CleanRule rule(std::string id, std::string group, std::vector<std::string> patterns,
               SafetyLevel safety, RegenerationCost cost, Privilege privilege, BusyCheck busy,
               std::optional<double> minimumAge, std::vector<std::string> excludes) {
    return CleanRule{std::move(id),
                     std::move(group),
                     RuleProvider::globs(std::move(patterns)),
                     safety,
                     cost,
                     privilege == Privilege::root,
                     privilege == Privilege::fullDiskAccess,
                     std::move(busy),
                     DeletionMode::unlink,
                     minimumAge,
                     std::move(excludes),
                     3};
}

std::vector<CleanRule> browserRules() {
    return {
        rule("browser.chromium", "systemJunk",
             {"~/Library/Application Support/Google/Chrome/*/Code Cache",
              "~/Library/Application Support/Google/Chrome/*/GPUCache",
              "~/Library/Application Support/Google/Chrome/*/Service Worker/CacheStorage",
              "~/Library/Application Support/Google/Chrome/*/Application Cache",
              "~/Library/Application Support/Microsoft Edge/*/Code Cache",
              "~/Library/Application Support/Microsoft Edge/*/GPUCache",
              "~/Library/Application Support/Microsoft Edge/*/Service Worker/CacheStorage",
              "~/Library/Application Support/BraveSoftware/Brave-Browser/*/Code Cache",
              "~/Library/Application Support/BraveSoftware/Brave-Browser/*/GPUCache",
              // One path, wrapped to fit the line.
              // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
              "~/Library/Application Support/BraveSoftware/Brave-Browser/*/Service "
              "Worker/CacheStorage",
              "~/Library/Application Support/Arc/User Data/*/Code Cache",
              "~/Library/Application Support/Arc/User Data/*/GPUCache",
              "~/Library/Application Support/Arc/User Data/*/Service Worker/CacheStorage"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::processRunning(
                 {"Google Chrome", "Microsoft Edge", "Brave Browser", "Arc", "Chromium"}),
             noAge, {}),
        rule("browser.firefox", "systemJunk", {"~/Library/Caches/Firefox/Profiles/*/cache2/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::processRunning({"firefox"}), noAge, {}),
        rule("browser.safari", "systemJunk", {"~/Library/Caches/com.apple.Safari/WebKitCache/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::fullDiskAccess,
             BusyCheck::processRunning({"Safari"}), noAge, {}),
        rule("browser.chromiumCaches", "systemJunk",
             {"~/Library/Caches/Google/*", "~/Library/Caches/BraveSoftware/*",
              "~/Library/Caches/Microsoft Edge/*", "~/Library/Caches/company.thebrowser.Browser/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::processRunning(
                 {"Google Chrome", "Microsoft Edge", "Brave Browser", "Arc", "Chromium"}),
             noAge, {}),
    };
}

// Without the browser rules, which come first in the catalogue; user.caches gets its
// exclusions afterwards.
std::vector<CleanRule> otherSystemJunkRules() {
    return {
        rule("user.caches", "systemJunk", {"~/Library/Caches/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::none(), oneDay, {}),
        rule("user.logs", "systemJunk", {"~/Library/Logs/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::none(), oneDay,
             {"DiagnosticReports"}),
        rule("user.diagnosticReports", "systemJunk", {"~/Library/Logs/DiagnosticReports/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none, BusyCheck::none(),
             sevenDays, {}),
        rule("user.crashReporter", "systemJunk", {"~/Library/Application Support/CrashReporter/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none, BusyCheck::none(),
             sevenDays, {}),
        rule("user.savedApplicationState", "systemJunk", {"~/Library/Saved Application State/*"},
             SafetyLevel::review, RegenerationCost::free, Privilege::none, BusyCheck::none(),
             thirtyDays, {}),
        rule("user.httpStorages", "systemJunk", {"~/Library/HTTPStorages/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::none(), sevenDays,
             {"com.apple.*"}),
        rule("user.darwinCache", "systemJunk", {"/private/var/folders/*/*/C/*"},
             SafetyLevel::review, RegenerationCost::free, Privilege::none, BusyCheck::none(),
             sevenDays, {"com.apple.*"}),
        rule("system.caches", "systemJunk", {"/Library/Caches/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::root, BusyCheck::none(), sevenDays,
             {"com.apple.*"}),
        rule("system.logs", "systemJunk",
             {"/Library/Logs/*", "/private/var/log/*.gz", "/private/var/log/*.log.*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::root, BusyCheck::none(),
             sevenDays, {}),
        rule("user.darwinTemp", "systemJunk", {"/private/var/folders/*/*/T/*"}, SafetyLevel::review,
             RegenerationCost::free, Privilege::none, BusyCheck::none(), sevenDays,
             {"com.apple.*"}),
        rule("container.caches", "systemJunk",
             {"~/Library/Containers/*/Data/Library/Caches/*",
              "~/Library/Group Containers/*/Library/Caches/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::owningApplication(), noAge, {}),
        rule("app.electronCaches", "systemJunk",
             {"~/Library/Application Support/*/Cache/*",
              "~/Library/Application Support/*/Code Cache/*",
              "~/Library/Application Support/*/GPUCache/*",
              "~/Library/Application Support/*/Service Worker/CacheStorage/*",
              "~/Library/Application Support/*/DawnGraphiteCache/*",
              "~/Library/Application Support/*/DawnWebGPUCache/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::owningApplication(), noAge,
             {"*/Application Support/Google/*", "*/Application Support/Microsoft Edge/*",
              "*/Application Support/BraveSoftware/*", "*/Application Support/Arc/*",
              "*/Application Support/Code/*", "*/Application Support/Cursor/*"}),
        rule("user.xdgCache", "systemJunk", {"~/.cache/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("user.applicationSupportCaches", "systemJunk",
             {"~/Library/Application Support/Caches/*"}, SafetyLevel::safe, RegenerationCost::free,
             Privilege::none, BusyCheck::none(), noAge, {}),
        rule("user.diagnosticFiles", "systemJunk",
             {"~/Library/Logs/DiagnosticReports/*.ips", "~/Library/Logs/DiagnosticReports/*.crash",
              "~/Library/Logs/DiagnosticReports/*.hang", "~/Library/Logs/DiagnosticReports/*.spin"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none, BusyCheck::none(),
             sevenDays, {})};
}

std::vector<CleanRule> developerJunkRules() {
    return {
        rule("xcode.derivedData", "developerJunk", {"~/Library/Developer/Xcode/DerivedData/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Xcode", "xcodebuild", "swift-frontend"}), noAge, {}),
        rule("xcode.archives", "developerJunk", {"~/Library/Developer/Xcode/Archives/*"},
             SafetyLevel::risky, RegenerationCost::irreplaceable, Privilege::none,
             BusyCheck::processRunning({"Xcode"}), oneHundredEightyDays, {}),
        rule("xcode.deviceSupport", "developerJunk",
             {"~/Library/Developer/Xcode/iOS DeviceSupport/*",
              "~/Library/Developer/Xcode/watchOS DeviceSupport/*",
              "~/Library/Developer/Xcode/tvOS DeviceSupport/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Xcode"}), thirtyDays, {}),
        rule("xcode.documentationCache", "developerJunk",
             {"~/Library/Developer/Xcode/DocumentationCache/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::processRunning({"Xcode"}), noAge,
             {}),
        rule("xcode.previews", "developerJunk", {"~/Library/Developer/Xcode/UserData/Previews/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Xcode"}), noAge, {}),
        rule("xcode.products", "developerJunk", {"~/Library/Developer/Xcode/Products/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Xcode", "xcodebuild"}), noAge, {}),
        rule("xcode.iosDeviceLogs", "developerJunk",
             {"~/Library/Developer/Xcode/iOS Device Logs/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::processRunning({"Xcode"}), noAge,
             {}),
        rule("xcode.ibSupport", "developerJunk",
             {"~/Library/Developer/Xcode/UserData/IB Support/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::processRunning({"Xcode"}), noAge,
             {}),
        rule("xcode.dvtDownloads", "developerJunk", {"~/Library/Developer/DVTDownloads/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"Xcode"}), noAge, {}),
        rule("xcode.testDevices", "developerJunk", {"~/Library/Developer/XCTestDevices/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Simulator", "xcodebuild", "simctl"}), noAge, {}),
        rule("coresimulator.caches", "developerJunk",
             {"~/Library/Developer/CoreSimulator/Caches/*"}, SafetyLevel::safe,
             RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"Simulator", "simctl", "launchd_sim"}), noAge, {}),
        rule("gradle.caches", "developerJunk", {"~/.gradle/caches/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::gradleDaemon(), noAge, {}),
        rule("gradle.daemonLogs", "developerJunk", {"~/.gradle/daemon/*"}, SafetyLevel::safe,
             RegenerationCost::free, Privilege::none, BusyCheck::gradleDaemon(), noAge, {}),
        rule("gradle.wrapperDists", "developerJunk", {"~/.gradle/wrapper/dists/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::gradleDaemon(), noAge, {}),
        rule("npm.cacache", "developerJunk", {"~/.npm/_cacache"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("yarn.cache", "developerJunk", {"~/Library/Caches/Yarn/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("pnpm.store", "developerJunk", {"~/Library/pnpm/store/*", "~/.pnpm-store/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none, BusyCheck::none(),
             noAge, {}),
        rule("bun.cache", "developerJunk", {"~/.bun/install/cache/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("pub.cache", "developerJunk", {"~/.pub-cache/hosted/*", "~/.pub-cache/git/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"dart", "flutter"}), noAge, {}),
        rule("dart.analysisDriver", "developerJunk", {"~/.dartServer/.analysis-driver/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning({"dart", "flutter", "Code", "Cursor", "dartaotruntime"}),
             noAge, {}),
        rule("cargo.registry", "developerJunk",
             {"~/.cargo/registry/cache/*", "~/.cargo/registry/src/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"cargo", "rustc"}), noAge, {}),
        rule("go.moduleDownloads", "developerJunk", {"~/go/pkg/mod/cache/download/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"go", "gopls"}), noAge, {}),
        rule("go.buildCache", "developerJunk", {"~/Library/Caches/go-build/*"}, SafetyLevel::safe,
             RegenerationCost::local, Privilege::none, BusyCheck::processRunning({"go", "gopls"}),
             noAge, {}),
        rule("maven.repository", "developerJunk", {"~/.m2/repository/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::gradleDaemon(), noAge, {}),
        rule("pip.cache", "developerJunk", {"~/Library/Caches/pip/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("uv.cache", "developerJunk", {"~/Library/Caches/uv/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::none(), noAge, {}),
        rule("cocoapods.cache", "developerJunk", {"~/Library/Caches/CocoaPods/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none, BusyCheck::none(),
             noAge, {}),
        rule("swiftpm.cache", "developerJunk", {"~/Library/Caches/org.swift.swiftpm/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"Xcode", "swift-build", "swift-package"}), noAge, {}),
        rule("android.buildCache", "developerJunk", {"~/.android/build-cache/*"}, SafetyLevel::safe,
             RegenerationCost::local, Privilege::none, BusyCheck::gradleDaemon(), noAge, {}),
        rule("nuget.cache", "developerJunk", {"~/.nuget/packages/*"}, SafetyLevel::safe,
             RegenerationCost::network, Privilege::none, BusyCheck::processRunning({"dotnet"}),
             noAge, {}),
        rule("jetbrains.caches", "developerJunk", {"~/Library/Caches/JetBrains/*"},
             SafetyLevel::safe, RegenerationCost::local, Privilege::none,
             BusyCheck::processRunning(
                 {"idea", "studio", "pycharm", "webstorm", "rustrover", "goland"}),
             noAge, {}),
        rule("vscode.caches", "developerJunk",
             {"~/Library/Application Support/Code/Cache/*",
              "~/Library/Application Support/Code/CachedData/*",
              "~/Library/Application Support/Cursor/Cache/*",
              "~/Library/Application Support/Cursor/CachedData/*"},
             SafetyLevel::safe, RegenerationCost::free, Privilege::none,
             BusyCheck::processRunning({"Code", "Electron", "Cursor"}), noAge, {}),
        rule("homebrew.downloads", "developerJunk", {"~/Library/Caches/Homebrew/downloads/*"},
             SafetyLevel::safe, RegenerationCost::network, Privilege::none,
             BusyCheck::processRunning({"brew"}), noAge, {})};
}

std::vector<CleanRule> trashBinRules() {
    return {rule("trash.user", "trashBins", {"~/.Trash/*"}, SafetyLevel::review,
                 RegenerationCost::irreplaceable, Privilege::fullDiskAccess, BusyCheck::none(),
                 noAge, {}),
            rule("trash.volumes", "trashBins", {"/Volumes/*/.Trashes/*"}, SafetyLevel::review,
                 RegenerationCost::irreplaceable, Privilege::fullDiskAccess, BusyCheck::none(),
                 noAge, {})};
}

void appendCacheFolders(std::vector<std::string>& names, const std::vector<CleanRule>& rules) {
    for (const auto& rule : rules) {
        const auto* globs = std::get_if<RuleProvider::Globs>(&rule.provider.kind);
        if (globs == nullptr) {
            continue;
        }
        for (const auto& pattern : globs->patterns) {
            if (!std::string_view(pattern).starts_with(userCachesPrefix)) {
                continue;
            }
            std::string_view rest = std::string_view(pattern).substr(userCachesPrefix.size());
            while (!rest.empty()) {
                const size_t slash = rest.find('/');
                const std::string_view piece = rest.substr(0, slash);
                if (!piece.empty()) {
                    names.emplace_back(piece);
                    break;
                }
                rest =
                    slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            }
        }
    }
}

struct Catalog {
    std::vector<CleanGroup> groups;
    std::vector<CleanRule> all;
};

Catalog build() {
    const auto browsers = browserRules();
    const auto developer = developerJunkRules();
    auto system = otherSystemJunkRules();

    std::vector<std::string> cacheExcludes{"com.apple.*"};
    appendCacheFolders(cacheExcludes, developer);
    appendCacheFolders(cacheExcludes, browsers);
    for (auto& rule : system) {
        if (rule.id == "user.caches") {
            rule.excludes = cacheExcludes;
        }
    }

    Catalog catalog;
    catalog.groups = {{"systemJunk", 0, "shippingbox"},
                      {"developerJunk", 1, "hammer"},
                      {"trashBins", 2, "trash"}};
    for (const auto* part :
         std::initializer_list<const std::vector<CleanRule>*>{&browsers, &system, &developer}) {
        catalog.all.insert(catalog.all.end(), part->begin(), part->end());
    }
    const auto trash = trashBinRules();
    catalog.all.insert(catalog.all.end(), trash.begin(), trash.end());
    return catalog;
}

const Catalog& catalog() {
    static const Catalog instance = build();
    return instance;
}

}  // namespace

const CleanGroup& systemJunk() {
    return catalog().groups[0];
}

const CleanGroup& developerJunk() {
    return catalog().groups[1];
}

const CleanGroup& trashBins() {
    return catalog().groups[2];
}

const std::vector<CleanGroup>& groups() {
    return catalog().groups;
}

const std::vector<CleanRule>& all() {
    return catalog().all;
}

std::vector<CleanRule> rules(std::string_view groupID) {
    std::vector<CleanRule> matching;
    for (const auto& rule : all()) {
        if (rule.group == groupID) {
            matching.push_back(rule);
        }
    }
    return matching;
}

}  // namespace kb::CleanRuleCatalog
