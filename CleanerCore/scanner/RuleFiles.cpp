#include "CleanerCore/scanner/RuleFiles.h"

#include <algorithm>
#include <cstring>

#include "CleanerCore/persistence/FileAccess.h"
#include "platform/DirectoryEntries.h"

namespace kb::RuleFiles {
namespace {

std::vector<std::string> globPatterns(const CleanRule& rule) {
    if (const auto* globs = std::get_if<RuleProvider::Globs>(&rule.provider.kind)) {
        return globs->patterns;
    }
    return {};
}

// "DIR/" when `rule` is a general rule "DIR/*", else "".
std::string generalPrefix(const CleanRule& rule) {
    const auto patterns = globPatterns(rule);
    if (patterns.size() != 1 || !patterns.front().ends_with("/*")) {
        return {};
    }
    std::string prefix = patterns.front().substr(0, patterns.front().size() - 1);
    if (prefix.find_first_of("*?[") != std::string::npos) {
        return {};
    }
    return prefix;
}

}  // namespace

LoadedRules loadFile(const std::string& path) {
    LoadedRules loaded;
    auto contents = FileAccess::readFile(path);
    if (!contents) {
        loaded.problems.push_back({path, contents.error().describe()});
        return loaded;
    }
    if (!*contents) {
        loaded.problems.push_back({path, "No such file or directory"});
        return loaded;
    }
    auto parsed = json::parse(**contents);
    if (!parsed) {
        loaded.problems.push_back({path, parsed.error().message});
        return loaded;
    }
    if (parsed->is_array()) {
        auto rules = json::decodeValue<std::vector<CleanRule>>(*parsed);
        if (!rules) {
            loaded.problems.push_back({path, rules.error().message});
            return loaded;
        }
        loaded.rules = std::move(*rules);
    } else {
        auto rule = json::decodeValue<CleanRule>(*parsed);
        if (!rule) {
            loaded.problems.push_back({path, rule.error().message});
            return loaded;
        }
        loaded.rules.push_back(std::move(*rule));
    }
    return loaded;
}

LoadedRules loadDirectory(const std::string& directory) {
    LoadedRules loaded;
    auto fd = openDirectory(directory);
    if (!fd.ok()) {
        if (fd.error().code != ENOENT) {
            loaded.problems.push_back({directory, fd.error().message()});
        }
        return loaded;
    }
    std::vector<std::string> names;
    DirectoryReader reader;
    reader.start(fd->get());
    while (const auto entry = reader.next()) {
        const std::string_view name = entry->name;
        if (name.ends_with(".json") && !name.starts_with(".")) {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        auto file = loadFile(directory + "/" + name);
        std::move(file.rules.begin(), file.rules.end(), std::back_inserter(loaded.rules));
        std::move(file.problems.begin(), file.problems.end(), std::back_inserter(loaded.problems));
    }
    return loaded;
}

void deriveExclusions(std::vector<CleanRule>& rules) {
    for (auto& general : rules) {
        const std::string prefix = generalPrefix(general);
        if (prefix.empty()) {
            continue;
        }
        for (const auto& other : rules) {
            if (&other == &general) {
                continue;
            }
            for (const auto& pattern : globPatterns(other)) {
                if (!pattern.starts_with(prefix)) {
                    continue;
                }
                const std::string rest = pattern.substr(prefix.size());
                const std::string piece = rest.substr(0, rest.find('/'));
                if (!piece.empty() && std::find(general.excludes.begin(), general.excludes.end(),
                                                piece) == general.excludes.end()) {
                    general.excludes.push_back(piece);
                }
            }
        }
    }
}

}  // namespace kb::RuleFiles
