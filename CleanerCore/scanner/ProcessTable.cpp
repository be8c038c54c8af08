#include "CleanerCore/scanner/ProcessTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

constexpr std::size_t commandNameLength = 15;
constexpr std::string_view gradleDaemonClass = "org.gradle.launcher.daemon.bootstrap.GradleDaemon";

std::string readSmallFile(int directoryFd, const char* name) {
    UniqueFd fd(::openat(directoryFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        return {};
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

std::string readLink(int directoryFd, const char* name) {
    char buffer[4096];
    const ssize_t length = ::readlinkat(directoryFd, name, buffer, sizeof buffer);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool isPid(const char* name) {
    if (*name == '\0') {
        return false;
    }
    return std::all_of(name, name + std::char_traits<char>::length(name),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool isAtOrBelow(const std::string& candidate, const std::string& path) {
    return candidate.size() >= path.size() && candidate.compare(0, path.size(), path) == 0 &&
           (candidate.size() == path.size() || candidate[path.size()] == '/');
}

}  // namespace

ProcessTable ProcessTable::read(uid_t uid, const std::string& procRoot) {
    ProcessTable table;
    table.procRoot_ = procRoot;
    auto root = openDirectory(procRoot);
    if (!root.ok()) {
        return table;
    }
    DirectoryReader reader;
    reader.start(root->get());
    while (const auto entry = reader.next()) {
        if (!isPid(entry->name)) {
            continue;
        }
        const auto status = fileStatusAt(root->get(), entry->name);
        if (!status || status->ownerUID != uid) {
            continue;
        }
        auto directory = openDirectoryAt(root->get(), entry->name);
        if (!directory.ok()) {
            continue;
        }
        ProcessInfo info;
        info.pid = static_cast<pid_t>(std::stol(entry->name));
        info.commandName = readSmallFile(directory->get(), "comm");
        if (!info.commandName.empty() && info.commandName.back() == '\n') {
            info.commandName.pop_back();
        }
        info.executableName = baseName(readLink(directory->get(), "exe"));
        const std::string commandLine = readSmallFile(directory->get(), "cmdline");
        for (std::size_t start = 0; start < commandLine.size();) {
            const auto end = std::min(commandLine.find('\0', start), commandLine.size());
            info.arguments.push_back(commandLine.substr(start, end - start));
            start = end + 1;
        }
        table.processes_.push_back(std::move(info));
    }
    return table;
}

const ProcessInfo* ProcessTable::findByName(std::string_view name) const {
    const std::string_view shortName = name.substr(0, commandNameLength);
    for (const auto& process : processes_) {
        if (process.commandName == shortName || process.executableName == name) {
            return &process;
        }
    }
    return nullptr;
}

const ProcessInfo* ProcessTable::findGradleDaemon() const {
    for (const auto& process : processes_) {
        const bool java = process.commandName == "java" || process.executableName == "java";
        const bool daemon = std::find(process.arguments.begin(), process.arguments.end(),
                                      gradleDaemonClass) != process.arguments.end();
        if (java && daemon) {
            return &process;
        }
    }
    return nullptr;
}

const std::vector<std::pair<std::string, std::string>>& ProcessTable::openFiles() {
    if (openFiles_) {
        return *openFiles_;
    }
    std::vector<std::pair<std::string, std::string>> files;
    DirectoryReader reader;
    for (const auto& process : processes_) {
        const std::string fdDirectory = procRoot_ + "/" + std::to_string(process.pid) + "/fd";
        auto directory = openDirectory(fdDirectory);
        if (!directory.ok()) {
            continue;
        }
        reader.start(directory->get());
        while (const auto entry = reader.next()) {
            std::string target = readLink(directory->get(), entry->name);
            if (!target.empty() && target.front() == '/') {
                files.emplace_back(std::move(target), process.commandName);
            }
        }
    }
    std::sort(files.begin(), files.end());
    openFiles_ = std::move(files);
    return *openFiles_;
}

std::optional<std::string> ProcessTable::holderOf(const std::string& path) {
    const auto& files = openFiles();
    // Names below `path` sort after it, among others that merely share its prefix.
    auto it = std::lower_bound(files.begin(), files.end(), std::make_pair(path, std::string()));
    for (; it != files.end() && it->first.compare(0, path.size(), path) == 0; ++it) {
        if (isAtOrBelow(it->first, path)) {
            return it->second;
        }
    }
    return std::nullopt;
}

}  // namespace kb
