// Driver for bench/FileOperationsBench.sh: builds trees, runs one removeItems or trashItems
// request in-process (with a chosen state directory for the staging records) and runs the bare
// system-call loops the script compares against. Prints the elapsed wall time in seconds.
//
//   make-nested DIR FILES        DIR/dNNN/eNN/fNNN, FILES files in all
//   make-flat DIR FILES          DIR/0 .. DIR/FILES-1
//   remove UID STATE PATH...     one removeItems request
//   trash UID STATE PATH...      one trashItems request
//   remove-list UID STATE DIR    one removeItems request naming every entry of DIR
//   trash-list UID STATE DIR     one trashItems request naming every entry of DIR
//   unlink-loop DIR              unlink every entry of DIR, in C
//   rename-loop DIR TO           rename every entry of DIR into TO, in C
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "helper/RootFileOps.h"

namespace {

std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        std::perror(dir.c_str());
        std::exit(1);
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(d);
    return names;
}

void makeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

int request(bool trash, std::uint32_t uid, const std::string& state,
            std::vector<std::string> paths) {
    kb::RootFileOpsSettings settings;
    settings.stateDirectory = state;
    kb::HelperRequest r;
    if (trash) {
        r.kind = kb::HelperRequest::TrashItems{std::move(paths), uid};
    } else {
        r.kind = kb::HelperRequest::RemoveItems{std::move(paths), uid};
    }
    const auto response = kb::RootFileOps::perform(r, kb::Caller::currentProcess(), settings);
    const auto* items = std::get_if<kb::HelperResponse::Items>(&response.kind);
    if (items == nullptr) {
        std::fprintf(stderr, "request refused\n");
        return 1;
    }
    for (const auto& item : items->results) {
        if (!item.succeeded()) {
            std::fprintf(stderr, "%s did not succeed\n", item.path.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: see bench/FileOperationsBench.sh\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (mode == "make-nested" || mode == "make-flat") {
        const std::string dir = args.at(0);
        const long files = std::atol(args.at(1).c_str());
        ::mkdir(dir.c_str(), 0755);
        for (long i = 0; i < files; ++i) {
            if (mode == "make-flat") {
                makeFile(dir + "/" + std::to_string(i));
                continue;
            }
            const std::string a = dir + "/d" + std::to_string(i / 1000);
            const std::string b = a + "/e" + std::to_string(i / 100 % 10);
            if (i % 1000 == 0) {
                ::mkdir(a.c_str(), 0755);
            }
            if (i % 100 == 0) {
                ::mkdir(b.c_str(), 0755);
            }
            makeFile(b + "/f" + std::to_string(i % 100));
        }
        return 0;
    }
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    if (mode == "remove" || mode == "trash") {
        status = request(mode == "trash", static_cast<uint32_t>(std::stoul(args.at(0))), args.at(1),
                         std::vector<std::string>(args.begin() + 2, args.end()));
    } else if (mode == "remove-list" || mode == "trash-list") {
        std::vector<std::string> paths;
        for (const auto& name : entriesOf(args.at(2))) {
            paths.push_back(args.at(2) + "/" + name);
        }
        status = request(mode == "trash-list", static_cast<uint32_t>(std::stoul(args.at(0))),
                         args.at(1), paths);
    } else if (mode == "unlink-loop") {
        for (const auto& name : entriesOf(args.at(0))) {
            if (::unlink((args.at(0) + "/" + name).c_str()) != 0) {
                status = 1;
            }
        }
    } else if (mode == "rename-loop") {
        for (const auto& name : entriesOf(args.at(0))) {
            if (::rename((args.at(0) + "/" + name).c_str(), (args.at(1) + "/" + name).c_str()) !=
                0) {
                status = 1;
            }
        }
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", elapsed.count());
    return status;
}
